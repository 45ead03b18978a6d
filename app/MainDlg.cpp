// The main window: start-up, one handler per control, the sub-dialogs, the scheduler, exit.
#include "app/MainDlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "controls/Keyboard.h"
#include "controls/PostBox.h"
#include "controls/Progress.h"
#include "resources/ControlIds.h"
#include "app/QtUiSeam.h"
#include "link/PortDiscovery.h"
#include "mosaic/SimpleMosaic.h"
#include "platform/ProfileFile.h"
#include "resources/Captions.h"
#include "schedule/InfoPlan.h"
#include "schedule/Program.h"
#include "schedule/SchedulerService.h"
#include "screen/Advanced.h"
#include "screen/SetScreen.h"

CORN302ControlDlg* g_pMainDlg = nullptr;

namespace {

const char kConnectSection[] = "CONNECT";

// Decimal number of a profile value; text that is no number reads as 0.
long ProfileNumber(const std::string& path, const char* key) {
    return std::strtol(platform::GetProfileString(path, kConnectSection, key, "").c_str(), nullptr,
                       10);
}

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

}  // namespace

CORN302ControlDlg::CORN302ControlDlg(QWidget* parent)
    : QDialog(parent), m_conn(*this), m_postBox(new ui::PostBox(this)) {
    m_infoShown.start();
    BuildControls();
    ConnectHandlers();
    m_progress = new CProgress(this);
    m_reconnectTimer = new QTimer(this);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &CORN302ControlDlg::Reconnect);
}

CORN302ControlDlg::~CORN302ControlDlg() {
    // The workers report to this window: they end before it goes. A worker waiting for a box
    // that will not be shown any more stops waiting.
    {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        m_tearingDown = true;
    }
    m_boxAnswered.notify_all();
    m_scheduler.reset();
    m_conn.Shutdown();
    if (g_pMainDlg == this) {
        g_pMainDlg = nullptr;
    }
    ShowQtTextsIn(false);  // Qt's texts followed this window's language
}

QWidget* CORN302ControlDlg::Control(int id) const {
    return ui::FindControl(m_controls, id);
}

