// The service's shared line end to end: orn312-scheduler --share against the simulator, with raw
// clients, the command-line client and the window's connection talking through it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <QAbstractButton>
#include <QLineEdit>

#include "FakeUi.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "app/MainDlg.h"
#include "device/Connection.h"
#include "link/Commands.h"
#include "resources/ControlIds.h"
#include "server/ShareServer.h"

namespace fs = std::filesystem;
using devlink::Frame;
using namespace std::chrono;

namespace {

int64_t Ms() {
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A client that speaks the processor's protocol over a plain socket.
class RawClient {
public:
    explicit RawClient(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawClient() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Connected() const { return m_fd >= 0; }
    void Write(const uint8_t* bytes, size_t n) const {
        ASSERT_EQ(::send(m_fd, bytes, n, MSG_NOSIGNAL), static_cast<ssize_t>(n));
    }
    void Send(const Frame& f) const { Write(f.data(), f.size()); }
    // The next whole frame within waitMs.
    std::optional<Frame> Read(int waitMs) {
        const int64_t end = Ms() + waitMs;
        while (m_buffer.size() < devlink::kFrameSize) {
            const int left = static_cast<int>(end - Ms());
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0)
                return std::nullopt;
            uint8_t chunk[64];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                m_closed = true;
                return std::nullopt;
            }
            m_buffer.insert(m_buffer.end(), chunk, chunk + n);
        }
        Frame f{};
        std::copy(m_buffer.begin(), m_buffer.begin() + devlink::kFrameSize, f.begin());
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + devlink::kFrameSize);
        return f;
    }
    // True when the service closes the connection within waitMs.
    bool ClosedWithin(int waitMs) {
        const int64_t end = Ms() + waitMs;
        while (!m_closed && Ms() < end)
            Read(static_cast<int>(end - Ms()));
        return m_closed;
    }

private:
    int m_fd = -1;
    std::vector<uint8_t> m_buffer;
    bool m_closed = false;
};

class Share : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(testing::TempDir()) /
              ("orn312-share-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        service.reset();
        fs::remove_all(dir);
    }

    // The service on the simulator's line (a pty path or a TCP port), sharing it on loopback.
    void StartService(const std::string& ptyPath, int tcpPort, const std::string& extra = "") {
        std::ofstream ini(dir / "Planinfo.ini", std::ios::binary);
        if (!ptyPath.empty())
            ini << "[CONNECT]\nSerialTcp=1\nComPort=" << ptyPath << "\nDeviceID=1\n";
        else
            ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << tcpPort << "\nDeviceID=1\n";
        ini << extra;
        ini.close();
        service = std::make_unique<testutil::ChildProcess>(
            std::vector<std::string>{ORN312_SCHEDULER_PATH, "--share", "127.0.0.1:0"},
            dir.string());
        ASSERT_TRUE(service->WaitForErr("connected: ", 8000)) << service->Err();
        const std::string err = service->Err();
        const std::string at = "sharing the line on 127.0.0.1:";
        const size_t i = err.find(at);
        ASSERT_NE(i, std::string::npos) << err;
        port = std::stoi(err.substr(i + at.size()));
    }

    fs::path dir;
    std::unique_ptr<testutil::ChildProcess> service;
    int port = 0;
};

