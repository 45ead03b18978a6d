// orn312-scheduler, the service without a window, run as a program against the simulator. Plans
// are set a few seconds ahead of the real clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "TestUtil.h"
#include "link/Replies.h"
#include "link/SerialPort.h"
#include "platform/ProfileFile.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(testing::TempDir()) /
              ("orn312-service-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        service.reset();
        fs::remove_all(dir);
    }

    // The moment `seconds` from now, whole; false when today ends before it.
    static bool In(int seconds, time_t& at) {
        const time_t now = ::time(nullptr);
        at = now + seconds;
        struct tm a {
        }, b{};
        localtime_r(&now, &a);
        localtime_r(&at, &b);
        return a.tm_mday == b.tm_mday && b.tm_hour * 3600 + b.tm_min * 60 + b.tm_sec < 86395;
    }
    // The time of day of at as the plan file holds it (" 9: 5: 0") or as the log gives it.
    static std::string PlanClock(time_t at) { return Clock(at, "%2d:%2d:%2d"); }
    static std::string LogClock(time_t at) { return Clock(at, "%02d:%02d:%02d"); }
    static std::string Clock(time_t at, const char* format) {
        struct tm t {};
        localtime_r(&at, &t);
        char text[16];
        std::snprintf(text, sizeof text, format, t.tm_hour, t.tm_min, t.tm_sec);
        return text;
    }

    // A plan file whose [CONNECT] points at port, with day plans (moment, source).
    void WritePlans(int port, const std::vector<std::pair<time_t, int>>& plans, int id = 1) {
        std::ofstream ini(dir / "Planinfo.ini", std::ios::binary);
        ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << port
            << "\nConnectFlag=0\nDeviceID=" << id << "\n[PLANCOUNT]\ndaytimecount=" << plans.size()
            << "\n[DAYTIME]\n";
        for (size_t i = 0; i < plans.size(); ++i)
            ini << "Time" << i << "=" << PlanClock(plans[i].first) << "," << plans[i].second
                << "\n";
    }
    void Start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), ORN312_SCHEDULER_PATH);
        service = std::make_unique<testutil::ChildProcess>(args, dir.string());
    }
    // Sends SIGTERM and expects the service gone within a second, with exit code 0.
    void Terminate() {
        const auto start = steady_clock::now();
        EXPECT_EQ(service->Signal(SIGTERM, 3000), 0) << service->Err();
        EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
        EXPECT_NE(service->Err().find(" stopped\n"), std::string::npos) << service->Err();
    }

    fs::path dir;
    std::unique_ptr<testutil::ChildProcess> service;
};

// Every line of the log starts with a time stamp "YYYY-MM-DD hh:mm:ss.mmm ".
void ExpectStampedLines(const std::string& log) {
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        int y, mo, d, h, mi, s, ms;
        EXPECT_EQ(std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d ", &y, &mo, &d, &h, &mi,
                              &s, &ms),
                  7)
            << line;
    }
}

}  // namespace

