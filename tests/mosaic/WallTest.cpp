// The whole wall against the simulator's devices on one line: every screen's windows worked out,
// sent with the Set frames and pauses, read back and compared; a screen that does not answer,
// one that reads back different, a stop in the middle, a retry of the failed screens, and the
// walls that cannot be sent at all.
#include "mosaic/Wall.h"

#include <gtest/gtest.h>

#include "mosaic/WallTestLink.h"

using mosaic::ScreenResult;
using mosaic::WallPlan;
using mosaic::WindowValues;
using testutil::WallSimLink;

namespace {

// Columns 640, 320, 640, 320 wide and rows 360, 540, 180 high, on a 1920 × 1080 output: every
// screen's share of the picture is its own size.
const int kColumnWidths[4] = {640, 320, 640, 320};
const int kRowHeights[3] = {360, 540, 180};

WallPlan ThreeByFour() {
    WallPlan plan{3, 4, 1920, 1080, {}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            plan.screens.push_back({kColumnWidths[c], kRowHeights[r], 0, {}, {}});
        }
    }
    EXPECT_TRUE(mosaic::NumberScreens(plan, 1));
    return plan;
}

// The input window of screen n of ThreeByFour, worked out here by hand.
WindowValues InputOf(int n) {
    const int r = n / 4, c = n % 4;
    int left = 0, top = 0;
    for (int k = 0; k < c; ++k) {
        left += kColumnWidths[k];
    }
    for (int k = 0; k < r; ++k) {
        top += kRowHeights[k];
    }
    return {kColumnWidths[c], kRowHeights[r], left, top};
}

WindowValues Held(const sim::Window& w) {
    return {w.w, w.h, w.hs, w.vs};
}

std::vector<ScreenResult> Results(const std::vector<mosaic::ScreenOutcome>& outcomes) {
    std::vector<ScreenResult> r;
    for (const auto& o : outcomes) {
        r.push_back(o.result);
    }
    return r;
}

}  // namespace

TEST(WallSet, AThreeByFourWallIsSetInOneActionAndEveryScreenVerified) {
    WallSimLink link(1, 12);
    WallPlan plan = ThreeByFour();
    // Screen 005's own correction: two pixels further right in the picture.
    plan.screens[5].inputAdjust = {0, 0, 2, 0};
    ASSERT_TRUE(mosaic::CheckWall(plan).empty());

    std::vector<mosaic::WallProgress> progress;
    const auto outcomes = mosaic::SetWall(
        link, plan, {}, [&](const mosaic::WallProgress& p) { progress.push_back(p); });

    EXPECT_EQ(Results(outcomes), std::vector<ScreenResult>(12, ScreenResult::kVerified));
    for (int n = 0; n < 12; ++n) {
        const sim::DeviceState& s = link.devices.at(static_cast<uint8_t>(n + 1)).State();
        WindowValues input = InputOf(n);
        if (n == 5) {
            input.hStart += 2;
        }
        EXPECT_EQ(Held(s.input), input) << "screen " << n;
        EXPECT_EQ(Held(s.layouts[2][0]), (WindowValues{input.width, input.height, 0, 0}))
            << "screen " << n;
    }
    // Each screen: the two Set frames with their pauses, then the readback.
    ASSERT_EQ(link.log.size(), 60u);
    EXPECT_EQ(std::vector<std::string>(link.log.begin(), link.log.begin() + 5),
              (std::vector<std::string>{"S 1 23 00 00 00 02 80 00 00 01 68/1000",
                                        "S 1 2c 00 00 00 02 80 00 00 01 68/1000", "Q 1 fe 04/6000",
                                        "Q 1 fe 0b/6000", "Q 1 fe 03/6000"}));
    EXPECT_EQ(link.log[25], "S 6 23 00 02 82 01 40 01 68 02 1c/1000");
    EXPECT_EQ(mosaic::ScreenPauseMs(), 2600);
    EXPECT_EQ(link.pausedMs, 12 * mosaic::ScreenPauseMs());

    // Before and after each screen: screen n of N and the time its pauses leave.
    ASSERT_EQ(progress.size(), 24u);
    for (int k = 0; k < 12; ++k) {
        const mosaic::WallProgress& before = progress[2 * k];
        const mosaic::WallProgress& after = progress[2 * k + 1];
        EXPECT_FALSE(before.finished);
        EXPECT_EQ(before.position, k);
        EXPECT_EQ(before.count, 12);
        EXPECT_EQ(before.screen, k);
        EXPECT_EQ(before.msLeft, (12 - k) * 2600);
        EXPECT_TRUE(after.finished);
        EXPECT_EQ(after.msLeft, (11 - k) * 2600);
        EXPECT_EQ(after.outcome.result, ScreenResult::kVerified);
    }
    EXPECT_EQ(mosaic::WallSummary(plan, outcomes, false),
              std::vector<std::string>{"12 of 12 screens set and verified."});
}

