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
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Sequence.h"
#include "link/Commands.h"
#include "screen/SetScreenIds.h"

using namespace screen;

namespace {

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

const QColor kModifiedColour(0, 255, 255);
const QColor kPlainColour(205, 205, 180);
const QColor kBlue(0, 0, 255);

// Preview frames: the output picture in small.
constexpr int kFrameWidth = 192;
constexpr int kFrameHeight = 128;

// The up and down arrows beside a key colour box. They hold no value of their own: each press
// is reported (held down, it repeats), and the dialog moves the box.
class KeyArrows : public QWidget {
public:
    explicit KeyArrows(std::function<void(int delta)> arrow) {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        for (QToolButton*& b : m_buttons) {
            b = new QToolButton;
            b->setAutoRepeat(true);
            b->setFixedSize(18, 12);
            b->setFocusPolicy(Qt::TabFocus);
            column->addWidget(b);
        }
        m_buttons[0]->setArrowType(Qt::UpArrow);
        m_buttons[1]->setArrowType(Qt::DownArrow);
        // As the up-down control reports them: -1 for the up arrow, +1 for the down arrow.
        connect(m_buttons[0], &QToolButton::clicked, this, [arrow] { arrow(-1); });
        connect(m_buttons[1], &QToolButton::clicked, this, [arrow] { arrow(1); });
    }
    QToolButton* Button(bool up) const { return m_buttons[up ? 0 : 1]; }

private:
    QToolButton* m_buttons[2] = {};
};

// Template captions of the geometry labels, in the order width, horizontal start, height,
// vertical start, per window (input, output, main, PIP).
const char* const kGeometryLabels[4][4] = {
    {"In_Hori_Width:", "In_Hori_Start:", "In_Vert_Height:", "In_Vert_Start:"},
    {"Out_Hori_Width:", "Out_Hori_Start:", "Out_Vert_Height:", "Out_Vert_Start:"},
    {"Main_Hori_Width:", "Main_Hori_Start:", "Main_Vert_Height:", "Main_Vert_Start:"},
    {"PIP_Hori_Width:", "PIP_Hori_Start:", "PIP_Vert_Height:", "PIP_Vert_Start:"},
};
const char* const kGeometryTips[4] = {">=64", ">=0", ">=48", ">=0"};

int NumericIndex(int boxId) {
    for (int i = 0; i < 28; ++i) {
        if (sids::kNumericBoxes[i] == boxId) {
            return i;
        }
    }
    return -1;
}

// The four box identifiers of a window in the order width, horizontal start, height, vertical
// start.
std::array<int, 4> GeometryBoxes(Window which) {
    const sids::GeometryIds& g = sids::kGeometry[which];
    return {g.w, g.hs, g.h, g.vs};
}

}  // namespace

CSetScreen::CSetScreen(QWidget* parent, const OpeningValues& values, app::Connection& connection)
    : CSetScreen(parent, values, [&connection, id = values.deviceId](platform::StopFlag& stop) {
          return std::make_unique<app::ConnectionSequenceLink>(connection, id, stop);
      }) {}

CSetScreen::CSetScreen(QWidget* parent, const OpeningValues& values,
                       ui::SequenceRunner::LinkFactory makeLink)
    : QDialog(parent), m_opening(values) {
    m_runner = new ui::SequenceRunner(this, std::move(makeLink));
    BuildControls();
    ConnectHandlers();
    m_runner->KeepEnabled(Control(sids::kExit));
    OnInitDialog();
}

CSetScreen::~CSetScreen() {
    m_runner->Stop();
}

void CSetScreen::done(int result) {
    m_runner->Stop();
    QDialog::done(result);
}

void CSetScreen::Register(int id, QWidget* w) {
    ui::RegisterControl(m_controls, id, w);
}

QLineEdit* CSetScreen::Box(int id) const {
    return ControlAs<QLineEdit>(id);
}

bool CSetScreen::Modified(int boxId) const {
    const int i = NumericIndex(boxId);
    return i >= 0 && m_modified[i];
}

// ---- building ----------------------------------------------------------------------------------

