#include "screen/ScreenSequences.h"

#include <gtest/gtest.h>

#include <vector>

#include "SimSequenceLink.h"
#include "link/Commands.h"

using namespace screen;
using testutil::SimSequenceLink;

namespace {

using Body = std::vector<uint8_t>;

// What a link sent: bytes 2..11 cut after the last non-zero byte, with the delay or limit.
struct Step {
    Body body;
    int ms;
    bool operator==(const Step&) const = default;
};

std::vector<Step> Sent(const SimSequenceLink& link) {
    std::vector<Step> out;
    for (const auto& s : link.sent) {
        Body b = s.body;
        while (!b.empty() && b.back() == 0) {
            b.pop_back();
        }
        out.push_back({b, s.ms});
    }
    return out;
}

Step Q(uint8_t sub, int ms) {
    return {{0xFE, sub}, ms};
}

std::ostream& operator<<(std::ostream& o, const Step& s) {
    for (uint8_t b : s.body) {
        o << std::hex << int(b) << ' ';
    }
    return o << std::dec << '(' << s.ms << ')';
}

}  // namespace

TEST(ScreenReadback, AsksEverySettingInOrderWithItsPausesAndLimits) {
    struct Case {
        const char* what;
        uint8_t layoutCode;
        bool custom;  // the device runs the custom resolution
        std::vector<Step> want;
        int pausedMs;  // the step pauses and the pause after each reply
    } cases[] = {
        {"M1",
         devlink::kLayoutM1,
         false,
         {Q(0x03, 5000), Q(0x07, 5000), Q(0x08, 5000), Q(0x04, 5000), Q(0x05, 15000), Q(0x06, 5000),
          Q(0x10, 15000)},
         5 * 200 + 7 * 200},
        {"M3 with the custom resolution",
         devlink::kLayoutM3,
         true,
         {Q(0x03, 5000), Q(0x0F, 5000), Q(0x0B, 5000), Q(0x0C, 5000), Q(0x04, 5000), Q(0x05, 15000),
          Q(0x06, 5000), Q(0x10, 15000)},
         6 * 200 + 8 * 200},
    };
    for (const Case& c : cases) {
        SimSequenceLink link;
        if (c.custom) {
            link.device.HandleFrame(devlink::CustomResolutionCommand(1, 1280, 720, 60), 0);
            link.device.HandleFrame(devlink::ResolutionCommand(1, 16), 0);
        }
        int shown = 0;
        const Readback r = RefreshFromDevice(link, c.layoutCode, [&](const Readback&) { ++shown; });
        EXPECT_EQ(Sent(link), c.want) << c.what;
        EXPECT_EQ(link.pausedMs, c.pausedMs) << c.what;
        EXPECT_EQ(shown, 7) << c.what;  // the resolution (with its custom size), then each part
        ASSERT_TRUE(r.resolution && r.main && r.pip && r.mosaic && r.picture && r.textKey &&
                    r.colour)
            << c.what;
        EXPECT_EQ(r.OutputSize(), (c.custom ? Size{1280, 720} : Size{1920, 1080})) << c.what;
    }
}

TEST(ScreenReadback, DecodesWhatTheDeviceHolds) {
    SimSequenceLink link;
    const auto put = [&](const devlink::Frame& f) { link.device.HandleFrame(f, 0); };
    put(devlink::WindowGeometryCommand(1, devlink::kLayoutM2, false, 2, 1000, 4, 700));
    put(devlink::WindowGeometryCommand(1, devlink::kLayoutM2, true, 10, 300, 20, 200));
    put(devlink::InputWindowCommand(1, 8, 800, 6, 600));
    put(devlink::SyncModeCommand(1, true));
    put(devlink::AudioCommand(1, devlink::kYPbPr, devlink::kHdmi));
    put(devlink::TextKeyCommand(1, true, 16, 32, 48));
    put(devlink::ColourCommand(1, 70, devlink::kDp));
    const Readback r = RefreshFromDevice(link, devlink::kLayoutM2);
    ASSERT_TRUE(r.main && r.pip && r.mosaic && r.picture && r.textKey && r.colour);
    EXPECT_EQ(r.main->w, 1000);
    EXPECT_EQ(r.main->vs, 4);
    EXPECT_EQ(r.pip->hs, 10);
    EXPECT_EQ(r.pip->h, 200);
    EXPECT_TRUE(r.mosaic->syncMosaic);
    EXPECT_EQ(r.mosaic->input.w, 800);
    EXPECT_EQ(r.picture->audio1, 8);
    EXPECT_EQ(r.picture->audio2, 4);
    EXPECT_EQ(r.textKey->threshold, 1);
    EXPECT_EQ(r.textKey->green, 32);
    EXPECT_EQ(r.colour->values[4], 70);  // V1, V2, HDMI, DVI, DP
}

