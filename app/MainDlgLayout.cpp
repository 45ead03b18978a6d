// The main window's controls: each created with its identifier, template caption, accessible
// name and colour, laid out in groups, with the timer panel on the right that folds away; the
// caption sets of the two languages; the lamps.
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadialGradient>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "app/AboutDlg.h"
#include "app/MainDlg.h"
#include "app/QtUiSeam.h"
#include "controls/Colours.h"
#include "controls/ControlRegistry.h"
#include "controls/Keyboard.h"
#include "controls/ScreenFit.h"
#include "platform/UiSeam.h"
#include "resources/Captions.h"
#include "resources/ControlIds.h"
#include "resources/SwitchTexts.h"

namespace {

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

struct Item {
    int id;
    const char* caption = nullptr;  // none: the window's caption set gives it
};

// A button with the lamp shown above it.
struct LampButton {
    int id;
    int lampId;
    const char* lampName;
};

const LampButton kSourceButtons[] = {
    {ids::kV1, ids::kSourceLamps[0], "V1 lamp"},
    {ids::kV2, ids::kSourceLamps[1], "V2 lamp"},
    {ids::kVga1, ids::kSourceLamps[2], "VGA1 lamp"},
    {ids::kVga2, ids::kSourceLamps[3], "VGA2 lamp"},
    {ids::kHdmi, ids::kSourceLamps[4], "HDMI lamp"},
    {ids::kDvi, ids::kSourceLamps[5], "DVI lamp"},
    {ids::kDp, ids::kSourceLamps[6], "DP lamp"},
    {ids::kExt, ids::kSourceLamps[7], "EXT. lamp"},
};
const LampButton kPipButtons[] = {
    {ids::kPipPbp, ids::kPipLamp, "PIP lamp"},
    {ids::kM1, ids::kM1Lamp, "M1 lamp"},
    {ids::kM2, ids::kM2Lamp, "M2 lamp"},
    {ids::kM3, ids::kM3Lamp, "M3 lamp"},
};
const LampButton kFunctionButtons[] = {
    {ids::kText, ids::kTextLamp, "TEXT lamp"},
    {ids::kBypass, ids::kBypassLamp, "BYPASS lamp"},
    {ids::kFreeze, ids::kFreezeLamp, "FREEZE lamp"},
    {ids::kMosaicFn, ids::kMosaicLamp, "MOSAIC lamp"},
};

// The EXT. input radios repeat captions of the source buttons ("VGA", "DVI"), so their names say
// whose they are.
const Item kExtRadios[] = {{ids::kExtRadios[0]},
                           {ids::kExtRadios[1]},
                           {ids::kExtRadios[2]},
                           {ids::kExtRadios[3]},
                           {ids::kExtRadios[4]}};
const Item kTransitionRadios[] = {{ids::kTransitionRadios[0]},
                                  {ids::kTransitionRadios[1]},
                                  {ids::kTransitionRadios[2]},
                                  {ids::kTransitionRadios[3]}};
const Item kSwitchModeRadios[] = {{ids::kOneKeySwitch}, {ids::kPreTakeSwitch}};
const Item kPlanBoxes[] = {{ids::kDay}, {ids::kWeek}, {ids::kMonth}, {ids::kOnce}, {ids::kAll}};
const Item kDialogButtons[] = {
    {ids::kSetup}, {ids::kMosaicDlg}, {ids::kResolution}, {ids::kProgram}};

// Accessible names of controls that have no caption, or whose caption says too little alone.
// Names made from captions, which follow the language, are set by NameFromCaptions.
const Item kFixedNames[] = {
    {ids::kIpAddress, "IP address"},        {ids::kPortEdit, "Port"},
    {ids::kChineseRadio, "Chinese"},        {ids::kEnglishRadio, "English"},
    {ids::kChineseFlag, "Chinese flag"},    {ids::kEnglishFlag, "English flag"},
    {ids::kExtGroup, "EXT. input"},         {ids::kExtRadios[0], "EXT. input NULL"},
    {ids::kExtRadios[1], "EXT. input SDI"}, {ids::kExtRadios[2], "EXT. input VGA"},
    {ids::kExtRadios[3], "EXT. input DVI"}, {ids::kExtRadios[4], "EXT. input VIDEO"},
};

// Labels and group titles in blue; the timer value fields on cyan.
const int kBlueLabels[] = {ids::kDeviceIdLabel,   ids::kSourceGroup,     ids::kInfoGroup,
                           ids::kTimerGroup,      ids::kFunctionGroup,   ids::kPipGroup,
                           ids::kLanguageGroup,   ids::kTransitionGroup, ids::kExtGroup,
                           ids::kSwitchModeGroup, ids::kPreviewLabel,    ids::kSerialNetworkGroup};
const QColor kCyan(0, 255, 255);

const char kAboutAction[] = "aboutAction";

const char* const kLampStates[3] = {"off", "on", "flashing"};

// A lit LED: a green disc with a highlight.
QPixmap LampPixmap() {
    const int size = 14;
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(QPointF(size * 0.38, size * 0.35), size * 0.6);
    glow.setColorAt(0.0, QColor(220, 255, 220));
    glow.setColorAt(0.45, QColor(40, 215, 40));
    glow.setColorAt(1.0, QColor(0, 110, 0));
    p.setBrush(glow);
    p.setPen(QPen(QColor(0, 80, 0), 1));
    p.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    return pm;
}

// A small flag-like badge with the language's mark.
QPixmap FlagPixmap(const QColor& field, const QColor& ink, const QString& mark, const QFont& font) {
    QPixmap pm(26, 18);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(field.darker(150), 1));
    p.setBrush(field);
    p.drawRoundedRect(QRectF(0.5, 0.5, 25, 17), 2, 2);
    QFont f = font;
    f.setBold(true);
    f.setPixelSize(11);
    p.setFont(f);
    p.setPen(ink);
    p.drawText(QRect(0, 0, 26, 18), Qt::AlignCenter, mark);
    return pm;
}

