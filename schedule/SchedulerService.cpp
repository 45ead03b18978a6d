#include "schedule/SchedulerService.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "link/Commands.h"
#include "link/NetTcp.h"
#include "link/PortDiscovery.h"
#include "link/Replies.h"
#include "platform/ProfileFile.h"
#include "resources/Captions.h"
#include "resources/PlanTexts.h"
#include "schedule/PlanFile.h"

namespace {

constexpr char kConnect[] = "CONNECT";

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// "10:00:00": a plan's time of day as the log gives it.
std::string ClockOf(const PlanItem& plan) {
    return SecondText(plan.time);
}

// "10:00:00 HDMI".
std::string PlanText(const PlanItem& plan) {
    return ClockOf(plan) + " " + SourceName(plan.source);
}

}  // namespace

bool ReadServiceSettings(const std::string& path, ServiceSettings& s, std::string& error) {
    struct stat file {};
    if (::stat(path.c_str(), &file) == 0 && S_ISDIR(file.st_mode)) {
        error = "the plan file " + path + " is a folder; give the Planinfo.ini file in it";
        return false;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        error = "cannot read the plan file " + path + ": " + std::strerror(errno);
        return false;
    }
    switch (platform::CheckProfileFile(path)) {
        case platform::ProfileFileKind::kTooLarge:
            error = "the plan file " + path + " is not a plan file: it is larger than " +
                    std::to_string(platform::kMaxProfileBytes / (1024 * 1024)) +
                    " MB; nothing is read from it and it is left as it is";
            return false;
        case platform::ProfileFileKind::kNotText:
            error = "the plan file " + path +
                    " is not a plan file: it is not text (a NUL byte or bytes that are not "
                    "UTF-8); nothing is read from it and it is left as it is";
            return false;
        default:
            break;
    }
    if (platform::GetProfileSection(path, kConnect).empty()) {
        error = "the plan file " + path +
                " has no [CONNECT] section: connect once with the window, which writes it";
        return false;
    }
    auto key = [&](const char* name) {
        return platform::GetProfileString(path, kConnect, name, "");
    };
    s = ServiceSettings{};
    s.connect.serial = std::strtol(key("SerialTcp").c_str(), nullptr, 10) == 1 ? 1 : 0;
    if (s.connect.serial) {
        s.connect.portName = key("ComPort");
        s.discoverPort = s.connect.portName.empty();
        if (!s.discoverPort && devlink::PortNameToDevicePath(s.connect.portName).empty()) {
            error = "[CONNECT] of " + path +
                    " names no serial port (ComPort=" + s.connect.portName + ")";
            return false;
        }
    } else {
        s.connect.ipText = key("IP");
        s.connect.portText = key("Port");
        uint32_t address = 0;
        char* end = nullptr;
        const long port = std::strtol(s.connect.portText.c_str(), &end, 10);
        if (!devlink::ParseIPv4(s.connect.ipText.c_str(), address) || address == 0) {
            error = "[CONNECT] of " + path + " has no device address (IP=" + s.connect.ipText + ")";
            return false;
        }
        if (s.connect.portText.empty() || *end != '\0' || port < 0 || port > 65535) {
            error = "[CONNECT] of " + path +
                    " has no device port 0..65535 (Port=" + s.connect.portText + ")";
            return false;
        }
    }
    const std::string id = key("DeviceID");
    s.deviceId = id.empty() ? 1 : static_cast<uint8_t>(std::strtol(id.c_str(), nullptr, 10));
    return true;
}

std::string DescribeDevice(const ServiceSettings& s) {
    std::string where;
    if (s.connect.serial) {
        where = s.discoverPort ? "serial (default port)"
                               : "serial " + devlink::PortNameToDevicePath(s.connect.portName);
    } else {
        where = "network " + s.connect.ipText + ":" + s.connect.portText;
    }
    return where + ", device ID " + std::to_string(s.deviceId);
}

std::string StampedLine(int64_t epochMs, const std::string& text) {
    const platform::LocalTime t = platform::ToLocal(epochMs);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return stamp + text;
}

SchedulerService::SchedulerService(std::string planFile, ServiceSettings settings, Log log)
    : m_planFile(std::move(planFile)),
      m_settings(std::move(settings)),
      m_log(std::move(log)),
      m_plans(m_planFile),
      m_conn(*this),
      m_scheduler(
          m_plans, *this,
          [this](const PlanItem& plan, const devlink::Frame& frame, int delayMs,
                 platform::StopFlag& stop) { return SendPlan(plan, frame, delayMs, stop); }) {
    m_conn.m_deviceId = m_settings.deviceId;
}

SchedulerService::~SchedulerService() {
    Stop();
}

void SchedulerService::Say(const std::string& text, LogLevel level) {
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_log(level, line);
}