void CORN302ControlDlg::ConnectHandlers() {
    auto onClick = [this](int id, void (CORN302ControlDlg::*handler)()) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::clicked, this,
                [this, handler] { (this->*handler)(); });
    };
    // Radios and check boxes act on what they became, not on a click: an assistive tool's
    // toggle, the keyboard and the mouse all change the checked state, only the mouse and the
    // keyboard click. A radio acts when it becomes checked. Where the program itself sets a
    // checked state (start-up, the processor's state), it does so without signals.
    auto onChecked = [this](int id, std::function<void()> handler) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::toggled, this,
                [handler = std::move(handler)](bool on) {
                    if (on) {
                        handler();
                    }
                });
    };
    auto onToggled = [this](int id, void (CORN302ControlDlg::*handler)()) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::toggled, this,
                [this, handler] { (this->*handler)(); });
    };

    onChecked(ids::kSerialRadio, [this] { OnSerialRadio(); });
    onChecked(ids::kNetworkRadio, [this] { OnNetworkRadio(); });
    for (int n = 1; n <= 6; ++n) {
        onChecked(ids::kDeviceIdRadios[n - 1], [this, n] { OnDeviceIdRadio(n); });
    }
    // Browsing the device IDs with the keys picks none of them until Enter or Space.
    ui::OnCommit(ControlAs<QComboBox>(ids::kDeviceIdCombo), this,
                 [this](int index) { OnDeviceIdCombo(index); });
    onClick(ids::kConnect, &CORN302ControlDlg::OnConnect);
    onClick(ids::kDisconnect, &CORN302ControlDlg::OnDisconnect);
    onToggled(ids::kAutoConnect, &CORN302ControlDlg::OnAutoConnect);
    onToggled(ids::kStartTimer, &CORN302ControlDlg::OnStartTimer);
    onChecked(ids::kChineseRadio, [this] { OnChinese(); });
    onChecked(ids::kEnglishRadio, [this] { OnEnglish(); });
    onClick(ids::kSetup, &CORN302ControlDlg::OnSetup);
    onClick(ids::kResolution, &CORN302ControlDlg::OnResolution);
    onClick(ids::kProgram, &CORN302ControlDlg::OnProgram);
    onClick(ids::kMosaicDlg, &CORN302ControlDlg::OnMosaic);
    onClick(ids::kExit, &CORN302ControlDlg::OnExit);

    static const int kSourceButtons[8] = {ids::kV1,   ids::kV2,  ids::kVga1, ids::kVga2,
                                          ids::kHdmi, ids::kDvi, ids::kDp,   ids::kExt};
    for (int code = 0; code < 8; ++code) {
        connect(ControlAs<QAbstractButton>(kSourceButtons[code]), &QAbstractButton::clicked, this,
                [this, code] { OnSource(code); });
    }
    onClick(ids::kPipPbp, &CORN302ControlDlg::OnPipPbp);
    onClick(ids::kText, &CORN302ControlDlg::OnText);
    const int presets[3] = {ids::kM1, ids::kM2, ids::kM3};
    for (int n = 0; n < 3; ++n) {
        connect(ControlAs<QAbstractButton>(presets[n]), &QAbstractButton::clicked, this,
                [this, n] { OnPreset(n); });
    }
    onClick(ids::kBypass, &CORN302ControlDlg::OnBypass);
    onClick(ids::kMosaicFn, &CORN302ControlDlg::OnMosaicFunction);
    onClick(ids::kFreeze, &CORN302ControlDlg::OnFreeze);
    onClick(ids::kAutoTake, &CORN302ControlDlg::OnAutoTake);
    for (int n = 0; n < 4; ++n) {
        onChecked(ids::kTransitionRadios[n], [this, n] { OnTransition(n); });
    }
    onChecked(ids::kOneKeySwitch, [this] { OnSwitchMode(false); });
    onChecked(ids::kPreTakeSwitch, [this] { OnSwitchMode(true); });
    onClick(ids::kStart, &CORN302ControlDlg::OnStart);
    onClick(ids::kStop, &CORN302ControlDlg::OnStop);
    onClick(ids::kTimerPanel, &CORN302ControlDlg::OnTimerPanel);
    onToggled(ids::kAll, &CORN302ControlDlg::OnAll);
    const int kinds[4] = {ids::kDay, ids::kWeek, ids::kMonth, ids::kOnce};
    for (int k = 0; k < 4; ++k) {
        connect(ControlAs<QAbstractButton>(kinds[k]), &QAbstractButton::toggled, this,
                [this, k](bool on) { m_kindTicked[k] = on; });
    }
}

// ---- start-up --------------------------------------------------------------------------------

