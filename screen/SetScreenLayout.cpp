// The screen settings dialog: its controls, their captions and their look.
#include "screen/SetScreen.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "controls/Colours.h"
#include "controls/Keyboard.h"
#include "controls/ScreenFit.h"
#include "device/Sequence.h"
#include "link/Commands.h"
#include "resources/SetScreenIds.h"
#include "screen/SetScreenParts.h"

using namespace screen;
using namespace screen::parts;

namespace {

const QColor kModifiedColour(0, 255, 255);
const QColor kPlainColour(205, 205, 180);

// Preview frames: the output picture in small.
constexpr int kFrameWidth = 192;
constexpr int kFrameHeight = 128;

// The caption of a preview rectangle, drawn above every rectangle of its frame so that one
// rectangle never hides another's caption: it follows the rectangle's place, and the rectangle
// itself draws its colour only.
class RectCaption : public QLabel {
public:
    explicit RectCaption(QLabel* rect) : QLabel(rect->text(), rect->parentWidget()), m_rect(rect) {
        setAlignment(Qt::AlignCenter);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, Qt::black);
        setPalette(p);
        QPalette hidden = rect->palette();
        hidden.setColor(QPalette::WindowText, Qt::transparent);
        rect->setPalette(hidden);
        rect->installEventFilter(this);
        Follow();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_rect &&
            (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
             event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
            Follow();
        }
        return QLabel::eventFilter(watched, event);
    }

private:
    void Follow() {
        setGeometry(m_rect->geometry());
        setVisible(m_rect->isVisibleTo(parentWidget()) && !m_rect->geometry().isEmpty());
        raise();
    }
    QLabel* m_rect;
};

const char* const kGeometryTips[4] = {">=64", ">=0", ">=48", ">=0"};

}  // namespace

// ---- building ----------------------------------------------------------------------------------