void SchedulerService::Start() {
    if (m_supervisor.joinable())
        return;
    Say("started: plan file " + m_planFile + ", device " + DescribeDevice(m_settings));
    if (!m_fileWatch.Active())
        Say("plan file " + m_planFile +
            ": the system does not report its changes here; looking at it every second");
    m_watch.Reset();
    m_plans.LoadPlanCounts();
    SetLinkState(ServiceLink::Connecting);
    {
        std::lock_guard<std::mutex> lock(m_timerMutex);
        m_scheduler.Start();
        m_timerRunning = true;
    }
    m_quit = false;
    m_supervisor = std::thread(&SchedulerService::Supervise, this);
}

void SchedulerService::Stop() {
    if (!m_supervisor.joinable())
        return;
    // The scheduler first: its switch under way ends its pause, and the link lock is free for
    // the supervisor, which may be closing the connection.
    {
        std::lock_guard<std::mutex> lock(m_timerMutex);
        m_scheduler.Stop();
        m_timerRunning = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_doorbell.Ring();
    m_supervisor.join();
    m_conn.Shutdown();
    SetLinkUp(false);
    SetLinkState(ServiceLink::Closed);
    Say("stopped");
}

void SchedulerService::RunTimer(bool run) {
    std::lock_guard<std::mutex> lock(m_timerMutex);
    if (run == m_scheduler.Running())
        return;
    if (run) {
        m_scheduler.Start();
    } else {
        m_scheduler.Stop();
        if (m_serviceWatch)
            m_serviceWatch->PlanAwaited(nullptr);
    }
    m_timerRunning = run;
    Say(run ? "timer started: the plans run" : "timer stopped: no plan runs until it is started");
    if (m_serviceWatch)
        m_serviceWatch->TimerChanged(run);
}

std::vector<std::pair<int, PlanItem>> SchedulerService::FilePlans(std::string* error) const {
    CInfoPlan file(m_planFile);
    file.LoadPlanCounts();
    file.LoadAllPlans(false, error);
    std::vector<std::pair<int, PlanItem>> plans;
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        for (const auto& entry : file.Plans(kind))
            plans.emplace_back(kind, entry.second);
    }
    return plans;
}

void SchedulerService::SetLinkState(ServiceLink link) {
    if (m_linkState.exchange(link) != link && m_serviceWatch)
        m_serviceWatch->LinkStateChanged(link);
}

void SchedulerService::ShareLine(ServiceLine* line) {
    m_line = line;
    m_conn.m_startWorkers = line == nullptr;
}

void SchedulerService::SetLinkUp(bool up) {
    const bool was = m_linkUp.exchange(up);
    if (m_line)
        m_line->LinkChanged(up);
    if (up)
        SetLinkState(ServiceLink::Connected);
    else if (was)
        SetLinkState(ServiceLink::Lost);
}

void SchedulerService::Reload() {
    Post(Event::Reload);
}

namespace {
bool SameDevice(const ServiceSettings& a, const ServiceSettings& b) {
    return a.connect.serial == b.connect.serial && a.connect.portName == b.connect.portName &&
           a.connect.ipText == b.connect.ipText && a.connect.portText == b.connect.portText &&
           a.deviceId == b.deviceId && a.discoverPort == b.discoverPort;
}
}  // namespace

void SchedulerService::OnReload() {
    ServiceSettings fresh;
    std::string error;
    if (!ReadServiceSettings(m_planFile, fresh, error)) {
        Say("SIGHUP: " + error + "; the plans and the device stay as they were");
        return;
    }
    // The plans are read again now; the file watch need not say so a second time.
    m_watch.Reset();
    m_scheduler.Reload();
    if (SameDevice(fresh, m_settings)) {
        Say("SIGHUP: plan file read again; the device settings are unchanged");
        return;
    }
    m_settings = fresh;
    Say("SIGHUP: plan file read again; the device is now " + DescribeDevice(m_settings) +
        ": connecting to it");
    ReconnectNow();
}

void SchedulerService::ReconnectNow() {
    m_everConnected = false;
    m_outageTold = false;
    m_retryMs = kFirstRetryMs;
    if (m_link == Link::Connecting) {
        // The attempt under way runs to its end (it holds the link); its outcome is dropped.
        m_reconnectAfterAttempt = true;
        return;
    }
    if (m_link == Link::Up) {
        SetLinkUp(false);
        m_conn.Disconnect();
    }
    SetLinkState(ServiceLink::Connecting);
    m_conn.m_deviceId = m_settings.deviceId;
    m_link = Link::Down;
    m_retryAtMs = SteadyMs();
}

void SchedulerService::Post(Event event) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
    }
    m_doorbell.Ring();
}