std::span<const res::Caption> MainCaptions() {
    return {res::kMainCaptions, static_cast<size_t>(res::kMainCaptionCount)};
}

// The right-hand panel: the widget that holds the current and next timer groups.
QWidget* TimerPanel(const CORN302ControlDlg& dlg) {
    return dlg.Control(ids::kCurrentTimerGroup)->parentWidget();
}

// Names made from the captions that label a control, so that they follow the language: the port
// list after its label, the Info line after "Info", the device ID radios and list after
// "Device_ID", the timer rows after their group ("Current Timer Time:", "Next Timer Time").
void NameFromCaptions(const CORN302ControlDlg& dlg) {
    const auto caption = [&dlg](int id) { return ui::CaptionOf(dlg.Control(id)); };
    const auto bare = [](QString s) { return s.endsWith(u':') ? s.chopped(1) : s; };
    dlg.Control(ids::kPortCombo)->setAccessibleName(bare(caption(ids::kPortLabel)));
    dlg.Control(ids::kInfo)->setAccessibleName(caption(ids::kInfoGroup));
    const QString device = caption(ids::kDeviceIdLabel);
    dlg.Control(ids::kDeviceIdCombo)->setAccessibleName(device + QStringLiteral(" list"));
    for (int n = 0; n < 6; ++n) {
        dlg.Control(ids::kDeviceIdRadios[n])
            ->setAccessibleName(device + u' ' + QString::number(n + 1));
    }
    for (int row = 0; row < 4; ++row) {
        for (const auto& [group, labels, values] :
             {std::tuple{ids::kCurrentTimerGroup, ids::kCurrentLabels, ids::kCurrentValues},
              std::tuple{ids::kNextTimerGroup, ids::kNextLabels, ids::kNextValues}}) {
            const QString prefix = caption(group) + u' ';
            const QString label = caption(labels[row]);
            dlg.Control(labels[row])->setAccessibleName(prefix + label);
            dlg.Control(values[row])->setAccessibleName(prefix + bare(label));
        }
    }
}

// The size the layout asks for now. A window that has not been shown does not relayout by itself
// when texts change, so every cached size is dropped first.
QSize FreshSizeHint(QWidget* window) {
    for (QWidget* w : window->findChildren<QWidget*>()) {
        w->updateGeometry();
    }
    for (QLayout* l : window->findChildren<QLayout*>()) {
        l->invalidate();
    }
    return window->sizeHint();
}

}  // namespace

void CORN302ControlDlg::Register(int id, QWidget* w) {
    ui::RegisterControl(m_controls, id, w);
}