TEST(WallSet, AScreenWhoseDeviceDoesNotAnswerIsReportedWhileTheOthersAreSetAndCanBeRetried) {
    WallSimLink link(1, 12);
    link.devices.erase(6);  // screen 005's processor is off the line
    const WallPlan plan = ThreeByFour();

    const auto outcomes = mosaic::SetWall(link, plan);
    std::vector<ScreenResult> want(12, ScreenResult::kVerified);
    want[5] = ScreenResult::kNotAnswering;
    EXPECT_EQ(Results(outcomes), want);
    EXPECT_EQ(Held(link.devices.at(12).State().input), InputOf(11));  // later screens were set
    EXPECT_EQ(mosaic::WallSummary(plan, outcomes, false),
              (std::vector<std::string>{"11 of 12 screens set and verified.",
                                        "Screen 005 (ID 6): not answering"}));
    EXPECT_EQ(
        mosaic::WallSummary(plan, outcomes, true),
        (std::vector<std::string>{"12 块屏幕中 11 块已设置并核对。", "屏幕 005（ID 6）：无应答"}));

    // Its processor is back: the retry sends to that screen alone.
    link.Add(6);
    link.log.clear();
    const std::vector<int> failed = mosaic::FailedScreens(outcomes);
    ASSERT_EQ(failed, std::vector<int>{5});
    const auto retried = mosaic::SetWall(link, plan, failed);
    EXPECT_EQ(retried[5].result, ScreenResult::kVerified);
    EXPECT_EQ(link.log.size(), 5u);
    EXPECT_EQ(link.log.front(), "S 6 23 00 02 80 01 40 01 68 02 1c/1000");
}

// A wall takes only the pauses the processor needs: 1000 ms after each Set frame, 200 ms after
// each answer (kept by the link), and nothing more between the readback's questions.
TEST(WallSet, EveryFrameFollowsOnlyThePauseTheProcessorNeeds) {
    WallSimLink link(1, 2);
    // Device 2 runs a custom resolution: its readback asks a fourth question, for the size.
    link.devices.at(2).HandleFrame(devlink::ResolutionCommand(2, 16), 0);
    link.nowMs = 60000;
    link.Pause(0);
    const int64_t start = link.nowMs;
    const WallPlan plan = mosaic::UniformWall(1, 2, 1920, 1080, 960, 1080, 1);
    const auto outcomes = mosaic::SetWall(link, plan);
    EXPECT_EQ(Results(outcomes), std::vector<ScreenResult>(2, ScreenResult::kVerified));

    ASSERT_EQ(link.log.size(), 11u);
    EXPECT_EQ(link.log.back(), "Q 2 fe 0f/5000");
    for (size_t i = 1; i < link.log.size(); ++i) {
        const int64_t needed = link.log[i - 1][0] == 'S' ? 1000 : 200;
        EXPECT_EQ(link.atMs[i] - link.atMs[i - 1], needed) << link.log[i];
    }
    EXPECT_EQ(link.nowMs - start, 2 * mosaic::ScreenPauseMs() + 200);
}

TEST(WallSet, AScreenThatReadsBackDifferentSaysWhatDiffered) {
    struct Case {
        const char* what;
        std::function<void(WallSimLink&)> setup;
        const char* line;
    } cases[] = {
        {"another output resolution",
         [](WallSimLink& l) { l.devices.at(2).HandleFrame(devlink::ResolutionCommand(2, 0), 0); },
         "Screen 001 (ID 2): read back different: output 1024x768 (the wall is laid out for "
         "1920x1080)"},
        {"another input window",
         [](WallSimLink& l) {
             l.patch = [](devlink::Frame& r) {
                 if (r[1] == 2 && r[3] == 0x00 && r[6] == 0x03) {  // the mosaic mode answer
                     r[5] += 2;
                 }
             };
         },
         "Screen 001 (ID 2): read back different: input window 960x1080 at 962,0 (sent 960x1080 "
         "at 960,0)"},
    };
    for (const Case& c : cases) {
        WallSimLink link(1, 2);
        c.setup(link);
        const WallPlan plan = mosaic::UniformWall(1, 2, 1920, 1080, 1920, 1080, 1);
        const auto outcomes = mosaic::SetWall(link, plan);
        EXPECT_EQ(outcomes[0].result, ScreenResult::kVerified) << c.what;
        EXPECT_EQ(outcomes[1].result, ScreenResult::kDifferent) << c.what;
        EXPECT_EQ(mosaic::ScreenOutcomeLine(plan, 1, outcomes[1], false), c.line) << c.what;
    }
}