TEST_F(Service, RunsADayPlanWithTheRightFrameAndNoWindowLibrary) {
    time_t at;
    if (!In(3, at))
        GTEST_SKIP() << "too close to midnight";
    testutil::SimProcess sim({"--tcp", "0", "--id", "3"});
    ASSERT_TRUE(sim.Started());
    WritePlans(sim.tcpPort, {{at, 4}}, 3);
    const std::string before = ReadAll(dir / "Planinfo.ini");
    struct stat was {};
    ::stat((dir / "Planinfo.ini").c_str(), &was);
    Start();

    ASSERT_TRUE(service->WaitForErr("connected: network 127.0.0.1:", 5000)) << service->Err();
    EXPECT_TRUE(sim.WaitForOutput("<- 05 03 fe fe", 100));  // the handshake came first
    // The window's switch for device 3 to HDMI with a cut, within the plan's window.
    const std::string frame = "<- 05 03 00 00 04 00 00 00 00 00 00 00 02";
    ASSERT_TRUE(sim.WaitForOutput(frame, 10000)) << service->Err();
    const std::string out = sim.Output();
    const std::string arrived = out.substr(out.rfind('\n', out.find(frame)) + 1, 8);
    EXPECT_GE(arrived, LogClock(at));
    EXPECT_LE(arrived, LogClock(at + 5));
    EXPECT_TRUE(service->WaitForErr("switch to HDMI sent (plan " + LogClock(at) + ")\n", 2000))
        << service->Err();

    // No display library is loaded, and none is needed.
    const std::string maps = ReadAll("/proc/" + std::to_string(service->pid()) + "/maps");
    EXPECT_NE(maps.find("libstdc++"), std::string::npos);
    EXPECT_EQ(maps.find("libQt"), std::string::npos);
    EXPECT_EQ(maps.find("libX11"), std::string::npos);

    // SIGTERM in the pause after the switch ends it at once.
    Terminate();
    EXPECT_EQ(testutil::Count(sim.Output(), "<- 05 03 00 00"), 1);
    ExpectStampedLines(service->Err());
    // The plan file is read, never written.
    struct stat is {};
    ::stat((dir / "Planinfo.ini").c_str(), &is);
    EXPECT_EQ(ReadAll(dir / "Planinfo.ini"), before);
    EXPECT_EQ(is.st_ino, was.st_ino);
    EXPECT_EQ(is.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
}

// The processor is switched off right after the first plan and on again: one line for the loss,
// the connection comes back by itself and the second plan goes out to the new device.
TEST_F(Service, ADeviceKilledAndRestartedBetweenTwoPlans) {
    time_t first, second;
    if (!In(3, first) || !In(12, second))
        GTEST_SKIP() << "too close to midnight";
    auto sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
    ASSERT_TRUE(sim->Started());
    const int port = sim->tcpPort;
    WritePlans(port, {{first, 4}, {second, 5}});
    Start();
    ASSERT_TRUE(sim->WaitForOutput("<- 05 01 00 00 04", 10000)) << service->Err();
    sim.reset();  // SIGTERM: the simulator closes its connections and ends
    sim = std::make_unique<testutil::SimProcess>(
        std::vector<std::string>{"--tcp", std::to_string(port)});
    ASSERT_TRUE(sim->Started());

    EXPECT_TRUE(service->WaitForErr("device back: network 127.0.0.1:", 10000)) << service->Err();
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 fe fe", 100));
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 00 00 05", 12000)) << service->Err();
    EXPECT_TRUE(service->WaitForErr("switch to DVI sent (plan " + LogClock(second) + ")", 2000));
    const std::string log = service->Err();
    EXPECT_EQ(testutil::Count(log, "device lost"), 1) << log;
    EXPECT_NE(log.find("device lost: it closed the connection; reconnecting\n"), std::string::npos)
        << log;
    EXPECT_EQ(testutil::Count(log, "missed"), 0) << log;
    Terminate();
}

// A plan due while the device is away is told as missed once its window has passed, and never
// sent afterwards; the plan after it goes out when the device is back.
TEST_F(Service, APlanDueWhileTheDeviceIsAwayIsMissedNotSentLate) {
    time_t first, second;
    if (!In(2, first) || !In(16, second))
        GTEST_SKIP() << "too close to midnight";
    testutil::Listener placeholder;  // holds a free port for the device to come up on
    const int port = placeholder.port;
    ::close(placeholder.fd);
    placeholder.fd = -1;
    WritePlans(port, {{first, 4}, {second, 5}});
    Start();
    ASSERT_TRUE(service->WaitForErr("cannot connect (network 127.0.0.1:" + std::to_string(port) +
                                        ", device ID 1): Open network failed: Connection refused",
                                    5000))
        << service->Err();
    ASSERT_TRUE(service->WaitForErr(
        "plan " + LogClock(first) + " HDMI missed: the device was not connected", 10000))
        << service->Err();
    testutil::SimProcess sim({"--tcp", std::to_string(port)});
    ASSERT_TRUE(sim.Started());
    EXPECT_TRUE(service->WaitForErr("connected: network", 10000)) << service->Err();
    EXPECT_TRUE(sim.WaitForOutput("<- 05 01 00 00 05", 12000)) << service->Err();
    EXPECT_EQ(testutil::Count(sim.Output(), "<- 05 01 00 00 04"), 0);
    EXPECT_EQ(testutil::Count(service->Err(), "cannot connect"), 1) << service->Err();
    Terminate();
}

// The window's plan editor rewrites the file while the service runs: the next plan follows the
// file as it is now.
TEST_F(Service, PicksUpAnEditOfThePlanFile) {
    time_t at;
    if (!In(6, at))
        GTEST_SKIP() << "too close to midnight";
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    WritePlans(sim.tcpPort, {{at, 5}});
    Start();
    ASSERT_TRUE(service->WaitForErr("plans due today: 1, the first " + LogClock(at) + " DVI", 3000))
        << service->Err();
    // As the plan editor writes: key by key, each write replacing the file.
    const std::string path = (dir / "Planinfo.ini").string();
    platform::WriteProfileString(path, "DAYTIME", "Time0", (PlanClock(at) + ",6").c_str());
    EXPECT_TRUE(service->WaitForErr("plan file changed; reading the plans again", 3000));
    EXPECT_TRUE(service->WaitForErr("plans due today: 1, the first " + LogClock(at) + " DP", 2000))
        << service->Err();
    EXPECT_TRUE(sim.WaitForOutput("<- 05 01 00 00 06", 10000)) << service->Err();
    EXPECT_EQ(testutil::Count(sim.Output(), "<- 05 01 00 00 05"), 0);
    Terminate();
}

// SIGTERM ends the service within a second wherever it is: waiting for the handshake of a device
// that does not answer, or idle between plans.
TEST_F(Service, SigtermEndsItAtOnce) {
    testutil::Listener silent;  // accepts the connection, never answers the handshake
    WritePlans(silent.port, {});
    Start();
    ASSERT_TRUE(service->WaitForErr("plans due today: none", 3000)) << service->Err();
    std::this_thread::sleep_for(milliseconds(500));
    Terminate();

    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    WritePlans(sim.tcpPort, {});
    Start();
    ASSERT_TRUE(service->WaitForErr("connected: ", 3000)) << service->Err();
    Terminate();
}

// SIGHUP reads the plan file and its [CONNECT] keys again, says so in one line, connects to a
// device whose settings changed, and never ends the service.
TEST_F(Service, SighupReadsThePlanFileAndTheDeviceAgain) {
    testutil::SimProcess first({"--tcp", "0"});
    testutil::SimProcess second({"--tcp", "0"});
    ASSERT_TRUE(first.Started() && second.Started());
    WritePlans(first.tcpPort, {});
    Start();
    ASSERT_TRUE(
        service->WaitForErr("connected: network 127.0.0.1:" + std::to_string(first.tcpPort), 3000))
        << service->Err();

    ASSERT_EQ(::kill(service->pid(), SIGHUP), 0);
    EXPECT_TRUE(service->WaitForErr(
        "SIGHUP: plan file read again; the device settings are unchanged\n", 3000))
        << service->Err();

    WritePlans(second.tcpPort, {}, 1);
    ASSERT_EQ(::kill(service->pid(), SIGHUP), 0);
    const std::string now = "network 127.0.0.1:" + std::to_string(second.tcpPort) + ", device ID 1";
    EXPECT_TRUE(service->WaitForErr(
        "SIGHUP: plan file read again; the device is now " + now + ": connecting to it\n", 3000))
        << service->Err();
    EXPECT_TRUE(service->WaitForErr("connected: " + now, 5000)) << service->Err();
    EXPECT_TRUE(second.WaitForOutput("(identify)", 3000) || second.WaitForOutput("fe fe", 100))
        << second.Output();
    EXPECT_EQ(testutil::Count(service->Err(), "SIGHUP"), 2) << service->Err();
    Terminate();
}

// A serial line another program holds (this one, as root): the service says the line is in use.
TEST_F(Service, SerialLineInUseIsSaid) {
    testutil::PtyPair pty;
    devlink::CSerialPort holder;
    ASSERT_EQ(holder.Open(pty.slavePath), 1);
    {
        std::ofstream ini(dir / "Planinfo.ini", std::ios::binary);
        ini << "[CONNECT]\nSerialTcp=1\nComPort=" << pty.slavePath << "\nDeviceID=1\n";
    }
    Start();
    EXPECT_TRUE(service->WaitForErr("cannot connect (serial " + pty.slavePath +
                                        ", device ID 1): the serial line is in use by another "
                                        "program; trying again",
                                    3000))
        << service->Err();
    Terminate();
}

TEST_F(Service, BadCommandLineOrSettingsEndItWithOneLine) {
    std::ofstream(dir / "serial.ini") << "[CONNECT]\nSerialTcp=1\nComPort=/dev/no-such-tty\n";
    std::ofstream(dir / "noaddress.ini") << "[CONNECT]\nSerialTcp=0\nPort=5000\n";
    std::ofstream(dir / "badport.ini") << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=70000\n";
    std::ofstream(dir / "badcom.ini") << "[CONNECT]\nSerialTcp=1\nComPort=COM0\n";
    std::ofstream(dir / "noconnect.ini") << "[PLANCOUNT]\nDAY=0\n";
    fs::create_directory(dir / "folder");
    // Files that are no plan files: large, or not text. Neither is read, and neither changes.
    std::string large = "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=5000\n";
    large += std::string(platform::kMaxProfileBytes, ';');
    std::ofstream(dir / "large.ini", std::ios::binary) << large;
    const std::string binary = std::string("[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=5000\n") +
                               std::string("\0\x01\xff\xfe", 4);
    std::ofstream(dir / "binary.ini", std::ios::binary) << binary;
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    } cases[] = {
        {{"--frobnicate"}, 2, "unexpected argument --frobnicate"},
        {{"a.ini", "b.ini"}, 2, "unexpected argument b.ini"},
        {{"missing.ini"}, 1, "cannot read the plan file missing.ini"},
        {{}, 1, "cannot read the plan file ./Planinfo.ini"},
        {{"noaddress.ini"}, 1, "has no device address"},
        {{"badport.ini"}, 1, "has no device port 0..65535 (Port=70000)"},
        {{"badcom.ini"}, 1, "names no serial port (ComPort=COM0)"},
        {{"folder"}, 1, "the plan file folder is a folder"},
        {{"noconnect.ini"}, 1, "the plan file noconnect.ini has no [CONNECT] section"},
        {{"--share", "192.168.0.5:5001"}, 2, "not a loopback address; name the clients"},
        {{"--share", "localhost:5001"}, 2, "localhost is not an IP address"},
        {{"--share", "127.0.0.1"}, 2, "give ADDRESS:PORT"},
        {{"--share"}, 2, "--share takes a value"},
        {{"--share-allow", "10.0.0.0/8"}, 2, "--share-allow needs --share"},
        {{"--share", "0.0.0.0:5001", "--share-allow", "10.0.0.0/33"}, 2, "prefix length"},
        {{"-v", "large.ini"},
         1,
         "the plan file large.ini is not a plan file: it is larger than 1 MB"},
        {{"--trace", "binary.ini"},
         1,
         "the plan file binary.ini is not a plan file: it is not text"},
        {{"-v", "a.ini", "b.ini"}, 2, "unexpected argument b.ini"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), fs::absolute(ORN312_SCHEDULER_PATH).string());
        const std::string cwd = fs::current_path();
        fs::current_path(dir);
        const testutil::RunResult r = testutil::Run(args, 5000);
        fs::current_path(cwd);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.says;
        EXPECT_EQ(testutil::Count(r.err, "\n"), 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadAll(dir / "large.ini"), large);
    EXPECT_EQ(ReadAll(dir / "binary.ini"), binary);

    // A serial port that cannot be opened is retried, not fatal.
    Start({"serial.ini"});
    EXPECT_TRUE(service->WaitForErr(
        "cannot connect (serial /dev/no-such-tty, device ID 1): Open com port fail", 3000))
        << service->Err();
    Terminate();
}

