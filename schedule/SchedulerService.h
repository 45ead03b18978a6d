// The scheduler without a window: connects to the processor as the [CONNECT] keys of a plan file
// say, runs that file's plans with the window's engine, and keeps going unattended: a lost device
// is reconnected with a bounded back-off, and the plans are read again when the file changes.
// Everything it does is told as one line each through a log function. No Qt here.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/Backoff.h"
#include "device/Connection.h"
#include "platform/FileWatch.h"
#include "platform/Worker.h"
#include "schedule/InfoPlan.h"
#include "schedule/Scheduler.h"

// Where the service finds the processor.
struct ServiceSettings {
    app::ConnectSettings connect;  // serial or network, port name, address and port
    uint8_t deviceId = 1;
    // Serial without a ComPort key: the default port is looked for at each connection attempt.
    bool discoverPort = false;
};

// Reads [CONNECT] of the plan file at path: SerialTcp (1 serial, otherwise network), ComPort (a
// serial port name or path; when missing, the default port), IP and Port, DeviceID (1 when
// missing). False, with a one-line reason, when the file cannot be read or a network connection
// lacks its address or port.
bool ReadServiceSettings(const std::string& path, ServiceSettings& settings, std::string& error);

// "serial /dev/ttyUSB0", "serial (default port)" or "network 192.168.0.10:5000", and the ID.
std::string DescribeDevice(const ServiceSettings& settings);

// A log line: local date and time with milliseconds, a blank, the text.
std::string StampedLine(int64_t epochMs, const std::string& text);

// The service's line when it is shared with clients: the plans' switches go through it, and its
// queue polls the status instead of the connection's own workers (the connection is then used by
// that queue alone). Implemented above this floor (the shared line's server).
class ServiceLine {
public:
    virtual ~ServiceLine() = default;
    // The switch of a plan whose moment is momentMs, then pauseMs with the line held; left is
    // called as soon as the frame has left. False when it did not leave.
    virtual bool SendPlan(const devlink::Frame& frame, int pauseMs, int64_t momentMs,
                          platform::StopFlag& stop, const std::function<void()>& left) = 0;
    // The moments (ms since the epoch) of the plans still due today.
    virtual void PlanMoments(const std::vector<int64_t>& momentsMs) = 0;
    // The device was identified (up) or lost.
    virtual void LinkChanged(bool up) = 0;
    // A status reply of the device, read by the poll.
    virtual void StatusSeen(const devlink::Frame& reply) = 0;
};

// The service's link to the processor as its users see it: never connected yet and trying
// (Connecting), identified (Connected), gone after it was connected and being tried again
// (Lost), or the service not running (Closed).
enum class ServiceLink { Closed, Connecting, Connected, Lost };

// Whoever publishes the service's state (the HTTP API, MQTT) hears here of what is not in the
// processor's status: the link, the timer and the plans' outcomes. Calls come from the
// service's threads and must not block.
class ServiceWatch {
public:
    virtual ~ServiceWatch() = default;
    virtual void LinkStateChanged(ServiceLink link) = 0;
    // The timer was started or stopped.
    virtual void TimerChanged(bool running) = 0;
    // The plan the timer waits for now (nullptr: none).
    virtual void PlanAwaited(const PlanItem* plan) = 0;
    // What became of a plan: atMs when its frame left, or its moment when it did not.
    virtual void PlanOutcome(const PlanItem& plan, PlanResult result, int64_t atMs) = 0;
};

// How much a log line matters, numbered as syslog and the journal rank them.
enum class LogLevel { Error = 3, Warning = 4, Info = 6 };

class SchedulerService : public app::ConnectionSink, public SchedulerSink {
public:
    // Called with each line's level and text (no time stamp, no newline), from any of the
    // service's threads, one call at a time.
    using Log = std::function<void(LogLevel level, const std::string& text)>;

    static constexpr int kFirstRetryMs = app::ReconnectBackoff::kFirstMs;  // after a failure
    static constexpr int kMaxRetryMs = app::ReconnectBackoff::kMaxMs;      // it doubles up to this
    // The kernel tells of changes to the plan file (platform::FileWatch); on a file system that
    // does not, the supervisor still looks at it this often. Without a watch it looks every second.
    static constexpr int kSlowLookMs = 30000;
    static constexpr int kLookMs = 1000;

    SchedulerService(std::string planFile, ServiceSettings settings, Log log);
    ~SchedulerService() override;
    SchedulerService(const SchedulerService&) = delete;
    SchedulerService& operator=(const SchedulerService&) = delete;

