#include "device/Connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "link/Commands.h"
#include "link/NetTcp.h"
#include "link/PortDiscovery.h"
#include "link/Replies.h"

namespace app {

using devlink::Frame;
using devlink::kFrameSize;

namespace {
// Status reads that fail in a row before the operator is told the device is lost.
constexpr int kFailedReadsLost = 3;
// A flashing lamp is shown this long, then hidden this long.
constexpr auto kHalfFlash = std::chrono::milliseconds(500);

bool Holds(const std::vector<int>& lamps, int lamp) {
    return std::find(lamps.begin(), lamps.end(), lamp) != lamps.end();
}
}  // namespace

Connection::Connection(ConnectionSink& sink) : m_sink(sink) {
    m_link.m_abort = &m_abort;
}

Connection::~Connection() {
    Shutdown();
}

void Connection::Shutdown() {
    // A handshake in progress gives up at its next pause.
    m_stop.Request();
    m_abort.Request();
    JoinConnectWorker();
    StopWorkers();
    CloseTransport();
}

void Connection::JoinConnectWorker() {
    std::thread t;
    {
        std::lock_guard<std::mutex> lock(m_threadsMutex);
        t = std::move(m_connectThread);
    }
    if (t.joinable()) {
        t.join();
    }
}

void Connection::StartConnect(const ConnectSettings& settings) {
    // A previous connect worker has ended (its progress dialog closed); collect it.
    JoinConnectWorker();
    m_stop.Reset();
    m_abort.Reset();
    m_pause.Change([this] { m_paused = false; });
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    m_connectThread = std::thread([this, settings] {
        platform::NameThisThread("connect");
        std::lock_guard<std::mutex> link(m_linkLock);
        ConnectDevice(settings);
    });
}

int Connection::OpenLink(const ConnectSettings& s) {
    m_link.m_bSerial = s.serial == 1 ? 1 : 0;
    if (m_link.m_bSerial) {
        const std::string path = devlink::PortNameToDevicePath(s.portName);
        const int opened = m_link.m_serialPort.Open(path);
        m_link.m_unanswered = 0;
        int result = 0;
        if (opened) {
            m_linkMode = 1;
            result = m_link.m_serialPort.Configure();
        }
        m_sink.InfoText(opened ? LinkText::OpenComOk : LinkText::OpenComFail);
        if (!opened && m_link.m_serialPort.InUse()) {
            m_sink.InfoText(LinkText::PortInUse);  // what stays on the Info line
        } else {
            m_sink.InfoRaw(path.empty() ? s.portName : path);
        }
        return result;
    }
    // The port edit is read as a signed number; text that is no number reads as 0.
    const long port = std::strtol(s.portText.c_str(), nullptr, 10);
    if (port < 0 || port > 65535) {
        m_sink.PortOutOfRange();
        return 0;
    }
    // An empty or incomplete address is no place to connect to (on Linux 0.0.0.0 would reach
    // this machine itself).
    uint32_t address = 0;
    if (!devlink::ParseIPv4(s.ipText.c_str(), address) || address == 0) {
        m_sink.InfoText(LinkText::OpenNetFail);
        return 0;
    }
    m_link.m_peerClosed = false;
    m_link.m_unanswered = 0;
    int why = 0;
    const int ok =
        devlink::ConnectTcp(m_link.m_socket, address, static_cast<int>(port), &m_abort, &why);
    if (ok) {
        m_linkMode = 2;
    }
    m_sink.InfoText(ok ? LinkText::OpenNetOk : LinkText::OpenNetFail);
    if (!ok && why != 0)
        m_sink.InfoReason(why);
    return ok;
}

void Connection::ConnectDevice(const ConnectSettings& settings) {
    if (!OpenLink(settings)) {
        m_bConnected = 0;
        // A serial port that opened but could not be configured is already closed.
        if (m_linkMode == 1 && !m_link.m_serialPort.IsOpen()) {
            m_linkMode = 0;
        }
        m_sink.ConnectFinished(false);
        return;
    }
    uint8_t reply[kFrameSize] = {};
    const Frame query = devlink::IdentifyQuery(m_deviceId);
    const bool accepted = devlink::QueryCommand(m_link, query.data(), reply, m_identifyLimitMs,
                                                devlink::IdentifyReplyShape()) == kFrameSize &&
                          devlink::IsIdentifyReply(reply);
    if (!accepted) {
        if (m_link.m_bSerial) {
            m_link.m_serialPort.Close();
        } else {
            devlink::CloseTcp(m_link.m_socket);
        }
        m_linkMode = 0;
        m_sink.InfoText(LinkText::DeviceFailed);
        m_sink.ConnectFinished(false);
        return;
    }
    m_blinkSet.clear();
    PublishBlinkSet();
    m_failedReads = 0;
    m_deviceLost = false;
    m_bSharedLine = m_link.m_bSerial == 0 && devlink::SharedLineMarked(m_link.m_socket);
    m_sink.InfoText(LinkText::DeviceNormal);
    m_bConnected = 1;
    // The workers exist before the window hears of the connection: a Disconnect or Mosaic
    // pressed at once then stops them, instead of their starting after it on a closed link. They
    // touch the link only once this worker lets go of it.
    if (m_startWorkers) {
        StartWorkers();
    }
    m_sink.ConnectFinished(true);
}

void Connection::StartWorkers() {
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    m_workers.emplace_back(&Connection::CommandWorker, this);
    m_workers.emplace_back(&Connection::PollThread, this);
    if (m_sink.ShowsLamps()) {
        m_workers.emplace_back(&Connection::BlinkThread, this);
    }
}

bool Connection::WorkersRunning() const {
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    return !m_workers.empty();
}

void Connection::StopWorkers() {
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(m_threadsMutex);
        workers.swap(m_workers);
    }
    if (workers.empty()) {
        return;
    }
    m_stop.Request();
    m_abort.Request();
    m_pending.Notify();
    m_pause.Notify();
    m_blink.Notify();
    for (auto& t : workers) {
        t.join();
    }
    // A command that never went out is dropped with the workers.
    m_pending.Change([this] { m_bCommandPending = false; });
    m_stop.Reset();
    m_abort.Reset();
}