void SchedulerService::Supervise() {
    platform::NameThisThread("supervisor");
    const int lookMs = m_fileWatch.Active() ? kSlowLookMs : kLookMs;
    // Without a doorbell (no descriptors left) the supervisor still looks at its events every
    // second.
    const int longestSleepMs = m_doorbell.Fd() >= 0 ? INT32_MAX : kLookMs;
    m_retryAtMs = SteadyMs();
    int64_t nextLookMs = SteadyMs() + lookMs;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        // A ring after this is kept for the poll below.
        m_doorbell.Clear();
        while (!m_events.empty()) {
            const Event event = m_events.front();
            m_events.pop_front();
            lock.unlock();
            OnEvent(event);
            lock.lock();
        }
        if (m_quit)
            break;
        lock.unlock();
        const int64_t now = SteadyMs();
        if (m_link == Link::Down && now >= m_retryAtMs) {
            TryConnect();
            lock.lock();
            continue;
        }
        if (now >= nextLookMs) {
            WatchPlanFile();
            nextLookMs = now + lookMs;
        }
        int64_t until = nextLookMs;
        if (m_link == Link::Down)
            until = std::min(until, m_retryAtMs);
        struct pollfd fds[2] = {{m_doorbell.Fd(), POLLIN, 0}, {m_fileWatch.Fd(), POLLIN, 0}};
        const int64_t sleepMs = std::clamp<int64_t>(until - SteadyMs(), 1, longestSleepMs);
        if (::poll(fds, 2, static_cast<int>(sleepMs)) > 0 && (fds[1].revents & POLLIN) != 0 &&
            m_fileWatch.Drain()) {
            WatchPlanFile();
            nextLookMs = SteadyMs() + lookMs;
        }
        lock.lock();
    }
}

void SchedulerService::TryConnect() {
    app::ConnectSettings settings = m_settings.connect;
    if (m_settings.discoverPort) {
        settings.portName = devlink::FindDefaultSerialPort();
        if (settings.portName.empty()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_lastFailure = "no serial port found (set ComPort in [CONNECT])";
            }
            OnEvent(Event::ConnectFailed);
            return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastFailure.clear();
    }
    m_link = Link::Connecting;
    m_conn.StartConnect(settings);
}

void SchedulerService::OnEvent(Event event) {
    if (m_reconnectAfterAttempt && (event == Event::Connected || event == Event::ConnectFailed)) {
        m_reconnectAfterAttempt = false;
        m_link = event == Event::Connected ? Link::Up : Link::Down;
        ReconnectNow();
        return;
    }
    switch (event) {
        case Event::Reload:
            OnReload();
            break;
        case Event::Connected:
            m_link = Link::Up;
            m_retryMs = kFirstRetryMs;
            Say((m_everConnected ? "device back: " : "connected: ") + DescribeDevice(m_settings));
            m_everConnected = true;
            m_outageTold = false;
            break;
        case Event::ConnectFailed: {
            m_link = Link::Down;
            std::string reason;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                reason = m_lastFailure;
            }
            if (!m_outageTold) {
                Say("cannot connect (" + DescribeDevice(m_settings) + "): " + reason +
                        "; trying again, at most every " + std::to_string(kMaxRetryMs / 1000) +
                        " s",
                    LogLevel::Warning);
                m_outageTold = true;
            }
            m_retryAtMs = SteadyMs() + m_retryMs;
            m_retryMs = std::min(m_retryMs * 2, kMaxRetryMs);
            break;
        }
        case Event::Silent:
        case Event::Closed:
            if (m_link != Link::Up)
                break;
            if (!m_outageTold) {
                const char* why = event == Event::Silent      ? "it stopped answering"
                                  : m_settings.connect.serial ? "the serial line went away"
                                                              : "it closed the connection";
                Say(std::string("device lost: ") + why + "; reconnecting", LogLevel::Warning);
                m_outageTold = true;
            }
            m_conn.Disconnect();
            m_link = Link::Down;
            m_retryMs = kFirstRetryMs;
            m_retryAtMs = SteadyMs() + m_retryMs;
            break;
    }
}

void SchedulerService::WatchPlanFile() {
    switch (m_watch.Check()) {
        case PlanFileWatch::Look::Gone:
            Say("plan file " + m_planFile + " is gone; the plans of today stay as they were read",
                LogLevel::Warning);
            break;
        case PlanFileWatch::Look::Changed:
            Say("plan file changed; reading the plans again");
            m_scheduler.Reload(m_watch.SameSinceMs());
            break;
        case PlanFileWatch::Look::Same:
            break;
    }
}