void CSetScreen::BuildControls() {
    const auto button = [this](int id, const char* caption) {
        auto* b = new QPushButton(Utf8(caption));
        b->setAutoDefault(false);
        Register(id, b);
        return b;
    };
    const auto label = [this](int id, const char* caption) {
        auto* l = new QLabel(Utf8(caption));
        if (id != 0) {
            Register(id, l);
        }
        return l;
    };
    const auto group = [this](int id, const char* title) {
        auto* g = new QGroupBox(Utf8(title));
        Register(id, g);
        return g;
    };
    const auto radio = [this](int id, const char* caption, QButtonGroup* set) {
        auto* r = new QRadioButton(Utf8(caption));
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
        column->addWidget(label(originId, "(0,0)"), 0, Qt::AlignLeft);
        column->addWidget(frame);
        column->addWidget(label(sizeId, "(1024,768)"), 0, Qt::AlignRight);
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
            QLabel* l = label(labels[f], kGeometryLabels[which][f]);
            QLineEdit* e = box(boxes[f]);
            e->setToolTip(Utf8(kGeometryTips[f]));
            l->setBuddy(e);
            grid->addWidget(l, f, 0);
            grid->addWidget(e, f, 1);
        }
        grid->addWidget(button(g.save, "Save"), 4, 1);
        grid->setRowStretch(5, 1);
        return grid;
    };

    // ---- text key ----
    QGroupBox* text = group(sids::kTextGroup, "Text");
    auto* textGrid = new QGridLayout(text);
    auto* thresholds = new QButtonGroup(this);
    textGrid->addWidget(radio(sids::kThresholdRadios[0], "<Threshold", thresholds), 0, 0, 1, 2);
    textGrid->addWidget(radio(sids::kThresholdRadios[1], ">Threshold", thresholds), 0, 2, 1, 2);
    const char* const keyNames[3] = {"Red", "Green", "Blue"};
    for (int c = 0; c < 3; ++c) {
        QLabel* l = label(sids::kKeyLabels[c], keyNames[c]);
        QLineEdit* e = box(sids::kKeyColours[c]);
        e->setEnabled(false);  // moved by the arrows and the readback only
        l->setBuddy(e);
        auto* arrows = new KeyArrows([this, c](int delta) { OnKeyArrow(c, delta); });
        Register(sids::kKeyArrows[c], arrows);
        textGrid->addWidget(l, c + 1, 0);
        textGrid->addWidget(e, c + 1, 1);
        textGrid->addWidget(arrows, c + 1, 2);
    }
    textGrid->addWidget(button(sids::kTextSave, "Save"), 3, 3);
    textGrid->setColumnStretch(4, 1);

    // ---- brightness and bias ----
    const auto valueRow = [&](int groupId, const char* title, int editId, int rangeId,
                              const char* range, int saveId, int resetId) {
        QGroupBox* g = group(groupId, title);
        auto* row = new QHBoxLayout(g);
        row->addWidget(box(editId));
        row->addWidget(label(rangeId, range));
        row->addStretch();
        row->addWidget(button(saveId, "Save"));
        row->addWidget(button(resetId, "Reset"));
        return g;
    };
    QGroupBox* brightness =
        valueRow(sids::kBrightnessGroup, "Brightness", sids::kBrightness, sids::kBrightnessRange,
                 "(0~64)", sids::kBrightnessSave, sids::kBrightnessReset);
    QGroupBox* bias = valueRow(sids::kBiasGroup, "Bias", sids::kBias, 0, "(0~100)", sids::kBiasSave,
                               sids::kBiasReset);

    // ---- colours ----
    QGroupBox* colour = group(sids::kColourGroup, "Color");
    auto* colourGrid = new QGridLayout(colour);
    for (int row = 0; row < 7; ++row) {
        const sids::ColourRow& r = sids::kColourRows[row];
        QLabel* l = label(0, r.source);
        QLineEdit* e = box(r.edit);
        l->setBuddy(e);
        colourGrid->addWidget(l, row, 0);
        colourGrid->addWidget(e, row, 1);
        colourGrid->addWidget(label(0, "(0~100)"), row, 2);
        colourGrid->addWidget(button(r.save, "Save"), row, 3);
        colourGrid->addWidget(button(r.reset, "Reset"), row, 4);
    }

    // ---- sharpness, audio, hot spare, V2/YPbPr, mosaic mode ----
    QGroupBox* sharpness = group(sids::kSharpnessGroup, "Sharpness");
    auto* sharpRow = new QHBoxLayout(sharpness);
    auto* sharpSet = new QButtonGroup(this);
    sharpRow->addWidget(radio(sids::kNormal, "Normal", sharpSet));
    sharpRow->addWidget(radio(sids::kSharp, "Sharp", sharpSet));
    sharpRow->addStretch();

    QGroupBox* audio = group(sids::kAudioGroup, "Audio");
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
    audioGrid->addWidget(button(sids::kAudioSave, "Save"), 1, 2);
    audioGrid->setColumnStretch(1, 1);

    QGroupBox* spare = group(sids::kHotSpareGroup, "Hot_Spare");
    auto* spareGrid = new QGridLayout(spare);
    const char* const spareCaptions[3] = {"V1  >>  V2", "HDMI  >>  DVI", "VGA1  >>  VGA2"};
    for (int b = 0; b < 3; ++b) {
        auto* c = new QCheckBox(Utf8(spareCaptions[b]));
        Register(sids::kHotSpareBoxes[b], c);
        spareGrid->addWidget(c, b, 0);
    }
    spareGrid->addWidget(button(sids::kHotSpareSave, "Save"), 2, 1);
    spareGrid->setColumnStretch(0, 1);

    QGroupBox* v2 = group(sids::kV2Group, "V2/YPbPr");
    auto* v2Row = new QHBoxLayout(v2);
    auto* v2Set = new QButtonGroup(this);
    v2Row->addWidget(radio(sids::kV2Radio, "V2", v2Set));
    v2Row->addWidget(radio(sids::kYPbPrRadio, "YPbPr", v2Set));
    v2Row->addStretch();

    QGroupBox* mosaic = group(sids::kMosaicModeGroup, "MosaicMode");
    auto* mosaicRow = new QHBoxLayout(mosaic);
    auto* mosaicSet = new QButtonGroup(this);
    mosaicRow->addWidget(radio(sids::kNoSyncMosaic, "No Sync Mosaic", mosaicSet));
    mosaicRow->addWidget(radio(sids::kSyncMosaic, "Sync Mosaic", mosaicSet));
    mosaicRow->addStretch();

    // ---- main and PIP geometry, layout, preview ----
    QGroupBox* pipSize = group(sids::kPipSizeGroup, "PIP_Size_Position");
    auto* pipSizeGrid = new QGridLayout(pipSize);
    QGroupBox* mainBox = group(sids::kGeometry[kMain].group, "Main");
    mainBox->setLayout(geometryBoxes(kMain));
    QGroupBox* pipBox = group(sids::kGeometry[kPip].group, "PIP");
    pipBox->setLayout(geometryBoxes(kPip));
    pipSizeGrid->addWidget(mainBox, 0, 0);
    pipSizeGrid->addWidget(pipBox, 0, 1);
    pipSizeGrid->addLayout(preview(sids::kOriginLabels[0], sids::kGeometry[kMain].frame,
                                   sids::kGeometry[kMain].sizeLabel),
                           1, 0);
    rectangle(sids::kGeometry[kMain].rect, sids::kGeometry[kMain].frame, QColor(0, 255, 0), "MAIN");
    rectangle(sids::kGeometry[kPip].rect, sids::kGeometry[kPip].frame, QColor(255, 0, 0), "PBP");
    auto* layoutColumn = new QVBoxLayout;
    QGroupBox* layout = group(sids::kLayoutGroup, "PIP_Mode");
    auto* layoutRow = new QHBoxLayout(layout);
    auto* layoutSet = new QButtonGroup(this);
    const char* const layoutNames[3] = {"M1", "M2", "M3"};
    for (int n = 0; n < 3; ++n) {
        layoutRow->addWidget(radio(sids::kLayoutRadios[n], layoutNames[n], layoutSet));
    }
    layoutRow->addStretch();
    layoutColumn->addWidget(layout);
    QLabel* hint = label(sids::kPipHint, "Only available for PIP/PBP open!!");
    hint->setWordWrap(true);
    layoutColumn->addWidget(hint);
    layoutColumn->addStretch();
    pipSizeGrid->addLayout(layoutColumn, 1, 1);

    // ---- input and output geometry ----
    const auto windowGroup = [&](Window which, const char* title, int originId) {
        const sids::GeometryIds& g = sids::kGeometry[which];
        QGroupBox* box = group(g.group, title);
        auto* column = new QVBoxLayout(box);
        column->addLayout(geometryBoxes(which));
        column->addLayout(preview(originId, g.frame, g.sizeLabel));
        return box;
    };
    QGroupBox* input = windowGroup(kInput, "Input_Size_Position", sids::kOriginLabels[1]);
    rectangle(sids::kGeometry[kInput].rect, sids::kGeometry[kInput].frame, QColor(0, 0, 255), "");
    QGroupBox* output = windowGroup(kOutput, "Output_Size_Position", sids::kOriginLabels[2]);
    rectangle(sids::kGeometry[kOutput].rect, sids::kGeometry[kOutput].frame, QColor(255, 255, 0),
              "");

    // ---- Info line, Refresh, Exit ----
    auto* bottom = new QHBoxLayout;
    QLabel* infoLabel = label(sids::kInfoLabel, "Info");
    auto* info = new QLineEdit;
    info->setReadOnly(true);
    Register(sids::kInfo, info);
    infoLabel->setBuddy(info);
    bottom->addWidget(infoLabel);
    bottom->addWidget(info, 1);
    bottom->addSpacing(12);
    bottom->addWidget(button(sids::kRefresh, "Refresh"));
    bottom->addWidget(button(sids::kExit, "Exit"));

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
    auto* grid = new QGridLayout(this);
    grid->addLayout(left, 0, 0);
    grid->addLayout(middle, 0, 1);
    grid->addLayout(right, 0, 2);
    grid->addLayout(bottom, 1, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    // ---- colours: blue section titles, the numeric boxes by their markings ----
    for (int id : {sids::kBrightnessGroup, sids::kColourGroup, sids::kBiasGroup,
                   sids::kSharpnessGroup, sids::kV2Group, sids::kMosaicModeGroup, sids::kAudioGroup,
                   sids::kHotSpareGroup, sids::kTextGroup}) {
        Control(id)->setStyleSheet(QStringLiteral("QGroupBox::title { color: rgb(0, 0, 255); }"));
    }
    QPalette blue = infoLabel->palette();
    blue.setColor(QPalette::WindowText, kBlue);
    infoLabel->setPalette(blue);
    for (int id : sids::kNumericBoxes) {
        PaintBox(id);
    }
}

