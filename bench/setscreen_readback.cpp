// The screen settings dialog's readback against orn312-sim: how long the UI thread stalls while
// it runs (the largest lateness of a 5 ms timer on the UI thread), and how long the readback
// takes against the pauses and time limits it is given. Three devices: answering at once, slow
// (every reply 300 ms late) and silent. Runs each N times (default 5) and prints the medians.
//   setscreen_readback [N]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "TestUtil.h"
#include "device/Connection.h"
#include "screen/SetScreen.h"

namespace {

struct Run {
    double readbackMs;
    double worstStallMs;
};

Run OneReadback(int port) {
    bench::QuietSink sink;
    app::Connection connection(sink);
    bench::OpenLoopback(connection, port);
    screen::OpeningValues values;
    values.connected = true;
    CSetScreen dialog(nullptr, values, connection);

    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 5);
        last = now;
    });
    clock.start();
    tick.start(5);
    dialog.show();
    while (dialog.Busy()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double took = static_cast<double>(clock.elapsed());
    tick.stop();
    connection.Shutdown();
    return {took, static_cast<double>(worst)};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // What the readback is given: five 200 ms pauses between its questions and the 200 ms pause
    // after each of its seven replies; a silent device costs the resolution's 5000 ms and the
    // colours' 15000 ms (the other questions are skipped without a resolution).
    struct Mode {
        const char* name;
        std::vector<std::string> fault;
        double prescribedMs;
    } modes[] = {
        {"answering", {}, 5 * 200 + 7 * 200},
        {"slow=300", {"--fault", "slow=300"}, 5 * 200 + 7 * (200 + 300)},
        {"silent", {"--fault", "silent"}, 5000 + 15000},
    };
    for (const Mode& m : modes) {
        std::vector<std::string> args = {"--tcp", "0", "--log", "/dev/null"};
        args.insert(args.end(), m.fault.begin(), m.fault.end());
        testutil::SimProcess sim(args);
        if (!sim.Started()) {
            std::fprintf(stderr, "setscreen_readback: the simulator did not start\n");
            return 1;
        }
        std::vector<double> ratios, stalls;
        for (int i = 0; i < runs; ++i) {
            const Run r = OneReadback(sim.tcpPort);
            ratios.push_back(r.readbackMs / m.prescribedMs);
            stalls.push_back(r.worstStallMs);
            std::printf(
                "%-9s run %d: readback %.0f ms (given %.0f ms, ratio %.3f), worst UI stall "
                "%.0f ms\n",
                m.name, i + 1, r.readbackMs, m.prescribedMs, r.readbackMs / m.prescribedMs,
                r.worstStallMs);
            std::fflush(stdout);
        }
        std::printf("%-9s median: ratio %.3f, worst UI stall %.0f ms\n", m.name, Median(ratios),
                    Median(stalls));
    }
    return 0;
}