void Connection::CloseTransport() {
    std::lock_guard<std::mutex> link(m_linkLock);
    if (m_linkMode == 1) {
        m_link.m_serialPort.Close();
    } else if (m_linkMode == 2) {
        devlink::CloseTcp(m_link.m_socket);
    }
    m_linkMode = 0;
    m_bConnected = 0;
}

void Connection::Disconnect() {
    // A connection attempt under way gives up at its next step (its TCP connect within 100 ms,
    // its handshake at once) instead of holding the caller up to its time limit.
    m_stop.Request();
    m_abort.Request();
    JoinConnectWorker();
    StopWorkers();
    CloseTransport();
    m_stop.Reset();
    m_abort.Reset();
}

void Connection::PauseWorkers() {
    m_pause.Change([this] { m_paused = true; });
}

void Connection::ResumeWorkers() {
    m_pause.Change([this] { m_paused = false; });
}

bool Connection::Paused() {
    std::lock_guard<std::mutex> lock(m_pause.Mutex());
    return m_paused;
}

bool Connection::WaitWhilePaused() {
    std::unique_lock<std::mutex> lock(m_pause.Mutex());
    m_pause.Wait(lock, [this] { return !m_paused || m_stop.Requested(); });
    return !m_stop.Requested();
}

void Connection::QueueCommand(const Frame& frame, int delayMs) {
    m_pending.Change([&] {
        m_pendingFrame = frame;
        m_pendingDelay = delayMs;
        m_bCommandPending = true;
    });
}

bool Connection::CommandPending() const {
    std::lock_guard<std::mutex> lock(m_pending.Mutex());
    return m_bCommandPending;
}

void Connection::WithLink(const std::function<void(devlink::LinkConnection&)>& fn) {
    std::lock_guard<std::mutex> link(m_linkLock);
    fn(m_link);
}