TEST(WallSet, StopEndsAfterTheFrameInFlightAndTheRestCanBeRetried) {
    WallSimLink link(1, 12);
    const WallPlan plan = ThreeByFour();
    // Stop is pressed while screen 004's output window is on its way.
    link.afterSend = [&link](const devlink::Frame& f) {
        if (f[1] == 5 && f[2] == devlink::kLayoutM3) {
            link.stopped = true;
        }
    };
    const auto outcomes = mosaic::SetWall(link, plan);
    std::vector<ScreenResult> want(12, ScreenResult::kNotDone);
    for (int n = 0; n < 4; ++n) {
        want[n] = ScreenResult::kVerified;
    }
    want[4] = ScreenResult::kStopped;
    EXPECT_EQ(Results(outcomes), want);
    EXPECT_EQ(link.log.back().substr(0, 7), "S 5 2c ");  // nothing after the frame in flight
    EXPECT_EQ(Held(link.devices.at(5).State().layouts[2][0]), (WindowValues{640, 540, 0, 0}));
    EXPECT_EQ(Held(link.devices.at(6).State().input), (WindowValues{1920, 1080, 0, 0}));

    link.stopped = false;
    link.afterSend = nullptr;
    const auto retried = mosaic::SetWall(link, plan, mosaic::FailedScreens(outcomes));
    for (int n = 4; n < 12; ++n) {
        EXPECT_EQ(retried[n].result, ScreenResult::kVerified) << n;
    }
}

TEST(WallSet, AWallThatCannotBeSentIsRefusedBeforeAnyFrame) {
    struct Case {
        const char* what;
        std::function<void(WallPlan&)> change;
        std::vector<std::string> lines;
    } cases[] = {
        {"two screens with one device ID",
         [](WallPlan& p) { p.screens[3].deviceId = 2; },
         {"Screen 003 has the same device ID as screen 001 (2)"}},
        {"a device ID of 0",
         [](WallPlan& p) { p.screens[0].deviceId = 0; },
         {"Screen 000: device ID 0 is outside 1..255"}},
        // Each refusal of a window names the value and its limit.
        {"an odd adjustment",
         [](WallPlan& p) { p.screens[2].inputAdjust.width = 1; },
         {"Screen 002: input window 961 x 540 at 0,540: its width 961 is odd; every value must "
          "be even"}},
        {"an output window beyond the output",
         [](WallPlan& p) { p.screens[1].outputAdjust.hStart = 1700; },
         {"Screen 001: output window 960 x 540 at 1700,0 ends at 2660, past the output width "
          "1920"}},
        {"an input window that ends past the input",
         [](WallPlan& p) {
             p = mosaic::UniformWall(2, 2, 1280, 720, 640, 360, 1);
             p.screens[3].inputAdjust.hStart = 640;
         },
         {"Screen 003: input window 640 x 360 at 1280,360 ends at 1920, past the input width "
          "1280"}},
        {"an input window that starts before 0",
         [](WallPlan& p) { p.screens[0].inputAdjust.hStart = -2; },
         {"Screen 000: input window 960 x 540 at -2,0 starts at -2, before 0"}},
        {"an output window too low",
         [](WallPlan& p) { p.screens[3].outputAdjust.height = -500; },
         {"Screen 003: output window 960 x 40 at 0,0 is 40 high, below the least 64"}},
        {"an input window wider than the input",
         [](WallPlan& p) { p.screens[0].inputAdjust.width = 1000; },
         {"Screen 000: input window 1960 x 540 at 0,0 is 1960 wide, larger than the input width "
          "1920"}},
        {"a width beyond the output",
         [](WallPlan& p) { p.screens[1].width = 2000; },
         {"Screen 000: the width 2000 of screen 001 is outside 64..1920 (the output width)",
          "Screen 001: the width 2000 of screen 001 is outside 64..1920 (the output width)"}},
        {"a height below 64",
         [](WallPlan& p) { p.screens[2].height = 40; },
         {"Screen 000: the height 40 of screen 002 is outside 64..1080 (the output height)",
          "Screen 001: the height 40 of screen 002 is outside 64..1080 (the output height)",
          "Screen 002: the height 40 of screen 002 is outside 64..1080 (the output height)",
          "Screen 003: the height 40 of screen 002 is outside 64..1080 (the output height)"}},
    };
    for (const Case& c : cases) {
        WallPlan plan = mosaic::UniformWall(2, 2, 1920, 1080, 960, 540, 1);
        c.change(plan);
        EXPECT_EQ(mosaic::WallProblemLines(plan, mosaic::CheckWall(plan), false), c.lines)
            << c.what;
    }
    WallPlan odd = mosaic::UniformWall(2, 2, 1280, 720, 640, 360, 1);
    odd.screens[3].inputAdjust.hStart = 640;
    EXPECT_EQ(mosaic::WallProblemLines(odd, mosaic::CheckWall(odd), true),
              std::vector<std::string>{
                  "屏幕 003：输入窗口 640 x 360 位置 1280,360 结束于 1920，超出输入宽度 1280"});
    WallPlan plan = mosaic::UniformWall(2, 2, 1920, 1080, 960, 540, 1);
    EXPECT_FALSE(mosaic::NumberScreens(plan, 253));  // 253 + 3 passes 255
    EXPECT_EQ(plan.screens[3].deviceId, 4);
    EXPECT_TRUE(mosaic::NumberScreens(plan, 252));
    EXPECT_EQ(plan.screens[3].deviceId, 255);
}