void CORN302ControlDlg::OnInitDialog() {
    g_pMainDlg = this;
    // The program's icon, for the title bar, the task bar and the program's dialogs (built into
    // the program: resources/orn312.svg).
    setWindowIcon(QIcon(QStringLiteral(":/icons/orn312.svg")));

    // The serial ports of this machine; the last one found is the default. With none found, the
    // first serial line of the machine is offered.
    auto* portCombo = ControlAs<QComboBox>(ids::kPortCombo);
    portCombo->clear();
    for (const std::string& port : devlink::ListSerialPorts(m_sysTtyRoot)) {
        portCombo->addItem(QString::fromStdString(port));
    }
    if (portCombo->count() == 0) {
        portCombo->addItem(QStringLiteral("ttyS0"));
    }
    const std::string defaultPort = devlink::FindDefaultSerialPort(m_sysTtyRoot);
    if (!defaultPort.empty()) {
        portCombo->setEditText(QString::fromStdString(defaultPort));
    } else {
        portCombo->setCurrentIndex(0);
    }

    auto* idCombo = ControlAs<QComboBox>(ids::kDeviceIdCombo);
    idCombo->clear();
    for (int i = 1; i <= 256; ++i) {
        idCombo->addItem(QString::number(i));
    }
    SetCheckedQuietly(ids::kEnglishRadio, true);
    CheckDeviceIdRadio(1);
    idCombo->setCurrentIndex(0);

    // The four kinds are mirrored as ticked already; the plan filter flag stays 0.
    for (int id : {ids::kDay, ids::kWeek, ids::kMonth, ids::kOnce, ids::kAll}) {
        SetCheckedQuietly(id, true);
    }

    EnableSwitchControls(false);
    Control(ids::kStop)->setEnabled(false);
    Control(ids::kDisconnect)->setEnabled(false);

    CollapseTimerPanel();

    m_pPlanInfo = std::make_unique<CInfoPlan>(m_profilePath);
    m_pPlanInfo->LoadPlanCounts();
    // A scheduled switch holds the link through its pause, so nothing comes between the switch
    // and the processor's settling; a Stop cuts the pause short.
    auto send = [this](const PlanItem&, const devlink::Frame& frame, int delayMs,
                       platform::StopFlag& stop) {
        bool sent = false;
        m_conn.WithLink([&](devlink::LinkConnection& link) {
            sent = devlink::SendCommand(link, frame.data(), 0);
            platform::Sleep(delayMs, &stop);
        });
        return sent;
    };
    // The running scheduler also follows edits of the plan file by other programs.
    m_scheduler = std::make_unique<PlanScheduler>(*m_pPlanInfo, *this, send, true);

    ReadConnectKeys();
}

void CORN302ControlDlg::ReadConnectKeys() {
    // A file that is no plan file is neither read nor written: the window starts with the
    // default settings and says why.
    const platform::ProfileFileKind kind = platform::CheckProfileFile(m_profilePath);
    if (platform::IsForeignFile(kind)) {
        SetInfo(Utf8(res::Text(kind == platform::ProfileFileKind::kTooLarge
                                   ? res::Msg::NotPlanFileTooLarge
                                   : res::Msg::NotPlanFileNotText,
                               m_bChinese != 0)));
    }
    const bool serial = ProfileNumber(m_profilePath, "SerialTcp") == 1;
    m_bSerial = serial ? 1 : 0;
    SetCheckedQuietly(serial ? ids::kSerialRadio : ids::kNetworkRadio, true);
    // The serial port chosen last time, in place of the one found.
    const std::string savedPort =
        platform::GetProfileString(m_profilePath, kConnectSection, "ComPort", "");
    if (!savedPort.empty()) {
        ControlAs<QComboBox>(ids::kPortCombo)->setEditText(QString::fromStdString(savedPort));
    }
    if (serial) {
        m_conn.m_portName = ControlAs<QComboBox>(ids::kPortCombo)->currentText().toStdString();
    } else {
        ControlAs<QLineEdit>(ids::kIpAddress)
            ->setText(QString::fromStdString(
                platform::GetProfileString(m_profilePath, kConnectSection, "IP", "")));
        ControlAs<QLineEdit>(ids::kPortEdit)
            ->setText(QString::fromStdString(
                platform::GetProfileString(m_profilePath, kConnectSection, "Port", "")));
    }
    EnableTransportControls();

    m_bAutoConnect = ProfileNumber(m_profilePath, "ConnectFlag") != 0 ? 1 : 0;
    m_bStartTimer = ProfileNumber(m_profilePath, "StartTimerFlag") != 0 ? 1 : 0;
    SetCheckedQuietly(ids::kAutoConnect, m_bAutoConnect != 0);
    SetCheckedQuietly(ids::kStartTimer, m_bStartTimer != 0);

    if (m_bAutoConnect) {
        const uint8_t id = static_cast<uint8_t>(ProfileNumber(m_profilePath, "DeviceID"));
        m_conn.m_deviceId = id;
        // Entry id - 1: an ID of 0 (missing key) selects no entry.
        ControlAs<QComboBox>(ids::kDeviceIdCombo)->setCurrentIndex(static_cast<int>(id) - 1);
        CheckDeviceIdRadio(id);
        RunConnect();
    } else {
        Control(ids::kStartTimer)->setEnabled(false);
    }
    if (m_bAutoConnect && m_conn.m_bConnected && m_bStartTimer) {
        StartScheduler();
    }
}

