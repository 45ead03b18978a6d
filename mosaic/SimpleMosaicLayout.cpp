// The fast mosaic dialog's controls at their template places, the screen grid inside the
// Effects-show box, the fitting of the dialog to the grid, the lower panel that follows the bottom
// edge, and the colours of the value boxes.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QToolButton>
#include <algorithm>

#include "controls/ColorButton.h"
#include "controls/Colours.h"
#include "controls/Keyboard.h"
#include "controls/ScreenFit.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"
#include "screen/OutputResolution.h"

namespace {

using namespace mosaic;

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

enum class Kind {
    kGroup,
    kLabel,
    kButton,
    kRadio,
    kDigits,    // an edit box that takes digits only
    kValueBox,  // a read-only number box
    kList,
    kArrows,  // an up and a down arrow
    kFrame,
};

// One control of the template: identifier, kind, place in the client area (pixels), and the
// caption of controls that have the same caption in both languages.
struct Item {
    int id;
    Kind kind;
    int x, y, w, h;
    const char* caption = "";
};

// Rows of the two window groups: the label, the Calculated box, "+", the Adjusted box and its
// arrows, at the group's left edge gx and top gy.
void AddSide(std::vector<Item>& t, bool output, int gx, int gy) {
    const int* labels = output ? ids::kOutputLabels : ids::kInputLabels;
    const int* calculated = output ? ids::kOutputCalculated : ids::kInputCalculated;
    const int* adjusted = output ? ids::kOutputAdjusted : ids::kInputAdjusted;
    const int* arrows = output ? ids::kOutputArrows : ids::kInputArrows;
    const int* frames = output ? ids::kOutputFrames : ids::kInputFrames;
    t.push_back({output ? ids::kOutputGroup : ids::kInputGroup, Kind::kGroup, gx, gy, 306, 190});
    t.push_back({output ? ids::kOutputCalculatedHead : ids::kInputCalculatedHead, Kind::kLabel,
                 gx + 100, gy + 20, 70, 16});
    t.push_back({output ? ids::kOutputAdjustedHead : ids::kInputAdjustedHead, Kind::kLabel,
                 gx + 182, gy + 20, 100, 16});
    t.push_back({frames[0], Kind::kFrame, gx + 100, gy + 37, 64, 116});
    t.push_back({frames[1], Kind::kFrame, gx + 178, gy + 37, 112, 116});
    for (int r = 0; r < 4; ++r) {
        const int y = gy + 42 + 28 * r;
        t.push_back({labels[r], Kind::kLabel, gx + 6, y + 2, 94, 18});
        t.push_back({calculated[r], Kind::kValueBox, gx + 104, y, 56, 22});
        t.push_back(
            {ids::kPlusLabels[(output ? 4 : 0) + r], Kind::kLabel, gx + 166, y + 2, 12, 18, "+"});
        t.push_back({adjusted[r], Kind::kValueBox, gx + 182, y, 56, 22});
        t.push_back({arrows[r], Kind::kArrows, gx + 242, y, 44, 22});
    }
    t.push_back(
        {output ? ids::kSetOutput : ids::kSetInput, Kind::kButton, gx + 182, gy + 158, 106, 26});
}

// The dialog template, in creation order: a group before what it frames, so that it lies below.
std::vector<Item> Template() {
    std::vector<Item> t;
    t.push_back({ids::kSpecGroup, Kind::kGroup, 10, 4, 640, 62});
    static const char* const kPresetCaptions[ids::kPresetCount] = {
        "1X1", "1X2", "1X3", "2X1", "2X2", "2X3", "3X1", "3X2", "3X3", "4X1", "4X2", "4X3"};
    for (int k = 0; k < ids::kPresetCount; ++k) {
        t.push_back({ids::kPresets[k], Kind::kRadio, 20 + 52 * (k % 6), 22 + 20 * (k / 6), 50, 18,
                     kPresetCaptions[k]});
    }
    t.push_back({ids::kRowLabel, Kind::kLabel, 350, 20, 50, 16});
    t.push_back({ids::kRowBox, Kind::kDigits, 350, 38, 50, 22});
    t.push_back({ids::kColumnLabel, Kind::kLabel, 410, 20, 60, 16});
    t.push_back({ids::kColumnBox, Kind::kDigits, 410, 38, 50, 22});
    t.push_back({ids::kSpecOk, Kind::kButton, 475, 36, 80, 26});
    t.push_back({ids::kEffectsShow, Kind::kGroup, 10, 70, CSimpleMosaic::kBoxWidth,
                 CSimpleMosaic::kBoxHeight});

    t.push_back({ids::kConnectGroup, Kind::kGroup, 10, 258, 640, 50});
    static const char* const kDigitCaptions[9] = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    for (int k = 0; k < 9; ++k) {
        t.push_back({ids::kIdRadios[k], Kind::kRadio, 20 + 38 * k, 280, 36, 18, kDigitCaptions[k]});
    }
    t.push_back({ids::kIdList, Kind::kList, 370, 276, 70, 24});
    t.push_back({ids::kConnect, Kind::kButton, 450, 275, 100, 26});

    t.push_back({ids::kMosaicGroup, Kind::kGroup, 10, 312, 640, 270});
    t.push_back({ids::kResolutionGroup, Kind::kGroup, 20, 328, 262, 52});
    // The list only shows (it is disabled and never opens): it has no arrow, and room for a custom
    // resolution's text ("1920x1200@50Hz(Custom)").
    t.push_back({ids::kResolutionList, Kind::kList, 28, 348, 180, 24});
    t.push_back({ids::kDetect, Kind::kButton, 214, 347, 62, 26});
    t.push_back({ids::kModeGroup, Kind::kGroup, 290, 328, 238, 52});
    t.push_back({ids::kNoSyncMosaic, Kind::kRadio, 298, 350, 118, 20});
    t.push_back({ids::kSyncMosaic, Kind::kRadio, 418, 350, 104, 20});
    t.push_back({ids::kAutoCalculate, Kind::kButton, 536, 342, 106, 30});
    AddSide(t, false, 20, 386);
    AddSide(t, true, 334, 386);
    t.push_back({ids::kExit, Kind::kButton, 560, 588, 90, 26});
    return t;
}

// The lower panel, in the order its places are recorded.
std::vector<int> LowerPanel() {
    std::vector<int> p = {ids::kExit, ids::kConnectGroup};
    p.insert(p.end(), std::begin(ids::kIdRadios), std::end(ids::kIdRadios));
    p.insert(p.end(), {ids::kIdList, ids::kConnect, ids::kMosaicGroup, ids::kAutoCalculate,
                       ids::kInputGroup, ids::kOutputGroup});
    p.insert(p.end(), std::begin(ids::kInputLabels), std::end(ids::kInputLabels));
    p.insert(p.end(), {ids::kInputCalculatedHead, ids::kInputAdjustedHead});
    p.insert(p.end(), std::begin(ids::kInputFrames), std::end(ids::kInputFrames));
    p.insert(p.end(), std::begin(ids::kOutputLabels), std::end(ids::kOutputLabels));
    p.insert(p.end(), {ids::kOutputCalculatedHead, ids::kOutputAdjustedHead});
    p.insert(p.end(), std::begin(ids::kOutputFrames), std::end(ids::kOutputFrames));
    p.insert(p.end(), std::begin(ids::kPlusLabels), std::end(ids::kPlusLabels));
    for (int id = 1256; id <= 1271; ++id) {
        p.push_back(id);
    }
    p.insert(p.end(), {ids::kSetInput, ids::kSetOutput, ids::kResolutionGroup, ids::kResolutionList,
                       ids::kDetect});
    p.insert(p.end(), std::begin(ids::kInputArrows), std::end(ids::kInputArrows));
    p.insert(p.end(), std::begin(ids::kOutputArrows), std::end(ids::kOutputArrows));
    p.insert(p.end(), {ids::kModeGroup, ids::kNoSyncMosaic, ids::kSyncMosaic});
    return p;
}

const QColor kWhite(255, 255, 255);
const QColor kGrey(169, 169, 169);
const QColor kGreen(0, 255, 0);
const QColor kCyan(0, 255, 255);
const QColor kKhaki(205, 205, 180);

// Where the grid's scroll area lies inside the Effects-show box: below its title line, inside its
// frame.
const QMargins kGridInset(1, 9, 1, 1);

// "宋体" where the machine has it, else a CJK font that shows the same characters.
QFont SongFont(int points) {
    QFont f;
    f.setFamilies({Utf8("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                   QStringLiteral("Noto Sans CJK SC")});
    f.setPointSize(points);
    return f;
}

}  // namespace

void CSimpleMosaic::BuildControls() {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    for (const Item& item : Template()) {
        QWidget* w = nullptr;
        switch (item.kind) {
            case Kind::kGroup:
                w = new QGroupBox(this);
                break;
            case Kind::kLabel:
                w = new QLabel(Utf8(item.caption), this);
                break;
            case Kind::kButton: {
                auto* b = new QPushButton(this);
                b->setAutoDefault(false);
                w = b;
                break;
            }
            case Kind::kRadio:
                w = new QRadioButton(Utf8(item.caption), this);
                break;
            case Kind::kDigits: {
                auto* e = new QLineEdit(this);
                e->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[0-9]{0,9}")), e));
                w = e;
                break;
            }
            case Kind::kValueBox: {
                auto* e = new QLineEdit(this);
                e->setReadOnly(true);
                e->setEnabled(false);
                e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                w = e;
                break;
            }
            case Kind::kList: {
                auto* c = new QComboBox(this);
                w = c;
                break;
            }
            case Kind::kArrows:
                // One keyboard stop for both arrows (Up and Down press them): the box they
                // step is display only.
                w = new ui::ArrowPair(Qt::Horizontal, QSize(), this);
                break;
            case Kind::kFrame: {
                auto* f = new QFrame(this);
                f->setFrameStyle(QFrame::Box | QFrame::Sunken);
                w = f;
                break;
            }
        }
        w->setGeometry(item.x, item.y, item.w, item.h);
        ui::RegisterControl(m_controls, item.id, w);
    }

    // Each set of radios is a set of its own (they share the dialog as parent).
    m_presetGroup = new QButtonGroup(this);
    for (int id : ids::kPresets) {
        m_presetGroup->addButton(ControlAs<QAbstractButton>(id));
    }
    m_idGroup = new QButtonGroup(this);
    for (int id : ids::kIdRadios) {
        m_idGroup->addButton(ControlAs<QAbstractButton>(id));
    }
    auto* modes = new QButtonGroup(this);
    modes->addButton(ControlAs<QAbstractButton>(ids::kNoSyncMosaic));
    modes->addButton(ControlAs<QAbstractButton>(ids::kSyncMosaic));

    auto* idList = ControlAs<QComboBox>(ids::kIdList);
    for (int n = 1; n <= 255; ++n) {
        idList->addItem(QString::number(n));
    }
    auto* resolutions = ControlAs<QComboBox>(ids::kResolutionList);
    for (const screen::OutputResolution& r : screen::kOutputResolutions) {
        resolutions->addItem(Utf8(r.listText));
    }
    resolutions->setEnabled(false);  // shows the processor's resolution, never sends

    // Group frames run through the middle of their titles, as on the dialog template, so that
    // the grid's first row lies inside the Effects-show box.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 7px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));

    // Above the Effects-show box, with nothing of its own to paint: the grid's cells.
    m_gridScroll = new QScrollArea(this);
    m_gridScroll->setFrameShape(QFrame::NoFrame);
    m_gridScroll->setWidgetResizable(false);
    m_gridScroll->setFocusPolicy(Qt::NoFocus);
    m_gridArea = new QWidget;
    m_gridArea->setObjectName(QStringLiteral("screenGrid"));
    m_gridScroll->setWidget(m_gridArea);
    m_gridScroll->viewport()->setAutoFillBackground(false);
    m_gridArea->setAutoFillBackground(false);
    m_gridScroll->setStyleSheet(QStringLiteral("QScrollArea, #screenGrid { background: transparent; }"));
    PlaceGrid();

    resolutions->setStyleSheet(QStringLiteral(
        "QComboBox { padding-left: 3px; padding-right: 1px; }"
        "QComboBox::drop-down { width: 0px; border: 0px; }"
        "QComboBox::down-arrow { image: none; width: 0px; }"));

    m_numberFont = SongFont(20);
    m_labelFont = SongFont(10);
    ui::ApplyKeyboardConventions(this);
    setMinimumSize(kTemplateWidth, kTemplateHeight);
    resize(kTemplateWidth, kTemplateHeight);
}

// ---- the grid -----------------------------------------------------------------------------------

void CSimpleMosaic::BuildScreenGrid() {
    for (ScreenCell& cell : m_cells) {
        for (QWidget* w : cell.Widgets()) {
            m_controls.erase(w->property("controlId").toInt());
            delete w;
        }
    }
    m_cells.clear();
    m_screenCount = 0;

    // Cells are placed in the box's frame of reference, shifted to the scrolled area's.
    const QRect B(QPoint(-kGridInset.left(), -kGridInset.top()),
                  Control(ids::kEffectsShow)->size());
    QWidget* area = m_gridArea;
    for (int i = 0; i < m_rows; ++i) {
        for (int j = 0; j < m_cols; ++j) {
            const int n = m_screenCount;
            ScreenCell cell;
            cell.frame = new QGroupBox(area);
            cell.number = new CColorButton(area);
            // Held during a sequence without greying: the selected screen stays green.
            cell.number->setProperty(ui::SequenceRunner::kKeepsLook, true);
            cell.number->setText(QString::asprintf("%.3d", n));
            cell.number->m_textColour = kWhite;
            cell.number->m_faceColour = kGrey;
            cell.number->setFont(m_numberFont);
            cell.number->setAutoDefault(false);
            cell.heightLabel = new QLabel(Utf8(res::ScreenBoxLabel(true, m_bChinese)), area);
            cell.heightLabel->setAlignment(Qt::AlignCenter);
            cell.heightLabel->setFont(m_labelFont);
            cell.heightBox = new QLineEdit(QString::number(m_outHeight), area);
            cell.widthLabel = new QLabel(Utf8(res::ScreenBoxLabel(false, m_bChinese)), area);
            cell.widthLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cell.widthLabel->setFont(m_labelFont);
            cell.widthBox = new QLineEdit(QString::number(m_outWidth), area);
            cell.widthBoxId = ids::kWidthBoxBase + n;
            cell.heightBoxId = ids::kHeightBoxBase + n;
            ui::RegisterControl(m_controls, ids::kCellFrameBase + n, cell.frame);
            ui::RegisterControl(m_controls, ids::kNumberButtonBase + n, cell.number);
            ui::RegisterControl(m_controls, ids::kHeightLabelBase + n, cell.heightLabel);
            ui::RegisterControl(m_controls, cell.heightBoxId, cell.heightBox);
            ui::RegisterControl(m_controls, ids::kWidthLabelBase + n, cell.widthLabel);
            ui::RegisterControl(m_controls, cell.widthBoxId, cell.widthBox);

            // Frames 122 × 81: a row's first at the box's corner + (10, 10 + 81 i), the others 10
            // pixels right of the one before.
            const QPoint corner = j == 0 ? QPoint(B.left() + 10, B.top() + 10 + 81 * i)
                                         : QPoint(m_cells.back().frame->geometry().left() +
                                                      m_cells.back().frame->width() + 10,
                                                  m_cells.back().frame->y());
            cell.frame->setGeometry(QRect(corner, QSize(122, 81)));
            cell.number->setGeometry(QRect(corner + QPoint(47, 31), QSize(67, 45)));
            cell.heightLabel->setGeometry(QRect(corner + QPoint(3, 35), QSize(42, 15)));
            cell.heightBox->setGeometry(QRect(corner + QPoint(3, 52), QSize(42, 20)));
            cell.widthLabel->setGeometry(QRect(corner + QPoint(10, 12), QSize(45, 15)));
            cell.widthBox->setGeometry(QRect(corner + QPoint(56, 10), QSize(42, 20)));

            connect(cell.number, &QAbstractButton::clicked, this, [this, n] {
                if (m_runner == nullptr || !m_runner->Busy()) {
                    SelectScreen(n);
                }
            });
            m_cells.push_back(cell);
            ++m_screenCount;
        }
    }
    for (const ScreenCell& cell : m_cells) {
        for (QWidget* w : cell.Widgets()) {
            w->show();
        }
    }
    PlaceGrid();
    NameScreenCells();
    SetTabOrder();

    m_cells[0].number->m_faceColour = kGreen;
    m_cells[0].number->update();
    m_selected = 0;
    ShowSelection();
}

void CSimpleMosaic::SelectScreen(int n) {
    if (n < 0 || n >= m_screenCount) {
        return;
    }
    EnableSetControls(false);
    m_selected = static_cast<uint8_t>(n);
    for (int k = 0; k < m_screenCount; ++k) {
        CColorButton* b = m_cells[k].number;
        b->m_textColour = kWhite;
        b->m_faceColour = k == n ? kGreen : kGrey;
        b->update();
    }
    ShowSelection();
}

void CSimpleMosaic::ShowSelection() {
    ui::SetCaption(Control(ids::kInputGroup),
                   QString::fromStdString(res::WindowGroupCaption(false, m_selected, m_bChinese)));
    ui::SetCaption(Control(ids::kOutputGroup),
                   QString::fromStdString(res::WindowGroupCaption(true, m_selected, m_bChinese)));
    for (int k = 0; k < m_screenCount; ++k) {
        m_cells[k].number->setAccessibleDescription(
            k == m_selected ? Utf8(res::SelectedWord(m_bChinese)) : QString());
    }
}

// ---- size -------------------------------------------------------------------------------------

// Sizes are of the client area: the window manager draws the frame and title outside it.
void CSimpleMosaic::FitWindowToGrid() {
    QSize size = m_fittedSize;
    QSize box = m_fittedBox;
    if (m_fitRows < 2) {
        m_fitRows = 2;
    }
    if (m_rows <= 2) {
        m_fitRows = 2;
        size.setHeight(kTemplateHeight);
        box.setHeight(kBoxHeight);
    } else {
        size.setHeight((m_rows - m_fitRows) * kRowStep + size.height());
        box.setHeight((m_rows - m_fitRows) * kRowStep + box.height());
    }
    if (m_fitCols < 4) {
        m_fitCols = 4;
    }
    if (m_cols <= 4) {
        m_fitCols = 4;
        size.setWidth(kTemplateWidth);
        box.setWidth(kBoxWidth);
    } else {
        size.setWidth((m_cols - m_fitCols) * kColStep + size.width());
        box.setWidth((m_cols - m_fitCols) * kColStep + box.width());
    }
    m_fittedSize = size;
    m_fittedBox = box;

    // On a screen too small for it, the dialog takes the room there is and the box gives up the
    // difference; the grid scrolls inside it.
    const QSize room = ui::CapToScreen(this, size);
    const QSize least(kTemplateWidth, kTemplateHeight);
    const QSize capped = room.expandedTo(least.boundedTo(size)).boundedTo(size);
    box -= size - capped;
    size = capped;

    Control(ids::kEffectsShow)->resize(box);
    if (isMaximized()) {
        showNormal();  // a fitted size is a normal size
    }
    // The user may enlarge the dialog (maximise), never shrink it below the grid.
    setMinimumSize(size);
    resize(size);
    ApplyPlacements();
    PlaceGrid();
    if (isVisible()) {
        ui::KeepOnScreen(this);
    }
}

void CSimpleMosaic::PlaceGrid() {
    const QRect box = Control(ids::kEffectsShow)->geometry();
    const QRect view = box.adjusted(kGridInset.left(), kGridInset.top(), -kGridInset.right(),
                                    -kGridInset.bottom());
    m_gridScroll->setGeometry(view);
    QSize used(0, 0);
    for (const ScreenCell& cell : m_cells) {
        used = used.expandedTo(QSize(cell.frame->geometry().right() + 1 + 10,
                                     cell.frame->geometry().bottom() + 1 + 10));
    }
    m_gridArea->resize(used);  // nothing of its own to paint: the box shows through
    m_gridScroll->raise();
}

void CSimpleMosaic::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui::KeepOnScreen(this);
}

void CSimpleMosaic::RecordPlacements() {
    m_placements.clear();
    const int bottom = height();
    for (int id : LowerPanel()) {
        QWidget* w = Control(id);
        const QRect g = w->geometry();
        m_placements.push_back({w, g.x(), g.width(), g.height(), bottom - (g.y() + g.height())});
    }
}

void CSimpleMosaic::ApplyPlacements() {
    const int bottom = height();
    for (const Placement& p : m_placements) {
        p.control->setGeometry(p.left, bottom - p.bottomGap - p.height, p.width, p.height);
    }
    update();
}

void CSimpleMosaic::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!m_placements.empty()) {
        ApplyPlacements();
    }
}

// ---- value box colours --------------------------------------------------------------------------

void CSimpleMosaic::MarkChanged(int valueBoxId, bool changed) {
    m_bChanged[valueBoxId - kFirstValueBox] = changed;
    // Display-only boxes: their numbers stay as legible as in a working box.
    ui::PaintBox(Control(valueBoxId), changed ? kCyan : kKhaki);
}