bool Connection::WithLinkUnless(platform::StopFlag& stop,
                                const std::function<void(devlink::LinkConnection&)>& fn) {
    // A worker's command may hold the link for its whole pause (up to 20 s): the wait for it is
    // cut into short slices so that a stop never waits that long. (Plain try_lock: the thread
    // sanitizer cannot see the timed lock calls.)
    std::unique_lock<std::mutex> link(m_linkLock, std::defer_lock);
    while (!link.try_lock()) {
        if (stop.WaitFor(5)) {
            return false;
        }
    }
    if (stop.Requested()) {
        return false;
    }
    platform::StopFlag* const own = m_link.m_abort;
    m_link.m_abort = &stop;
    fn(m_link);
    m_link.m_abort = own;
    return true;
}

bool Connection::Rest(int ms) {
    return platform::Sleep(ms, &m_stop);
}

void Connection::CommandWorker() {
    platform::NameThisThread("command");
    while (!m_stop.Requested()) {
        Frame frame{};
        int delay = 0;
        {
            // Sleeps until a command is pending or the workers stop, with no timeout: the stop is
            // told through the same signal.
            std::unique_lock<std::mutex> lock(m_pending.Mutex());
            m_pending.Wait(lock, [this] { return m_bCommandPending || m_stop.Requested(); });
            if (m_stop.Requested()) {
                break;
            }
        }
        if (!WaitWhilePaused()) {
            break;
        }
        std::lock_guard<std::mutex> link(m_linkLock);
        if (Paused()) {
            continue;  // paused while waiting for the link: the command waits for the resume
        }
        {
            // The whole command, taken at the moment it goes out.
            std::lock_guard<std::mutex> lock(m_pending.Mutex());
            frame = m_pendingFrame;
            delay = m_pendingDelay;
        }
        m_sink.SwitchControlsEnabled(false);
        devlink::SendCommand(m_link, frame.data(), delay);
        if (!m_stop.Requested()) {
            ReadStatus(m_commandStatusLimitMs);
        }
        {
            // Cleared once the command's status is read back and shown: a press that came
            // meanwhile (only AUTO/TAKE are usable during a command) is not sent.
            std::lock_guard<std::mutex> lock(m_pending.Mutex());
            m_bCommandPending = false;
        }
        m_sink.SwitchControlsEnabled(true);
    }
}

void Connection::ReadStatus(int limitMs) {
    Frame reply{};
    const Frame status = devlink::StatusQuery(m_deviceId);
    // A reply counts when it is a status reply of this device: one with another leader, device
    // ID or marker is not decoded, so it says nothing of the device either.
    const bool valid = devlink::QueryCommand(m_link, status.data(), reply.data(), limitMs,
                                             devlink::QueryReplyShape(m_deviceId)) == kFrameSize &&
                       reply[0] == devlink::kLeader && reply[1] == m_deviceId &&
                       reply[2] == devlink::kQueryCode;
    if (valid) {
        m_failedReads = 0;
        if (m_deviceLost) {
            m_deviceLost = false;
            m_sink.InfoText(LinkText::DeviceNormal);
            m_sink.DeviceBack();
        }
        m_sink.StatusReply(reply);
        PublishBlinkSet();
        return;
    }
    if (m_stop.Requested()) {
        return;  // a read cut short by a stop says nothing of the device
    }
    ++m_failedReads;
    // Closed for good: the device closed the TCP connection, or the serial line went away.
    const bool closed = devlink::LinkGone(m_link);
    if (!m_deviceLost && (closed || m_failedReads >= kFailedReadsLost)) {
        m_deviceLost = true;
        m_blinkSet.clear();  // nothing flashes for a device that is not there
        PublishBlinkSet();
        m_sink.InfoText(closed && m_link.m_bSerial == 0 ? LinkText::DeviceClosed
                                                        : LinkText::DeviceSilent);
        m_sink.DeviceLost(closed);
    }
}

void Connection::PollStatus(platform::StopFlag& stop, bool* unsure) {
    WithLinkUnless(stop, [&](devlink::LinkConnection& link) {
        // The reply is decoded (and its state told) as soon as it is in; the pause after it is
        // still kept here, with the link held.
        link.m_owePauseAfterReply = true;
        ReadStatus(m_pollLimitMs);
        link.m_owePauseAfterReply = false;
        devlink::WaitQuiet(link);
        if (unsure != nullptr) {
            *unsure = link.m_unanswered > 0;
        }
    });
}

