// The window's start with a plan file that is not one (50 MB of random bytes as Planinfo.ini)
// against its start with no plan file: from the window's construction through its start-up
// sequence to its first paint, offscreen. Runs each N times (default 7), alternating, and prints
// the medians and their ratio.
//   plan_file_start [N]
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "FakeUi.h"
#include "app/MainDlg.h"

namespace fs = std::filesystem;

namespace {

double StartMs(const std::string& ini) {
    QElapsedTimer clock;
    clock.start();
    CORN302ControlDlg window;
    window.m_profilePath = ini;
    window.OnInitDialog();
    window.show();
    QCoreApplication::processEvents();
    const double took = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    window.hide();
    return took;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testutil::FakeUi ui;  // a message box would be answered, not waited for

    const fs::path dir =
        fs::temp_directory_path() / ("plan_file_start-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path none = dir / "none" / "Planinfo.ini";
    const fs::path random = dir / "random" / "Planinfo.ini";
    fs::create_directories(none.parent_path());
    fs::create_directories(random.parent_path());
    {
        std::mt19937_64 gen(312);
        std::vector<uint64_t> block(1 << 17);  // 1 MiB
        std::ofstream out(random, std::ios::binary);
        for (int mb = 0; mb < 50; ++mb) {
            for (auto& w : block)
                w = gen();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * sizeof block[0]));
        }
    }
    StartMs(none.string());  // the first window pays for fonts and styles
    std::vector<double> withNone, withRandom;
    for (int i = 0; i < runs; ++i) {
        withNone.push_back(StartMs(none.string()));
        withRandom.push_back(StartMs(random.string()));
        std::printf("run %d: no file %.1f ms, 50 MB of random bytes %.1f ms\n", i + 1,
                    withNone.back(), withRandom.back());
        std::fflush(stdout);
    }
    const double a = Median(withNone), b = Median(withRandom);
    std::printf("median: no file %.1f ms, 50 MB random %.1f ms, ratio %.3f (target <= 1.2)\n", a, b,
                b / a);
    fs::remove_all(dir);
    return 0;
}
