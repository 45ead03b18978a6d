#include "device/Connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "TestUtil.h"
#include "link/Commands.h"
#include "link/Replies.h"
#include "link/SerialPort.h"

using namespace std::chrono;
using app::LinkText;

namespace {

// Records what the workers report, as the window would receive it.
class RecordingSink : public app::ConnectionSink {
public:
    void InfoText(LinkText t) override {
        Add([&] { texts.push_back(t); });
    }
    void InfoRaw(const std::string& t) override {
        Add([&] { raw.push_back(t); });
    }
    void PortOutOfRange() override {
        Add([&] { ++portBoxes; });
    }
    void ConnectFinished(bool accepted) override {
        const bool running = connection != nullptr && connection->WorkersRunning();
        Add([&] {
            finished.push_back(accepted);
            workersAtFinish.push_back(running);
        });
    }
    void SwitchControlsEnabled(bool on) override {
        Add([&] { enables.push_back(on); });
    }
    void StatusReply(const devlink::Frame& r) override {
        Add([&] { statuses.push_back(r); });
    }
    void LampsVisible(const std::vector<int>&, bool) override {}
    void DeviceLost(bool closed) override {
        Add([&] { lost.push_back(closed); });
    }
    void DeviceBack() override {
        Add([&] { ++back; });
    }

    // Waits until pred holds (checked under the sink's lock).
    template <typename P>
    bool WaitFor(P pred, int ms = 10000) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, milliseconds(ms), pred);
    }
    template <typename F>
    auto Read(F f) {
        std::lock_guard<std::mutex> lock(mutex);
        return f();
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<LinkText> texts;
    std::vector<std::string> raw;
    std::vector<bool> finished;
    std::vector<bool> workersAtFinish;  // whether connection's workers ran when it was told
    const app::Connection* connection = nullptr;
    std::vector<bool> enables;
    std::vector<devlink::Frame> statuses;
    int portBoxes = 0;
    std::vector<bool> lost;  // closed, for each loss told
    int back = 0;

private:
    template <typename F>
    void Add(F f) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            f();
        }
        cv.notify_all();
    }
};

app::ConnectSettings Tcp(int port) {
    app::ConnectSettings s;
    s.serial = 0;
    s.ipText = "127.0.0.1";
    s.portText = std::to_string(port);
    return s;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A device that answers the identification query with a reply of the test's making.
struct HandshakeDevice {
    testutil::Listener listener;
    std::thread thread;
    explicit HandshakeDevice(devlink::Frame reply) {
        thread = std::thread([this, reply] {
            const int peer = listener.Accept(5000);
            if (peer < 0)
                return;
            uint8_t q[13];
            size_t got = 0;
            while (got < 13) {
                const ssize_t n = ::recv(peer, q + got, 13 - got, 0);
                if (n <= 0)
                    break;
                got += static_cast<size_t>(n);
            }
            ::send(peer, reply.data(), 13, MSG_NOSIGNAL);
            char sink[64];
            while (::recv(peer, sink, sizeof sink, 0) > 0) {
            }
            ::close(peer);
        });
    }
    ~HandshakeDevice() { thread.join(); }
};

// A connection to a simulator of its own on loopback TCP.
struct SimLink {
    testutil::SimProcess sim{std::vector<std::string>{"--tcp", "0"}};
    RecordingSink sink;
    app::Connection c{sink};

    // Starts the connect worker and waits for it to finish.
    bool Connect() {
        if (!sim.Started())
            return false;
        sink.connection = &c;
        c.StartConnect(Tcp(sim.tcpPort));
        return sink.WaitFor([&] { return !sink.finished.empty(); });
    }
};

}  // namespace