void CSetScreen::ConnectHandlers() {
    const auto onClick = [this](int id, auto handler) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::clicked, this, handler);
    };
    // Radios act on what they became, so that the accessibility action works as a click does;
    // changes made by the dialog itself send nothing.
    const auto onSelect = [this](int id, std::function<void()> handler) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::toggled, this,
                [this, handler](bool on) {
                    if (on && !m_filling) {
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
        const auto* arrows = static_cast<const KeyArrows*>(Control(sids::kKeyArrows[c]));
        const QString name = Control(sids::kKeyColours[c])->accessibleName();
        arrows->Button(true)->setAccessibleName(name + Utf8(chinese ? " 上" : " up"));
        arrows->Button(false)->setAccessibleName(name + Utf8(chinese ? " 下" : " down"));
    }
}

// ---- opening -----------------------------------------------------------------------------------

void CSetScreen::OnInitDialog() {
    m_bLinkUp = m_opening.connected;
    m_bSourceIsDvi = m_opening.dviMain;
    m_bMosaicOn = m_opening.mosaic;
    m_bBypassOn = m_opening.bypass;

    // The tooltips of the geometry boxes are attached as they are built.
    if (m_opening.pipPreset >= 0 && m_opening.pipPreset <= 2) {
        Filling([&] { CheckRadio(sids::kLayoutRadios, 3, m_opening.pipPreset); });
        m_layoutCode = static_cast<uint8_t>(devlink::kLayoutM1 + m_opening.pipPreset);
    }
    ApplyCaptions();
    Control(sids::kInputSave)->setEnabled(m_bSourceIsDvi && m_bMosaicOn && !m_bBypassOn);
    for (int id : {sids::kBrightness, sids::kBrightnessSave, sids::kBrightnessReset}) {
        Control(id)->setEnabled(!m_opening.textOpen);
    }
    if (m_opening.mosaic) {
        Control(sids::kMainSave)->setEnabled(false);
    }
    if (!m_opening.pipOpen) {
        for (int id : {sids::kMainSave, sids::kPipSave, sids::kLayoutRadios[0],
                       sids::kLayoutRadios[1], sids::kLayoutRadios[2]}) {
            Control(id)->setEnabled(false);
        }
    }
    const bool overlay = m_opening.pipOpen || m_opening.textOpen;
    Control(sids::kV2Radio)->setEnabled(!overlay);
    Control(sids::kYPbPrRadio)->setEnabled(!overlay);
    Filling([&] {
        ControlAs<QAbstractButton>(m_opening.v2IsYPbPr ? sids::kYPbPrRadio : sids::kV2Radio)
            ->setChecked(true);
    });
    // The previews show the geometry kept from the last opening until the device is read.
    for (Window w : {kInput, kOutput, kMain, kPip}) {
        UpdatePreview(w);
    }
}

