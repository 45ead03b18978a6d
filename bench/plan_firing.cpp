// Delay from a plan's moment to its switch frame at the processor. Runs the window offscreen
// against orn312-sim with N day plans (default 5) 8 s apart, starts the scheduler, and reads the
// arrival of each 00 00 SS frame from the simulator's log. Prints every plan, the median and the
// worst delay after the plan's time.
//   plan_firing [N]
#include <QAbstractButton>
#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "BenchUtil.h"
#include "TestUtil.h"
#include "device/ControlIds.h"
#include "app/MainDlg.h"

int main(int argc, char** argv) {
    const int plans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    constexpr int kApartS = 8;  // more than the 5 s pause after each switch
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto dir = std::filesystem::temp_directory_path() / "orn312-plan-bench";
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "sim.log").string();
    testutil::SimProcess sim({"--tcp", "0", "--log", log});
    if (!sim.Started()) {
        std::fprintf(stderr, "plan_firing: the simulator did not start\n");
        return 1;
    }
    // Plans from 6 s on, whole seconds, alternating HDMI (4) and DVI (5).
    const time_t first = ::time(nullptr) + 6;
    std::vector<int64_t> moments;
    std::ofstream ini(dir / "Planinfo.ini");
    ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << sim.tcpPort
        << "\nConnectFlag=1\nStartTimerFlag=0\nDeviceID=1\n[PLANCOUNT]\ndaytimecount=" << plans
        << "\n[DAYTIME]\n";
    for (int i = 0; i < plans; ++i) {
        const time_t at = first + i * kApartS;
        struct tm t {};
        localtime_r(&at, &t);
        char line[64];
        std::snprintf(line, sizeof line, "Time%d=%2d:%2d:%2d,%d\n", i, t.tm_hour, t.tm_min,
                      t.tm_sec, 4 + i % 2);
        ini << line;
        moments.push_back(((t.tm_hour * 60 + t.tm_min) * 60 + t.tm_sec) * 1000LL);
    }
    ini.close();

    CORN302ControlDlg dlg;
    dlg.m_profilePath = (dir / "Planinfo.ini").string();
    dlg.OnInitDialog();
    bench::Pump(300);
    if (!dlg.m_conn.m_bConnected) {
        std::fprintf(stderr, "plan_firing: not connected\n");
        return 1;
    }
    dlg.ControlAs<QAbstractButton>(ids::kStart)->click();
    std::vector<int64_t> delays;
    for (int i = 0; i < plans; ++i) {
        const std::string frame = i % 2 == 0 ? "<- 05 01 00 00 04" : "<- 05 01 00 00 05";
        int64_t arrived = -1;
        while (!bench::ArrivalOf(log, frame, i / 2, arrived)) {
            if (bench::LocalMsOfDay() > moments[static_cast<size_t>(i)] + 10000)
                break;
            bench::Pump(20);
        }
        if (arrived < 0) {
            std::fprintf(stderr, "plan %d: no switch within 10 s of its time\n", i + 1);
            return 1;
        }
        const int64_t delay = arrived - moments[static_cast<size_t>(i)];
        delays.push_back(delay);
        std::printf("plan %d: %lld ms after its time\n", i + 1, static_cast<long long>(delay));
    }
    dlg.ControlAs<QAbstractButton>(ids::kStop)->click();
    std::sort(delays.begin(), delays.end());
    std::printf("plans: %d  median: %lld ms  worst: %lld ms\n", plans,
                static_cast<long long>(delays[delays.size() / 2]),
                static_cast<long long>(delays.back()));
    dlg.m_conn.Disconnect();
    return 0;
}