void CSetScreen::BuildControls() {
    // Every control gets its identifier and its template caption, from the caption set, or from
    // the fixed captions when it reads the same in both languages.
    const auto start = [](int id, const char* caption) {
        if (caption != nullptr) {
            return Utf8(caption);
        }
        const char* text = res::StartCaption(res::SetScreenCaptions(), id);
        return Utf8(*text != '\0' ? text : res::FixedText(res::SetScreenFixedCaptions(), id));
    };
    const auto button = [this, start](int id, const char* caption = nullptr) {
        auto* b = new QPushButton(start(id, caption));
        b->setAutoDefault(false);
        Register(id, b);
        return b;
    };
    const auto label = [this, start](int id, const char* caption = nullptr) {
        auto* l = new QLabel(start(id, caption));
        if (id != 0) {
            Register(id, l);
        }
        return l;
    };
    const auto group = [this, start](int id, const char* title = nullptr) {
        auto* g = new QGroupBox(start(id, title));
        Register(id, g);
        return g;
    };
    const auto radio = [this, start](int id, const char* caption, QButtonGroup* set) {
        auto* r = new QRadioButton(start(id, caption));
        set->addButton(r);
        Register(id, r);
        return r;
    };
    const auto box = [this](int id) {
        auto* e = new QLineEdit;
        e->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        e->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);
        Register(id, e);
        return e;
    };
    // A preview: "(0,0)" above the frame's top left corner, the size label below its bottom
    // right one.
    const auto preview = [&](int originId, int frameId, int sizeId) {
        auto* frame = new QFrame;
        frame->setFixedSize(kFrameWidth, kFrameHeight);
        frame->setAutoFillBackground(true);
        QPalette black = frame->palette();
        black.setColor(QPalette::Window, Qt::black);
        frame->setPalette(black);
        Register(frameId, frame);
        auto* column = new QVBoxLayout;
        column->setSpacing(1);
        column->addWidget(label(originId), 0, Qt::AlignLeft);
        column->addWidget(frame);
        column->addWidget(label(sizeId), 0, Qt::AlignRight);
        column->addStretch();
        return column;
    };
    const auto rectangle = [&](int id, int frameId, const QColor& colour, const char* text) {
        auto* r = new QLabel(Utf8(text), Control(frameId));
        r->setAlignment(Qt::AlignCenter);
        r->setAutoFillBackground(true);
        QPalette p = r->palette();
        p.setColor(QPalette::Window, colour);
        p.setColor(QPalette::WindowText, Qt::black);
        r->setPalette(p);
        r->setGeometry(0, 0, 0, 0);
        Register(id, r);
        return r;
    };
    // The boxes of a window with their labels and tooltips, and its Save.
    const auto geometryBoxes = [&](Window which) {
        const sids::GeometryIds& g = sids::kGeometry[which];
        auto* grid = new QGridLayout;
        const int labels[4] = {g.wLabel, g.hsLabel, g.hLabel, g.vsLabel};
        const std::array<int, 4> boxes = GeometryBoxes(which);
        for (int f = 0; f < 4; ++f) {
            QLabel* l = label(labels[f]);
            QLineEdit* e = box(boxes[f]);
            e->setToolTip(Utf8(kGeometryTips[f]));
            l->setBuddy(e);
            grid->addWidget(l, f, 0);
            grid->addWidget(e, f, 1);
        }
        grid->addWidget(button(g.save), 4, 1);
        grid->setRowStretch(5, 1);
        return grid;
    };

    // ---- text key ----
    QGroupBox* text = group(sids::kTextGroup);
    auto* textGrid = new QGridLayout(text);
    auto* thresholds = new QButtonGroup(this);
    textGrid->addWidget(radio(sids::kThresholdRadios[0], nullptr, thresholds), 0, 0, 1, 2);
    textGrid->addWidget(radio(sids::kThresholdRadios[1], nullptr, thresholds), 0, 2, 1, 2);
    for (int c = 0; c < 3; ++c) {
        QLabel* l = label(sids::kKeyLabels[c]);
        QLineEdit* e = box(sids::kKeyColours[c]);
        e->setEnabled(false);  // moved by the arrows and the readback only
        l->setBuddy(e);
        // As the up-down control reports them: -1 for the up arrow, +1 for the down arrow.
        auto* arrows = new ui::ArrowPair(Qt::Vertical, QSize(18, 12));
        connect(arrows->Button(true), &QToolButton::clicked, this,
                [this, c] { OnKeyArrow(c, -1); });
        connect(arrows->Button(false), &QToolButton::clicked, this,
                [this, c] { OnKeyArrow(c, 1); });
        Register(sids::kKeyArrows[c], arrows);
        textGrid->addWidget(l, c + 1, 0);
        textGrid->addWidget(e, c + 1, 1);
        textGrid->addWidget(arrows, c + 1, 2);
    }
    textGrid->addWidget(button(sids::kTextSave), 3, 3);
    textGrid->setColumnStretch(4, 1);

    // ---- brightness and bias ----
    const auto valueRow = [&](int groupId, int editId, int rangeId, const char* range, int saveId,
                              int resetId) {
        QGroupBox* g = group(groupId);
        auto* row = new QHBoxLayout(g);
        row->addWidget(box(editId));
        row->addWidget(label(rangeId, range));
        row->addStretch();
        row->addWidget(button(saveId));
        row->addWidget(button(resetId));
        return g;
    };
    QGroupBox* brightness =
        valueRow(sids::kBrightnessGroup, sids::kBrightness, sids::kBrightnessRange, "(0~64)",
                 sids::kBrightnessSave, sids::kBrightnessReset);
    QGroupBox* bias =
        valueRow(sids::kBiasGroup, sids::kBias, 0, "(0~100)", sids::kBiasSave, sids::kBiasReset);

    // ---- colours ----
    QGroupBox* colour = group(sids::kColourGroup);
    auto* colourGrid = new QGridLayout(colour);
    for (int row = 0; row < 7; ++row) {
        const sids::ColourRow& r = sids::kColourRows[row];
        QLabel* l = label(0, r.source);
        QLineEdit* e = box(r.edit);
        l->setBuddy(e);
        colourGrid->addWidget(l, row, 0);
        colourGrid->addWidget(e, row, 1);
        colourGrid->addWidget(label(0, res::kColourRange), row, 2);
        colourGrid->addWidget(button(r.save), row, 3);
        colourGrid->addWidget(button(r.reset), row, 4);
    }

    // ---- sharpness, audio, hot spare, V2/YPbPr, mosaic mode ----
    QGroupBox* sharpness = group(sids::kSharpnessGroup);
    auto* sharpRow = new QHBoxLayout(sharpness);
    auto* sharpSet = new QButtonGroup(this);
    sharpRow->addWidget(radio(sids::kNormal, nullptr, sharpSet));
    sharpRow->addWidget(radio(sids::kSharp, nullptr, sharpSet));
    sharpRow->addStretch();

    QGroupBox* audio = group(sids::kAudioGroup);
    auto* audioGrid = new QGridLayout(audio);
    const char* const audioLabels[2] = {"AD1", "AD2"};
    for (int a = 0; a < 2; ++a) {
        auto* list = new QComboBox;
        for (const char* entry : kAudioEntries) {
            list->addItem(Utf8(entry));
        }
        list->setCurrentIndex(-1);  // until the readback says
        Register(a == 0 ? sids::kAudio1 : sids::kAudio2, list);
        QLabel* l = label(0, audioLabels[a]);
        l->setBuddy(list);
        audioGrid->addWidget(l, a, 0);
        audioGrid->addWidget(list, a, 1);
    }
    audioGrid->addWidget(button(sids::kAudioSave), 1, 2);
    audioGrid->setColumnStretch(1, 1);

    QGroupBox* spare = group(sids::kHotSpareGroup);
    auto* spareGrid = new QGridLayout(spare);
    const char* const spareCaptions[3] = {"V1  >>  V2", "HDMI  >>  DVI", "VGA1  >>  VGA2"};
    for (int b = 0; b < 3; ++b) {
        auto* c = new QCheckBox(Utf8(spareCaptions[b]));
        Register(sids::kHotSpareBoxes[b], c);
        spareGrid->addWidget(c, b, 0);
    }
    spareGrid->addWidget(button(sids::kHotSpareSave), 2, 1);
    spareGrid->setColumnStretch(0, 1);

    QGroupBox* v2 = group(sids::kV2Group);
    auto* v2Row = new QHBoxLayout(v2);
    auto* v2Set = new QButtonGroup(this);
    v2Row->addWidget(radio(sids::kV2Radio, nullptr, v2Set));
    v2Row->addWidget(radio(sids::kYPbPrRadio, nullptr, v2Set));
    v2Row->addStretch();

    QGroupBox* mosaic = group(sids::kMosaicModeGroup);
    auto* mosaicRow = new QHBoxLayout(mosaic);
    auto* mosaicSet = new QButtonGroup(this);
    mosaicRow->addWidget(radio(sids::kNoSyncMosaic, nullptr, mosaicSet));
    mosaicRow->addWidget(radio(sids::kSyncMosaic, nullptr, mosaicSet));
    mosaicRow->addStretch();

    // ---- main and PIP geometry, layout, preview ----
    QGroupBox* pipSize = group(sids::kPipSizeGroup);
    auto* pipSizeGrid = new QGridLayout(pipSize);
    QGroupBox* mainBox = group(sids::kGeometry[kMain].group);
    mainBox->setLayout(geometryBoxes(kMain));
    QGroupBox* pipBox = group(sids::kGeometry[kPip].group);
    pipBox->setLayout(geometryBoxes(kPip));
    pipSizeGrid->addWidget(mainBox, 0, 0);
    pipSizeGrid->addWidget(pipBox, 0, 1);
    pipSizeGrid->addLayout(preview(sids::kOriginLabels[0], sids::kGeometry[kMain].frame,
                                   sids::kGeometry[kMain].sizeLabel),
                           1, 0);
    QLabel* mainRect = rectangle(sids::kGeometry[kMain].rect, sids::kGeometry[kMain].frame,
                                 QColor(0, 255, 0), "MAIN");
    QLabel* pipRect = rectangle(sids::kGeometry[kPip].rect, sids::kGeometry[kPip].frame,
                                QColor(255, 0, 0), "PBP");
    new RectCaption(mainRect);
    new RectCaption(pipRect);
    auto* layoutColumn = new QVBoxLayout;
    QGroupBox* layout = group(sids::kLayoutGroup);
    auto* layoutRow = new QHBoxLayout(layout);
    auto* layoutSet = new QButtonGroup(this);
    const char* const layoutNames[3] = {"M1", "M2", "M3"};
    for (int n = 0; n < 3; ++n) {
        layoutRow->addWidget(radio(sids::kLayoutRadios[n], layoutNames[n], layoutSet));
    }
    layoutRow->addStretch();
    layoutColumn->addWidget(layout);
    QLabel* hint = label(sids::kPipHint);
    hint->setWordWrap(true);
    layoutColumn->addWidget(hint);
    layoutColumn->addStretch();
    pipSizeGrid->addLayout(layoutColumn, 1, 1);

    // ---- input and output geometry ----
    const auto windowGroup = [&](Window which, int originId) {
        const sids::GeometryIds& g = sids::kGeometry[which];
        QGroupBox* box = group(g.group);
        auto* column = new QVBoxLayout(box);
        column->addLayout(geometryBoxes(which));
        column->addLayout(preview(originId, g.frame, g.sizeLabel));
        return box;
    };
    QGroupBox* input = windowGroup(kInput, sids::kOriginLabels[1]);
    rectangle(sids::kGeometry[kInput].rect, sids::kGeometry[kInput].frame, QColor(0, 0, 255), "");
    QGroupBox* output = windowGroup(kOutput, sids::kOriginLabels[2]);
    rectangle(sids::kGeometry[kOutput].rect, sids::kGeometry[kOutput].frame, QColor(255, 255, 0),
              "");

    // ---- Info line, Refresh, Exit ----
    auto* bottom = new QHBoxLayout;
    QLabel* infoLabel = label(sids::kInfoLabel);
    auto* info = new QLineEdit;
    info->setReadOnly(true);
    Register(sids::kInfo, info);
    infoLabel->setBuddy(info);
    bottom->addWidget(infoLabel);
    bottom->addWidget(info, 1);
    bottom->addSpacing(12);
    bottom->addWidget(button(sids::kRefresh));
    bottom->addWidget(button(sids::kExit));

    // ---- the dialog: picture settings on the left, geometry on the right ----
    auto* left = new QVBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(text), static_cast<QWidget*>(brightness),
                       static_cast<QWidget*>(bias), static_cast<QWidget*>(sharpness),
                       static_cast<QWidget*>(audio)}) {
        left->addWidget(w);
    }
    left->addStretch();
    auto* middle = new QVBoxLayout;
    middle->addWidget(colour);
    middle->addWidget(spare);
    middle->addWidget(v2);
    middle->addWidget(mosaic);
    middle->addStretch();
    auto* right = new QGridLayout;
    right->addWidget(pipSize, 0, 0, 1, 2);
    right->addWidget(input, 1, 0);
    right->addWidget(output, 1, 1);
    // The settings scroll when the screen is smaller than the dialog; the Info line, Refresh and
    // Exit stay in sight below them.
    auto* content = new QWidget;
    auto* grid = new QGridLayout(content);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addLayout(left, 0, 0);
    grid->addLayout(middle, 0, 1);
    grid->addLayout(right, 0, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    QScrollArea* scroll = ui::ScrollingContent(content);
    auto* column = new QVBoxLayout(this);
    column->addWidget(scroll, 1);
    column->addLayout(bottom);
    ui::FitWhenShown(this, scroll);

    // ---- colours: blue section titles, the numeric boxes by their markings ----
    for (int id : {sids::kBrightnessGroup, sids::kColourGroup, sids::kBiasGroup,
                   sids::kSharpnessGroup, sids::kV2Group, sids::kMosaicModeGroup, sids::kAudioGroup,
                   sids::kHotSpareGroup, sids::kTextGroup}) {
        ui::PaintTitle(Control(id));
    }
    ui::PaintTitle(infoLabel);
    for (int id : sids::kNumericBoxes) {
        PaintBox(id);
    }
    ui::ApplyKeyboardConventions(this);
}

