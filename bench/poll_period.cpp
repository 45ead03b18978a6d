// Period of the status poll while connected and idle, against orn312-sim over TCP and over its
// pseudo-terminal. The poll should cost its 1000 ms pause, the 200 ms after the reply and the
// wire time of its two frames, and nothing more: a reply is picked up as soon as it is in.
// Prints, per transport and run, the median period and the ratio
//   period / (1000 ms + 200 ms + the wire time of two 13-byte frames at 9600 baud 8N1),
// and the median ratio over the runs.
//   poll_period [SECONDS] [RUNS]      (defaults 20 and 3)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "device/Connection.h"

namespace {

using Clock = std::chrono::steady_clock;

// Stamps each status reply.
class StampSink : public app::ConnectionSink {
public:
    void InfoText(app::LinkText) override {}
    void InfoRaw(const std::string&) override {}
    void PortOutOfRange() override {}
    void ConnectFinished(bool ok) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_ok = ok;
        m_cv.notify_all();
    }
    void SwitchControlsEnabled(bool) override {}
    void StatusReply(const devlink::Frame&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        stamps.push_back(Clock::now());
    }
    void LampsVisible(const std::vector<int>&, bool) override {}
    bool WaitConnected() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_finished; });
        return m_ok;
    }
    std::vector<Clock::time_point> Stamps() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return stamps;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_finished = false;
    bool m_ok = false;
    std::vector<Clock::time_point> stamps;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// Median poll period in ms over seconds of idle connection; 0 when the connection failed.
double MeasureOnce(bool serial, int seconds) {
    testutil::SimProcess sim({"--tcp", "0", "--pty", "--log", "/dev/null"});
    if (!sim.Started()) {
        return 0;
    }
    StampSink sink;
    app::Connection c(sink);
    app::ConnectSettings s;
    s.serial = serial ? 1 : 0;
    s.portName = sim.ptyPath;
    s.ipText = "127.0.0.1";
    s.portText = std::to_string(sim.tcpPort);
    // The serial trace goes to standard output: keep the figures readable.
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    c.StartConnect(s);
    const bool ok = sink.WaitConnected();
    if (ok) {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
    }
    c.Disconnect();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    const auto stamps = sink.Stamps();
    std::vector<double> periods;
    for (size_t i = 2; i < stamps.size(); ++i) {  // the first poll starts with the connection
        periods.push_back(
            std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count());
    }
    return ok ? Median(periods) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    // Two 13-byte frames of 10 bits each at 9600 baud.
    const double wireMs = 2 * 13 * 10 * 1000.0 / 9600.0;
    const double ideal = 1000 + 200 + wireMs;
    for (bool serial : {false, true}) {
        std::vector<double> ratios;
        for (int r = 0; r < runs; ++r) {
            const double period = MeasureOnce(serial, seconds);
            if (period <= 0) {
                std::fprintf(stderr, "poll_period: no connection\n");
                return 1;
            }
            ratios.push_back(period / ideal);
            std::printf("%-6s run %d: median period %.1f ms, ratio %.4f\n",
                        serial ? "serial" : "tcp", r + 1, period, period / ideal);
            std::fflush(stdout);
        }
        std::printf("%-6s median ratio over %d runs: %.4f (ideal period %.1f ms)\n",
                    serial ? "serial" : "tcp", runs, Median(ratios), ideal);
        std::fflush(stdout);
    }
    return 0;
}
