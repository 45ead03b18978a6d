#include "tools/CtlWall.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <variant>
#include <vector>

#include "device/DirectLink.h"
#include "link/NetTcp.h"
#include "mosaic/Wall.h"
#include "mosaic/WallFile.h"
#include "platform/TextFile.h"
#include "resources/FileTexts.h"
#include "resources/MosaicTexts.h"
#include "resources/SetScreenTexts.h"
#include "screen/OutputResolution.h"
#include "screen/ResolutionSequences.h"
#include "screen/SettingsBackup.h"

namespace ctl {

const char kFileCommandsUsage[] =
    "  wall ROWSxCOLS WxH... [--output WxH] [--first-id N] [--save FILE] [--dry-run]\n"
    "  wall FILE [--first-id N] [--dry-run]\n"
    "                                    set every screen of a wall: its input and output\n"
    "                                    window, then read both back; one WxH for all screens\n"
    "                                    or one per screen, row by row; --first-id: screen n\n"
    "                                    gets ID N + n (default --id); --output: the output\n"
    "                                    resolution (default: the first screen's); --dry-run\n"
    "                                    prints the frames and sends nothing\n"
    "  backup FILE                       read every setting of the device into FILE\n"
    "  restore FILE [--only G,..] [--except G,..] [--dry-run | --yes]\n"
    "                                    list what FILE would change on the device, then\n"
    "                                    with --yes send it and read it back; groups G:\n"
    "                                    resolution windows picture audio hot-spare text-key\n"
    "                                    (default: all, the windows only when FILE was saved\n"
    "                                    from this device ID); --dry-run only lists\n";

namespace {

constexpr int kExitOk = 0;
constexpr int kExitDevice = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::string serial, tcp;
    int id = 1;
    int firstId = -1;
    int outWidth = 0, outHeight = 0;
    std::string save;
    bool dryRun = false;
    bool yes = false;
    std::string only, except;
    std::vector<std::string> words;
};

// Options that take a value, here and in orn312ctl's other commands.
const std::set<std::string> kValueOptions = {"--serial", "--tcp",        "--id",       "--delay",
                                             "--limit",  "--transition", "--first-id", "--output",
                                             "--save",   "--only",       "--except"};

[[noreturn]] void Usage(const std::string& what) {
    std::fprintf(stderr, "orn312ctl: %s (orn312ctl --help shows the usage)\n", what.c_str());
    std::exit(kExitUsage);
}

bool Whole(const std::string& text, int low, int high, int& v) {
    return platform::ParseWholeNumber(text, low, high, v) && !text.empty() && text[0] != '+';
}

// "AxB" with both parts whole numbers in range.
bool PairOf(const std::string& text, int low1, int high1, int low2, int high2, int& a, int& b) {
    const size_t x = text.find_first_of("xX");
    return x != std::string::npos && Whole(text.substr(0, x), low1, high1, a) &&
           Whole(text.substr(x + 1), low2, high2, b);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (kValueOptions.count(a) != 0 && i + 1 >= argc) {
            Usage(a + " needs a value");
        }
        if (a == "--serial") {
            o.serial = argv[++i];
        } else if (a == "--tcp") {
            o.tcp = argv[++i];
        } else if (a == "--id") {
            if (!Whole(argv[++i], 0, 255, o.id)) {
                Usage("--id takes a number from 0 to 255");
            }
        } else if (a == "--first-id") {
            if (!Whole(argv[++i], mosaic::kMinDeviceId, mosaic::kMaxDeviceId, o.firstId)) {
                Usage("--first-id takes a device ID from 1 to 255");
            }
        } else if (a == "--output") {
            if (!PairOf(argv[++i], mosaic::kMinSize, 65535, mosaic::kMinSize, 65535, o.outWidth,
                        o.outHeight)) {
                Usage("--output takes WIDTHxHEIGHT, for example 1920x1080");
            }
        } else if (a == "--save") {
            o.save = argv[++i];
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "--only") {
            o.only = argv[++i];
        } else if (a == "--except") {
            o.except = argv[++i];
        } else if (a == "-h" || a == "--help") {
            std::fputs(kFileCommandsUsage, stdout);
            std::exit(kExitOk);
        } else if (a.size() > 1 && a[0] == '-') {
            Usage("unknown option " + a + " for " +
                  (o.words.empty() ? "this command" : o.words[0]));
        } else {
            o.words.push_back(a);
        }
    }
    const std::string& cmd = o.words[0];
    if (cmd != "wall" && (o.firstId >= 0 || o.outWidth > 0 || !o.save.empty())) {
        Usage("--first-id, --output and --save go with wall only");
    }
    if (cmd != "restore" && (o.yes || !o.only.empty() || !o.except.empty())) {
        Usage("--yes, --only and --except go with restore only");
    }
    if (cmd == "backup" && o.dryRun) {
        Usage("--dry-run goes with wall and restore only");
    }
    if (o.dryRun && o.yes) {
        Usage("--dry-run only lists; --yes sends: give one of them");
    }
    if (!o.only.empty() && !o.except.empty()) {
        Usage("give --only or --except, not both");
    }
    // A restore's dry run still reads the device to list what would change.
    if ((!o.dryRun || cmd == "restore") && o.serial.empty() == o.tcp.empty()) {
        Usage("give exactly one of --serial and --tcp");
    }
    return o;
}

