// orn312-scheduler --mqtt end to end: the service against the simulator and a Mosquitto of the
// test's own whose ACL confines the service to its base, with a dashboard reading and writing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "MqttBroker.h"
#include "TestUtil.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

const std::string kBase = "orn312/site-a";

class MqttService : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(testing::TempDir()) /
              ("orn312-mqtt-service-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        broker = std::make_unique<testutil::MqttBroker>(
            (dir / "broker").string(),
            std::vector<testutil::MqttBroker::User>{{"site-a", "site-a-secret", {kBase + "/#"}},
                                                    {"dashboard", "dash-secret", {"#"}}});
        ASSERT_TRUE(broker->Start()) << broker->Log();
        Watch();
    }
    void TearDown() override {
        service.reset();
        dashboard.reset();
        broker.reset();
        fs::remove_all(dir);
    }
    // A dashboard on the broker, reading everything under the base.
    void Watch() {
        dashboard =
            std::make_unique<testutil::MqttClient>(broker->port, "dashboard", "dash-secret");
        ASSERT_TRUE(dashboard->Connected());
        ASSERT_TRUE(dashboard->Subscribe(kBase + "/#"));
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
    static std::string Clock(time_t at, const char* format) {
        struct tm t {};
        localtime_r(&at, &t);
        char text[16];
        std::snprintf(text, sizeof text, format, t.tm_hour, t.tm_min, t.tm_sec);
        return text;
    }

    // The service on the simulator at port (a day plan to source at `at` when given), its MQTT
    // password set as an operator does.
    void Start(int port, time_t at = 0, int source = 0,
               const std::string& password = "site-a-secret") {
        std::ofstream ini(dir / "Planinfo.ini", std::ios::binary);
        ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << port << "\nDeviceID=1\n";
        if (at != 0)
            ini << "[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=" << Clock(at, "%2d:%2d:%2d")
                << "," << source << "\n";
        ini.close();
        const std::string auth = (dir / "auth.json").string();
        const auto set = testutil::Run({"/bin/sh", "-c",
                                        "printf '%s\\n' \"$0\" | \"$1\" --auth \"$2\" "
                                        "--set-mqtt-password",
                                        password, ORN312_SCHEDULER_PATH, auth},
                                       20000);
        ASSERT_EQ(set.exitCode, 0) << set.err;
        EXPECT_EQ(fs::status(auth).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        service = std::make_unique<testutil::ChildProcess>(
            std::vector<std::string>{ORN312_SCHEDULER_PATH, "--mqtt",
                                     "mqtt://127.0.0.1:" + std::to_string(broker->port),
                                     "--mqtt-base", kBase, "--mqtt-user", "site-a", "--auth", auth,
                                     "--mqtt-keepalive", "5"},
            dir.string());
    }
    bool Set(const std::string& payload) {
        return dashboard->Publish(kBase + "/set", payload, 1, false);
    }

    fs::path dir;
    std::unique_ptr<testutil::MqttBroker> broker;
    std::unique_ptr<testutil::MqttClient> dashboard;
    std::unique_ptr<testutil::ChildProcess> service;
};

}  // namespace

// Status and the retained state; a switch on BASE/set reaches the processor once, a repeat of its
// id is answered again and not sent; what cannot be used is logged and the service carries on;
// a processor that is away gets ok: false.
TEST_F(MqttService, SwitchesOncePerIdAndAnswersOnResult) {
    auto sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
    ASSERT_TRUE(sim->Started());
    Start(sim->tcpPort);
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/status", "online", 8000)) << service->Err();
    // Connected, and the processor's state read.
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/state", R"("link":"connected","main":")", 8000))
        << service->Err();

    ASSERT_TRUE(Set(R"({"id":"s1","switch":{"source":"HDMI"}})"));
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/result", R"({"id":"s1","ok":true})", 8000))
        << service->Err();
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 00 00 04 00", 100));  // a cut to HDMI
    ASSERT_TRUE(Set(R"({"id":"s1","switch":{"source":"HDMI"}})"));
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/result", R"({"id":"s1","ok":true})", 3000, 1));
    // The state follows the processor, and is kept by the broker for who comes later.
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/state", R"("main":"HDMI")", 5000));
    testutil::MqttClient later(broker->port, "dashboard", "dash-secret");
    ASSERT_TRUE(later.Subscribe(kBase + "/state"));
    const auto state = later.WaitFor(kBase + "/state", R"("main":"HDMI")", 2000);
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->retain);

    ASSERT_TRUE(Set("{\"id\":"));
    ASSERT_TRUE(Set(R"({"id":"big","pad":")" + std::string(1000000, 'x') + "\"}"));
    ASSERT_TRUE(Set(R"({"id":"s2","switch":{"source":"HDMI","transition":"2.0"}})"));
    EXPECT_TRUE(
        dashboard->WaitFor(kBase + "/result", R"("error":"unknown transition \"2.0\")", 3000));
    EXPECT_TRUE(service->WaitForErr(
        "MQTT: a message on " + kBase + "/set that is no JSON object, not carried out", 1000))
        << service->Err();
    EXPECT_EQ(testutil::Count(sim->Output(), "<- 05 01 00 00"), 1);

    // The API's other commands the same way; one command a message.
    ASSERT_TRUE(Set(R"({"id":"f1","overlay":{"name":"FREEZE","on":true}})"));
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/result", R"({"id":"f1","ok":true})", 8000));
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 29 01", 100));
    ASSERT_TRUE(Set(R"({"id":"t1","timer":{"run":false}})"));
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/result", R"({"id":"t1","ok":true})", 5000));
    ASSERT_TRUE(Set(R"({"id":"x1","switch":{"source":"DP"},"take":{}})"));
    EXPECT_TRUE(dashboard->WaitFor(
        kBase + "/result",
        R"("error":"give one command: switch, pre, take, overlay, mode or timer","id":"x1","ok":false)",
        3000));

    sim.reset();
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/state", R"("link":"lost")", 8000)) << service->Err();
    ASSERT_TRUE(Set(R"({"id":"s3","switch":{"source":"DVI"}})"));
    EXPECT_TRUE(dashboard->WaitFor(
        kBase + "/result", R"({"error":"the processor is not connected","id":"s3","ok":false})",
        3000));
    EXPECT_EQ(service->Signal(SIGTERM, 3000), 0);
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/status", "offline", 2000));
}