void CORN302ControlDlg::BuildControls() {
    setWindowTitle(Utf8(res::StartCaption(MainCaptions(), res::kWindowTitle)));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);

    // ---- makers: every control gets its identifier and its template caption, from the
    // caption set, or from the fixed captions when it reads the same in both languages ----
    const auto start = [](int id, const char* caption) {
        if (caption != nullptr) {
            return Utf8(caption);
        }
        const char* text = res::StartCaption(MainCaptions(), id);
        return Utf8(*text != '\0'
                        ? text
                        : res::FixedText(
                              {res::kMainFixedCaptions, size_t(res::kMainFixedCaptionCount)}, id));
    };
    const auto button = [this, start](int id, const char* caption = nullptr) {
        auto* b = new QPushButton(start(id, caption));
        b->setAutoDefault(false);
        Register(id, b);
        return b;
    };
    const auto check = [this, start](int id, const char* caption = nullptr) {
        auto* c = new QCheckBox(start(id, caption));
        Register(id, c);
        return c;
    };
    const auto radio = [this, start](int id, const char* caption, QButtonGroup* set) {
        auto* r = new QRadioButton(start(id, caption));
        set->addButton(r);
        Register(id, r);
        return r;
    };
    const auto group = [this, start](int id, const char* title = nullptr) {
        auto* g = new QGroupBox(start(id, title));
        Register(id, g);
        return g;
    };
    const auto label = [this, start](int id, const char* caption = nullptr) {
        auto* l = new QLabel(start(id, caption));
        Register(id, l);
        return l;
    };
    const QPixmap lit = LampPixmap();
    const auto lamp = [this, &lit](int id, const char* name) {
        auto* l = new QLabel;
        l->setPixmap(lit);
        l->setAlignment(Qt::AlignCenter);
        l->setAccessibleName(Utf8(name));
        l->setAccessibleDescription(Utf8(kLampStates[0]));
        // A hidden lamp keeps its place, so nothing moves when lamps come and go.
        QSizePolicy policy = l->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        l->setSizePolicy(policy);
        l->hide();
        Register(id, l);
        return l;
    };
    // A row of radios (one exclusive set) into a layout.
    const auto radioRow = [&](std::span<const Item> items, QBoxLayout* into) {
        auto* set = new QButtonGroup(this);
        for (const Item& item : items) {
            into->addWidget(radio(item.id, item.caption, set));
        }
        into->addStretch();
    };
    // Buttons with their lamps above them, all of one width: these captions never change
    // language, but "V2" may become "YPbPr".
    const int keyWidth = [this] {
        int widest = fontMetrics().horizontalAdvance(Utf8(res::V2Caption(true)));
        for (const res::FixedCaption& c :
             std::span(res::kMainFixedCaptions, size_t(res::kMainFixedCaptionCount))) {
            widest = std::max(widest, fontMetrics().horizontalAdvance(Utf8(c.text)));
        }
        return widest + 24;
    }();
    const auto lampButtons = [&](std::span<const LampButton> items, QGridLayout* grid) {
        for (int col = 0; col < static_cast<int>(items.size()); ++col) {
            const LampButton& item = items[col];
            grid->addWidget(lamp(item.lampId, item.lampName), 0, col, Qt::AlignHCenter);
            QPushButton* b = button(item.id);
            b->setFixedWidth(keyWidth);
            grid->addWidget(b, 1, col);
        }
    };

    // ---- connection ----
    QGroupBox* link = group(ids::kSerialNetworkGroup);
    auto* linkGrid = new QGridLayout(link);
    auto* transport = new QButtonGroup(this);
    linkGrid->addWidget(radio(ids::kSerialRadio, nullptr, transport), 0, 0);
    linkGrid->addWidget(radio(ids::kNetworkRadio, nullptr, transport), 1, 0);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(label(ids::kPortLabel));
    auto* portCombo = new QComboBox;
    portCombo->setEditable(true);
    portCombo->setInsertPolicy(QComboBox::NoInsert);
    Register(ids::kPortCombo, portCombo);
    portRow->addWidget(portCombo, 1);
    linkGrid->addLayout(portRow, 0, 1);
    auto* netRow = new QHBoxLayout;
    auto* ip = new QLineEdit;
    const QString octet = QStringLiteral("(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])");
    ip->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("(%1\\.){3}%1").arg(octet)), ip));
    ip->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 16);
    Register(ids::kIpAddress, ip);
    netRow->addWidget(ip, 1);
    auto* port = new QLineEdit;
    port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port));
    port->setMaxLength(5);
    port->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    Register(ids::kPortEdit, port);
    netRow->addWidget(port);
    linkGrid->addLayout(netRow, 1, 1);
    auto* optionRow = new QHBoxLayout;
    optionRow->addWidget(check(ids::kAutoConnect));
    optionRow->addWidget(check(ids::kStartTimer));
    optionRow->addStretch();
    linkGrid->addLayout(optionRow, 2, 0, 1, 2);
    linkGrid->addWidget(button(ids::kConnect), 0, 2);
    linkGrid->addWidget(button(ids::kDisconnect), 1, 2);

    QGroupBox* device = group(ids::kDeviceIdLabel);
    auto* deviceGrid = new QGridLayout(device);
    auto* deviceIds = new QButtonGroup(this);
    for (int n = 0; n < 6; ++n) {
        deviceGrid->addWidget(radio(ids::kDeviceIdRadios[n], nullptr, deviceIds), n / 3, n % 3);
    }
    auto* idCombo = new QComboBox;
    idCombo->setMaxVisibleItems(16);
    idCombo->setMinimumContentsLength(3);
    Register(ids::kDeviceIdCombo, idCombo);
    deviceGrid->addWidget(idCombo, 2, 0, 1, 3);

    // ---- language ----
    QGroupBox* language = group(ids::kLanguageGroup);
    auto* languageGrid = new QGridLayout(language);
    auto* languages = new QButtonGroup(this);
    QLabel* chineseFlag = label(ids::kChineseFlag, "");
    chineseFlag->setPixmap(
        FlagPixmap(QColor(222, 41, 16), QColor(255, 222, 0), Utf8("中"), font()));
    QLabel* englishFlag = label(ids::kEnglishFlag, "");
    englishFlag->setPixmap(FlagPixmap(QColor(1, 33, 105), Qt::white, Utf8("EN"), font()));
    languageGrid->addWidget(chineseFlag, 0, 0);
    languageGrid->addWidget(radio(ids::kChineseRadio, "", languages), 0, 1);
    languageGrid->addWidget(englishFlag, 1, 0);
    languageGrid->addWidget(radio(ids::kEnglishRadio, "", languages), 1, 1);
    languageGrid->setColumnStretch(2, 1);
    languageGrid->setRowStretch(2, 1);

    // ---- sources ----
    QGroupBox* sources = group(ids::kSourceGroup);
    auto* sourceGrid = new QGridLayout(sources);
    lampButtons(kSourceButtons, sourceGrid);
    sourceGrid->setColumnMinimumWidth(8, 8);
    QLabel* preview = label(ids::kPreviewLabel);
    preview->setAlignment(Qt::AlignCenter);
    QSizePolicy keepPlace = preview->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    preview->setSizePolicy(keepPlace);
    sourceGrid->addWidget(preview, 0, 9);
    sourceGrid->addWidget(button(ids::kAutoTake), 1, 9);
    // Both follow the processor's state once it is read: the preview label shows only in
    // Pre + TAKE mode, and AUTO/TAKE is usable only when the state allows it.
    preview->hide();
    Control(ids::kAutoTake)->setEnabled(false);
    sourceGrid->setColumnStretch(10, 1);

    // ---- EXT. input, transition, switch mode ----
    QGroupBox* ext = group(ids::kExtGroup);
    radioRow(kExtRadios, new QHBoxLayout(ext));
    for (const Item& item : kExtRadios) {
        Control(item.id)->setEnabled(false);  // shows the processor's EXT. input only
    }
    QGroupBox* transition = group(ids::kTransitionGroup);
    radioRow(kTransitionRadios, new QHBoxLayout(transition));
    QGroupBox* switchMode = group(ids::kSwitchModeGroup);
    radioRow(kSwitchModeRadios, new QHBoxLayout(switchMode));

    // ---- overlays and functions ----
    QGroupBox* pip = group(ids::kPipGroup);
    auto* pipGrid = new QGridLayout(pip);
    lampButtons(kPipButtons, pipGrid);
    pipGrid->setColumnStretch(4, 1);
    for (int id : {ids::kM1, ids::kM2, ids::kM3}) {
        Control(id)->setEnabled(false);
    }
    QGroupBox* functions = group(ids::kFunctionGroup);
    auto* functionGrid = new QGridLayout(functions);
    lampButtons(kFunctionButtons, functionGrid);
    functionGrid->setColumnStretch(4, 1);

    // ---- timer ----
    QGroupBox* timer = group(ids::kTimerGroup);
    auto* timerRow = new QHBoxLayout(timer);
    for (const Item& item : kPlanBoxes) {
        timerRow->addWidget(check(item.id, item.caption));
    }
    timerRow->addStretch();
    timerRow->addWidget(button(ids::kStart));
    timerRow->addWidget(button(ids::kStop));
    timerRow->addWidget(button(ids::kTimerPanel, res::PanelButtonCaption(true, false)));

    // ---- sub-dialogs, Info line, Exit ----
    auto* dialogRow = new QHBoxLayout;
    for (const Item& item : kDialogButtons) {
        dialogRow->addWidget(button(item.id, item.caption));
    }
    dialogRow->addStretch();
    auto* infoRow = new QHBoxLayout;
    QLabel* infoLabel = label(ids::kInfoGroup);
    auto* info = new QLineEdit;
    info->setReadOnly(true);  // display only, but readable and selectable
    Register(ids::kInfo, info);
    infoLabel->setBuddy(info);
    infoRow->addWidget(infoLabel);
    infoRow->addWidget(info, 1);
    infoRow->addSpacing(12);
    infoRow->addWidget(button(ids::kExit));

    // ---- the timer panel ----
    auto* panel = new QWidget;
    panel->setFixedWidth(kPanelWidth);
    auto* panelColumn = new QVBoxLayout(panel);
    for (const auto& [groupId, labels, values] :
         {std::tuple{ids::kCurrentTimerGroup, ids::kCurrentLabels, ids::kCurrentValues},
          std::tuple{ids::kNextTimerGroup, ids::kNextLabels, ids::kNextValues}}) {
        QGroupBox* box = group(groupId);
        auto* rows = new QGridLayout(box);
        for (int row = 0; row < 4; ++row) {
            rows->addWidget(label(labels[row]), row, 0);
            auto* value = new QLineEdit;
            value->setReadOnly(true);
            ui::PaintBox(value, kCyan);
            Register(values[row], value);
            rows->addWidget(value, row, 1);
        }
        rows->setColumnStretch(1, 1);
        panelColumn->addWidget(box);
    }
    panelColumn->addStretch();

    // ---- the window: groups on the left, the panel on the right ----
    auto* main = new QWidget;
    auto* grid = new QGridLayout(main);
    auto* top = new QHBoxLayout;
    top->addWidget(link, 1);
    top->addWidget(device);
    top->addWidget(language);
    grid->addLayout(top, 0, 0, 1, 2);
    grid->addWidget(sources, 1, 0, 1, 2);
    grid->addWidget(transition, 2, 0);
    grid->addWidget(switchMode, 2, 1);
    grid->addWidget(pip, 3, 0);
    grid->addWidget(functions, 3, 1);
    grid->addWidget(ext, 4, 0);
    grid->addLayout(dialogRow, 4, 1, Qt::AlignBottom);
    grid->addWidget(timer, 5, 0, 1, 2);
    grid->addLayout(infoRow, 6, 0, 1, 2);
    // The panel lines up with the groups on the left; the gap between them is its own, so that
    // the window is exactly kPanelWidth narrower without it.
    const QMargins margins = grid->contentsMargins();
    panelColumn->setContentsMargins(0, margins.top(), margins.right(), margins.bottom());

    auto* window = new QHBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(main);
    window->addWidget(panel);

    // ---- names, colours ----
    for (const Item& item : kFixedNames) {
        Control(item.id)->setAccessibleName(Utf8(item.caption));
    }
    NameFromCaptions(*this);
    for (int id : kBlueLabels) {
        ui::PaintTitle(Control(id));
    }
    ui::ApplyKeyboardConventions(this);

    // A Linux window manager's window menu cannot take items of the program's own, so the About
    // box is offered from the window's context menu instead.
    auto* about = new QAction(Utf8(res::kAboutItem.en), this);
    about->setObjectName(kAboutAction);
    connect(about, &QAction::triggered, this, &CORN302ControlDlg::OnAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    // ---- size: fixed, with room for the captions of both languages ----
    ensurePolished();
    QSize size = FreshSizeHint(this);
    std::vector<std::pair<int, QString>> templateTexts{
        {ids::kTimerPanel, ui::CaptionOf(Control(ids::kTimerPanel))}};
    for (const res::Caption& c : MainCaptions()) {
        if (c.id != res::kWindowTitle) {
            templateTexts.emplace_back(c.id, ui::CaptionOf(Control(c.id)));
        }
    }
    const QString templateTitle = windowTitle();
    m_bPanelCollapsed = false;  // built with the panel shown; start-up folds it away
    m_bChinese = 1;
    ApplyCaptions();
    size = size.expandedTo(FreshSizeHint(this));
    m_bChinese = 0;
    for (const auto& [id, text] : templateTexts) {
        ui::SetCaption(Control(id), text);
    }
    setWindowTitle(templateTitle);
    NameFromCaptions(*this);
    if (auto* action = findChild<QAction*>(kAboutAction)) {
        action->setText(Utf8(res::kAboutItem.en));
    }
    setFixedSize(size);
}