// SIGINT and SIGTERM raise stop instead of ending the program, so that a wall or a restore ends
// after the frame in flight and still says what it did.
platform::StopFlag g_stop;

void StopOnSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int sig = 0;
        if (sigwait(&set, &sig) == 0) {
            std::fputs("orn312ctl: stopping after the frame in flight\n", stderr);
            g_stop.Request();
        }
    }).detach();
}

std::string Problem(const platform::FileProblem& p, res::FileKind kind, const std::string& path) {
    std::string text = res::FileProblemText(p, kind, false);
    return p.fault == platform::FileFault::kUnreadable ||
                   p.fault == platform::FileFault::kUnwritable
               ? text
               : path + ": " + text;
}

// A link that sends nothing: prints every frame with its pause.
class PrintingLink : public app::SequenceLink {
public:
    uint8_t DeviceId() const override { return 0; }
    bool Send(const devlink::Frame& frame, int delayMs) override {
        std::printf(
            "  %s  then %d ms\n",
            devlink::HexText(devlink::WithChecksum(frame.data()).data(), devlink::kFrameSize)
                .c_str(),
            delayMs);
        return true;
    }
    int Query(const devlink::Frame&, devlink::Frame&, int) override { return 0; }
    bool Pause(int) override { return true; }
    bool Stopped() const override { return false; }
};