TEST(Connection, ConnectsOverTcpPollsAndDisconnectsPromptly) {
    SimLink link;
    ASSERT_TRUE(link.Connect());
    auto& [sim, sink, c] = link;
    EXPECT_TRUE(sink.Read([&] { return sink.finished[0]; }));
    // Told once the workers run: a Disconnect pressed at once stops them.
    EXPECT_TRUE(sink.Read([&] { return sink.workersAtFinish[0]; }));
    EXPECT_EQ(sink.Read([&] { return sink.texts; }),
              (std::vector<LinkText>{LinkText::OpenNetOk, LinkText::DeviceNormal}));
    EXPECT_EQ(c.m_bConnected, 1);
    EXPECT_EQ(c.m_linkMode, 2);

    // The poll thread reads the status about once a second.
    ASSERT_TRUE(sink.WaitFor([&] { return sink.statuses.size() >= 3; }, 6000));
    EXPECT_EQ(sink.Read([&] { return sink.statuses[0][2]; }), devlink::kQueryCode);

    const auto start = steady_clock::now();
    c.Disconnect();
    EXPECT_LT(steady_clock::now() - start, milliseconds(1500));
    EXPECT_FALSE(c.WorkersRunning());
    EXPECT_EQ(c.m_linkMode, 0);
    // The lock is free at once.
    const auto lockStart = steady_clock::now();
    c.WithLink([](devlink::LinkConnection&) {});
    EXPECT_LT(steady_clock::now() - lockStart, milliseconds(50));

    // Identification first, then status queries; never a frame cut by another.
    const std::string log = sim.Output();
    const size_t ident = log.find("05 01 fe fe 00");
    const size_t status = log.find("05 01 fe 00 00");
    ASSERT_NE(ident, std::string::npos) << log;
    ASSERT_NE(status, std::string::npos) << log;
    EXPECT_LT(ident, status);
}

TEST(Connection, ConnectsOverThePseudoTerminal) {
    testutil::SimProcess sim({"--pty"});
    ASSERT_TRUE(sim.Started());
    RecordingSink sink;
    app::Connection c(sink);
    app::ConnectSettings s;
    s.serial = 1;
    s.portName = sim.ptyPath;
    testing::internal::CaptureStdout();
    c.StartConnect(s);
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.finished.empty(); }));
    EXPECT_TRUE(sink.Read([&] { return sink.finished[0]; }));
    EXPECT_EQ(sink.Read([&] { return sink.texts.front(); }), LinkText::OpenComOk);
    EXPECT_EQ(sink.Read([&] { return sink.raw; }), std::vector<std::string>{sim.ptyPath});
    EXPECT_EQ(c.m_linkMode, 1);
    c.Disconnect();
    testing::internal::GetCapturedStdout();
}

TEST(Connection, HandshakeJudgesBytes2To11Only) {
    struct Case {
        const char* name;
        int spoil;  // byte to change in the identification reply, -1 none
        uint8_t value;
        bool accepted;
    };
    const Case cases[] = {
        {"wrong checksum", 12, 0x00, true},
        {"wrong device id", 1, 0x07, true},
        {"byte 11 is 0x63", 11, 0x63, false},
    };
    for (const Case& k : cases) {
        devlink::Frame reply = devlink::IdentifyReply(1);
        reply[static_cast<size_t>(k.spoil)] = k.value;
        HandshakeDevice device(reply);
        RecordingSink sink;
        app::Connection c(sink);
        c.m_identifyLimitMs = 2000;
        c.StartConnect(Tcp(device.listener.port));
        ASSERT_TRUE(sink.WaitFor([&] { return !sink.finished.empty(); })) << k.name;
        EXPECT_EQ(sink.Read([&] { return sink.finished[0]; }), k.accepted) << k.name;
        EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }),
                  k.accepted ? LinkText::DeviceNormal : LinkText::DeviceFailed)
            << k.name;
        EXPECT_EQ(c.m_linkMode, k.accepted ? 2 : 0) << k.name;  // refused: closed again
        c.Disconnect();
    }
}