bool SchedulerService::SendPlan(const PlanItem& plan, const devlink::Frame& frame, int delayMs,
                                platform::StopFlag& stop) {
    if (!m_linkUp)
        return false;
    if (m_line) {
        return m_line->SendPlan(frame, delayMs, plan.time * 1000, stop, [&] { PlanLeft(plan); });
    }
    bool sent = false;
    m_conn.WithLinkUnless(stop, [&](devlink::LinkConnection& link) {
        if (!m_linkUp)
            return;  // lost while this waited for the link
        sent = devlink::SendCommand(link, frame.data(), 0);
        if (!sent)
            return;
        PlanLeft(plan);
        platform::Sleep(delayMs, &stop);
    });
    return sent;
}

void SchedulerService::InfoText(app::LinkText text) {
    const char* reason = nullptr;
    switch (text) {
        case app::LinkText::OpenComFail:
            reason = res::Text(res::Msg::OpenComFail, false);
            break;
        case app::LinkText::OpenNetFail:
            reason = res::Text(res::Msg::OpenNetFail, false);
            break;
        case app::LinkText::PortInUse:
            reason = "the serial line is in use by another program";
            break;
        case app::LinkText::DeviceFailed:
            reason = "no answer, or a wrong one, to the identification query";
            break;
        default:
            return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastFailure = reason;
}

void SchedulerService::InfoReason(int errnoValue) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastFailure += ": " + res::ConnectReason(errnoValue, false);
}

void SchedulerService::PortOutOfRange() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastFailure = res::Text(res::Msg::PortOutOfRange, false);
}

void SchedulerService::ConnectFinished(bool accepted) {
    // On the connect worker with the link lock held: the workers take the link only after it,
    // so a loss they see comes after this.
    if (accepted)
        SetLinkUp(true);
    Post(accepted ? Event::Connected : Event::ConnectFailed);
}

void SchedulerService::StatusReply(const devlink::Frame& reply) {
    if (m_line)
        m_line->StatusSeen(reply);
    const bool yPbPr =
        (devlink::StatusReply::Decode(reply.data()).functions & devlink::kV2YPbPrBit) != 0;
    if (m_v2IsYPbPr.exchange(yPbPr) != yPbPr) {
        Say(std::string("the V2 input is ") + (yPbPr ? "YPbPr" : "V2") + " now: day plans to " +
            (yPbPr ? "YPbPr" : "V2") + " run, those to " + (yPbPr ? "V2" : "YPbPr") + " do not");
        m_scheduler.Reload();
    }
}

void SchedulerService::DeviceLost(bool closed) {
    SetLinkUp(false);
    Post(closed ? Event::Closed : Event::Silent);
}

SchedulerOptions SchedulerService::Options() {
    SchedulerOptions o;
    o.kinds = {true, true, true, true};
    o.v2IsYPbPr = m_v2IsYPbPr;
    o.chinese = false;
    o.deviceId = m_conn.m_deviceId;
    return o;
}

void SchedulerService::PlanFileError(const std::string& text) {
    Say("plan file: " + text, LogLevel::Error);
}

void SchedulerService::TodayPlansBuilt(const std::map<int, PlanItem>& today) {
    if (m_line) {
        std::vector<int64_t> moments;
        for (const auto& entry : today)
            moments.push_back(entry.second.time * 1000);
        m_line->PlanMoments(moments);
    }
    if (today.empty()) {
        Say("plans due today: none");
        return;
    }
    const auto first = std::min_element(
        today.begin(), today.end(),
        [](const auto& a, const auto& b) { return a.second.time < b.second.time; });
    Say("plans due today: " + std::to_string(today.size()) + ", the first " +
        PlanText(first->second));
}

void SchedulerService::PlanMissed(const PlanItem& plan, bool noLink) {
    Say("plan " + PlanText(plan) + " missed: " +
            (noLink ? "the device was not connected within its window"
                    : "its time had passed when its turn came"),
        LogLevel::Warning);
}

void SchedulerService::PlanAwaited(const PlanItem* plan) {
    if (m_serviceWatch)
        m_serviceWatch->PlanAwaited(plan);
}

void SchedulerService::PlanLeft(const PlanItem& plan) {
    Say("switch to " + SourceName(plan.source) + " sent (plan " + ClockOf(plan) + ")");
    if (m_serviceWatch)
        m_serviceWatch->PlanOutcome(plan, PlanResult::Sent, platform::CurrentClock().NowMs());
}

void SchedulerService::PlanOutcome(const PlanItem& plan, PlanResult result, int64_t atMs) {
    // A switch sent was told as its frame left (PlanLeft), before the pause after it.
    if (m_serviceWatch && result != PlanResult::Sent)
        m_serviceWatch->PlanOutcome(plan, result, atMs);
}

void SchedulerService::PlanMoved(const PlanItem& plan, int64_t moment) {
    Say(res::PlanMovedText(ClockOf(plan), SecondText(moment), SourceName(plan.source), false),
        LogLevel::Warning);
}