// Connected and idle, the service wakes only for the status poll: it runs no blink thread (it has
// no lamps), its command worker and its supervisor sleep until there is work, and the plan file
// is watched by the kernel rather than looked at.
TEST_F(Service, ConnectedAndIdleOnlyThePollWakes) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    WritePlans(sim.tcpPort, {});
    Start();
    ASSERT_TRUE(service->WaitForErr("connected: ", 5000)) << service->Err();
    std::this_thread::sleep_for(milliseconds(300));
    const auto before = testutil::WakeUpsByThread(service->pid());
    EXPECT_EQ(before.count("blink"), 0u);
    ASSERT_EQ(before.count("supervisor"), 1u);
    ASSERT_EQ(before.count("command"), 1u);
    std::this_thread::sleep_for(milliseconds(2500));
    const auto after = testutil::WakeUpsByThread(service->pid());
    EXPECT_EQ(after.at("supervisor") - before.at("supervisor"), 0);
    EXPECT_EQ(after.at("command") - before.at("command"), 0);
    EXPECT_GT(after.at("poll") - before.at("poll"), 0);

    // A change of the plan file still wakes it at once, not at its slow look (30 s).
    const std::string path = (dir / "Planinfo.ini").string();
    platform::WriteProfileString(path, "DAYTIME", "Time0", "23:59:59,4");
    platform::WriteProfileString(path, "PLANCOUNT", "daytimecount", "1");
    EXPECT_TRUE(service->WaitForErr("plan file changed; reading the plans again", 3000))
        << service->Err();
    Terminate();
}

