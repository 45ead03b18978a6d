#include "mosaic/Wall.h"

#include <map>

#include "link/Link.h"
#include "resources/MosaicTexts.h"

namespace mosaic {

namespace {

constexpr int kSetDelayMs = 1000;  // the pause after each window Set

std::string WindowText(const WindowValues& w) {
    return std::to_string(w.width) + "x" + std::to_string(w.height) + " at " +
           std::to_string(w.hStart) + "," + std::to_string(w.vStart);
}

res::WallResultWord Word(ScreenResult r) {
    switch (r) {
        case ScreenResult::kNotDone:
            return res::WallResultWord::NotDone;
        case ScreenResult::kVerified:
            return res::WallResultWord::Verified;
        case ScreenResult::kNotAnswering:
            return res::WallResultWord::NotAnswering;
        case ScreenResult::kDifferent:
            return res::WallResultWord::Different;
        case ScreenResult::kNotSent:
            return res::WallResultWord::NotSent;
        case ScreenResult::kStopped:
            return res::WallResultWord::Stopped;
    }
    return res::WallResultWord::NotDone;
}

// A screen whose windows fail, with the value refused and its limit.
std::string WindowsProblemLine(const WallPlan& plan, int screen, const ScreenWindows& w,
                               bool chinese) {
    using F = res::WindowFault;
    if (w.problem == ScreenWindows::Problem::kSizes) {
        const int n = w.sizes.screen;
        const bool known = n >= 0 && n < static_cast<int>(plan.screens.size());
        const WallScreen other = known ? plan.screens[static_cast<size_t>(n)] : WallScreen{};
        return res::WallSizeFault(screen, n, w.sizesVertical,
                                  w.sizesVertical ? other.height : other.width,
                                  w.sizesVertical ? plan.outHeight : plan.outWidth, chinese);
    }
    const bool output = w.problem == ScreenWindows::Problem::kOutputWindow;
    const bool vertical = w.box == Quantity::kHeight || w.box == Quantity::kVStart;
    const int64_t size = vertical ? w.height : w.width;
    const int64_t start = vertical ? w.vStart : w.hStart;
    const int64_t limit = vertical ? plan.outHeight : plan.outWidth;
    F fault = F::kEndsPast;
    int64_t value = (start < 0 ? -start : start) + size;
    if (w.failedCheck == 5) {
        fault = F::kOdd;
        value = w.box == Quantity::kWidth    ? w.width
                : w.box == Quantity::kHStart ? w.hStart
                : w.box == Quantity::kHeight ? w.height
                                             : w.vStart;
    } else if (w.box == Quantity::kWidth || w.box == Quantity::kHeight) {
        if (size > limit) {
            fault = F::kTooLarge;
            value = size;
        } else if (size < kMinSize) {
            fault = F::kTooSmall;
            value = size;
        }
    } else if (start < 0) {
        fault = F::kStartsBefore;
        value = start;
    } else if (start > limit) {
        fault = F::kStartsPast;
        value = start;
    }
    return res::WallWindowFault(screen, output, vertical, static_cast<int>(w.box), fault,
                                {w.width, w.height, w.hStart, w.vStart}, value, limit, chinese);
}

}  // namespace

WallPlan UniformWall(int rows, int cols, int outWidth, int outHeight, int width, int height,
                     int firstId) {
    WallPlan plan{rows, cols, outWidth, outHeight, {}};
    plan.screens.resize(static_cast<size_t>(rows * cols), WallScreen{width, height, 1, {}, {}});
    for (size_t n = 0; n < plan.screens.size(); ++n) {
        plan.screens[n].deviceId = firstId + static_cast<int>(n);
    }
    return plan;
}

bool NumberScreens(WallPlan& plan, int firstId) {
    const int count = static_cast<int>(plan.screens.size());
    if (firstId < kMinDeviceId || firstId + count - 1 > kMaxDeviceId) {
        return false;
    }
    for (int n = 0; n < count; ++n) {
        plan.screens[n].deviceId = firstId + n;
    }
    return true;
}

ScreenWindows WindowsOf(const WallPlan& plan, int screen) {
    Wall wall{plan.rows, plan.cols, plan.outWidth, plan.outHeight, screen, {}, {}};
    for (const WallScreen& s : plan.screens) {
        wall.widths.push_back(std::to_string(s.width));
        wall.heights.push_back(std::to_string(s.height));
    }
    ScreenWindows w;
    const CalcResult calc = AutoCalculate(wall);
    if (!calc.calculated) {
        w.problem = ScreenWindows::Problem::kSizes;
        w.sizesVertical = calc.horizontal.message == CalcMessage::kNone;
        w.sizes = w.sizesVertical ? calc.vertical : calc.horizontal;
        return w;
    }
    const WallScreen& s = plan.screens[static_cast<size_t>(screen)];
    const ComposeResult in =
        ComposeWindow(calc.input, s.inputAdjust, plan.outWidth, plan.outHeight);
    const ComposeResult out =
        ComposeWindow(calc.output, s.outputAdjust, plan.outWidth, plan.outHeight);
    const auto failed = [&w](const WindowValues& c, const WindowValues& a, const ComposeResult& r) {
        w.failedCheck = r.failedCheck;
        w.box = r.box;
        w.width = int64_t{c.width} + a.width;
        w.height = int64_t{c.height} + a.height;
        w.hStart = int64_t{c.hStart} + a.hStart;
        w.vStart = int64_t{c.vStart} + a.vStart;
    };
    if (in.failedCheck != 0) {
        w.problem = ScreenWindows::Problem::kInputWindow;
        failed(calc.input, s.inputAdjust, in);
    } else if (out.failedCheck != 0) {
        w.problem = ScreenWindows::Problem::kOutputWindow;
        failed(calc.output, s.outputAdjust, out);
    }
    w.input = in.values;
    w.output = out.values;
    return w;
}

std::vector<WallProblem> CheckWall(const WallPlan& plan) {
    std::vector<WallProblem> problems;
    std::map<int, int> byId;  // device ID -> first screen with it
    for (int n = 0; n < static_cast<int>(plan.screens.size()); ++n) {
        const ScreenWindows w = WindowsOf(plan, n);
        if (w.problem != ScreenWindows::Problem::kNone) {
            problems.push_back({WallProblem::Kind::kWindows, n, -1, w.problem, w});
        }
        const int id = plan.screens[static_cast<size_t>(n)].deviceId;
        if (id < kMinDeviceId || id > kMaxDeviceId) {
            problems.push_back({WallProblem::Kind::kDeviceId, n, -1, {}, {}});
        } else if (const auto [it, fresh] = byId.emplace(id, n); !fresh) {
            problems.push_back({WallProblem::Kind::kSameId, n, it->second, {}, {}});
        }
    }
    return problems;
}

int64_t ScreenPauseMs() {
    // Two Sets, each with the pause the processor takes to act, then three questions, each with
    // the pause the processor needs after its answer.
    return 2 * kSetDelayMs + kReadBackQuestions * devlink::kAfterReplyMs;
}

bool SendScreenWindows(app::SequenceLink& link, uint8_t deviceId, const ScreenWindows& windows) {
    return SendWindow(link, deviceId, false, windows.input) &&
           SendWindow(link, deviceId, true, windows.output);
}

std::vector<ScreenOutcome> SetWall(app::SequenceLink& link, const WallPlan& plan,
                                   const std::vector<int>& which,
                                   const std::function<void(const WallProgress&)>& progress) {
    std::vector<ScreenOutcome> outcomes(plan.screens.size());
    std::vector<int> order = which;
    if (order.empty()) {
        for (int n = 0; n < static_cast<int>(plan.screens.size()); ++n) {
            order.push_back(n);
        }
    }
    const int count = static_cast<int>(order.size());
    for (int k = 0; k < count; ++k) {
        const int n = order[static_cast<size_t>(k)];
        if (n < 0 || n >= static_cast<int>(plan.screens.size())) {
            continue;
        }
        WallProgress p{k, count, n, ScreenPauseMs() * (count - k), false, {}};
        if (progress) {
            progress(p);
        }
        if (link.Stopped()) {
            break;
        }
        const ScreenWindows windows = WindowsOf(plan, n);
        if (windows.problem != ScreenWindows::Problem::kNone) {
            continue;  // CheckWall names it; nothing goes to this screen
        }
        ScreenOutcome& o = outcomes[static_cast<size_t>(n)];
        o.inputSent = windows.input;
        o.outputSent = windows.output;
        const auto id = static_cast<uint8_t>(plan.screens[static_cast<size_t>(n)].deviceId);
        if (!SendScreenWindows(link, id, windows)) {
            o.result = link.Stopped() ? ScreenResult::kStopped : ScreenResult::kNotSent;
        } else {
            o.read = ReadBackWindows(link, id);
            if (link.Stopped()) {
                o.result = ScreenResult::kStopped;
            } else if (!o.read.answered || !o.read.output || o.read.resolutionCode < 0) {
                o.result = ScreenResult::kNotAnswering;
            } else {
                o.inputDiffers = *o.read.input != windows.input;
                o.outputDiffers = *o.read.output != windows.output;
                o.sizeDiffers =
                    o.read.outputSize &&
                    *o.read.outputSize != std::pair<int, int>{plan.outWidth, plan.outHeight};
                o.result = o.inputDiffers || o.outputDiffers || o.sizeDiffers
                               ? ScreenResult::kDifferent
                               : ScreenResult::kVerified;
            }
        }
        p.finished = true;
        p.msLeft = ScreenPauseMs() * (count - k - 1);
        p.outcome = o;
        if (progress) {
            progress(p);
        }
        if (o.result == ScreenResult::kStopped) {
            break;
        }
    }
    return outcomes;
}

std::vector<int> FailedScreens(const std::vector<ScreenOutcome>& outcomes) {
    std::vector<int> failed;
    for (int n = 0; n < static_cast<int>(outcomes.size()); ++n) {
        if (outcomes[static_cast<size_t>(n)].result != ScreenResult::kVerified) {
            failed.push_back(n);
        }
    }
    return failed;
}

std::string ScreenOutcomeLine(const WallPlan& plan, int screen, const ScreenOutcome& o,
                              bool chinese) {
    std::string details;
    const auto add = [&details, chinese](const std::string& part) {
        details += (details.empty() ? "" : (chinese ? "；" : "; ")) + part;
    };
    if (o.result == ScreenResult::kDifferent) {
        if (o.inputDiffers && o.read.input) {
            add(res::WallWindowDifference(false, WindowText(*o.read.input), WindowText(o.inputSent),
                                          chinese));
        }
        if (o.outputDiffers && o.read.output) {
            add(res::WallWindowDifference(true, WindowText(*o.read.output),
                                          WindowText(o.outputSent), chinese));
        }
        if (o.sizeDiffers && o.read.outputSize) {
            add(res::WallSizeDifference(o.read.outputSize->first, o.read.outputSize->second,
                                        plan.outWidth, plan.outHeight, chinese));
        }
    }
    return res::WallScreenLine(screen, plan.screens[static_cast<size_t>(screen)].deviceId,
                               Word(o.result), details, chinese);
}

std::string ScreenOutcomeShort(const ScreenOutcome& o, bool chinese) {
    return res::WallResultShort(Word(o.result), chinese);
}

std::vector<std::string> WallSummary(const WallPlan& plan,
                                     const std::vector<ScreenOutcome>& outcomes, bool chinese) {
    int verified = 0;
    for (const ScreenOutcome& o : outcomes) {
        verified += o.result == ScreenResult::kVerified ? 1 : 0;
    }
    std::vector<std::string> lines = {
        res::WallSummaryHead(verified, static_cast<int>(outcomes.size()), chinese)};
    for (int n = 0; n < static_cast<int>(outcomes.size()); ++n) {
        if (outcomes[static_cast<size_t>(n)].result != ScreenResult::kVerified) {
            lines.push_back(ScreenOutcomeLine(plan, n, outcomes[static_cast<size_t>(n)], chinese));
        }
    }
    return lines;
}

std::vector<std::string> WallProblemLines(const WallPlan& plan,
                                          const std::vector<WallProblem>& problems, bool chinese) {
    std::vector<std::string> lines;
    for (const WallProblem& p : problems) {
        const int id = plan.screens[static_cast<size_t>(p.screen)].deviceId;
        if (p.kind == WallProblem::Kind::kWindows) {
            lines.push_back(WindowsProblemLine(plan, p.screen, p.found, chinese));
            continue;
        }
        const res::WallProblemWord word = p.kind == WallProblem::Kind::kDeviceId
                                              ? res::WallProblemWord::DeviceId
                                              : res::WallProblemWord::SameId;
        lines.push_back(res::WallProblemLine(word, p.screen, id, p.other, chinese));
    }
    return lines;
}

}  // namespace mosaic
