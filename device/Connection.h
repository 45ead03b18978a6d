// The one connection to the processor, held by the main window: transport selection, device ID,
// the link lock, the pending command, the identification handshake, and the three workers that
// run while connected (command worker, poll thread, blink thread). No Qt here: workers report to
// the window through ConnectionSink, which hands every change to the UI thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/Frame.h"
#include "link/Link.h"
#include "platform/Clock.h"
#include "platform/Worker.h"

namespace app {

// Messages of the connection, chosen by language where they are shown.
enum class LinkText {
    OpenComOk,     // "Open com port successful"
    OpenComFail,   // "Open com port fail"
    OpenNetOk,     // "Open network successful"
    OpenNetFail,   // "Open network failed"
    DeviceNormal,  // "Communications equipment normal"
    DeviceFailed,  // "Equipment connection failed"
    DeviceSilent,  // "Device not responding"
    DeviceClosed,  // "Device closed the connection"
    PortInUse,     // "The serial port is in use by another program"
};

// What the workers tell the window. Called on worker threads: an implementation must not touch
// widgets directly but post the change to the UI thread.
class ConnectionSink {
public:
    virtual ~ConnectionSink() = default;
    virtual void InfoText(LinkText text) = 0;
    // The Info line shows this text as it is (the serial device path).
    virtual void InfoRaw(const std::string& text) = 0;
    // Why the network could not be opened (the errno value: ECONNREFUSED, ETIMEDOUT, ...), told
    // after OpenNetFail: the Info line shows it after that text (res::ConnectReason).
    virtual void InfoReason(int errnoValue) { (void)errnoValue; }
    // The port number is outside 0..65535: the message box, nothing else.
    virtual void PortOutOfRange() = 0;
    // The connect worker is done; accepted tells whether the device answered the handshake.
    virtual void ConnectFinished(bool accepted) = 0;
    // The command worker starts (false) or ends (true) a command: the 24 switch controls and
    // M1..M3 follow.
    virtual void SwitchControlsEnabled(bool on) = 0;
    // A status reply with 0x05 in byte 0, on the worker that read it, with the link lock held.
    virtual void StatusReply(const devlink::Frame& reply) = 0;
    // The blink thread shows or hides these lamps.
    virtual void LampsVisible(const std::vector<int>& lampIds, bool visible) = 0;
    // Whether this sink shows lamps at all: without lamps the connection runs no blink thread.
    virtual bool ShowsLamps() const { return true; }
    // The device stopped answering: three status reads in a row failed (no reply, a failed
    // write, a reply that is not this device's status: wrong leader, device ID or marker), or
    // the link is gone for good (closed), which is told at once: the device closed the TCP
    // connection, or the serial line went away (an adapter pulled, the line hung up).
    virtual void DeviceLost(bool closed) { (void)closed; }
    // Valid status replies come again after DeviceLost.
    virtual void DeviceBack() {}
};

// What Connect takes from the window's controls, read on the UI thread.
struct ConnectSettings {
    int serial = 0;        // 1 serial, 0 network
    std::string portName;  // text of the port combo
    std::string ipText;    // dotted IPv4 address, may be empty
    std::string portText;  // text of the port edit
};

class Connection {
public:
    explicit Connection(ConnectionSink& sink);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts the connect worker: OpenLink and the identification handshake, under the link lock.
    // Returns at once; the sink hears ConnectFinished.
    void StartConnect(const ConnectSettings& settings);
    // Stops a connection attempt under way and the workers, and closes the transport that is
    // open. Returns within about one poll cycle; the link lock is free afterwards.
    void Disconnect();
    // Stops every worker, the connect worker too, and closes the transport: the owner calls this
    // before the sink goes away.
    void Shutdown();
    // Stops the three workers (before the fast mosaic and at exit) and leaves the transport open.
    void StopWorkers();
    // Closes the transport that is open (after the fast mosaic).
    void CloseTransport();
    // Keeps the workers off the link between transactions (around the settings dialogs). A
    // worker in a transaction finishes it; after that none takes the link until ResumeWorkers,
    // so whoever takes the link lock next (WithLinkUnless) has it to itself.
    void PauseWorkers();
    void ResumeWorkers();
    bool WorkersRunning() const;

    // Hands a complete command to the command worker; replaces one that is still pending.
    void QueueCommand(const devlink::Frame& frame, int delayMs);
    bool CommandPending() const;