void CSetScreen::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The readback starts when the dialog first shows: by then the main window's workers are
    // off the link, and the enabled states of the opening are in place when its busy lock takes
    // over. The link discards whatever waits unread before each question, so no stale reply is
    // taken for an answer.
    if (!m_shown) {
        m_shown = true;
        if (m_opening.connected) {
            RefreshFromDevice();
        }
    }
}

// ---- the busy lock, the readback, the layout ----------------------------------------------------

void CSetScreen::EnableSaveControls(bool enable) {
    for (int id : sids::kBusyLocked) {
        Control(id)->setEnabled(enable);
    }
    const int pipControls[4] = {sids::kPipSave, sids::kLayoutRadios[0], sids::kLayoutRadios[1],
                                sids::kLayoutRadios[2]};
    if (m_opening.pipOpen) {
        Control(sids::kMainSave)->setEnabled(enable && !m_opening.mosaic);
        for (int id : pipControls) {
            Control(id)->setEnabled(enable);
        }
    } else {
        Control(sids::kMainSave)->setEnabled(false);
        for (int id : pipControls) {
            Control(id)->setEnabled(false);
        }
    }
}

void CSetScreen::RefreshFromDevice() {
    EnableSaveControls(false);
    const uint8_t layoutCode = m_layoutCode;
    // The Info line says what the dialog is waiting for, then shows its last result again.
    QLineEdit* info = Box(sids::kInfo);
    const QString lastResult = info->text();
    const bool started = m_runner->Start(
        [this, layoutCode](app::SequenceLink& link) {
            screen::RefreshFromDevice(link, layoutCode, [this](const Readback& r) {
                m_runner->Post([this, r] { ApplyReadback(r); });
            });
        },
        [this, info, lastResult] {
            info->setText(lastResult);
            for (int id : sids::kNumericBoxes) {
                SetModified(id, false);
            }
            EnableSaveControls(true);
        });
    if (started) {
        info->setText(Utf8(res::ScreenText(res::ScreenMsg::Reading, m_opening.chinese)));
    } else {
        EnableSaveControls(true);
    }
}

