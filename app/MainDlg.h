// The main window (dialog 102): connection, language, sources, transition and switch mode,
// overlays and functions, the sub-dialog buttons, the timer panel and the Info line. It owns the
// connection, the device state and the plan store for the life of the program.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "controls/ControlRegistry.h"
#include "controls/PostBox.h"
#include "device/Backoff.h"
#include "device/Connection.h"
#include "device/DeviceState.h"
#include "device/StatusDecoder.h"
#include "device/SwitchRules.h"
#include "platform/UiSeam.h"
#include "resources/Captions.h"
#include "schedule/Scheduler.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QGroupBox;
class CInfoPlan;
class CProgress;

class CORN302ControlDlg : public QDialog,
                          public app::ConnectionSink,
                          public SchedulerSink,
                          public platform::ModalDialog {
    Q_OBJECT

public:
    explicit CORN302ControlDlg(QWidget* parent = nullptr);
    ~CORN302ControlDlg() override;

    // The start-up sequence: lists, checks, disabled controls, collapsed panel, plan store,
    // [CONNECT] keys and the automatic connection. Run once, before the window is shown.
    void OnInitDialog();

    // The control with a template identifier, or nullptr.
    QWidget* Control(int id) const;
    template <typename T>
    T* ControlAs(int id) const {
        return qobject_cast<T*>(Control(id));
    }

    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CORN302ControlDlg"; }

    // ---- state (names as the rest of the program knows them) ----
    // The processor's state as the last status reply gave it; written by the status decoder on
    // the worker that read the reply, read by the button handlers: guarded by m_stateMutex.
    app::DeviceState m_state;
    std::mutex m_stateMutex;
    app::Connection m_conn;          // m_deviceId, m_bConnected, m_linkMode, the link lock
    std::atomic<int> m_bChinese{0};  // 1 Chinese captions and messages
    int m_bSerial = 0;               // transport chosen by the Serial/Network radios
    int m_bAutoConnect = 0;
    int m_bStartTimer = 0;
    bool m_bPanelCollapsed = true;  // timer panel hidden
    bool m_bPlanFilter = false;     // "All" toggle
    std::atomic<int> m_bTimerRunning{0};
    std::unique_ptr<CInfoPlan> m_pPlanInfo;
    std::string m_profilePath = "./Planinfo.ini";
    std::string m_sysTtyRoot = "/sys/class/tty";  // where the serial ports are found
    // Trying to connect again after the link was lost (UI thread), and the attempts so far.
    bool m_reconnecting = false;
    int m_reconnectAttempts = 0;

    // Width of the timer panel: the window is this much narrower while it is collapsed.
    static constexpr int kPanelWidth = 340;

    // ---- handlers, one per control ----
    void OnSerialRadio();             // 1303
    void OnNetworkRadio();            // 1304
    void OnDeviceIdRadio(int n);      // 1111, 1024..1028: n = 1..6
    void OnDeviceIdCombo(int index);  // 1065
    void OnConnect();                 // 1066
    void OnDisconnect();              // 1072
    void OnAutoConnect();             // 1290
    void OnStartTimer();              // 1291
    void OnChinese();                 // 1124
    void OnEnglish();                 // 1037
    void OnTimerPanel();              // 1000
    void OnAll();                     // 1071
    void OnSetup();                   // 1019
    void OnResolution();              // 1034
    void OnProgram();                 // 1021
    void OnMosaic();                  // 1023
    void OnExit();                    // 2, and the window's close button
    void OnSource(int code);          // 1114 V1 .. 1122 EXT.: source code 0..7
    void OnPipPbp();                  // 1127
    void OnText();                    // 1128
    void OnPreset(int preset);        // 1031..1033: 0..2
    void OnBypass();                  // 1129
    void OnMosaicFunction();          // 1130
    void OnFreeze();                  // 1131
    void OnAutoTake();                // 1132
    void OnTransition(int index);     // 1020, 1022, 1038, 1039: 0..3
    void OnSwitchMode(bool preTake);  // 1042, 1043
    void OnStart();                   // 1016
    void OnStop();                    // 1017

    // The scheduler: Start checks the ticked kinds, sets the buttons and starts the thread.
    void StartScheduler();
    void StopScheduler();
    void ClearTimerDisplay();
    void OnAbout();  // the About box (window context menu)

    void EnableSwitchControls(bool on);
    // Not connected, or the device stopped answering: switching controls off, every lamp out,
    // no preview; with resetState the next status reply is decoded as a connection's first.
    void ShowNotLive(bool resetState);
    // Writes ConnectFlag, StartTimerFlag, DeviceID and, in network mode, IP and Port, in serial
    // mode ComPort (the port combo's text), each of the last three only when not empty.
    void SaveConnectKeys();
    // Writes keys of [CONNECT] in order. When the file cannot be written (read-only, a folder
    // in its place, a full disk), the Info line says so once, in the current language; false.
    bool WriteConnectSettings(const std::vector<std::pair<const char*, std::string>>& keys);
    // Applies the caption set of the current language.
    void ApplyCaptions();
    // The title says whether the window reaches the processor through the service's shared
    // line (whose plans run there); on: it does, for the connection now open.
    void ShowSharedLine(bool on);
    // Shows a Yes/No box in the current language with the usual caption; true on Yes.
    bool Ask(res::Msg msg);

    // The Info line's alarm: the processor not answering, or a source on air (or pre-selected)
    // without its signal. The line says which source until its signal is back, in the alarm
    // colours, with "Alarm" for a screen reader; another message keeps the line for
    // kMessageHoldMs, then the loss is said again.
    void ShowSignalLoss(const std::optional<app::SignalLoss>& loss);
    void ShowAlarm();
    static constexpr int kMessageHoldMs = 5000;

    // Lamps: state 0 off (hidden), 1 steady (shown), 2 flashing (shown and hidden by the blink
    // thread through SetLampVisible). The accessible description says "off", "on", "flashing".
    void SetLampState(int lampId, int state);
    // A flash of the blink thread. The blink thread reads the blink set and posts its flash a
    // moment later, so a decode may have made the lamp steady or put it out in between: the
    // flash of a lamp that is no longer flashing is dropped.
    void SetLampVisible(int lampId, bool visible);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;  // Escape asks too

    // ---- connection sink: called on worker threads, posts to the UI thread ----
    void InfoText(app::LinkText text) override;
    void InfoRaw(const std::string& text) override;
    void InfoReason(int errnoValue) override;
    void PortOutOfRange() override;
    void ConnectFinished(bool accepted) override;
    void SwitchControlsEnabled(bool on) override;
    void StatusReply(const devlink::Frame& reply) override;
    void LampsVisible(const std::vector<int>& lampIds, bool visible) override;
    void DeviceLost(bool closed) override;
    void DeviceBack() override;

    // ---- scheduler sink: called on the scheduler thread, posts to the UI thread ----
    SchedulerOptions Options() override;
    void TimerFieldsChanged(const TimerFields& fields) override;
    void PlanFileError(const std::string& text) override;
    void PlanMissed(const PlanItem& plan, bool noLink) override;
    void PlanMoved(const PlanItem& plan, int64_t moment) override;
    void PlanFileChanged(bool gone) override;

private:
    // Builds every control with its identifier, template caption, accessible name, colours and
    // layout (MainDlgLayout.cpp).
    void BuildControls();
    // Connects the controls to their handlers.
    void ConnectHandlers();
    void Register(int id, QWidget* w);
    void SetInfo(const QString& text);
    // Runs change on the UI thread (from any thread).
    void Post(std::function<void()> change);
    // Runs a sub-dialog with the workers kept off the link meanwhile.
    void RunWithWorkersPaused(platform::ModalDialog& dialog);
    // Start-up: the [CONNECT] keys and the automatic connection.
    void ReadConnectKeys();
    // IP and port edits for the network, the port combo for the serial line.
    void EnableTransportControls();
    // Checks the device ID radio of id (1..6) and unchecks the others; any other id: none.
    void CheckDeviceIdRadio(int id);
    // Start-up: the window is built with the timer panel shown; this hides it.
    void CollapseTimerPanel();
    // Sets a checked state without running the control's handler: the program shows a state.
    void SetCheckedQuietly(int id, bool on);
    // Checks the radio of ids[index] and unchecks the others (index -1: none), quietly.
    void CheckOnly(const int* radioIds, int count, int index);
    // Shows what a status decode implies (UI thread).
    void ApplyDisplay(const app::Display& display);
    // The enabled states a decode gives M1..M3, AUTO/TAKE and the function buttons.
    void ApplyEnabledStates(const app::Display& display);
    // Runs a switching rule on the device state (under its lock) and applies the outcome.
    void Press(const std::function<app::SwitchOutcome(app::DeviceState&)>& rule);
    // Queues the press's command, or shows its refusal.
    void ApplyOutcome(const app::SwitchOutcome& outcome);
    // Connect with the progress dialog; used by Connect and by the automatic connection.
    void RunConnect();
    // The connection the controls describe, as Connect takes it.
    app::ConnectSettings ShownConnectSettings() const;
    // The processor the fast mosaic talks to, in words: the line connected (or shown, when none
    // is) and the device ID.
    std::string MosaicProcessor() const;

    // The link was lost (the device stopped answering, or the link is closed for good): Connect
    // is offered again; with AutoConnect ticked the window connects again by itself.
    void OnLinkLost(bool closed);
    // Reconnection: the next attempt after the back-off's wait, one attempt (no progress
    // dialog: the window stays usable), and the end of the trying (Disconnect, Connect, the fast
    // mosaic, AutoConnect unticked, Exit). UI thread only.
    void ScheduleReconnect();
    void Reconnect();
    void StopReconnecting();

    ui::ControlMap m_controls;
    app::ConnectSettings m_lastConnect;  // what the last Connect took; UI thread only
    ui::PostBox* m_postBox;              // what the workers post (Post), run on the UI thread
    std::optional<app::Display> m_lastDisplay;    // UI thread only
    std::set<int> m_flashingLamps;                // lamps in state 2; UI thread only
    std::optional<app::SignalLoss> m_signalLoss;  // as the last decode said; UI thread only
    bool m_bNotAnswering = false;                 // the device stopped answering; UI thread only
    bool m_bAlarmShown = false;
    QElapsedTimer m_infoShown;     // since the Info line's text was last set
    bool m_bOnSharedLine = false;  // UI thread only
    // The Day, Week, Month and Once boxes, mirrored for the scheduler thread.
    std::atomic<bool> m_kindTicked[4] = {true, true, true, true};
    std::unique_ptr<PlanScheduler> m_scheduler;
    CProgress* m_progress = nullptr;
    bool m_closing = false;
    // Raised by each Connect, Disconnect and fast mosaic: what the workers report about a link
    // the operator has let go since is not shown.
    std::atomic<int> m_linkEpoch{0};
    // The Info line's word on a lost device, told by the worker just before the loss itself:
    // shown by the loss's handler, together with the lamps going out (-1: none owed).
    std::atomic<int> m_lostText{-1};
    QTimer* m_reconnectTimer = nullptr;
    app::ReconnectBackoff m_backoff;
    // A worker waiting for the answer to a box it asked for (PortOutOfRange).
    std::mutex m_boxMutex;
    std::condition_variable m_boxAnswered;
    bool m_tearingDown = false;  // guarded by m_boxMutex
};
