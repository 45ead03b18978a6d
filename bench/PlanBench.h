// What the two plan-firing measurements share: a simulator that logs every frame, a plan file
// of day plans for it, and the wait for each plan's switch frame in the log. No Qt.
#pragma once

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchLog.h"
#include "TestUtil.h"

namespace bench {

struct PlanBench {
    std::filesystem::path dir;  // holds Planinfo.ini and the simulator's log
    std::string log;            // the simulator's frame log
    std::unique_ptr<testutil::SimProcess> sim;
    std::vector<int64_t> moments;  // each plan's time, ms of day
};

// Starts the simulator in a fresh folder of the temporary directory and writes its Planinfo.ini:
// [CONNECT] for the simulator over TCP with connectKeys added, then `plans` day plans from
// firstInS seconds on, gapS(i) seconds after plan i, alternating HDMI (4) and DVI (5). simArgs
// go to the simulator too. Prints a line and returns false when the simulator does not start.
inline bool StartPlanBench(const char* name, int plans, int firstInS,
                           const std::function<int(int i)>& gapS, const std::string& connectKeys,
                           PlanBench& b, const std::vector<std::string>& simArgs = {}) {
    b.dir = std::filesystem::temp_directory_path() / (std::string("orn312-") + name);
    std::filesystem::remove_all(b.dir);
    std::filesystem::create_directories(b.dir);
    b.log = (b.dir / "sim.log").string();
    std::vector<std::string> args = {"--tcp", "0", "--log", b.log};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    b.sim = std::make_unique<testutil::SimProcess>(args);
    if (!b.sim->Started()) {
        std::fprintf(stderr, "%s: the simulator did not start\n", name);
        return false;
    }
    std::ofstream ini(b.dir / "Planinfo.ini");
    ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << b.sim->tcpPort << "\n"
        << connectKeys << "DeviceID=1\n[PLANCOUNT]\ndaytimecount=" << plans << "\n[DAYTIME]\n";
    time_t at = ::time(nullptr) + firstInS;
    for (int i = 0; i < plans; ++i, at += gapS(i)) {
        struct tm t {};
        localtime_r(&at, &t);
        char line[64];
        std::snprintf(line, sizeof line, "Time%d=%2d:%2d:%2d,%d\n", i, t.tm_hour, t.tm_min,
                      t.tm_sec, 4 + i % 2);
        ini << line;
        b.moments.push_back(((t.tm_hour * 60 + t.tm_min) * 60 + t.tm_sec) * 1000LL);
    }
    return true;
}

// Waits for each plan's switch frame in the log (pump between looks), prints every plan's delay
// after its time, then the median and the worst. Returns 1 when a plan has no switch within 10 s
// of its time (with what failure() says), else 0.
inline int MeasurePlans(const PlanBench& b, const std::function<void()>& pump,
                        const std::function<std::string()>& failure) {
    std::vector<int64_t> delays;
    const int plans = static_cast<int>(b.moments.size());
    for (int i = 0; i < plans; ++i) {
        const std::string frame = i % 2 == 0 ? "<- 05 01 00 00 04" : "<- 05 01 00 00 05";
        const int64_t moment = b.moments[static_cast<size_t>(i)];
        int64_t arrived = -1;
        while (!ArrivalOf(b.log, frame, i / 2, arrived)) {
            if (LocalMsOfDay() > moment + 10000)
                break;
            pump();
        }
        if (arrived < 0) {
            std::fprintf(stderr, "plan %d: no switch within 10 s of its time\n%s", i + 1,
                         failure().c_str());
            return 1;
        }
        delays.push_back(arrived - moment);
        std::printf("plan %d: %lld ms after its time\n", i + 1,
                    static_cast<long long>(delays.back()));
    }
    std::sort(delays.begin(), delays.end());
    std::printf("plans: %d  median: %lld ms  worst: %lld ms\n", plans,
                static_cast<long long>(delays[delays.size() / 2]),
                static_cast<long long>(delays.back()));
    return 0;
}

}  // namespace bench