    // Starts the plans and the first connection attempt; returns at once.
    void Start();
    // Ends everything at once: the switch under way, if any, has gone out whole; the link is
    // closed. Start and Stop belong to one thread.
    void Stop();
    // Reads the plan file again, its plans and its [CONNECT] keys (SIGHUP), and says so in one
    // line; connects anew when the device settings changed. Returns at once; any thread.
    void Reload();
    // Shares the line (before Start): the switches and the status poll go through line.
    void ShareLine(ServiceLine* line);
    // The connection, for the shared line's queue, the only user of its link then.
    app::Connection& DeviceConnection() { return m_conn; }
    // True from an accepted handshake to the loss of the device.
    bool LinkUp() const { return m_linkUp; }
    uint8_t DeviceId() const { return m_conn.m_deviceId; }
    ServiceLink LinkState() const { return m_linkState; }
    // Who hears of the link, the timer and the plans (before Start).
    void Watch(ServiceWatch* watch) { m_serviceWatch = watch; }
    // The timer: the plans run from Start; stopped, none is sent until it runs again. Switching
    // by hand is never held up by it. Any thread; returns once the timer has started or stopped
    // (a switch of a plan under way has gone out whole).
    void RunTimer(bool run);
    bool TimerRunning() const { return m_timerRunning; }
    // The plans of the plan file as it is now, by kind (day, week, month, one-time), each read
    // as the timer reads them; error gets the line that could not be read.
    std::vector<std::pair<int, PlanItem>> FilePlans(std::string* error = nullptr) const;
    const std::string& PlanFile() const { return m_planFile; }

private:
    // Events of the connection, handed from its workers to the supervisor.
    enum class Event { Connected, ConnectFailed, Silent, Closed, Reload };

    void Supervise();
    void Post(Event event);
    void TryConnect();
    void OnEvent(Event event);
    void OnReload();
    // Drops the connection (or the attempt under way) and connects again at once.
    void ReconnectNow();
    // Looks at the plan file; tells the scheduler to reload when its plans changed.
    void WatchPlanFile();
    bool SendPlan(const PlanItem& plan, const devlink::Frame& frame, int delayMs,
                  platform::StopFlag& stop);
    void Say(const std::string& text, LogLevel level = LogLevel::Info);
    // m_linkUp, told to the shared line when there is one.
    void SetLinkUp(bool up);

    // ConnectionSink, on the connection's workers.
    void InfoText(app::LinkText text) override;
    void InfoRaw(const std::string&) override {}
    void InfoReason(int errnoValue) override;
    void PortOutOfRange() override;
    void ConnectFinished(bool accepted) override;
    void SwitchControlsEnabled(bool) override {}
    void StatusReply(const devlink::Frame& reply) override;
    void LampsVisible(const std::vector<int>&, bool) override {}
    bool ShowsLamps() const override { return false; }
    void DeviceLost(bool closed) override;

    // SchedulerSink, on the scheduler thread.
    SchedulerOptions Options() override;
    void TimerFieldsChanged(const TimerFields&) override {}
    void PlanFileError(const std::string& text) override;
    void TodayPlansBuilt(const std::map<int, PlanItem>& today) override;
    void PlanMissed(const PlanItem& plan, bool noLink) override;
    void PlanMoved(const PlanItem& plan, int64_t moment) override;
    void PlanAwaited(const PlanItem* plan) override;
    void PlanOutcome(const PlanItem& plan, PlanResult result, int64_t atMs) override;
    void SetLinkState(ServiceLink link);
    // A plan's switch has left: logged and told.
    void PlanLeft(const PlanItem& plan);

    const std::string m_planFile;
    ServiceSettings m_settings;  // the supervisor's, once started
    Log m_log;
    std::mutex m_logMutex;

    CInfoPlan m_plans;
    app::Connection m_conn;
    PlanScheduler m_scheduler;

    // True from an accepted handshake to the loss of the device: the switches may go out. Set on
    // the connection's workers, at once; the supervisor's own view is m_link.
    std::atomic<bool> m_linkUp{false};
    ServiceLine* m_line = nullptr;           // the shared line, set before Start
    ServiceWatch* m_serviceWatch = nullptr;  // set before Start
    std::atomic<ServiceLink> m_linkState{ServiceLink::Closed};
    std::mutex m_timerMutex;  // Start, Stop and RunTimer of the scheduler
    std::atomic<bool> m_timerRunning{false};
    std::atomic<bool> m_v2IsYPbPr{false};
    std::string m_lastFailure;  // the connection's last word on a failed attempt; m_mutex

    // The supervisor's state, its thread alone except the event queue. The supervisor sleeps in
    // poll() on the doorbell, which Post and Stop ring, and on the plan file's watch.
    std::mutex m_mutex;
    platform::Doorbell m_doorbell;
    std::deque<Event> m_events;
    bool m_quit = false;
    std::thread m_supervisor;
    enum class Link { Down, Connecting, Up };
    Link m_link = Link::Down;
    bool m_everConnected = false;
    bool m_outageTold = false;  // this outage has had its line
    int m_retryMs = kFirstRetryMs;
    int64_t m_retryAtMs = 0;               // steady clock
    bool m_reconnectAfterAttempt = false;  // settings changed while an attempt was under way
    PlanFileWatch m_watch{m_planFile};
    // Set up with the service, before the first look, so that no change after it goes untold.
    platform::FileWatch m_fileWatch{m_planFile};
};