// A device that answers the identification, then sends garbage as fast as the line takes it:
// the service's standard output gets one summary line at most once a second, not a line per read.
TEST_F(Service, AFloodOnTheLineIsSummedUpOnceASecond) {
    testutil::Listener listener;
    std::atomic<int64_t> sent{0};
    std::thread device([&] {
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
        const devlink::Frame ident = devlink::IdentifyReply(1);
        ::send(peer, ident.data(), ident.size(), MSG_NOSIGNAL);
        std::vector<uint8_t> garbage(4096);
        for (size_t i = 0; i < garbage.size(); ++i)
            garbage[i] = static_cast<uint8_t>(i * 37 + 11);
        const auto end = steady_clock::now() + milliseconds(4000);
        while (steady_clock::now() < end) {
            const ssize_t n = ::send(peer, garbage.data(), garbage.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(peer);
    });
    WritePlans(listener.port, {});
    const testutil::RunResult r =
        testutil::Run({ORN312_SCHEDULER_PATH, (dir / "Planinfo.ini").string()}, 4500);
    device.join();
    EXPECT_NE(r.err.find("connected: network 127.0.0.1"), std::string::npos) << r.err;
    EXPECT_GT(sent, 1'000'000);
    const std::regex summary(
        R"(\d\d:\d\d:\d\d-\d\d\d discarded \d{1,3}(,\d\d\d)* bytes? in the last (second|\d+ seconds))");
    std::istringstream lines(r.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(std::regex_match(line, summary)) << line;
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 6) << r.out;
}