// Two windows' polls, a client's settings commands and a raw client's questions at once, for
// 20 s, through the service on the processor's serial line: each client gets only the answers
// to its own questions, no frame reaches the processor broken, and after each command nothing
// comes before its pause has run.
TEST_F(Share, ManyClientsShareOneSerialLine) {
    testutil::SimProcess sim({"--pty", "--ids", "1-4"});
    ASSERT_TRUE(sim.Started());
    StartService(sim.ptyPath, 0);

    std::atomic<bool> stop{false};
    struct Tally {
        int asked = 0, answered = 0, foreign = 0;
    };
    // A client asking its own device ID's status, pausing pauseMs after each answer or limit.
    auto asker = [&](uint8_t id, int limitMs, int pauseMs, Tally& t) {
        RawClient c(port);
        ASSERT_TRUE(c.Connected());
        while (!stop) {
            c.Send(devlink::StatusQuery(id));
            ++t.asked;
            const int64_t end = Ms() + limitMs;
            while (Ms() < end) {
                const auto r = c.Read(static_cast<int>(end - Ms()));
                if (!r)
                    break;
                if ((*r)[1] == id && (*r)[2] == devlink::kQueryCode)
                    ++t.answered;
                else
                    ++t.foreign;
                break;
            }
            std::this_thread::sleep_for(milliseconds(pauseMs));
        }
        // Late answers still due come in; each must be this client's.
        while (const auto r = c.Read(3000)) {
            if ((*r)[1] != id)
                ++t.foreign;
        }
    };
    Tally window1, window2, raw;
    std::vector<Frame> commands;
    std::thread w1(asker, 1, 1000, 1000, std::ref(window1));
    std::thread w2(asker, 2, 1000, 1000, std::ref(window2));
    std::thread r(asker, 3, 3000, 0, std::ref(raw));
    std::thread settings([&] {
        RawClient c(port);
        for (uint8_t v = 0; !stop; ++v) {
            const Frame f = v % 3 == 0   ? devlink::BrightnessCommand(4, v % 64)
                            : v % 3 == 1 ? devlink::FreezeCommand(4, v % 2)
                                         : devlink::InputWindowCommand(4, 0, 960, 0, 540);
            c.Send(f);
            commands.push_back(f);
            std::this_thread::sleep_for(milliseconds(devlink::CommandPause(f)));
        }
    });
    std::this_thread::sleep_for(seconds(20));
    stop = true;
    for (auto* t : {&w1, &w2, &r, &settings})
        t->join();

    for (const Tally* t : {&window1, &window2, &raw}) {
        EXPECT_EQ(t->foreign, 0);
        EXPECT_GT(t->answered, t->asked / 2) << t->asked;
    }
    const std::string log = sim.Output();
    EXPECT_EQ(log.find("incomplete frame"), std::string::npos);
    EXPECT_EQ(log.find("ignored: checksum"), std::string::npos);
    EXPECT_EQ(log.find("ignored: no leader"), std::string::npos);
    const auto frames = testutil::ReceivedFrames(log);
    std::vector<Frame> seenCommands;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].frame[2] == devlink::kQueryCode)
            continue;
        seenCommands.push_back(frames[i].frame);
        // By the log's clock, which reads each frame a little after it came: a few ms of slack.
        if (i + 1 < frames.size()) {
            EXPECT_GE(frames[i + 1].ms - frames[i].ms, devlink::CommandPause(frames[i].frame) - 25)
                << devlink::HexText(frames[i].frame.data(), 13);
        }
    }
    // The commands came whole and in their order; those still waiting when their client left
    // were dropped with it.
    ASSERT_GE(seenCommands.size(), 5u);
    ASSERT_LE(seenCommands.size(), commands.size());
    EXPECT_TRUE(std::equal(seenCommands.begin(), seenCommands.end(), commands.begin()));
    EXPECT_EQ(service->Signal(SIGTERM, 3000), 0) << service->Err();
}