// The broker says "offline" for the service: within 1.5 x the keepalive of a hung service, which
// connects again once it runs and says "online"; at once after kill -9.
TEST_F(MqttService, TheLastWillAfterAHangAndACrash) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    Start(sim.tcpPort);
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/status", "online", 8000)) << service->Err();

    ASSERT_EQ(::kill(service->pid(), SIGSTOP), 0);
    const auto hung = steady_clock::now();
    // Mosquitto looks at its clients' keepalive about once a few seconds: a bound with room.
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/status", "offline", 15000)) << broker->Log();
    EXPECT_LT(steady_clock::now() - hung, milliseconds(5 * 1500 + 5000));
    ASSERT_EQ(::kill(service->pid(), SIGCONT), 0);
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/status", "online", 8000, 1)) << service->Err();

    ASSERT_EQ(::kill(service->pid(), SIGKILL), 0);
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/status", "offline", 2000, 1));
}

// A wrong password: said at each attempt, and the plan still reaches the processor at its second.
TEST_F(MqttService, AWrongPasswordLeavesThePlansRunning) {
    time_t at;
    if (!In(4, at))
        GTEST_SKIP() << "too close to midnight";
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    Start(sim.tcpPort, at, 4, "wrong");
    EXPECT_TRUE(service->WaitForErr("MQTT: mqtt://127.0.0.1:" + std::to_string(broker->port) +
                                        " refused the connection as " + kBase + ", user site-a: ",
                                    5000, 2))
        << service->Err();
    ASSERT_TRUE(sim.WaitForOutput("<- 05 01 00 00 04", 8000)) << service->Err();
    EXPECT_TRUE(
        service->WaitForErr("switch to HDMI sent (plan " + Clock(at, "%02d:%02d:%02d"), 2000));
    EXPECT_FALSE(dashboard->WaitFor(kBase + "/status", "online", 100));
}

// The broker stops and starts again while the processor is lost and back and a plan is due: the
// plan reaches the processor at its second; then the status and the state as they are now are
// published, and what happened meanwhile is not told as events.
TEST_F(MqttService, ABrokerRestartWhileAPlanFires) {
    time_t at;
    if (!In(6, at))
        GTEST_SKIP() << "too close to midnight";
    auto sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
    ASSERT_TRUE(sim->Started());
    const int port = sim->tcpPort;
    Start(port, at, 4);
    ASSERT_TRUE(dashboard->WaitFor(kBase + "/status", "online", 5000)) << service->Err();
    dashboard.reset();
    broker->Stop();
    sim.reset();
    ASSERT_TRUE(service->WaitForErr("device lost: ", 5000)) << service->Err();
    sim = std::make_unique<testutil::SimProcess>(
        std::vector<std::string>{"--tcp", std::to_string(port)});
    ASSERT_TRUE(sim->Started());
    ASSERT_TRUE(service->WaitForErr("device back: ", 5000)) << service->Err();

    ASSERT_TRUE(sim->WaitForOutput("<- 05 01 00 00 04", 8000)) << service->Err();
    const std::string out = sim->Output();
    const size_t frame = out.find("<- 05 01 00 00 04");
    const std::string arrived = out.substr(out.rfind('\n', frame) + 1, 8);
    EXPECT_GE(arrived, Clock(at, "%02d:%02d:%02d"));
    EXPECT_LE(arrived, Clock(at + 2, "%02d:%02d:%02d"));  // room for a loaded machine
    EXPECT_EQ(testutil::Count(service->Err(), "MQTT: connection to mqtt://127.0.0.1:"), 1)
        << service->Err();

    ASSERT_TRUE(broker->Start());
    Watch();
    // The next attempt comes at most 4 s after the broker is back.
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/status", "online", 10000)) << service->Err();
    EXPECT_TRUE(dashboard->WaitFor(kBase + "/state", R"("main":"HDMI")", 5000)) << service->Err();
    EXPECT_EQ(dashboard->Count(kBase + "/event", "processor_"), 0);
}