TEST(Connection, OpenFailuresSayWhatFailed) {
    RecordingSink sink;
    app::Connection c(sink);
    // A port number out of range: the box, no socket, the Info line left alone.
    c.StartConnect(Tcp(70000));
    ASSERT_TRUE(sink.WaitFor([&] { return sink.finished.size() == 1; }));
    EXPECT_EQ(sink.Read([&] { return sink.portBoxes; }), 1);
    EXPECT_TRUE(sink.Read([&] { return sink.texts.empty(); }));
    EXPECT_EQ(c.m_linkMode, 0);

    // No address: nothing is tried, not even this machine.
    testutil::Listener local;
    app::ConnectSettings noAddress = Tcp(local.port);
    noAddress.ipText = "";
    c.StartConnect(noAddress);
    ASSERT_TRUE(sink.WaitFor([&] { return sink.finished.size() == 2; }));
    EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }), LinkText::OpenNetFail);
    EXPECT_EQ(local.Accept(200), -1);

    // Nobody listening.
    int closedPort;
    {
        testutil::Listener gone;
        closedPort = gone.port;
    }
    c.StartConnect(Tcp(closedPort));
    ASSERT_TRUE(sink.WaitFor([&] { return sink.finished.size() == 3; }));
    EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }), LinkText::OpenNetFail);

    // A serial port that does not exist.
    app::ConnectSettings s;
    s.serial = 1;
    s.portName = "/dev/orn312-no-such-port";
    testing::internal::CaptureStdout();
    c.StartConnect(s);
    ASSERT_TRUE(sink.WaitFor([&] { return sink.finished.size() == 4; }));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CreateFile Error\nGetLastError: No such file or directory\n");
    EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }), LinkText::OpenComFail);
    EXPECT_EQ(sink.Read([&] { return sink.raw.back(); }), s.portName);
    EXPECT_FALSE(sink.Read([&] { return sink.finished.back(); }));

    // A serial line another program holds: the Info line says it is in use.
    testutil::PtyPair pty;
    devlink::CSerialPort holder;
    ASSERT_EQ(holder.Open(pty.slavePath), 1);
    s.portName = pty.slavePath;
    testing::internal::CaptureStdout();
    c.StartConnect(s);
    ASSERT_TRUE(sink.WaitFor([&] { return sink.finished.size() == 5; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }), LinkText::PortInUse);
    EXPECT_FALSE(sink.Read([&] { return sink.finished.back(); }));
}

TEST(Connection, PendingCommandIsReplacedWholeAndSentOnce) {
    SimLink link;
    ASSERT_TRUE(link.Connect());
    auto& [sim, sink, c] = link;

    // While paused, nothing goes out; the later press replaces the earlier.
    c.PauseWorkers();
    std::this_thread::sleep_for(milliseconds(1500));  // a poll in progress finishes
    const size_t before = sim.Output().size();
    c.QueueCommand(devlink::FreezeCommand(1, true), 500);
    c.QueueCommand(devlink::FreezeCommand(1, false), 500);
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(sim.Output().size(), before) << sim.Output().substr(before);
    c.ResumeWorkers();

    ASSERT_TRUE(sink.WaitFor([&] { return sink.enables.size() >= 2; }, 5000));
    EXPECT_EQ(sink.Read([&] { return sink.enables; }), (std::vector<bool>{false, true}));
    c.Disconnect();
    const std::string log = sim.Output();
    EXPECT_EQ(Count(log, "05 01 29 00"), 1) << log;
    EXPECT_EQ(Count(log, "05 01 29 01"), 0) << log;
}

// A device that stops answering is told after three failed reads, once, and "normal" again when
// it answers; the backlog it releases on waking is thrown away, so the display catches up.
TEST(Connection, SilentDeviceIsToldAndComesBack) {
    for (bool serial : {false, true}) {
        testutil::SimProcess sim(serial ? std::vector<std::string>{"--pty"}
                                        : std::vector<std::string>{"--tcp", "0"});
        ASSERT_TRUE(sim.Started());
        RecordingSink sink;
        app::Connection c(sink);
        app::ConnectSettings s = Tcp(sim.tcpPort);
        if (serial) {
            s.serial = 1;
            s.portName = sim.ptyPath;
        }
        testing::internal::CaptureStdout();  // the serial trace
        c.StartConnect(s);
        ASSERT_TRUE(sink.WaitFor([&] { return sink.statuses.size() >= 1; })) << serial;
        sim.Command("stall 8000");
        ASSERT_TRUE(sink.WaitFor([&] { return !sink.lost.empty(); }, 10000)) << serial;
        EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }), LinkText::DeviceSilent);
        EXPECT_FALSE(sink.Read([&] { return sink.lost[0]; }));  // silent, not closed

        // The device wakes with a backlog of old answers and changes its source meanwhile.
        sim.Command("signal V1 off");  // the main source
        ASSERT_TRUE(sink.WaitFor([&] { return sink.back == 1; }, 10000)) << serial;
        EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }), LinkText::DeviceNormal);
        const size_t seen = sink.Read([&] { return sink.statuses.size(); });
        // Two polls later the replies carry the current state (the main signal is off).
        ASSERT_TRUE(sink.WaitFor([&] { return sink.statuses.size() >= seen + 2; }, 5000));
        const devlink::Frame last = sink.Read([&] { return sink.statuses.back(); });
        EXPECT_FALSE(devlink::StatusReply::Decode(last.data()).mainSignal) << serial;
        EXPECT_EQ(sink.Read([&] { return sink.lost.size(); }), 1u);  // told once
        c.Disconnect();
        testing::internal::GetCapturedStdout();
    }
}