void CSetScreen::OnRefresh() {
    RefreshFromDevice();
}

void CSetScreen::ApplyReadback(const Readback& r) {
    Filling([&] {
        if (r.resolution) {
            if (const std::optional<Size> size = r.OutputSize()) {
                m_outputWidth = size->width;
                m_outputHeight = size->height;
            }
            const devlink::WindowReply& o = r.resolution->output;
            g_windowGeometry[kOutput] = {o.w, o.h, o.hs, o.vs};
            ShowGeometry(kOutput);
            UpdatePreview(kOutput);
            const QString size = QStringLiteral("(%1,%2)").arg(m_outputWidth).arg(m_outputHeight);
            for (Window w : {kMain, kInput, kOutput}) {
                ui::SetCaption(Control(sids::kGeometry[w].sizeLabel), size);
            }
        }
        const std::pair<const std::optional<devlink::WindowReply>*, Window> windows[2] = {
            {&r.main, kMain}, {&r.pip, kPip}};
        for (const auto& [reply, which] : windows) {
            if (*reply) {
                g_windowGeometry[which] = {(*reply)->w, (*reply)->h, (*reply)->hs, (*reply)->vs};
                ShowGeometry(which);
                UpdatePreview(which);
            }
        }
        if (r.mosaic) {
            CheckRadio(std::array{sids::kNoSyncMosaic, sids::kSyncMosaic}.data(), 2,
                       r.mosaic->syncMosaic ? 1 : 0);
            const devlink::WindowReply& in = r.mosaic->input;
            g_windowGeometry[kInput] = {in.w, in.h, in.hs, in.vs};
            ShowGeometry(kInput);
            UpdatePreview(kInput);
        }
        if (r.picture) {
            const devlink::PictureAudioReply& p = *r.picture;
            FillBox(sids::kBrightness, p.brightness);
            FillBox(sids::kBias, p.bias);
            CheckRadio(std::array{sids::kNormal, sids::kSharp}.data(), 2, p.sharpness == 0 ? 0 : 1);
            // A source code without a list entry (9..15) leaves the list without a selection.
            ControlAs<QComboBox>(sids::kAudio1)->setCurrentIndex(AudioEntryOfCode(p.audio1));
            ControlAs<QComboBox>(sids::kAudio2)->setCurrentIndex(AudioEntryOfCode(p.audio2));
            for (int b = 0; b < 3; ++b) {
                ControlAs<QAbstractButton>(sids::kHotSpareBoxes[b])
                    ->setChecked((p.hotSpare >> b) & 1);
            }
            m_bBrightness100 = p.brightness100;
            ui::SetCaption(Control(sids::kBrightnessRange),
                           Utf8(res::BrightnessRangeText(m_bBrightness100 != 0)));
        }
        if (r.textKey) {
            // A threshold other than 0 or 1 has no radio: neither is selected.
            CheckRadio(sids::kThresholdRadios, 2, r.textKey->threshold);
            FillBox(sids::kKeyColours[0], r.textKey->red);
            FillBox(sids::kKeyColours[1], r.textKey->green);
            FillBox(sids::kKeyColours[2], r.textKey->blue);
        }
        if (r.colour) {
            for (int row = 0; row < 7; ++row) {
                FillBox(sids::kColourRows[row].edit, r.colour->values[row]);
            }
        }
    });
}