void CORN302ControlDlg::ApplyCaptions() {
    const bool chinese = m_bChinese != 0;
    ui::ApplyCaptionSet(this, m_controls, MainCaptions(), chinese);
    ui::SetCaption(Control(ids::kTimerPanel),
                   Utf8(res::PanelButtonCaption(m_bPanelCollapsed, chinese)));
    if (auto* action = findChild<QAction*>(kAboutAction)) {
        action->setText(Utf8(chinese ? res::kAboutItem.zh : res::kAboutItem.en));
    }
    NameFromCaptions(*this);
    ShowSignalLoss(m_signalLoss);  // a loss on the Info line is said in the new language
    ShowSharedLine(m_bOnSharedLine);
}

void CORN302ControlDlg::ShowSharedLine(bool on) {
    m_bOnSharedLine = on;
    const bool chinese = m_bChinese != 0;
    for (const res::Caption& c : MainCaptions()) {
        if (c.id == res::kWindowTitle) {
            QString title = Utf8(chinese ? c.zh : c.en);
            if (on) {
                title += " - " + Utf8(res::Text(res::Msg::SharedLine, chinese));
            }
            setWindowTitle(title);
        }
    }
}

void CORN302ControlDlg::OnChinese() {
    m_bChinese = 1;
    ApplyCaptions();
    ShowQtTextsIn(true);  // the file dialogs too
}