TEST(Connection, DeviceClosingTheConnectionIsToldAtOnce) {
    SimLink link;
    ASSERT_TRUE(link.Connect());
    auto& [sim, sink, c] = link;
    ASSERT_TRUE(sink.WaitFor([&] { return sink.statuses.size() >= 1; }));
    const auto start = steady_clock::now();
    sim.Command("hangup");
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.lost.empty(); }, 5000));
    EXPECT_LT(steady_clock::now() - start, milliseconds(2500));  // the next poll, not three
    EXPECT_TRUE(sink.Read([&] { return sink.lost[0]; }));
    EXPECT_EQ(sink.Read([&] { return sink.texts.back(); }), LinkText::DeviceClosed);
    c.Disconnect();
}

// A press that comes while a command runs is not sent: the pending flag is cleared once the
// command's status has been read back.
TEST(Connection, PressDuringACommandIsNotSent) {
    SimLink link;
    ASSERT_TRUE(link.Connect());
    auto& [sim, sink, c] = link;
    c.QueueCommand(devlink::FreezeCommand(1, true), 1500);
    ASSERT_TRUE(sink.WaitFor([&] { return sink.enables.size() >= 1; }, 5000));
    c.QueueCommand(devlink::FreezeCommand(1, false), 500);  // during the first one's pause
    ASSERT_TRUE(sink.WaitFor([&] { return sink.enables.size() >= 2; }, 8000));
    std::this_thread::sleep_for(milliseconds(2000));  // a worker that would send it has done so
    EXPECT_FALSE(c.CommandPending());
    c.Disconnect();
    const std::string log = sim.Output();
    EXPECT_EQ(Count(log, "05 01 29 01"), 1) << log;
    EXPECT_EQ(Count(log, "05 01 29 00"), 0) << log;
}

// A dialog's wait for the link: a stop ends it without running anything; once the holder lets
// go, it gets the link.
TEST(Connection, WaitForTheLinkEndsOnAStopOrWhenTheLinkIsFree) {
    RecordingSink sink;
    app::Connection c(sink);
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        c.WithLink([&](devlink::LinkConnection&) {
            held = true;
            while (!release) {
                std::this_thread::sleep_for(milliseconds(1));
            }
        });
    });
    while (!held) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    platform::StopFlag stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(50));
        stop.Request();
    });
    bool ran = false;
    const auto t0 = steady_clock::now();
    EXPECT_FALSE(c.WithLinkUnless(stop, [&](devlink::LinkConnection&) { ran = true; }));
    EXPECT_LT(steady_clock::now() - t0, milliseconds(2000));
    EXPECT_FALSE(ran);
    stopper.join();

    platform::StopFlag running;
    std::thread releaser([&] {
        std::this_thread::sleep_for(milliseconds(50));
        release = true;
    });
    EXPECT_TRUE(c.WithLinkUnless(running, [&](devlink::LinkConnection&) { ran = true; }));
    EXPECT_TRUE(ran);
    releaser.join();
    holder.join();
}

namespace {

// Times the threads of this process named name have slept and been woken.
long WakeUps(const std::string& name) {
    const auto threads = testutil::WakeUpsByThread();
    const auto it = threads.find(name);
    return it == threads.end() ? 0 : it->second;
}

// Puts a new lamp into the blink set with each status from the second to the fifth, as the
// window's decoder would, empties it at the sixth, and notes when each lamp was told to flash.
class LampSink : public RecordingSink {
public:
    void StatusReply(const devlink::Frame& r) override {
        RecordingSink::StatusReply(r);
        std::lock_guard<std::mutex> lock(lampMutex);
        ++seen;
        if (seen >= 2 && seen <= 5) {
            connection->BlinkSetLocked()[1000 + seen] = true;
            flashFrom[1000 + seen] = steady_clock::now();
        } else if (seen == 6) {
            connection->BlinkSetLocked().clear();
        }
    }
    void LampsVisible(const std::vector<int>& lamps, bool visible) override {
        std::lock_guard<std::mutex> lock(lampMutex);
        for (int lamp : lamps) {
            if (visible && shownAt.count(lamp) == 0)
                shownAt[lamp] = steady_clock::now();
            if (!visible)
                ++hidden[lamp];
        }
    }
    app::Connection* connection = nullptr;
    std::mutex lampMutex;
    int seen = 0;
    std::map<int, steady_clock::time_point> flashFrom, shownAt;
    std::map<int, int> hidden;
};

}  // namespace