void CSetScreen::OnLayout(int n) {
    EnableSaveControls(false);
    const bool pipOpen = m_opening.pipOpen;
    auto result = std::make_shared<LayoutGeometry>();
    const bool started = m_runner->Start(
        [n, pipOpen, result](app::SequenceLink& link) { *result = ChangeLayout(link, n, pipOpen); },
        [this, n, result] {
            Filling([&] {
                if (result->main) {
                    const devlink::WindowReply& m = *result->main;
                    g_windowGeometry[kMain] = {m.w, m.h, m.hs, m.vs};
                    ShowGeometry(kMain);
                    UpdatePreview(kMain);
                }
                if (result->pip) {
                    const devlink::WindowReply& p = *result->pip;
                    g_windowGeometry[kPip] = {p.w, p.h, p.hs, p.vs};
                    ShowGeometry(kPip);
                    UpdatePreview(kPip);
                }
            });
            for (Window w : {kMain, kPip}) {
                for (int id : GeometryBoxes(w)) {
                    SetModified(id, false);
                }
            }
            m_layoutCode = static_cast<uint8_t>(devlink::kLayoutM1 + n);
            EnableSaveControls(true);
        });
    if (!started) {
        EnableSaveControls(true);
    }
}

// ---- geometry ----------------------------------------------------------------------------------