    // Runs fn with the link lock held: the way for dialogs and the scheduler to use the link.
    void WithLink(const std::function<void(devlink::LinkConnection&)>& fn);
    // The same, but gives up waiting for the lock when stop is raised (false: fn did not run).
    // While fn runs, stop also cuts the pauses inside SendCommand and QueryCommand short.
    bool WithLinkUnless(platform::StopFlag& stop,
                        const std::function<void(devlink::LinkConnection&)>& fn);

    // The blink set: lamp ids that the blink thread flashes. Guarded by the link lock: change it
    // only from StatusReply (which runs with the lock held); the connection hands the blink thread
    // a copy after each StatusReply.
    std::map<int, bool>& BlinkSetLocked() { return m_blinkSet; }

    // Steps of the connect worker, public for tests: both run with the link lock held.
    int OpenLink(const ConnectSettings& settings);
    void ConnectDevice(const ConnectSettings& settings);

    std::atomic<uint8_t> m_deviceId{1};
    std::atomic<int> m_bConnected{0};
    std::atomic<int> m_linkMode{0};  // 0 none, 1 serial, 2 network
    std::string m_portName;          // UI thread only

    // Whether an accepted handshake starts the three workers. The service sharing its line polls
    // through its own queue instead (PollStatus), and no other thread uses the link.
    bool m_startWorkers = true;
    // One status read with the poll's limit, as the poll thread makes it (a lost device is told
    // to the sink), with the link lock held; nothing when stop is raised first.
    // unsure, when given, tells afterwards whether a question went unanswered (the next one
    // lets the line settle first).
    void PollStatus(platform::StopFlag& stop, bool* unsure = nullptr);
    // The last accepted handshake came through the service's shared line (its mark came with
    // the answer): the processor is the service's, and its plans run there.
    std::atomic<bool> m_bSharedLine{false};

    // Time limits and pauses; tests may shorten them.
    int m_identifyLimitMs = 6000;
    int m_commandStatusLimitMs = 5000;
    int m_pollLimitMs = 1000;
    int m_pollPauseMs = 1000;

private:
    void CommandWorker();
    void PollThread();
    void BlinkThread();
    // Asks for the status and hands a reply with the right leader to the sink; link lock held.
    // Counts failed reads and tells the sink when the device is lost and when it is back.
    void ReadStatus(int limitMs);
    bool Paused();
    // Hands the blink set to the blink thread when it changed, waking it; link lock held.
    void PublishBlinkSet();
    // The flashing lamps that are not among known; under the blink thread's own lock.
    std::vector<int> NewBlinkingLamps(const std::vector<int>& known);
    // Waits until end (half a flash period), or less when lamps not among known start to flash:
    // those lamps (none when end came). Nothing on a stop.
    std::optional<std::vector<int>> HalfFlash(const std::vector<int>& known,
                                              std::chrono::steady_clock::time_point end);
    void StartWorkers();
    void JoinConnectWorker();
    // Sleeps ms unless a stop comes first; false on a stop.
    bool Rest(int ms);
    // Waits while paused; false on a stop.
    bool WaitWhilePaused();

    ConnectionSink& m_sink;
    devlink::LinkConnection m_link;
    std::mutex m_linkLock;
    std::map<int, bool> m_blinkSet;
    // Status reads that failed in a row, and whether the sink was told the device is lost;
    // guarded by the link lock.
    int m_failedReads = 0;
    bool m_deviceLost = false;

    // The pending command, handed over whole under the command worker's own small lock.
    mutable platform::WorkSignal m_pending;
    devlink::Frame m_pendingFrame{};
    int m_pendingDelay = 0;
    bool m_bCommandPending = false;

    // The lamps the blink thread flashes: the blink set as the last status left it, under the
    // blink thread's own small lock, so that it never waits behind a transaction on the link.
    platform::WorkSignal m_blink;
    std::vector<int> m_blinking;

    // Every worker sleeps until it has work or is stopped: a stop or a resume is told to each
    // signal it may sleep on (platform::WorkSignal::Notify).
    platform::StopFlag m_stop;   // ends the workers
    platform::StopFlag m_abort;  // cuts the pauses inside a transaction short
    platform::WorkSignal m_pause;
    bool m_paused = false;  // m_pause's mutex

    mutable std::mutex m_threadsMutex;
    std::thread m_connectThread;
    std::vector<std::thread> m_workers;
};

}  // namespace app