// ---- connection controls ---------------------------------------------------------------------

void CORN302ControlDlg::EnableTransportControls() {
    Control(ids::kIpAddress)->setEnabled(m_bSerial == 0);
    Control(ids::kPortEdit)->setEnabled(m_bSerial == 0);
    Control(ids::kPortCombo)->setEnabled(m_bSerial != 0);
}

void CORN302ControlDlg::OnSerialRadio() {
    m_bSerial = 1;
    WriteConnectSettings({{"SerialTcp", "1"}});
    EnableTransportControls();
}

void CORN302ControlDlg::OnNetworkRadio() {
    m_bSerial = 0;
    WriteConnectSettings({{"SerialTcp", "0"}});
    EnableTransportControls();
}

void CORN302ControlDlg::SetCheckedQuietly(int id, bool on) {
    auto* button = ControlAs<QAbstractButton>(id);
    const QSignalBlocker quiet(button);
    button->setChecked(on);
}

void CORN302ControlDlg::CheckOnly(const int* radioIds, int count, int index) {
    // Radios of one group keep one checked; to show none, the group lets go for a moment. The
    // radios show a state here; their handlers do not run.
    for (int n = 0; n < count; ++n) {
        auto* radio = ControlAs<QAbstractButton>(radioIds[n]);
        const QSignalBlocker quiet(radio);
        QButtonGroup* group = radio->group();
        const bool exclusive = group != nullptr && group->exclusive();
        const bool autoExclusive = radio->autoExclusive();
        if (group) {
            group->setExclusive(false);
        }
        radio->setAutoExclusive(false);
        radio->setChecked(n == index);
        radio->setAutoExclusive(autoExclusive);
        if (group) {
            group->setExclusive(exclusive);
        }
    }
}

void CORN302ControlDlg::CheckDeviceIdRadio(int id) {
    CheckOnly(ids::kDeviceIdRadios, 6, id - 1);
}

void CORN302ControlDlg::OnDeviceIdRadio(int n) {
    m_conn.m_deviceId = static_cast<uint8_t>(n);
    ControlAs<QComboBox>(ids::kDeviceIdCombo)->setCurrentIndex(n - 1);
}

void CORN302ControlDlg::OnDeviceIdCombo(int index) {
    // One byte: "256" gives 0.
    const uint8_t id = static_cast<uint8_t>(index + 1);
    m_conn.m_deviceId = id;
    CheckDeviceIdRadio(id);
}

void CORN302ControlDlg::OnConnect() {
    // Offered again once the link was lost: the old link goes first, and any trying with it.
    StopReconnecting();
    ++m_linkEpoch;
    if (m_conn.m_bConnected || m_conn.WorkersRunning()) {
        m_conn.Disconnect();
        ShowNotLive(true);
    }
    m_conn.m_portName = ControlAs<QComboBox>(ids::kPortCombo)->currentText().toStdString();
    SaveConnectKeys();
    RunConnect();
}

app::ConnectSettings CORN302ControlDlg::ShownConnectSettings() const {
    app::ConnectSettings s;
    s.serial = m_bSerial;
    s.portName = m_conn.m_portName;
    s.ipText = ControlAs<QLineEdit>(ids::kIpAddress)->text().toStdString();
    s.portText = ControlAs<QLineEdit>(ids::kPortEdit)->text().toStdString();
    return s;
}

void CORN302ControlDlg::RunConnect() {
    m_lastConnect = ShownConnectSettings();
    m_progress->Reset();
    m_progress->m_bChinese = m_bChinese != 0;
    m_progress->m_purpose = 1;
    m_conn.StartConnect(m_lastConnect);
    platform::RunModal(*m_progress);
}

