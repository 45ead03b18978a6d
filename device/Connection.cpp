#include "device/Connection.h"

#include <algorithm>
#include <cerrno>
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
    {
        std::lock_guard<std::mutex> lock(m_pauseMutex);
        m_paused = false;
    }
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    m_connectThread = std::thread([this, settings] {
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
    m_failedReads = 0;
    m_deviceLost = false;
    m_sink.InfoText(LinkText::DeviceNormal);
    m_bConnected = 1;
    // The workers exist before the window hears of the connection: a Disconnect or Mosaic
    // pressed at once then stops them, instead of their starting after it on a closed link. They
    // touch the link only once this worker lets go of it.
    StartWorkers();
    m_sink.ConnectFinished(true);
}

void Connection::StartWorkers() {
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    m_workers.emplace_back(&Connection::CommandWorker, this);
    m_workers.emplace_back(&Connection::PollThread, this);
    m_workers.emplace_back(&Connection::BlinkThread, this);
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
    m_pendingCv.notify_all();
    m_pauseCv.notify_all();
    for (auto& t : workers) {
        t.join();
    }
    // A command that never went out is dropped with the workers.
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_bCommandPending = false;
    }
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
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    m_paused = true;
}

void Connection::ResumeWorkers() {
    {
        std::lock_guard<std::mutex> lock(m_pauseMutex);
        m_paused = false;
    }
    m_pauseCv.notify_all();
}

bool Connection::Paused() {
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    return m_paused;
}

bool Connection::WaitWhilePaused() {
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    m_pauseCv.wait(lock, [this] { return !m_paused || m_stop.Requested(); });
    return !m_stop.Requested();
}

void Connection::QueueCommand(const Frame& frame, int delayMs) {
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingFrame = frame;
        m_pendingDelay = delayMs;
        m_bCommandPending = true;
    }
    m_pendingCv.notify_all();
}

bool Connection::CommandPending() const {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
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
    while (!m_stop.Requested()) {
        Frame frame{};
        int delay = 0;
        {
            // Wakes as soon as a command is pending, or once a second to look at the stop flag.
            std::unique_lock<std::mutex> lock(m_pendingMutex);
            if (!m_pendingCv.wait_for(lock, std::chrono::milliseconds(1000),
                                      [this] { return m_bCommandPending || m_stop.Requested(); })) {
                continue;
            }
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
            std::lock_guard<std::mutex> lock(m_pendingMutex);
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
            std::lock_guard<std::mutex> lock(m_pendingMutex);
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
        m_sink.InfoText(closed && m_link.m_bSerial == 0 ? LinkText::DeviceClosed
                                                        : LinkText::DeviceSilent);
        m_sink.DeviceLost(closed);
    }
}

void Connection::PollThread() {
    while (!m_stop.Requested()) {
        if (!WaitWhilePaused()) {
            break;
        }
        {
            std::lock_guard<std::mutex> link(m_linkLock);
            if (Paused()) {
                continue;
            }
            ReadStatus(m_pollLimitMs);
        }
        if (!Rest(m_pollPauseMs)) {
            break;
        }
    }
}

std::vector<int> Connection::BlinkingLamps(const std::vector<int>* among) {
    std::lock_guard<std::mutex> link(m_linkLock);
    std::vector<int> lamps;
    for (const auto& entry : m_blinkSet) {
        if (among == nullptr ||
            std::find(among->begin(), among->end(), entry.first) != among->end()) {
            lamps.push_back(entry.first);
        }
    }
    return lamps;
}

void Connection::BlinkThread() {
    while (!m_stop.Requested()) {
        if (!WaitWhilePaused()) {
            break;
        }
        // The lock is held only to read the set, never across the flash, so a flash does not
        // hold up a command or a poll. A lamp that left the set during the flash (it is steady
        // or out now) is left as the status decode put it.
        const std::vector<int> shown = BlinkingLamps(nullptr);
        if (!shown.empty()) {
            m_sink.LampsVisible(shown, true);
            if (!Rest(500)) {
                break;
            }
            const std::vector<int> hide = BlinkingLamps(&shown);
            if (!hide.empty()) {
                m_sink.LampsVisible(hide, false);
            }
        }
        if (!Rest(500)) {
            break;
        }
    }
}

}  // namespace app
