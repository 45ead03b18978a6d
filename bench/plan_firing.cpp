// Delay from a plan's moment to its switch frame at the processor. Runs the window offscreen
// against orn312-sim with N day plans (default 5) 8 s apart, starts the scheduler, and reads the
// arrival of each 00 00 SS frame from the simulator's log. Prints every plan, the median and the
// worst delay after the plan's time.
//   plan_firing [N]
#include <QAbstractButton>
#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "BenchUtil.h"
#include "PlanBench.h"
#include "app/MainDlg.h"
#include "resources/ControlIds.h"

int main(int argc, char** argv) {
    const int plans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Plans from 6 s on, 8 s apart: more than the 5 s pause after each switch.
    bench::PlanBench b;
    if (!bench::StartPlanBench("plan-bench", plans, 6, [](int) { return 8; },
                               "ConnectFlag=1\nStartTimerFlag=0\n", b)) {
        return 1;
    }
    CORN302ControlDlg dlg;
    dlg.m_profilePath = (b.dir / "Planinfo.ini").string();
    dlg.OnInitDialog();
    bench::Pump(300);
    if (!dlg.m_conn.m_bConnected) {
        std::fprintf(stderr, "plan_firing: not connected\n");
        return 1;
    }
    dlg.ControlAs<QAbstractButton>(ids::kStart)->click();
    const int result = bench::MeasurePlans(b, [] { bench::Pump(20); }, [] { return std::string(); });
    dlg.ControlAs<QAbstractButton>(ids::kStop)->click();
    dlg.m_conn.Disconnect();
    return result;
}