void CSetScreen::SaveWindowGeometry(Window which) {
    EnableSaveControls(false);
    const std::array<int, 4> boxes = GeometryBoxes(which);
    const auto value = [&](int f) { return BoxInt(Box(boxes[f])->text().toStdString()); };
    const WindowGeometry g{value(kWidth), value(kHeight), value(kHStart), value(kVStart)};
    const GeometryCheck check = CheckGeometry(g, {m_outputWidth, m_outputHeight});
    if (check.kind == GeometryCheck::kOutOfRange) {
        Message(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
        WriteBox(boxes[check.field], QString());
        EnableSaveControls(true);
        return;
    }
    if (check.kind == GeometryCheck::kOdd) {
        Message(res::ScreenMsg::OddValue, res::ScreenMsg::OddValueCaption);
        SetModified(boxes[check.field], true);
        EnableSaveControls(true);
        return;
    }
    g_windowGeometry[which] = g;
    if (!m_bLinkUp) {
        FinishGeometrySave(which);
        return;
    }
    const uint8_t layoutCode = m_layoutCode;
    const bool started = m_runner->Start(
        [which, layoutCode, g](app::SequenceLink& link) {
            screen::SaveWindowGeometry(link, which, layoutCode, g);
        },
        [this, which] {
            ShowSetOk();
            FinishGeometrySave(which);
        });
    if (!started) {
        EnableSaveControls(true);
    }
}

void CSetScreen::FinishGeometrySave(Window which) {
    if (which == kMain || which == kPip) {
        UpdatePreview(kMain);
        UpdatePreview(kPip);
    } else {
        UpdatePreview(which);
    }
    for (int id : GeometryBoxes(which)) {
        SetModified(id, false);
    }
    EnableSaveControls(true);
}

void CSetScreen::ShowGeometry(Window which) {
    const WindowGeometry& g = g_windowGeometry[which];
    const sids::GeometryIds& ids = sids::kGeometry[which];
    FillBox(ids.w, g.w);
    FillBox(ids.hs, g.hs);
    FillBox(ids.h, g.h);
    FillBox(ids.vs, g.vs);
}

void CSetScreen::UpdatePreview(Window which) {
    const QWidget* frame = Control(sids::kGeometry[which].frame);
    const Rect r = PreviewRect(frame->width(), frame->height(), {m_outputWidth, m_outputHeight},
                               g_windowGeometry[which]);
    QWidget* rect = Control(sids::kGeometry[which].rect);
    rect->setGeometry(r.left, r.top, r.width, r.height);
    rect->update();
}

// ---- picture, audio and modes ------------------------------------------------------------------

void CSetScreen::SaveValue(int boxId, ValueCheck check,
                           std::function<devlink::Frame(uint8_t id, uint8_t v)> command) {
    if (check == ValueCheck::kOutOfRange) {
        Message(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
        WriteBox(boxId, QStringLiteral("0"));
        EnableSaveControls(true);
        return;
    }
    if (check == ValueCheck::kOdd) {
        Message(res::ScreenMsg::OddValue, res::ScreenMsg::OddValueCaption);
        EnableSaveControls(true);
        return;
    }
    const auto v = static_cast<uint8_t>(BoxInt(Box(boxId)->text().toStdString()));
    SendSetting([command, v](uint8_t id) { return command(id, v); }, {boxId}, true);
}

void CSetScreen::OnBrightnessSave() {
    EnableSaveControls(false);
    const int v = BoxInt(Box(sids::kBrightness)->text().toStdString());
    SaveValue(sids::kBrightness, CheckBrightness(v, m_bBrightness100 != 0),
              devlink::BrightnessCommand);
}

void CSetScreen::OnBrightnessReset() {
    EnableSaveControls(false);
    const int v = BrightnessResetValue(m_bBrightness100 != 0);
    WriteBox(sids::kBrightness, QString::number(v));
    SaveValue(sids::kBrightness, ValueCheck::kOk, devlink::BrightnessCommand);
}

void CSetScreen::OnBiasSave() {
    EnableSaveControls(false);
    SaveValue(sids::kBias, CheckPercent(BoxInt(Box(sids::kBias)->text().toStdString())),
              devlink::BiasCommand);
}

void CSetScreen::OnBiasReset() {
    EnableSaveControls(false);
    WriteBox(sids::kBias, QString::number(kBiasReset));
    SaveValue(sids::kBias, ValueCheck::kOk, devlink::BiasCommand);
}

void CSetScreen::OnColourSave(int row) {
    const sids::ColourRow& r = sids::kColourRows[row];
    EnableSaveControls(false);
    const auto code = static_cast<uint8_t>(r.code);
    SaveValue(r.edit, CheckPercent(BoxInt(Box(r.edit)->text().toStdString())),
              [code](uint8_t id, uint8_t v) { return devlink::ColourCommand(id, v, code); });
}

void CSetScreen::OnColourReset(int row) {
    const sids::ColourRow& r = sids::kColourRows[row];
    EnableSaveControls(false);
    WriteBox(r.edit, QString::number(kColourReset));
    const auto code = static_cast<uint8_t>(r.code);
    SaveValue(r.edit, ValueCheck::kOk,
              [code](uint8_t id, uint8_t v) { return devlink::ColourCommand(id, v, code); });
}

void CSetScreen::OnTextKeySave() {
    EnableSaveControls(false);
    uint8_t rgb[3];
    for (int c = 0; c < 3; ++c) {
        const int v = BoxInt(Box(sids::kKeyColours[c])->text().toStdString());
        if (CheckKeyColour(v) != ValueCheck::kOk) {
            Message(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
            WriteBox(sids::kKeyColours[c], QStringLiteral("0"));
            EnableSaveControls(true);
            return;
        }
        rgb[c] = static_cast<uint8_t>(v);
    }
    const bool above = ControlAs<QAbstractButton>(sids::kThresholdRadios[1])->isChecked();
    SendSetting(
        [above, rgb](uint8_t id) {
            return devlink::TextKeyCommand(id, above, rgb[0], rgb[1], rgb[2]);
        },
        {sids::kKeyColours[0], sids::kKeyColours[1], sids::kKeyColours[2]}, true);
}

void CSetScreen::OnKeyArrow(int colour, int delta) {
    const int id = sids::kKeyColours[colour];
    const SpinOutcome s = SpinKeyColour(BoxInt(Box(id)->text().toStdString()), colour, delta);
    if (s.kind == SpinOutcome::kAtTop) {
        Message(res::ScreenMsg::SpinTop, res::ScreenMsg::NoticeCaption);
    } else if (s.kind == SpinOutcome::kAtBottom) {
        Message(res::ScreenMsg::SpinBottom, res::ScreenMsg::NoticeCaption);
    }
    WriteBox(id, QString::number(s.value));
}

void CSetScreen::OnSharpness(bool sharp) {
    SendSetting([sharp](uint8_t id) { return devlink::SharpnessCommand(id, sharp); }, {}, false);
}

void CSetScreen::OnAudioChanged(int which) {
    auto* changed = ControlAs<QComboBox>(which == 0 ? sids::kAudio1 : sids::kAudio2);
    auto* other = ControlAs<QComboBox>(which == 0 ? sids::kAudio2 : sids::kAudio1);
    if (const std::optional<int> move =
            AudioClash(changed->currentIndex(), other->currentIndex())) {
        Message(res::ScreenMsg::SameAudio, res::ScreenMsg::NoticeCaption);
        Filling([&] { changed->setCurrentIndex(*move); });
    }
}

void CSetScreen::OnAudioSave() {
    EnableSaveControls(false);
    const bool ypbpr = m_opening.v2IsYPbPr;
    const uint8_t a1 = AudioCodeOfEntry(ControlAs<QComboBox>(sids::kAudio1)->currentIndex(), ypbpr);
    const uint8_t a2 = AudioCodeOfEntry(ControlAs<QComboBox>(sids::kAudio2)->currentIndex(), ypbpr);
    SendSetting([a1, a2](uint8_t id) { return devlink::AudioCommand(id, a1, a2); }, {}, true);
}

void CSetScreen::OnHotSpareSave() {
    EnableSaveControls(false);
    bool on[3];
    for (int b = 0; b < 3; ++b) {
        on[b] = ControlAs<QAbstractButton>(sids::kHotSpareBoxes[b])->isChecked();
    }
    SendSetting([on](uint8_t id) { return devlink::HotSpareCommand(id, on[0], on[1], on[2]); }, {},
                true);
}

void CSetScreen::OnSyncMode(bool sync) {
    SendSetting([sync](uint8_t id) { return devlink::SyncModeCommand(id, sync); }, {}, false);
}

void CSetScreen::OnV2Input(bool ypbpr) {
    SendSetting([ypbpr](uint8_t id) { return devlink::V2InputCommand(id, ypbpr); }, {}, false,
                false);
}

void CSetScreen::SendSetting(std::function<devlink::Frame(uint8_t id)> command,
                             std::vector<int> boxes, bool busyLock, bool info) {
    if (busyLock) {
        EnableSaveControls(false);
    }
    const bool started = m_runner->Start(
        [command](app::SequenceLink& link) { screen::SendSetting(link, command(link.DeviceId())); },
        [this, boxes, busyLock, info] {
            if (info) {
                ShowSetOk();
            }
            for (int id : boxes) {
                SetModified(id, false);
            }
            if (busyLock) {
                EnableSaveControls(true);
            }
        });
    if (!started && busyLock) {
        EnableSaveControls(true);
    }
}

// ---- boxes, radios, messages -------------------------------------------------------------------

void CSetScreen::OnNumericEdit(int boxId) {
    SetModified(boxId, true);
}

void CSetScreen::WriteBox(int id, const QString& text) {
    Filling([&] { Box(id)->setText(text); });
    SetModified(id, true);
}

void CSetScreen::FillBox(int id, int value) {
    Filling([&] { Box(id)->setText(QString::number(value)); });
}

void CSetScreen::SetModified(int boxId, bool on) {
    const int i = NumericIndex(boxId);
    if (i >= 0) {
        m_modified[i] = on;
        PaintBox(boxId);
    }
}

void CSetScreen::PaintBox(int boxId) {
    QLineEdit* e = Box(boxId);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, Modified(boxId) ? kModifiedColour : kPlainColour);
    e->setPalette(p);
}

void CSetScreen::CheckRadio(const int* ids, int count, int index) {
    Filling([&] {
        if (index >= 0 && index < count) {
            ControlAs<QAbstractButton>(ids[index])->setChecked(true);
            return;
        }
        for (int i = 0; i < count; ++i) {
            auto* b = ControlAs<QAbstractButton>(ids[i]);
            QButtonGroup* set = b->group();
            if (set != nullptr) {
                set->setExclusive(false);
            }
            b->setChecked(false);
            if (set != nullptr) {
                set->setExclusive(true);
            }
        }
    });
}

void CSetScreen::Filling(const std::function<void()>& change) {
    const bool was = m_filling;
    m_filling = true;
    change();
    m_filling = was;
}

void CSetScreen::Message(res::ScreenMsg text, res::ScreenMsg caption) {
    // This dialog's boxes carry English buttons in both languages.
    platform::AskYesNo(res::ScreenText(text, m_opening.chinese),
                       res::ScreenText(caption, m_opening.chinese), platform::kLangEnglish);
}

void CSetScreen::ShowSetOk() {
    Box(sids::kInfo)->setText(Utf8(res::ScreenText(res::ScreenMsg::SetOk, m_opening.chinese)));
}