void Connection::PollThread() {
    platform::NameThisThread("poll");
    while (!m_stop.Requested()) {
        if (!WaitWhilePaused()) {
            break;
        }
        int owedMs = 0;
        {
            std::lock_guard<std::mutex> link(m_linkLock);
            if (Paused()) {
                continue;
            }
            // The pause after the reply is left owed on the link rather than slept with the lock
            // held: the next frame, whoever sends it, waits for it, and this thread sleeps it
            // together with its own pause, waking once a cycle instead of twice.
            m_link.m_owePauseAfterReply = true;
            ReadStatus(m_pollLimitMs);
            m_link.m_owePauseAfterReply = false;
            owedMs = devlink::QuietLeftMs(m_link);
        }
        if (!Rest(owedMs + m_pollPauseMs)) {
            break;
        }
    }
}

void Connection::PublishBlinkSet() {
    std::vector<int> lamps;
    for (const auto& entry : m_blinkSet) {
        lamps.push_back(entry.first);
    }
    {
        std::lock_guard<std::mutex> lock(m_blink.Mutex());
        if (lamps == m_blinking) {
            return;  // the same lamps flash on: the blink thread sleeps on undisturbed
        }
    }
    m_blink.Change([&] { m_blinking = std::move(lamps); });
}

std::vector<int> Connection::NewBlinkingLamps(const std::vector<int>& known) {
    std::vector<int> lamps;
    for (int lamp : m_blinking) {
        if (!Holds(known, lamp)) {
            lamps.push_back(lamp);
        }
    }
    return lamps;
}

std::optional<std::vector<int>> Connection::HalfFlash(const std::vector<int>& known,
                                                      std::chrono::steady_clock::time_point end) {
    std::unique_lock<std::mutex> lock(m_blink.Mutex());
    std::vector<int> fresh;
    m_blink.WaitUntil(lock, end, [&] {
        fresh = NewBlinkingLamps(known);
        return m_stop.Requested() || !fresh.empty();
    });
    if (m_stop.Requested()) {
        return std::nullopt;
    }
    return fresh;
}

void Connection::BlinkThread() {
    platform::NameThisThread("blink");
    for (;;) {
        if (!WaitWhilePaused()) {
            break;
        }
        std::vector<int> lit;
        {
            // Sleeps while no lamp flashes, with no timeout: a status that makes one flash, or a
            // stop, wakes it.
            std::unique_lock<std::mutex> lock(m_blink.Mutex());
            m_blink.Wait(lock, [this] { return m_stop.Requested() || !m_blinking.empty(); });
            if (m_stop.Requested()) {
                break;
            }
            lit = m_blinking;
        }
        // The link lock is never taken here, so a flash neither waits for nor holds up a command
        // or a poll. A lamp that starts to flash while the others are lit is lit at once and
        // joins them; one that starts while they are dark ends the dark half, so that every lamp
        // flashes as soon as its status says so.
        m_sink.LampsVisible(lit, true);
        const auto litUntil = std::chrono::steady_clock::now() + kHalfFlash;
        std::optional<std::vector<int>> fresh;
        while ((fresh = HalfFlash(lit, litUntil)) && !fresh->empty()) {
            m_sink.LampsVisible(*fresh, true);
            lit.insert(lit.end(), fresh->begin(), fresh->end());
        }
        if (!fresh) {
            break;
        }
        // A lamp that left the set meanwhile (it is steady or out now) is left as the status
        // decode put it.
        std::vector<int> hide;
        {
            std::lock_guard<std::mutex> lock(m_blink.Mutex());
            for (int lamp : lit) {
                if (Holds(m_blinking, lamp)) {
                    hide.push_back(lamp);
                }
            }
        }
        if (!hide.empty()) {
            m_sink.LampsVisible(hide, false);
        }
        if (!HalfFlash(lit, std::chrono::steady_clock::now() + kHalfFlash)) {
            break;
        }
    }
}

}  // namespace app