void CSetScreen::ConnectHandlers() {
    const auto onClick = [this](int id, auto handler) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::clicked, this, handler);
    };
    // A radio that sends does so on every click, key and accessibility action, also when it is
    // checked already, so that the setting shown can be sent again; the dialog's own changes
    // (the readback, the opening) send nothing.
    const auto onSelect = [this](int id, std::function<void()> handler) {
        ui::OnUserSelect(ControlAs<QAbstractButton>(id), this, [this, handler] {
            if (!m_filling) {
                handler();
            }
        });
    };

    onClick(sids::kRefresh, &CSetScreen::OnRefresh);
    onClick(sids::kExit, &CSetScreen::reject);
    for (int n = 0; n < 3; ++n) {
        onSelect(sids::kLayoutRadios[n], [this, n] { OnLayout(n); });
    }
    onClick(sids::kMainSave, [this] { SaveWindowGeometry(kMain); });
    onClick(sids::kPipSave, [this] { SaveWindowGeometry(kPip); });
    onClick(sids::kInputSave, [this] { SaveWindowGeometry(kInput); });
    onClick(sids::kOutputSave, [this] { SaveWindowGeometry(kOutput); });

    onClick(sids::kTextSave, &CSetScreen::OnTextKeySave);
    onClick(sids::kBrightnessSave, &CSetScreen::OnBrightnessSave);
    onClick(sids::kBrightnessReset, &CSetScreen::OnBrightnessReset);
    onClick(sids::kBiasSave, &CSetScreen::OnBiasSave);
    onClick(sids::kBiasReset, &CSetScreen::OnBiasReset);
    for (int row = 0; row < 7; ++row) {
        onClick(sids::kColourRows[row].save, [this, row] { OnColourSave(row); });
        onClick(sids::kColourRows[row].reset, [this, row] { OnColourReset(row); });
    }
    onSelect(sids::kNormal, [this] { OnSharpness(false); });
    onSelect(sids::kSharp, [this] { OnSharpness(true); });
    for (int a = 0; a < 2; ++a) {
        connect(ControlAs<QComboBox>(a == 0 ? sids::kAudio1 : sids::kAudio2),
                &QComboBox::currentIndexChanged, this, [this, a] {
                    if (!m_filling) {
                        OnAudioChanged(a);
                    }
                });
    }
    onClick(sids::kAudioSave, &CSetScreen::OnAudioSave);
    onClick(sids::kHotSpareSave, &CSetScreen::OnHotSpareSave);
    onSelect(sids::kNoSyncMosaic, [this] { OnSyncMode(false); });
    onSelect(sids::kSyncMosaic, [this] { OnSyncMode(true); });
    onSelect(sids::kV2Radio, [this] { OnV2Input(false); });
    onSelect(sids::kYPbPrRadio, [this] { OnV2Input(true); });
    for (int id : sids::kNumericBoxes) {
        connect(Box(id), &QLineEdit::textChanged, this, [this, id] {
            if (!m_filling) {
                OnNumericEdit(id);
            }
        });
    }
}

void CSetScreen::ApplyCaptions() {
    const bool chinese = m_opening.chinese;
    ui::ApplyCaptionSet(this, m_controls, res::SetScreenCaptions(), chinese);
    for (const res::Caption& c : res::SetScreenNames()) {
        if (QWidget* w = Control(c.id)) {
            w->setAccessibleName(Utf8(chinese ? c.zh : c.en));
        }
    }
    for (int c = 0; c < 3; ++c) {
        const auto* arrows = static_cast<const ui::ArrowPair*>(Control(sids::kKeyArrows[c]));
        const QString name = Control(sids::kKeyColours[c])->accessibleName();
        arrows->Button(true)->setAccessibleName(name + Utf8(chinese ? " 上" : " up"));
        arrows->Button(false)->setAccessibleName(name + Utf8(chinese ? " 下" : " down"));
    }
}

void CSetScreen::PaintBox(int boxId) {
    ui::PaintBox(Box(boxId), Modified(boxId) ? kModifiedColour : kPlainColour);
}