void CORN302ControlDlg::OnDisconnect() {
    // Also stops the trying after a loss, and an attempt under way.
    StopReconnecting();
    ++m_linkEpoch;
    m_conn.Disconnect();
    ShowSharedLine(false);
    Control(ids::kConnect)->setEnabled(true);
    Control(ids::kDisconnect)->setEnabled(false);
    // Nothing may look live once the link is closed; the next connection takes every lamp and
    // the transition from the processor again.
    ShowNotLive(true);
    SetInfo(Utf8(res::Text(res::Msg::Disconnected, m_bChinese != 0)));
}

void CORN302ControlDlg::OnAutoConnect() {
    m_bAutoConnect = ControlAs<QAbstractButton>(ids::kAutoConnect)->isChecked() ? 1 : 0;
    SaveConnectKeys();
    Control(ids::kStartTimer)->setEnabled(m_bAutoConnect != 0);
    if (m_bAutoConnect == 0 && m_reconnecting) {
        OnDisconnect();  // no more trying: the window is idle
    }
}

void CORN302ControlDlg::OnStartTimer() {
    m_bStartTimer = ControlAs<QAbstractButton>(ids::kStartTimer)->isChecked() ? 1 : 0;
    SaveConnectKeys();
}

void CORN302ControlDlg::SaveConnectKeys() {
    std::vector<std::pair<const char*, std::string>> keys = {
        {"ConnectFlag", std::to_string(m_bAutoConnect)},
        {"StartTimerFlag", std::to_string(m_bStartTimer)},
        {"DeviceID", std::to_string(m_conn.m_deviceId)},
    };
    if (m_bSerial == 0) {
        const std::string ip = ControlAs<QLineEdit>(ids::kIpAddress)->text().toStdString();
        const std::string port = ControlAs<QLineEdit>(ids::kPortEdit)->text().toStdString();
        if (!ip.empty()) {
            keys.emplace_back("IP", ip);
        }
        if (!port.empty()) {
            keys.emplace_back("Port", port);
        }
    } else {
        const std::string comPort =
            ControlAs<QComboBox>(ids::kPortCombo)->currentText().toStdString();
        if (!comPort.empty()) {
            keys.emplace_back("ComPort", comPort);
        }
    }
    WriteConnectSettings(keys);
}

bool CORN302ControlDlg::WriteConnectSettings(
    const std::vector<std::pair<const char*, std::string>>& keys) {
    // One atomic write for the whole save: a kill never leaves the file between two states.
    std::vector<platform::ProfileEdit> edits;
    for (const auto& [key, value] : keys) {
        edits.push_back({kConnectSection, std::string(key), value});
    }
    if (!platform::WriteProfileStrings(m_profilePath, edits)) {
        // One line for the whole save; the file keeps what it had.
        const bool foreign = platform::IsForeignFile(platform::CheckProfileFile(m_profilePath));
        SetInfo(Utf8(res::Text(foreign ? res::Msg::SettingsNotPlanFile : res::Msg::SettingsNotSaved,
                               m_bChinese != 0)));
        return false;
    }
    return true;
}

void CORN302ControlDlg::EnableSwitchControls(bool on) {
    for (int id : ids::kSwitchControls) {
        if (QWidget* w = Control(id)) {
            w->setEnabled(on);
        }
    }
}

// ---- sub-dialogs -----------------------------------------------------------------------------

bool CORN302ControlDlg::Ask(res::Msg msg) {
    const bool chinese = m_bChinese != 0;
    return platform::AskYesNo(res::Text(msg, chinese),
                              res::Text(res::Msg::SystemInformation, chinese),
                              res::LanguageId(chinese));
}

void CORN302ControlDlg::RunWithWorkersPaused(platform::ModalDialog& dialog) {
    g_pMainDlg = this;
    m_conn.PauseWorkers();
    platform::RunModal(dialog);
    m_conn.ResumeWorkers();
}