// "1 frame", "3 frames".
std::string Count(int n, const std::string& noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string WindowText(const mosaic::WindowValues& w) {
    return std::to_string(w.width) + "x" + std::to_string(w.height) + " at " +
           std::to_string(w.hStart) + "," + std::to_string(w.vStart);
}

// The wall the command line describes: a file, or a specification with sizes.
mosaic::WallPlan WallFromWords(const Options& o, bool& outputKnown) {
    const std::vector<std::string>& w = o.words;
    if (w.size() < 2) {
        Usage("wall takes ROWSxCOLS and the screen sizes, or a wall file");
    }
    int rows = 0, cols = 0;
    if (w.size() == 2 && !PairOf(w[1], 0, 1 << 20, 0, 1 << 20, rows, cols)) {
        auto loaded = mosaic::LoadWallFile(w[1]);
        if (const auto* p = std::get_if<platform::FileProblem>(&loaded)) {
            std::fprintf(stderr, "orn312ctl: %s\n",
                         Problem(*p, res::FileKind::kWall, w[1]).c_str());
            std::exit(kExitUsage);
        }
        if (o.outWidth > 0) {
            Usage("--output goes with a specification, not a wall file (the file gives it)");
        }
        mosaic::WallPlan plan = std::get<mosaic::WallPlan>(loaded);
        if (o.firstId >= 0 && !mosaic::NumberScreens(plan, o.firstId)) {
            Usage(res::WallText(res::WallWord::FirstIdTooHigh, false));
        }
        outputKnown = true;
        return plan;
    }
    if (!PairOf(w[1], 1, mosaic::kMaxRows, 1, mosaic::kMaxCols, rows, cols)) {
        Usage("the specification is ROWSxCOLS, 1..6 rows and 1..8 columns, not " + w[1]);
    }
    const size_t count = static_cast<size_t>(rows * cols);
    if (w.size() != 3 && w.size() != 2 + count) {
        Usage("give one WxH for every screen, or " + std::to_string(count) +
              " of them (row by row)");
    }
    outputKnown = o.outWidth > 0;
    mosaic::WallPlan plan{
        rows, cols, outputKnown ? o.outWidth : 65535, outputKnown ? o.outHeight : 65535, {}};
    for (size_t n = 0; n < count; ++n) {
        int width = 0, height = 0;
        const std::string& size = w[w.size() == 3 ? 2 : 2 + n];
        if (!PairOf(size, mosaic::kMinSize, 65535, mosaic::kMinSize, 65535, width, height)) {
            Usage("a screen size is WIDTHxHEIGHT, each at least 64, not " + size);
        }
        plan.screens.push_back({width, height, 1, {}, {}});
    }
    const int first = o.firstId >= 0 ? o.firstId : o.id;
    if (!mosaic::NumberScreens(plan, first)) {
        Usage(first < mosaic::kMinDeviceId ? std::string("the first device ID must be 1..255")
                                           : res::WallText(res::WallWord::FirstIdTooHigh, false));
    }
    return plan;
}

int Wall(const Options& o, const ConnectFn& connect) {
    bool outputKnown = false;
    mosaic::WallPlan plan = WallFromWords(o, outputKnown);
    if (o.dryRun && !outputKnown) {
        Usage("--dry-run needs --output WxH: the processors are not asked");
    }
    devlink::LinkConnection line;
    const auto close = [&line] {
        if (line.m_bSerial == 0) {
            devlink::CloseTcp(line.m_socket);
        }
    };
    if (!o.dryRun) {
        connect(o.serial, o.tcp, line);
        StopOnSignals();
    }
    if (!outputKnown) {
        // The windows are worked out for the output the first screen's processor has.
        const int first = plan.screens[0].deviceId;
        app::DirectSequenceLink ask(line, static_cast<uint8_t>(first), g_stop);
        const screen::ResolutionReading r = screen::ReadOutputResolution(ask);
        if (!r.accepted || r.code > screen::kCustomResolution ||
            (r.code == screen::kCustomResolution && !r.customRead)) {
            std::fprintf(stderr,
                         "orn312ctl: the first screen's processor (ID %d) did not tell its output "
                         "resolution; give it with --output WxH\n",
                         first);
            close();
            return kExitDevice;
        }
        plan.outWidth = r.code == screen::kCustomResolution
                            ? r.custom.width
                            : screen::kOutputResolutions[r.code].width;
        plan.outHeight = r.code == screen::kCustomResolution
                             ? r.custom.height
                             : screen::kOutputResolutions[r.code].height;
        std::printf("output %dx%d (read from device %d)\n", plan.outWidth, plan.outHeight, first);
    }
    // Sizes beyond the output are refused as the dialog refuses them.
    for (size_t n = 0; n < plan.screens.size(); ++n) {
        if (plan.screens[n].width > plan.outWidth || plan.screens[n].height > plan.outHeight) {
            std::fprintf(stderr, "orn312ctl: screen %03zu is %dx%d, larger than the output %dx%d\n",
                         n, plan.screens[n].width, plan.screens[n].height, plan.outWidth,
                         plan.outHeight);
            close();
            return kExitUsage;
        }
    }
    const std::vector<mosaic::WallProblem> problems = mosaic::CheckWall(plan);
    if (!problems.empty()) {
        std::fprintf(stderr, "orn312ctl: %s\n", res::WallText(res::WallWord::NothingSent, false));
        for (const std::string& line : mosaic::WallProblemLines(plan, problems, false)) {
            std::fprintf(stderr, "  %s\n", line.c_str());
        }
        close();
        return kExitUsage;
    }
    if (!o.save.empty()) {
        if (const auto p = mosaic::SaveWallFile(o.save, plan)) {
            std::fprintf(stderr, "orn312ctl: %s\n",
                         Problem(*p, res::FileKind::kWall, o.save).c_str());
            close();
            return kExitDevice;
        }
    }

    if (o.dryRun) {
        PrintingLink print;
        for (int n = 0; n < plan.Count(); ++n) {
            const mosaic::ScreenWindows w = mosaic::WindowsOf(plan, n);
            const int id = plan.screens[static_cast<size_t>(n)].deviceId;
            std::printf("screen %03d (ID %d): input window %s, output window %s\n", n, id,
                        WindowText(w.input).c_str(), WindowText(w.output).c_str());
            mosaic::SendScreenWindows(print, static_cast<uint8_t>(id), w);
            std::printf("  then reads back: fe 04, fe 0b, fe 03\n");
        }
        const int64_t seconds = (mosaic::ScreenPauseMs() * plan.Count() + 999) / 1000;
        std::printf("%s, %s to send, about %lld s\n", Count(plan.Count(), "screen").c_str(),
                    Count(2 * plan.Count(), "frame").c_str(), static_cast<long long>(seconds));
        return kExitOk;
    }

    app::DirectSequenceLink link(line, static_cast<uint8_t>(o.id), g_stop);
    const std::vector<mosaic::ScreenOutcome> outcomes =
        mosaic::SetWall(link, plan, {}, [&plan](const mosaic::WallProgress& p) {
            if (!p.finished) {
                std::fprintf(stderr, "%s\n",
                             res::WallProgressText(p.position + 1, p.count, p.screen,
                                                   static_cast<int>((p.msLeft + 999) / 1000), false)
                                 .c_str());
            } else {
                std::printf("%s\n",
                            mosaic::ScreenOutcomeLine(plan, p.screen, p.outcome, false).c_str());
                std::fflush(stdout);
            }
        });
    close();
    // The summary repeats the screens that failed, so that a long wall's log ends with them.
    for (const std::string& line : mosaic::WallSummary(plan, outcomes, false)) {
        std::printf("%s\n", line.c_str());
    }
    return mosaic::FailedScreens(outcomes).empty() ? kExitOk : kExitDevice;
}

int Backup(const Options& o, const ConnectFn& connect) {
    if (o.words.size() != 2) {
        Usage("backup takes one file");
    }
    const std::string& path = o.words[1];
    // A file that cannot be written is said before the device is read for it.
    if (const auto p = platform::CheckTextFileWritable(path)) {
        std::fprintf(stderr, "orn312ctl: %s; nothing read\n",
                     Problem(*p, res::FileKind::kSettings, path).c_str());
        return kExitDevice;
    }
    devlink::LinkConnection line;
    connect(o.serial, o.tcp, line);
    StopOnSignals();
    app::DirectSequenceLink link(line, static_cast<uint8_t>(o.id), g_stop);
    std::string unanswered;
    std::optional<screen::ProcessorSettings> s = screen::ReadSettings(link, &unanswered);
    if (line.m_bSerial == 0) {
        devlink::CloseTcp(line.m_socket);
    }
    if (s) {
        s->deviceId = o.id;
    }
    if (!s) {
        std::fprintf(stderr, "orn312ctl: %s\n",
                     link.Stopped() ? "stopped; nothing written"
                                    : ("device " + std::to_string(o.id) + " gave no reply to the " +
                                       unanswered + " query; nothing written")
                                          .c_str());
        return kExitDevice;
    }
    // What is written must load again: a processor reporting values no file may hold is said so.
    const std::string comment = "device " + std::to_string(o.id);
    const auto again = screen::ParseSettingsFile(screen::SettingsFileText(*s, comment));
    if (const auto* p = std::get_if<platform::FileProblem>(&again)) {
        std::fprintf(stderr,
                     "orn312ctl: device %d reports a value that cannot be restored (%s); "
                     "nothing written\n",
                     o.id, res::FileProblemText(*p, res::FileKind::kSettings, false).c_str());
        return kExitDevice;
    }
    if (const auto p = screen::SaveSettingsFile(path, *s, comment)) {
        std::fprintf(stderr, "orn312ctl: %s\n",
                     Problem(*p, res::FileKind::kSettings, path).c_str());
        return kExitDevice;
    }
    std::printf("settings of device %d written to %s\n", o.id, path.c_str());
    return kExitOk;
}

int Restore(const Options& o, const ConnectFn& connect) {
    if (o.words.size() != 2) {
        Usage("restore takes one file");
    }
    const std::string& path = o.words[1];
    auto loaded = screen::LoadSettingsFile(path);
    if (const auto* p = std::get_if<platform::FileProblem>(&loaded)) {
        std::fprintf(stderr, "orn312ctl: %s; nothing sent\n",
                     Problem(*p, res::FileKind::kSettings, path).c_str());
        return kExitUsage;
    }
    const screen::ProcessorSettings& wanted = std::get<screen::ProcessorSettings>(loaded);
    screen::SettingGroups groups = screen::DefaultSettingGroups(wanted, o.id);
    const bool chosen = !o.only.empty() || !o.except.empty();
    if (chosen) {
        std::string bad;
        if (!screen::ParseSettingGroups(o.only.empty() ? o.except : o.only, groups, bad)) {
            Usage("unknown group '" + bad +
                  "': the groups are resolution, windows, picture, audio, hot-spare, text-key");
        }
        if (!o.except.empty()) {
            for (bool& g : groups) {
                g = !g;
            }
        }
    }
    devlink::LinkConnection line;
    connect(o.serial, o.tcp, line);
    StopOnSignals();
    app::DirectSequenceLink link(line, static_cast<uint8_t>(o.id), g_stop);
    const auto close = [&line] {
        if (line.m_bSerial == 0) {
            devlink::CloseTcp(line.m_socket);
        }
    };
    std::string unanswered;
    const std::optional<screen::ProcessorSettings> now = screen::ReadSettings(link, &unanswered);
    if (!now) {
        close();
        std::fprintf(stderr, "orn312ctl: %s\n",
                     link.Stopped() ? "stopped; nothing sent"
                                    : ("device " + std::to_string(o.id) + " gave no reply to the " +
                                       unanswered + " query; nothing sent")
                                          .c_str());
        return kExitDevice;
    }

    // What would change, setting by setting, and what is left out.
    const std::vector<screen::SettingDifference> plan = screen::PlanRestore(wanted, *now, groups);
    const auto all =
        screen::CountByGroup(screen::PlanRestore(wanted, *now, screen::kAllSettingGroups));
    std::printf("%s\n", res::RestorePlanHead(o.id, path, wanted.deviceId, false).c_str());
    for (const screen::SettingDifference& d : plan) {
        std::printf("  %s: now %s, in the file %s\n", d.name.c_str(), d.found.c_str(),
                    d.wanted.c_str());
    }
    for (int g = 0; g < screen::kSettingGroupCount; ++g) {
        if (!groups[static_cast<size_t>(g)] && all[static_cast<size_t>(g)] > 0) {
            std::printf("left out: %s (%s)\n",
                        screen::SettingGroupWord(static_cast<screen::SettingGroup>(g)),
                        Count(all[static_cast<size_t>(g)], "setting").c_str());
        }
    }
    if (!chosen && !Has(groups, screen::SettingGroup::kWindows) &&
        all[static_cast<size_t>(screen::SettingGroup::kWindows)] > 0) {
        std::printf("windows left out: %s (--only or --except chooses the groups)\n",
                    wanted.deviceId > 0
                        ? ("the file was saved from device " + std::to_string(wanted.deviceId) +
                           ", not from device " + std::to_string(o.id))
                              .c_str()
                        : "the file does not say which device it was saved from");
    }
    if (plan.empty()) {
        close();
        std::printf("%s\n", res::SettingsFileText(res::SettingsFileMsg::NothingToChange, false));
        return kExitOk;
    }
    if (o.dryRun || !o.yes) {
        close();
        if (o.dryRun) {
            std::printf("dry run: nothing sent\n");
            return kExitOk;
        }
        std::fprintf(stderr, "orn312ctl: nothing sent; give --yes to change %s of device %d\n",
                     Count(static_cast<int>(plan.size()), "setting").c_str(), o.id);
        return kExitUsage;
    }

    const screen::RestoreResult r = screen::RestoreSettings(link, wanted, groups, now);
    close();
    std::printf("%s (%s sent)\n",
                res::RestoreDoneText(o.id, r.settingsChanged, path, false).c_str(),
                Count(r.framesSent, "frame").c_str());
    for (const std::string& name : r.refused) {
        std::printf("not sent: %s %d is beyond this processor's range 0..64\n", name.c_str(),
                    wanted.brightness);
    }
    if (r.stopped || r.notSent || !r.after) {
        std::fprintf(stderr, "orn312ctl: %s\n",
                     r.stopped   ? "stopped before the end of the restore"
                     : r.notSent ? "a frame could not be sent; the restore is incomplete"
                                 : "the device stopped answering; the restore is unverified");
        return kExitDevice;
    }
    for (const screen::SettingDifference& d : r.differences) {
        std::printf("differs: %s: file %s, device %s\n", d.name.c_str(), d.wanted.c_str(),
                    d.found.c_str());
    }
    if (!r.differences.empty()) {
        std::printf("%s after the restore\n",
                    r.differences.size() == 1
                        ? "1 setting differs"
                        : (std::to_string(r.differences.size()) + " settings differ").c_str());
        return kExitDevice;
    }
    std::printf("every setting restored reads back as in %s\n", path.c_str());
    return kExitOk;
}

// The command word: the first argument that is neither an option nor an option's value.
std::string CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (kValueOptions.count(a) != 0) {
            ++i;
        } else if (a.empty() || a[0] != '-') {
            return a;
        }
    }
    return "";
}

}  // namespace

bool IsFileCommand(int argc, char** argv) {
    const std::string cmd = CommandWord(argc, argv);
    return cmd == "wall" || cmd == "backup" || cmd == "restore";
}

int RunFileCommand(int argc, char** argv, const ConnectFn& connect) {
    const Options o = Parse(argc, argv);
    const std::string& cmd = o.words[0];
    if (cmd == "wall") {
        return Wall(o, connect);
    }
    return cmd == "backup" ? Backup(o, connect) : Restore(o, connect);
}

}  // namespace ctl