void CORN302ControlDlg::OnEnglish() {
    m_bChinese = 0;
    ApplyCaptions();
    ShowQtTextsIn(false);
}

void CORN302ControlDlg::OnTimerPanel() {
    m_bPanelCollapsed = !m_bPanelCollapsed;
    QWidget* panel = TimerPanel(*this);
    // Position and height stay; only the width changes, by exactly the panel's width.
    const int width = this->width() + (m_bPanelCollapsed ? -kPanelWidth : kPanelWidth);
    if (m_bPanelCollapsed) {
        panel->hide();
    }
    setFixedSize(width, height());
    if (!m_bPanelCollapsed) {
        panel->show();
    }
    // Widened near the screen's right edge, the window moves left to stay on the screen.
    if (isVisible()) {
        ui::KeepOnScreen(this);
    }
    // The button itself always sets its English caption; a change of language rewrites it in
    // that language (ApplyCaptions).
    ui::SetCaption(Control(ids::kTimerPanel),
                   Utf8(res::PanelButtonCaption(m_bPanelCollapsed, false)));
}

void CORN302ControlDlg::OnAll() {
    // "All" has already toggled; the filter and the four kinds follow it. Flipping a flag of its
    // own would leave the first click dead, since start-up ticks all five boxes.
    m_bPlanFilter = ControlAs<QAbstractButton>(ids::kAll)->isChecked();
    for (const Item& item : kPlanBoxes) {
        ControlAs<QAbstractButton>(item.id)->setChecked(m_bPlanFilter);
    }
}

void CORN302ControlDlg::OnAbout() {
    CAboutDlg about(this);
    platform::RunModal(about);
}

void CORN302ControlDlg::SetLampState(int lampId, int state) {
    QWidget* lamp = Control(lampId);
    if (lamp == nullptr || state < 0 || state > 2) {
        return;
    }
    // A flashing lamp is shown and hidden by the blink thread (SetLampVisible).
    if (state == 2) {
        m_flashingLamps.insert(lampId);
    } else {
        m_flashingLamps.erase(lampId);
        lamp->setVisible(state == 1);
    }
    lamp->setAccessibleDescription(Utf8(kLampStates[state]));
}

void CORN302ControlDlg::SetLampVisible(int lampId, bool visible) {
    if (m_flashingLamps.count(lampId) == 0) {
        return;
    }
    if (QWidget* lamp = Control(lampId)) {
        lamp->setVisible(visible);
    }
}