void CORN302ControlDlg::OnSetup() {
    if (!m_conn.m_bConnected) {
        Ask(res::Msg::NotConnected);
        return;
    }
    screen::OpeningValues values;
    {
        std::lock_guard lock(m_stateMutex);
        values = screen::OpeningFrom(m_state, m_conn.m_deviceId, m_conn.m_bConnected != 0,
                                     m_bChinese != 0);
    }
    CSetScreen dlg(this, values, m_conn);
    RunWithWorkersPaused(dlg);
}

void CORN302ControlDlg::OnResolution() {
    if (!m_conn.m_bConnected) {
        Ask(res::Msg::NotConnected);
        return;
    }
    CCAdvanced dlg(this, m_conn, m_conn.m_deviceId, m_bChinese != 0);
    RunWithWorkersPaused(dlg);
}

void CORN302ControlDlg::OnProgram() {
    bool v2IsYPbPr = false;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        v2IsYPbPr = m_state.m_bV2IsYPbPr;
    }
    m_pPlanInfo->LoadAllPlans(m_bChinese != 0);
    CProgram dlg(this, *m_pPlanInfo, m_bChinese != 0, v2IsYPbPr,
                 [this](const std::string& text) { SetInfo(QString::fromStdString(text)); });
    RunWithWorkersPaused(dlg);
}

void CORN302ControlDlg::OnMosaic() {
    g_pMainDlg = this;
    // The connection closed for the mosaic is not lost: it is not connected again by itself.
    StopReconnecting();
    ++m_linkEpoch;
    m_conn.StopWorkers();
    CSimpleMosaic dlg(this, m_conn, m_bChinese != 0);
    dlg.KeepWallIn(m_profilePath, MosaicProcessor());
    platform::RunModal(dlg);
    // The fast mosaic talks to the processor on its own; afterwards the operator connects again.
    m_conn.CloseTransport();
    ShowSharedLine(false);
    Control(ids::kDisconnect)->setEnabled(false);
    Control(ids::kConnect)->setEnabled(true);
    ShowNotLive(true);
    SetInfo(Utf8(res::Text(res::Msg::ClosedForMosaic, m_bChinese != 0)));
}

std::string CORN302ControlDlg::MosaicProcessor() const {
    const ServiceSettings processor{m_conn.m_bConnected ? m_lastConnect : ShownConnectSettings(),
                                    m_conn.m_deviceId, false};
    return DescribeDevice(processor);
}

// ---- exit ------------------------------------------------------------------------------------

void CORN302ControlDlg::OnExit() {
    if (Ask(res::Msg::ExitQuestion)) {
        if (m_scheduler) {
            m_scheduler->Stop();
        }
        StopReconnecting();
        ++m_linkEpoch;
        m_conn.StopWorkers();
        m_closing = true;
        done(0);
    }
}

void CORN302ControlDlg::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    OnExit();
}

void CORN302ControlDlg::reject() {
    if (m_closing) {
        QDialog::reject();
        return;
    }
    OnExit();
}

// ---- source switching: each press becomes the pending command or a refusal ------------------

void CORN302ControlDlg::Press(const std::function<app::SwitchOutcome(app::DeviceState&)>& rule) {
    app::SwitchOutcome outcome;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        outcome = rule(m_state);
    }
    ApplyOutcome(outcome);
}

void CORN302ControlDlg::ApplyOutcome(const app::SwitchOutcome& outcome) {
    if (outcome.disableBypass) {
        Control(ids::kBypass)->setEnabled(false);
    }
    if (outcome.command) {
        m_conn.QueueCommand(outcome.command->frame, outcome.command->delayMs);
    }
    if (outcome.refusal) {
        const app::Refusal& r = *outcome.refusal;
        if (r.messageBox) {
            platform::AskYesNo(r.text, r.caption, r.languageId);
        } else {
            SetInfo(QString::fromStdString(r.text));
        }
    }
}