// The window and orn312ctl work through the service unchanged, and the window knows it is on
// the service's shared line; a direct connection is not taken for one.
TEST_F(Share, TheWindowAndTheClientWorkUnchanged) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    StartService("", sim.tcpPort);

    const std::string at = "127.0.0.1:" + std::to_string(port);
    const auto status = testutil::Run({ORN312_CTL_PATH, "--tcp", at, "status"}, 10000);
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_NE(status.out.find("main source"), std::string::npos) << status.out;
    const auto sw = testutil::Run({ORN312_CTL_PATH, "--tcp", at, "switch", "HDMI"}, 10000);
    EXPECT_EQ(sw.exitCode, 0) << sw.err;
    EXPECT_GE(sw.elapsedMs, 3000);

    // The window: Network, 127.0.0.1, the service's port. Its title says where it is.
    testutil::TestApp();
    testutil::FakeUi ui;
    auto d = std::make_unique<CORN302ControlDlg>();
    d->m_profilePath = (dir / "Window.ini").string();
    d->OnInitDialog();
    d->ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
    d->ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
    d->ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(port));
    d->ControlAs<QAbstractButton>(ids::kConnect)->click();
    ASSERT_TRUE(testutil::WaitUntil([&] {
        return d->Control(ids::kSourceLamps[devlink::kHdmi])->accessibleDescription() != "off";
    }));
    EXPECT_TRUE(d->windowTitle().endsWith("the plans run in the service"))
        << d->windowTitle().toStdString();
    EXPECT_TRUE(d->ControlAs<QLineEdit>(ids::kInfo)->text().contains("shared line"));
    d->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
    EXPECT_TRUE(d->windowTitle().contains("共享线路")) << d->windowTitle().toStdString();
    d->ControlAs<QAbstractButton>(ids::kDisconnect)->click();
    EXPECT_EQ(d->windowTitle().toStdString(), "QUOLANORN312控制软件(V1.13)");
    d.reset();

    // Straight to the processor, the window's connection is not taken for the shared line.
    struct Sink : app::ConnectionSink {
        void InfoText(app::LinkText) override {}
        void InfoRaw(const std::string&) override {}
        void PortOutOfRange() override {}
        void ConnectFinished(bool ok) override { accepted = ok ? 1 : 0; }
        void SwitchControlsEnabled(bool) override {}
        void StatusReply(const Frame&) override {}
        void LampsVisible(const std::vector<int>&, bool) override {}
        std::atomic<int> accepted{-1};
    } sink;
    app::Connection conn(sink);
    conn.StartConnect({0, "", "127.0.0.1", std::to_string(sim.tcpPort)});
    ASSERT_TRUE(testutil::WaitUntil([&] { return sink.accepted >= 0; }, 8000));
    EXPECT_EQ(sink.accepted, 1);
    EXPECT_FALSE(conn.m_bSharedLine.load());
}