TEST(ScreenReadback, MissingRepliesLeaveTheirPartsEmpty) {
    // Silent: the resolution is not accepted, so only the colours are asked after it.
    SimSequenceLink silent;
    silent.silent = true;
    Readback r = RefreshFromDevice(silent, devlink::kLayoutM1);
    EXPECT_EQ(Sent(silent), (std::vector<Step>{Q(0x03, 5000), Q(0x10, 15000)}));
    EXPECT_EQ(silent.pausedMs, 0);
    EXPECT_FALSE(r.resolution || r.main || r.colour);
    EXPECT_EQ(r.OutputSize(), std::nullopt);

    // A resolution reply from another device is not accepted either; the colours still are.
    SimSequenceLink other;
    other.device = sim::Simulator(1, sim::ReplyFaults{.otherId = true});
    r = RefreshFromDevice(other, devlink::kLayoutM1);
    EXPECT_EQ(Sent(other), (std::vector<Step>{Q(0x03, 5000), Q(0x10, 15000)}));
    EXPECT_FALSE(r.resolution);
    EXPECT_TRUE(r.colour);

    // A wrong leader is not looked at: the reply comes from this device.
    SimSequenceLink lead;
    lead.wrongLeader = true;
    r = RefreshFromDevice(lead, devlink::kLayoutM1);
    EXPECT_TRUE(r.resolution && r.textKey);

    // Code 17 is not in the list: the output size stays as it was; code 16 without a custom
    // reply too.
    Readback odd;
    odd.resolution = devlink::ResolutionReply{17, {}};
    EXPECT_EQ(odd.OutputSize(), std::nullopt);
    odd.resolution->code = 16;
    EXPECT_EQ(odd.OutputSize(), std::nullopt);
    odd.custom = devlink::CustomResolutionReply{0, 720, 60};
    EXPECT_EQ(odd.OutputSize(), (Size{0, 720}));
    odd.resolution->code = 0;
    EXPECT_EQ(odd.OutputSize(), (Size{1024, 768}));
}

TEST(ScreenReadback, AStopEndsItAtTheNextStep) {
    SimSequenceLink link;
    int shown = 0;
    RefreshFromDevice(link, devlink::kLayoutM1, [&](const Readback&) {
        if (++shown == 2) {
            link.stopped = true;  // Exit while the main geometry is shown
        }
    });
    EXPECT_EQ(Sent(link), (std::vector<Step>{Q(0x03, 5000), Q(0x07, 5000)}));
    EXPECT_EQ(shown, 2);
}

TEST(ScreenLayout, ReadsTheLayoutThenSwitchesItWhilePipIsOpen) {
    SimSequenceLink open;
    const LayoutGeometry g = ChangeLayout(open, 1, true);
    EXPECT_EQ(Sent(open),
              (std::vector<Step>{Q(0x09, 1000), Q(0x0A, 1000), Step{{0x24, 0x01}, 500}}));
    ASSERT_TRUE(g.main && g.pip);
    EXPECT_EQ(g.pip->w, 960);  // the device's M2 PIP
    EXPECT_EQ(open.device.State().pipPreset, 1);

    SimSequenceLink closed;
    closed.silent = true;
    const LayoutGeometry none = ChangeLayout(closed, 2, false);
    EXPECT_EQ(Sent(closed), (std::vector<Step>{Q(0x0B, 1000), Q(0x0C, 1000)}));
    EXPECT_FALSE(none.main || none.pip);
}

TEST(ScreenSaves, EachSaveSendsItsCommandAndPauses) {
    const WindowGeometry g{400, 300, 0x102, 2};  // w, h, hs, vs
    struct Case {
        const char* what;
        std::function<bool(SimSequenceLink&)> save;
        Step want;
    } cases[] = {
        {"main of M2",
         [&](SimSequenceLink& l) { return SaveWindowGeometry(l, kMain, devlink::kLayoutM2, g); },
         {{0x2B, 0x00, 0x01, 0x02, 0x01, 0x90, 0x00, 0x02, 0x01, 0x2C}, 1000}},
        {"PIP of M1",
         [&](SimSequenceLink& l) { return SaveWindowGeometry(l, kPip, devlink::kLayoutM1, g); },
         {{0x2A, 0x01, 0x01, 0x02, 0x01, 0x90, 0x00, 0x02, 0x01, 0x2C}, 1000}},
        {"input",
         [&](SimSequenceLink& l) { return SaveWindowGeometry(l, kInput, devlink::kLayoutM3, g); },
         {{0x23, 0x00, 0x01, 0x02, 0x01, 0x90, 0x00, 0x02, 0x01, 0x2C}, 1000}},
        {"output",
         [&](SimSequenceLink& l) { return SaveWindowGeometry(l, kOutput, devlink::kLayoutM1, g); },
         {{0x0E, 0x00, 0x01, 0x02, 0x01, 0x90, 0x00, 0x02, 0x01, 0x2C}, 1000}},
        {"text key",
         [](SimSequenceLink& l) {
             return SendSetting(l, devlink::TextKeyCommand(1, true, 16, 32, 48));
         },
         {{0x15, 0x01, 0x10, 0x20, 0x30}, 1000}},
        {"brightness 66",
         [](SimSequenceLink& l) { return SendSetting(l, devlink::BrightnessCommand(1, 66)); },
         {{0x16, 0x42}, 1000}},
        {"DP colour 70",
         [](SimSequenceLink& l) {
             return SendSetting(l, devlink::ColourCommand(1, 70, devlink::kDp));
         },
         {{0x18, 0x46, 0x06}, 1000}},
        {"audio V2/YPbPr as YPbPr and DVI",
         [](SimSequenceLink& l) {
             return SendSetting(
                 l, devlink::AudioCommand(1, AudioCodeOfEntry(1, true), AudioCodeOfEntry(5, true)));
         },
         {{0x19, 0x08, 0x05}, 1000}},
    };
    for (const Case& c : cases) {
        SimSequenceLink link;
        EXPECT_TRUE(c.save(link)) << c.what;
        EXPECT_EQ(Sent(link), std::vector<Step>{c.want}) << c.what;
        EXPECT_EQ(link.pausedMs, 1000) << c.what;
    }
    SimSequenceLink stopped;
    stopped.stopped = true;
    EXPECT_FALSE(SaveWindowGeometry(stopped, kOutput, devlink::kLayoutM1, g));
    EXPECT_TRUE(stopped.sent.empty());
}