void CORN302ControlDlg::OnSource(int code) {
    Press([&](app::DeviceState& st) {
        return app::PressSource(st, m_conn.m_deviceId, m_bChinese != 0, code);
    });
}

void CORN302ControlDlg::OnPipPbp() {
    Press([&](app::DeviceState& st) {
        return app::PressPip(st, m_conn.m_deviceId, m_bChinese != 0);
    });
}

void CORN302ControlDlg::OnText() {
    Press([&](app::DeviceState& st) {
        return app::PressText(st, m_conn.m_deviceId, m_bChinese != 0);
    });
}

void CORN302ControlDlg::OnPreset(int preset) {
    ApplyOutcome(app::PressPreset(m_conn.m_deviceId, preset));
}

void CORN302ControlDlg::OnBypass() {
    Press([&](app::DeviceState& st) { return app::PressBypass(st, m_conn.m_deviceId); });
}

void CORN302ControlDlg::OnMosaicFunction() {
    Press([&](app::DeviceState& st) { return app::PressMosaic(st, m_conn.m_deviceId); });
}

void CORN302ControlDlg::OnFreeze() {
    Press([&](app::DeviceState& st) { return app::PressFreeze(st, m_conn.m_deviceId); });
}

void CORN302ControlDlg::OnAutoTake() {
    Press([&](app::DeviceState& st) { return app::PressAutoTake(st, m_conn.m_deviceId); });
}

void CORN302ControlDlg::OnTransition(int index) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    app::PickTransition(m_state, index);
}

void CORN302ControlDlg::OnSwitchMode(bool preTake) {
    ApplyOutcome(app::PickSwitchMode(m_conn.m_deviceId, preTake));
}

// ---- the scheduler ---------------------------------------------------------------------------

void CORN302ControlDlg::OnStart() {
    g_pMainDlg = this;
    StartScheduler();
}

void CORN302ControlDlg::StartScheduler() {
    if (!m_kindTicked[0] && !m_kindTicked[1] && !m_kindTicked[2] && !m_kindTicked[3]) {
        Ask(res::Msg::SelectTimer);
        return;
    }
    ClearTimerDisplay();
    Control(ids::kStart)->setEnabled(false);
    Control(ids::kStop)->setEnabled(true);
    Control(ids::kDisconnect)->setEnabled(false);
    m_bTimerRunning = 1;
    EnableSwitchControls(false);
    for (int id : {ids::kM1, ids::kM2, ids::kM3, ids::kAutoTake}) {
        Control(id)->setEnabled(false);
    }
    m_scheduler->Start();
}

void CORN302ControlDlg::OnStop() {
    StopScheduler();
}

void CORN302ControlDlg::StopScheduler() {
    for (int id : {ids::kM1, ids::kM2, ids::kM3}) {
        Control(id)->setEnabled(true);
    }
    EnableSwitchControls(true);
    m_scheduler->Stop();
    m_bTimerRunning = 0;
    Control(ids::kStop)->setEnabled(false);
    Control(ids::kDisconnect)->setEnabled(true);
    ClearTimerDisplay();
    // The state the processor last reported decides M1..M3, AUTO/TAKE and the functions again.
    if (m_lastDisplay) {
        ApplyEnabledStates(*m_lastDisplay);
    }
}

void CORN302ControlDlg::ClearTimerDisplay() {
    for (int i = 0; i < 4; ++i) {
        ControlAs<QLineEdit>(ids::kCurrentValues[i])->clear();
        ControlAs<QLineEdit>(ids::kNextValues[i])->clear();
    }
}

SchedulerOptions CORN302ControlDlg::Options() {
    SchedulerOptions o;
    for (int k = 0; k < 4; ++k) {
        o.kinds[static_cast<size_t>(k)] = m_kindTicked[k];
    }
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        o.v2IsYPbPr = m_state.m_bV2IsYPbPr;
    }
    o.chinese = m_bChinese != 0;
    o.deviceId = m_conn.m_deviceId;
    return o;
}
