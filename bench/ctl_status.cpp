// `orn312ctl status` against orn312-sim: how long after the simulator sent its reply the answer
// is printed (read from the client's standard output), and how long the client then keeps the
// processor's pause before it ends. Runs N times (default 10) and prints the medians.
//   ctl_status [N]
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "BenchLog.h"
#include "TestUtil.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::string log = "/tmp/orn312-ctl-status-" + std::to_string(::getpid()) + ".log";
    testutil::SimProcess sim({"--tcp", "0", "--log", log});
    if (!sim.Started()) {
        std::fprintf(stderr, "ctl_status: the simulator did not start\n");
        return 1;
    }
    const std::string command = std::string(ORN312_CTL_PATH) +
                                " --tcp 127.0.0.1:" + std::to_string(sim.tcpPort) + " status";
    std::vector<double> toPrint, toEnd;
    for (int i = 0; i < runs; ++i) {
        FILE* out = ::popen(command.c_str(), "r");
        if (out == nullptr) {
            std::perror("popen");
            return 1;
        }
        std::string answer;
        char text[256];
        while (answer.find("EXT. input:") == std::string::npos &&
               std::fgets(text, sizeof text, out) != nullptr) {
            answer += text;
        }
        const int64_t printed = bench::LocalMsOfDay();
        const int status = ::pclose(out);
        const int64_t ended = bench::LocalMsOfDay();
        int64_t replied = 0;
        // The simulator logs its reply as it sends it; give its log a moment.
        for (int tries = 0; tries < 50 && !bench::ArrivalOf(log, "-> 05 01 fe 00", i, replied);
             ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (WEXITSTATUS(status) != 0 || replied == 0) {
            std::fprintf(stderr, "ctl_status: run %d failed (exit %d)\n", i + 1,
                         WEXITSTATUS(status));
            return 1;
        }
        toPrint.push_back(static_cast<double>(printed - replied));
        toEnd.push_back(static_cast<double>(ended - printed));
        std::printf(
            "run %d: answer printed %lld ms after the reply, the client ended %lld ms "
            "later\n",
            i + 1, static_cast<long long>(printed - replied),
            static_cast<long long>(ended - printed));
        // Apart from the client's own pause, as a script calling it in a loop would be.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf(
        "median over %d runs: printed %.0f ms after the reply (target <= 50), then the "
        "pause %.0f ms before the end\n",
        runs, Median(toPrint), Median(toEnd));
    std::remove(log.c_str());
    return 0;
}