// Connected and idle, the command worker and the blink thread sleep until there is work (a
// command, a lamp to flash): no wake-up to look at a flag. A stop still ends every worker at once.
TEST(Connection, IdleWorkersSleepUntilTheyHaveWorkAndAStopEndsThemAtOnce) {
    SimLink link;
    ASSERT_TRUE(link.Connect());
    auto& [sim, sink, c] = link;
    ASSERT_TRUE(sink.WaitFor([&] { return sink.statuses.size() >= 1; }));
    const long command = WakeUps("command"), blink = WakeUps("blink");
    std::this_thread::sleep_for(milliseconds(2500));
    EXPECT_EQ(WakeUps("command") - command, 0);
    EXPECT_EQ(WakeUps("blink") - blink, 0);  // no lamp flashes: this sink has none in the set
    EXPECT_GE(sink.Read([&] { return sink.statuses.size(); }), 2u);  // the poll went on

    // A command wakes the worker at once.
    c.QueueCommand(devlink::FreezeCommand(1, true), 100);
    ASSERT_TRUE(sink.WaitFor([&] { return sink.enables.size() >= 2; }, 3000));

    const auto start = steady_clock::now();
    c.Disconnect();
    EXPECT_LT(steady_clock::now() - start, milliseconds(500));
    EXPECT_FALSE(c.WorkersRunning());
}

// A lamp starts to flash within half a second of the status that puts it in the blink set,
// whether a flash is lit or dark at that moment, and the blink thread goes back to sleep once no
// lamp flashes.
TEST(Connection, ALampFlashesWithinHalfASecondOfItsStatus) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    LampSink sink;
    app::Connection c(sink);
    sink.connection = &c;
    c.m_pollPauseMs = 300;  // statuses come at other moments of the flash each time
    c.StartConnect(Tcp(sim.tcpPort));
    ASSERT_TRUE(sink.WaitFor([&] { return sink.statuses.size() >= 9; }, 15000));
    const long blink = WakeUps("blink");
    std::this_thread::sleep_for(milliseconds(1200));
    const long blinkIdle = WakeUps("blink") - blink;
    c.Disconnect();

    std::lock_guard<std::mutex> lock(sink.lampMutex);
    for (int lamp = 1002; lamp <= 1005; ++lamp) {
        ASSERT_EQ(sink.shownAt.count(lamp), 1u) << lamp;
        EXPECT_LE(sink.shownAt[lamp] - sink.flashFrom[lamp], milliseconds(500)) << lamp;
    }
    EXPECT_GE(sink.hidden[1002], 1);  // it flashes, not shown steady
    EXPECT_EQ(blinkIdle, 0);
}

// Disconnect during a connection attempt (the window's reconnection, a device that does not
// answer the identification) ends the attempt at once instead of after its 6 s, leaves nothing
// running and the link closed; a connection made afterwards works.
TEST(Connection, DisconnectEndsAnAttemptUnderWay) {
    testutil::SimProcess silent({"--tcp", "0", "--fault", "silent"});
    ASSERT_TRUE(silent.Started());
    RecordingSink sink;
    app::Connection c(sink);
    c.StartConnect(Tcp(silent.tcpPort));
    std::this_thread::sleep_for(milliseconds(500));  // connected, waiting for the answer
    const auto start = steady_clock::now();
    c.Disconnect();
    EXPECT_LT(steady_clock::now() - start, milliseconds(500));
    EXPECT_TRUE(sink.Read([&] { return sink.finished == std::vector<bool>{false}; }));
    EXPECT_FALSE(c.WorkersRunning());
    EXPECT_EQ(c.m_linkMode, 0);
    EXPECT_EQ(c.m_bConnected, 0);

    testutil::SimProcess answering({"--tcp", "0"});
    ASSERT_TRUE(answering.Started());
    c.StartConnect(Tcp(answering.tcpPort));
    EXPECT_TRUE(sink.WaitFor([&] { return sink.finished.size() == 2; }));
    EXPECT_TRUE(sink.Read([&] { return sink.finished.back(); }));
    EXPECT_TRUE(sink.WaitFor([&] { return !sink.statuses.empty(); }));
    c.Disconnect();
}
