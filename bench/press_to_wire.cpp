// Time from a button press in the main window to the first byte of its frame at the processor.
// Runs the window offscreen against orn312-sim, presses "HDMI" and "V1" in turn N times (default
// 30) at random moments of the poll and flash cycle, and reads the arrival time of each switch
// frame from the simulator's log. Prints every press, the median and the worst.
//   press_to_wire [N]
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "TestUtil.h"
#include "resources/ControlIds.h"
#include "app/MainDlg.h"

using bench::ArrivalOf;
using bench::LocalMsOfDay;
using bench::Pump;

int main(int argc, char** argv) {
    const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto dir = std::filesystem::temp_directory_path() / "orn312-press-bench";
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "sim.log").string();
    testutil::SimProcess sim({"--tcp", "0", "--log", log});
    if (!sim.Started()) {
        std::fprintf(stderr, "press_to_wire: the simulator did not start\n");
        return 1;
    }
    CORN302ControlDlg dlg;
    dlg.m_profilePath = (dir / "Planinfo.ini").string();
    dlg.OnInitDialog();
    dlg.ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
    dlg.ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
    dlg.ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(sim.tcpPort));
    dlg.ControlAs<QAbstractButton>(ids::kConnect)->click();
    Pump(1500);
    if (!dlg.m_conn.m_bConnected) {
        std::fprintf(stderr, "press_to_wire: not connected\n");
        return 1;
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> jitter(0, 1500);
    std::vector<int64_t> delays;
    int hdmi = 0, v1 = 0;
    for (int i = 0; i < presses; ++i) {
        Pump(jitter(random));  // land anywhere in the poll and flash cycle
        const bool toHdmi = i % 2 == 0;
        const int64_t pressed = LocalMsOfDay();
        dlg.ControlAs<QAbstractButton>(toHdmi ? ids::kHdmi : ids::kV1)->click();
        const std::string frame = toHdmi ? "<- 05 01 00 00 04" : "<- 05 01 00 00 00";
        const int n = toHdmi ? hdmi++ : v1++;
        int64_t arrived = -1;
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 5000 && !ArrivalOf(log, frame, n, arrived)) {
            Pump(5);
        }
        if (arrived < 0) {
            std::fprintf(stderr, "press %d: the frame never arrived\n", i + 1);
            return 1;
        }
        delays.push_back(arrived - pressed);
        std::printf("press %2d (%s): %lld ms\n", i + 1, toHdmi ? "HDMI" : "V1  ",
                    static_cast<long long>(arrived - pressed));
        // The command worker pauses 3 s after the switch and reads the state back; the switch
        // controls are disabled meanwhile (a press then does nothing, as for a person).
        QElapsedTimer busy;
        busy.start();
        while (dlg.Control(ids::kV1)->isEnabled() && busy.elapsed() < 1000)
            Pump(5);
        while (!dlg.Control(ids::kV1)->isEnabled())
            Pump(20);
    }
    std::vector<int64_t> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    std::printf("presses: %d  median: %lld ms  worst: %lld ms\n", presses,
                static_cast<long long>(sorted[sorted.size() / 2]),
                static_cast<long long>(sorted.back()));
    dlg.m_conn.Disconnect();
    return 0;
}
