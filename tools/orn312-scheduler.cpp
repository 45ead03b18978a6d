// orn312-scheduler: runs the plans of a plan file without a window, for installations that
// switch sources by the clock with nobody logged in. One line per event on standard error.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "schedule/SchedulerService.h"

namespace {

const char kUsage[] =
    "usage: orn312-scheduler [PLANFILE]\n"
    "Runs the day, week, month and one-time plans of PLANFILE (default ./Planinfo.ini) on the\n"
    "processor named by its [CONNECT] section, until SIGTERM or SIGINT; SIGHUP reads the plan\n"
    "file and its [CONNECT] keys again. Logs one line per switch, missed plan, connection change\n"
    "and plan file change on standard error.\n";

// One line on standard error in one write, so that lines of two threads never mix.
void WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0)
            return;  // nobody reads standard error any more: carry on regardless
        done += static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string planFile = "./Planinfo.ini";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((a.size() > 1 && a[0] == '-') || i > 1) {
            std::fprintf(
                stderr,
                "orn312-scheduler: unexpected argument %s (usage: orn312-scheduler [PLANFILE])\n",
                a.c_str());
            return 2;
        }
        planFile = a;
    }

    ServiceSettings settings;
    std::string error;
    if (!ReadServiceSettings(planFile, settings, error)) {
        WriteLine(StampedLine(platform::CurrentClock().NowMs(), error));
        return 1;
    }

    // The signals are taken by this thread alone, in sigwait; every other thread has them
    // blocked from its start. SIGHUP reads the plan file again, as services do; it never ends
    // the program. A reader of standard error that went away must not end the program either.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    SchedulerService service(planFile, settings, WriteLine);
    service.Start();
    int signalNumber = 0;
    for (;;) {
        if (sigwait(&signals, &signalNumber) != 0)
            continue;
        if (signalNumber != SIGHUP)
            break;
        service.Reload();
    }
    WriteLine(
        StampedLine(platform::CurrentClock().NowMs(),
                    std::string(signalNumber == SIGTERM ? "SIGTERM" : "SIGINT") + ": stopping"));
    service.Stop();
    return 0;
}
