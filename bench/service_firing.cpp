// Delay from a plan's moment to its switch frame at the processor, with orn312-scheduler, the
// service without a window. Runs the service against orn312-sim with N day plans (default 5) 7, 8
// or 9 s apart (so that the plans meet the status poll, about every 1.2 s, at varied points of
// its cycle) and reads the arrival of each 00 00 SS frame from the simulator's log. Prints every
// plan, the median and the worst delay after the plan's time.
//   service_firing [N]
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "PlanBench.h"

int main(int argc, char** argv) {
    const int plans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    // Plans from 4 s on, 7 to 9 s apart: more than the 5 s pause after a switch.
    bench::PlanBench b;
    if (!bench::StartPlanBench("service-bench", plans, 4, [](int i) { return 7 + i % 3; }, "",
                               b)) {
        return 1;
    }
    testutil::ChildProcess service({ORN312_SCHEDULER_PATH}, b.dir.string());
    if (!service.WaitForErr("connected: ", 5000)) {
        std::fprintf(stderr, "service_firing: not connected\n%s", service.Err().c_str());
        return 1;
    }
    const int result = bench::MeasurePlans(
        b, [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); },
        [&service] { return service.Err(); });
    service.Signal(SIGTERM, 2000);
    return result;
}
