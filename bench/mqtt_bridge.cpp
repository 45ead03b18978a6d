// orn312-scheduler on an MQTT broker (a Mosquitto of the bench's own on loopback) against
// orn312-sim:
//  1. a switch published on BASE/set to its frame's arrival at the simulator: N switches (default
//     10), each after the previous one's pause, the median and the worst;
//  2. a change at the processor (its signal, from the simulator's console) to the retained state
//     on the broker: from the status reply that carried it to the state message at a client, R
//     changes (default 10), the median.
//   mqtt_bridge [N] [R]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "BenchLog.h"
#include "MqttBroker.h"
#include "TestUtil.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

const std::string kBase = "orn312/bench";

int64_t Median(std::vector<int64_t> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The time (ms of day) of the last frame the simulator sent at or before ms.
bool LastReplyBefore(const std::string& logPath, int64_t ms, int64_t& at) {
    std::ifstream in(logPath);
    std::string line;
    bool found = false;
    while (std::getline(in, line)) {
        int h, m, s, milli;
        if (line.find(" -> ") == std::string::npos ||
            std::sscanf(line.c_str(), "%d:%d:%d.%d", &h, &m, &s, &milli) != 4)
            continue;
        const int64_t t = ((h * 60 + m) * 60 + s) * 1000 + milli;
        if (t > ms)
            break;
        at = t;
        found = true;
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    const int switches = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int changes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const fs::path dir =
        fs::temp_directory_path() / ("orn312-mqtt-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    testutil::MqttBroker broker(
        (dir / "broker").string(),
        {{"bench", "bench-secret", {kBase + "/#"}}, {"dashboard", "dash-secret", {"#"}}});
    if (!broker.Start()) {
        std::fprintf(stderr, "mqtt_bridge: the broker did not start\n%s", broker.Log().c_str());
        return 1;
    }
    const std::string simLog = (dir / "sim.log").string();
    testutil::SimProcess sim({"--tcp", "0", "--log", simLog});
    if (!sim.Started()) {
        std::fprintf(stderr, "mqtt_bridge: the simulator did not start\n");
        return 1;
    }
    std::ofstream(dir / "Planinfo.ini")
        << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << sim.tcpPort << "\nDeviceID=1\n";
    const std::string auth = (dir / "auth.json").string();
    if (testutil::Run(
            {"/bin/sh", "-c", "echo bench-secret | \"$0\" --auth \"$1\" --set-mqtt-password",
             ORN312_SCHEDULER_PATH, auth},
            20000)
            .exitCode != 0) {
        std::fprintf(stderr, "mqtt_bridge: --set-mqtt-password failed\n");
        return 1;
    }
    testutil::ChildProcess service(
        {ORN312_SCHEDULER_PATH, "--mqtt", "mqtt://127.0.0.1:" + std::to_string(broker.port),
         "--mqtt-base", kBase, "--mqtt-user", "bench", "--auth", auth},
        dir.string());
    testutil::MqttClient dashboard(broker.port, "dashboard", "dash-secret");
    if (!dashboard.Subscribe(kBase + "/#") ||
        !dashboard.WaitFor(kBase + "/state", R"("link":"connected","main":")", 10000)) {
        std::fprintf(stderr, "mqtt_bridge: the service is not on the broker\n%s",
                     service.Err().c_str());
        return 1;
    }

    // 1. BASE/set to the frame at the processor.
    std::vector<int64_t> delays;
    for (int i = 0; i < switches; ++i) {
        const bool hdmi = i % 2 == 0;
        const std::string id = "b" + std::to_string(i);
        const int64_t sentAt = bench::LocalMsOfDay();
        dashboard.Publish(kBase + "/set", R"({"id":")" + id + R"(","switch":{"source":")" +
                                              (hdmi ? "HDMI" : "DP") + "\"}}");
        const auto result = dashboard.WaitFor(kBase + "/result", "\"" + id + "\"", 10000);
        // The simulator may write its log line a moment after the answer came.
        int64_t arrived = 0;
        const std::string frame = hdmi ? "<- 05 01 00 00 04" : "<- 05 01 00 00 06";
        bool logged = false;
        for (int tries = 0; tries < 100 && !logged; ++tries) {
            logged = bench::ArrivalOf(simLog, frame, i / 2, arrived);
            if (!logged)
                std::this_thread::sleep_for(milliseconds(20));
        }
        if (!result || result->payload.find("\"ok\":true") == std::string::npos || !logged) {
            std::fprintf(stderr, "mqtt_bridge: switch %d failed: %s\n%s", i,
                         result ? result->payload.c_str() : "no answer", service.Err().c_str());
            return 1;
        }
        delays.push_back(arrived - sentAt);
        std::printf("switch %2d: %lld ms\n", i, static_cast<long long>(arrived - sentAt));
        std::this_thread::sleep_for(milliseconds(3300));  // the switch's pause
    }

    // 2. A change at the processor to the retained state.
    std::vector<int64_t> tells;
    for (int i = 0; i < changes; ++i) {
        const bool off = i % 2 == 0;
        const std::string want = std::string(R"("DP":)") + (off ? "false" : "true");
        const int before = dashboard.Count(kBase + "/state", want);
        sim.Command(std::string("signal DP ") + (off ? "off" : "on"));
        const auto message = dashboard.WaitFor(kBase + "/state", want, 5000, before);
        const int64_t heard = bench::LocalMsOfDay();
        int64_t replied = 0;
        if (!message || !LastReplyBefore(simLog, heard, replied)) {
            std::fprintf(stderr, "mqtt_bridge: change %d not heard\n", i);
            return 1;
        }
        tells.push_back(heard - replied);
        std::printf("change %2d: %lld ms\n", i, static_cast<long long>(heard - replied));
        std::this_thread::sleep_for(milliseconds(300));
    }

    std::printf("set to frame on the wire: median %lld ms, worst %lld ms (%d switches)\n",
                static_cast<long long>(Median(delays)),
                static_cast<long long>(*std::max_element(delays.begin(), delays.end())), switches);
    std::printf("status reply to retained state at a client: median %lld ms (%d changes)\n",
                static_cast<long long>(Median(tells)), changes);
    service.Signal(SIGTERM, 3000);
    fs::remove_all(dir);
    return 0;
}
