// A day in the life of the controller, in a few real minutes: the main window (offscreen)
// connected to orn312-sim with the scheduler running 48 day plans, on a clock that runs SPEED
// times faster than the real one (a day in ten minutes at the default 144), so the plans fire
// and the status poll runs SPEED times as often. Every simulated hour it prints the resident
// memory, the threads and the open descriptors of the process; at the end the plans sent and
// the growth from the first simulated hour to the last.
//   soak [REAL_MINUTES] [SPEED]      (defaults 10 and 144)
#include <dirent.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "BenchUtil.h"
#include "TestUtil.h"
#include "resources/ControlIds.h"
#include "app/MainDlg.h"
#include "platform/Clock.h"

namespace {

// Time that runs speed times faster than the system clock, from the moment it is made.
class FastClock : public platform::Clock {
public:
    explicit FastClock(double speed) : m_speed(speed), m_startMs(platform::CurrentClock().NowMs()) {
        m_real.start();
    }
    int64_t NowMs() override {
        return m_startMs + static_cast<int64_t>(static_cast<double>(m_real.elapsed()) * m_speed);
    }
    platform::LocalTime Local() override { return platform::ToLocal(NowMs()); }
    bool Sleep(int ms, platform::StopFlag* stop) override {
        const int real = std::max(0, static_cast<int>(ms / m_speed));
        if (stop != nullptr) {
            return !stop->WaitFor(real);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(real));
        return true;
    }

private:
    double m_speed;
    int64_t m_startMs;
    QElapsedTimer m_real;
};

long ResidentKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

int CountEntries(const char* dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d)) {
            n += e->d_name[0] != '.';
        }
        ::closedir(d);
    }
    return n;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 10.0;
    const double speed = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 144.0;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto dir = std::filesystem::temp_directory_path() / "orn312-soak";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "sim.log").string();
    testutil::SimProcess sim({"--tcp", "0", "--log", log});
    if (!sim.Started()) {
        std::fprintf(stderr, "soak: the simulator did not start\n");
        return 1;
    }
    // 48 day plans, every half hour at :15 and :45, alternating HDMI and V1.
    {
        std::ofstream ini(dir / "Planinfo.ini");
        ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << sim.tcpPort
            << "\nConnectFlag=1\nStartTimerFlag=1\nDeviceID=1\n[PLANCOUNT]\ndaytimecount=48\n"
            << "[DAYTIME]\n";
        for (int i = 0; i < 48; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "Time%d=%2d:%2d: 0,%d\n", i, i / 2, i % 2 ? 45 : 15,
                          i % 2 ? 0 : 4);
            ini << line;
        }
    }
    FastClock clock(speed);
    platform::SetClock(&clock);
    int plansSent = 0;
    {
        CORN302ControlDlg dlg;
        dlg.m_profilePath = (dir / "Planinfo.ini").string();
        dlg.OnInitDialog();  // connects and starts the scheduler
        bench::Pump(1000);
        if (!dlg.m_conn.m_bConnected || dlg.m_bTimerRunning == 0) {
            std::fprintf(stderr, "soak: not connected or the scheduler did not start\n");
            platform::SetClock(nullptr);
            return 1;
        }
        std::printf("simulated hour  resident kB  threads  descriptors\n");
        const int64_t realMs = static_cast<int64_t>(minutes * 60000);
        const int64_t hourMs = static_cast<int64_t>(3600000 / speed);
        long firstKb = -1, lastKb = -1;
        int firstThreads = 0, lastThreads = 0, firstFds = 0, lastFds = 0;
        QElapsedTimer t;
        t.start();
        for (int hour = 1; t.elapsed() < realMs; ++hour) {
            bench::Pump(static_cast<int>(std::min<int64_t>(hourMs, realMs - t.elapsed())));
            lastKb = ResidentKb();
            lastThreads = CountEntries("/proc/self/task");
            lastFds = CountEntries("/proc/self/fd");
            if (firstKb < 0) {
                firstKb = lastKb;
                firstThreads = lastThreads;
                firstFds = lastFds;
            }
            std::printf("%14d  %11ld  %7d  %11d\n", hour, lastKb, lastThreads, lastFds);
            std::fflush(stdout);
        }
        dlg.OnStop();
        dlg.m_conn.Disconnect();
        std::ifstream in(log);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        plansSent = Count(text, "<- 05 01 00 00 04") + Count(text, "<- 05 01 00 00 00");
        std::printf("status polls: %d  plan switches sent: %d\n", Count(text, "(status)"),
                    plansSent);
        std::printf("growth from the first simulated hour: %+ld kB resident, %+d threads, %+d "
                    "descriptors\n",
                    lastKb - firstKb, lastThreads - firstThreads, lastFds - firstFds);
    }
    platform::SetClock(nullptr);
    return plansSent > 0 ? 0 : 1;
}