// What the shared line refuses, each case as it behaves: a frame begun and left, a bad
// checksum, the seventeenth client, a processor killed and back.
TEST_F(Share, RefusalsAndOutages) {
    auto sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
    ASSERT_TRUE(sim->Started());
    const int simPort = sim->tcpPort;
    StartService("", simPort);
    const Frame status = devlink::StatusQuery(1);

    {  // Part of a frame and then nothing: dropped 2 s after its last byte, the line free.
        RawClient stalled(port), other(port);
        stalled.Write(status.data(), 6);
        std::this_thread::sleep_for(milliseconds(1000));
        stalled.Write(status.data() + 6, 1);  // the deadline counts from the last byte
        other.Send(status);
        EXPECT_TRUE(other.Read(1500).has_value());
        const int64_t t0 = Ms();
        EXPECT_TRUE(stalled.ClosedWithin(4000));
        EXPECT_GE(Ms() - t0, 1500);
        EXPECT_TRUE(service->WaitForErr("7 bytes of a frame and nothing more for 2 s", 1000))
            << service->Err();
    }
    {  // A bad checksum or bytes before the leader: not forwarded, the client stays.
        RawClient c(port);
        Frame bad = devlink::ColourQuery(1);
        bad[12] ^= 0x01;
        c.Send(bad);
        const uint8_t noise[] = {0x00, 0x13};
        c.Write(noise, sizeof noise);
        EXPECT_FALSE(c.Read(1000).has_value());
        // Two frames in one write: served in their order.
        std::vector<uint8_t> two(status.begin(), status.end());
        const Frame resolution = devlink::ResolutionQuery(1);
        two.insert(two.end(), resolution.begin(), resolution.end());
        c.Write(two.data(), two.size());
        const auto first = c.Read(2000), second = c.Read(2000);
        ASSERT_TRUE(first && second);
        EXPECT_EQ((*first)[4], 0);   // the status: no overlay
        EXPECT_EQ((*second)[3], 6);  // the output resolution: 1920x1080
        EXPECT_EQ(sim->Output().find("fe 10"), std::string::npos);
        EXPECT_TRUE(service->WaitForErr("sent a frame with a bad checksum; not forwarded", 1000));
    }
    {  // Sixteen clients at most: the seventeenth is closed and logged.
        std::this_thread::sleep_for(milliseconds(300));  // the clients above have left
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < server::ShareServer::kMaxClients; ++i)
            clients.push_back(std::make_unique<RawClient>(port));
        clients.back()->Send(status);
        EXPECT_TRUE(clients.back()->Read(2000).has_value());
        RawClient extra(port);
        EXPECT_TRUE(extra.ClosedWithin(2000));
        EXPECT_TRUE(service->WaitForErr("refused: 16 clients are connected already", 1000));
    }
    {  // The processor killed and back: clients stay, get no answer meanwhile, and are served
       // again without reconnecting; a question of the outage is never sent later.
        RawClient c(port);
        c.Send(status);
        ASSERT_TRUE(c.Read(2000).has_value());
        sim.reset();
        ASSERT_TRUE(service->WaitForErr("device lost", 8000)) << service->Err();
        c.Send(devlink::TextKeyQuery(1));
        EXPECT_FALSE(c.Read(1500).has_value());
        RawClient late(port);
        late.Send(status);
        EXPECT_FALSE(late.Read(500).has_value());
        EXPECT_FALSE(late.ClosedWithin(100));
        sim = std::make_unique<testutil::SimProcess>(
            std::vector<std::string>{"--tcp", std::to_string(simPort)});
        ASSERT_TRUE(sim->Started());
        ASSERT_TRUE(service->WaitForErr("device back", 10000)) << service->Err();
        c.Send(status);
        EXPECT_TRUE(c.Read(3000).has_value());
        late.Send(status);
        EXPECT_TRUE(late.Read(3000).has_value());
        EXPECT_EQ(sim->Output().find("fe 06"), std::string::npos) << sim->Output();
    }
    EXPECT_EQ(service->Signal(SIGTERM, 3000), 0) << service->Err();
    const std::string log = service->Err();
    EXPECT_NE(log.find("left"), std::string::npos);
}

// Who may connect: loopback always, others only inside a --share-allow network; an address
// other than loopback needs the list.
TEST(ShareSettings, AddressesAndAllowLists) {
    const std::vector<std::string> allow = {"192.168.10.0/24", "10.1.2.3", "fd00::/8"};
    struct Case {
        const char* address;
        bool allowed;
    } cases[] = {
        {"127.0.0.1", true},     {"::1", true},      {"192.168.10.77", true},
        {"192.168.11.1", false}, {"10.1.2.3", true}, {"10.1.2.4", false},
        {"fd12::5", true},       {"fe80::1", false}, {"::ffff:192.168.10.9", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(server::AddressAllowed(c.address, allow), c.allowed) << c.address;
    EXPECT_FALSE(server::AddressAllowed("192.168.10.77", {}));

    std::string host, error;
    int port = 0;
    EXPECT_TRUE(server::ParseShareAddress("[::1]:5001", host, port, error));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 5001);
    for (const char* bad : {"127.0.0.1", "localhost:5001", "127.0.0.1:70000", "[::1]5001"})
        EXPECT_FALSE(server::ParseShareAddress(bad, host, port, error)) << bad;
    EXPECT_FALSE(server::CheckShareSettings({"0.0.0.0", 5001, {}}, error));
    EXPECT_NE(error.find("--share-allow"), std::string::npos);
    EXPECT_TRUE(server::CheckShareSettings({"0.0.0.0", 5001, {"192.168.10.0/24"}}, error));
    EXPECT_FALSE(server::CheckShareSettings({"0.0.0.0", 5001, {"192.168.10.0/33"}}, error));
}

}  // namespace
