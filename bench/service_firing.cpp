// Delay from a plan's moment to its switch frame at the processor, with orn312-scheduler, the
// service without a window. Runs the service against orn312-sim with N day plans (default 5) 7, 8
// or 9 s apart (so that the plans meet the status poll, about every 1.2 s, at varied points of
// its cycle) and reads the arrival of each 00 00 SS frame from the simulator's log. Prints every
// plan, the median and the worst delay after the plan's time.
//   service_firing [N]
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "BenchLog.h"
#include "TestUtil.h"

int main(int argc, char** argv) {
    const int plans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const auto dir = std::filesystem::temp_directory_path() / "orn312-service-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "sim.log").string();
    testutil::SimProcess sim({"--tcp", "0", "--log", log});
    if (!sim.Started()) {
        std::fprintf(stderr, "service_firing: the simulator did not start\n");
        return 1;
    }
    // Plans from 4 s on, whole seconds, alternating HDMI (4) and DVI (5).
    const time_t first = ::time(nullptr) + 4;
    std::vector<int64_t> moments;
    std::ofstream ini(dir / "Planinfo.ini");
    ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << sim.tcpPort
        << "\nDeviceID=1\n[PLANCOUNT]\ndaytimecount=" << plans << "\n[DAYTIME]\n";
    time_t at = first;
    for (int i = 0; i < plans; ++i, at += 7 + i % 3) {  // more than the 5 s pause after a switch
        struct tm t {};
        localtime_r(&at, &t);
        char line[64];
        std::snprintf(line, sizeof line, "Time%d=%2d:%2d:%2d,%d\n", i, t.tm_hour, t.tm_min,
                      t.tm_sec, 4 + i % 2);
        ini << line;
        moments.push_back(((t.tm_hour * 60 + t.tm_min) * 60 + t.tm_sec) * 1000LL);
    }
    ini.close();

    testutil::ChildProcess service({ORN312_SCHEDULER_PATH}, dir.string());
    if (!service.WaitForErr("connected: ", 5000)) {
        std::fprintf(stderr, "service_firing: not connected\n%s", service.Err().c_str());
        return 1;
    }
    std::vector<int64_t> delays;
    for (int i = 0; i < plans; ++i) {
        const std::string frame = i % 2 == 0 ? "<- 05 01 00 00 04" : "<- 05 01 00 00 05";
        int64_t arrived = -1;
        while (!bench::ArrivalOf(log, frame, i / 2, arrived)) {
            if (bench::LocalMsOfDay() > moments[static_cast<size_t>(i)] + 10000)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (arrived < 0) {
            std::fprintf(stderr, "plan %d: no switch within 10 s of its time\n%s", i + 1,
                         service.Err().c_str());
            return 1;
        }
        const int64_t delay = arrived - moments[static_cast<size_t>(i)];
        delays.push_back(delay);
        std::printf("plan %d: %lld ms after its time\n", i + 1, static_cast<long long>(delay));
    }
    service.Signal(SIGTERM, 2000);
    std::sort(delays.begin(), delays.end());
    std::printf("plans: %d  median: %lld ms  worst: %lld ms\n", plans,
                static_cast<long long>(delays[delays.size() / 2]),
                static_cast<long long>(delays.back()));
    return 0;
}
