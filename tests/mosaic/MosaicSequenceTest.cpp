// The fast mosaic's link sequences against the simulator's device: the frames in their order with
// every pause, the results, and what the device holds afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/Commands.h"
#include "mosaic/MosaicSequence.h"
#include "mosaic/MosaicTestLinks.h"

using mosaic::ConnectResult;
using End = mosaic::ConnectResult::End;

using testutil::Body;
using testutil::TimelineLink;

namespace {

using Lines = std::vector<std::string>;
Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Lines kResolution = {"P1000", "Q fe 03/6000"};
const Lines kModeAndStatus = {"P1000", "Q fe 04/6000", "P1000", "Q fe 00/6000"};

}  // namespace

TEST(MosaicSequence, ConnectReadsTheDeviceAndRecoversTheDviSignalWhenNeeded) {
    struct Case {
        const char* what;
        std::function<void(TimelineLink&)> setup;
        Lines timeline;
        End end;
        int index, width, height;
        std::optional<bool> sync;
        bool customTaken = false;
    };
    const auto ext = [](TimelineLink& l) {
        l.Apply(devlink::SourceSwitch(1, 0, devlink::kExt));
        l.Apply(devlink::MosaicCommand(1, true));
    };
    const Case cases[] = {
        {"EXT. with MOSAIC: usable at once", ext, kResolution + kModeAndStatus, End::kUsable, 6,
         1920, 1080, false},
        {"fresh device: V1 without MOSAIC", [](TimelineLink&) {},
         kResolution + kModeAndStatus +
             Lines{"P500", "P500", "S 00 00 05/5000", "P500", "S 21 01 05/500", "P500",
                   "Q fe 00 05/6000"},
         End::kRecovered, 6, 1920, 1080, false},
        {"BYPASS and MOSAIC on VGA2",
         [](TimelineLink& l) {
             l.Apply(devlink::SourceSwitch(1, 0, devlink::kVga2));
             l.Apply(devlink::BypassCommand(1, true));
             l.Apply(devlink::MosaicCommand(1, true));
         },
         kResolution + kModeAndStatus +
             Lines{"P500", "S 2a 00/500", "P500", "S 00 00 05/5000", "P500", "P500",
                   "Q fe 00 05/6000"},
         End::kRecovered, 6, 1920, 1080, false},
        {"DVI without MOSAIC",
         [](TimelineLink& l) { l.Apply(devlink::SourceSwitch(1, 0, devlink::kDvi)); },
         kResolution + kModeAndStatus +
             Lines{"P500", "P500", "P500", "S 21 01/500", "P500", "Q fe 00/6000"},
         End::kRecovered, 6, 1920, 1080, false},
        {"DVI without a picture",
         [](TimelineLink& l) {
             l.Apply(devlink::SourceSwitch(1, 0, devlink::kDvi));
             l.Apply(devlink::MosaicCommand(1, true));
             l.device.SetSignal(devlink::kDvi, false);
         },
         kResolution + kModeAndStatus + Lines{"P500", "P500", "P500", "P500", "Q fe 00/6000"},
         End::kRecoveryFailed, 6, 1920, 1080, false},
        {"custom resolution 07 80 04 38 3C",
         [&](TimelineLink& l) {
             l.Apply(devlink::CustomResolutionCommand(1, 1920, 1080, 60));
             l.Apply(devlink::ResolutionCommand(1, 16));
             ext(l);
         },
         kResolution + Lines{"P200", "Q fe 0f/5000"} + kModeAndStatus, End::kUsable, 16, 1920, 1080,
         false, true},
        {"custom resolution unanswered",
         [&](TimelineLink& l) {
             l.Apply(devlink::ResolutionCommand(1, 16));
             l.patches[0x0F] = [](devlink::Frame&) { return false; };
             ext(l);
         },
         kResolution + Lines{"P200", "Q fe 0f/5000"} + kModeAndStatus, End::kUsable, 16, 1024, 768,
         false},
        {"index 20",
         [&](TimelineLink& l) {
             l.patches[0x03] = [](devlink::Frame& r) { return r[3] = 20, true; };
             ext(l);
         },
         kResolution + kModeAndStatus, End::kUsable, 20, 1024, 768, false},
        {"sync mosaic 0x02",
         [&](TimelineLink& l) {
             l.Apply(devlink::SyncModeCommand(1, true));
             l.Apply(devlink::ResolutionCommand(1, 2));
             ext(l);
         },
         kResolution + kModeAndStatus, End::kUsable, 2, 1280, 1024, true},
        {"mode byte 0x01",
         [&](TimelineLink& l) {
             l.patches[0x04] = [](devlink::Frame& r) { return r[3] = 0x01, true; };
             ext(l);
         },
         kResolution + kModeAndStatus, End::kUsable, 6, 1920, 1080, false},
        {"silent device", [](TimelineLink& l) { l.silent = true; }, kResolution, End::kNoResolution,
         -1, 1024, 768, std::nullopt},
        {"no query reply to the resolution query",
         [](TimelineLink& l) {
             l.patches[0x03] = [](devlink::Frame& r) { return r[2] = 0x23, true; };
         },
         kResolution, End::kNoResolution, -1, 1024, 768, std::nullopt},
        {"mode unanswered",
         [](TimelineLink& l) { l.patches[0x04] = [](devlink::Frame&) { return false; }; },
         kResolution + Lines{"P1000", "Q fe 04/6000"}, End::kNoMosaicMode, 6, 1920, 1080,
         std::nullopt},
        {"status unanswered",
         [](TimelineLink& l) { l.patches[0x00] = [](devlink::Frame&) { return false; }; },
         kResolution + kModeAndStatus, End::kNoStatus, 6, 1920, 1080, false},
    };
    for (const Case& c : cases) {
        TimelineLink link(1);
        c.setup(link);
        link.timeline.clear();
        const ConnectResult r = mosaic::ConnectWorker(link, 1, 1024, 768);
        EXPECT_EQ(link.timeline, c.timeline) << c.what;
        EXPECT_EQ(r.end, c.end) << c.what;
        EXPECT_FALSE(r.stopped) << c.what;
        if (r.end != End::kNoResolution) {
            EXPECT_EQ(r.resolutionIndex, c.index) << c.what;
        }
        EXPECT_EQ(r.outWidth, c.width) << c.what;
        EXPECT_EQ(r.outHeight, c.height) << c.what;
        EXPECT_EQ(r.syncMosaic, c.sync) << c.what;
        EXPECT_EQ(r.customTaken, c.customTaken) << c.what;
        if (c.customTaken) {
            EXPECT_EQ(r.customRate, 60);
        }
        EXPECT_EQ(r.DeviceReady(), c.end != End::kNoStatus) << c.what;
    }
}

TEST(MosaicSequence, RecoveryLeavesTheDeviceOnDviWithMosaicAndWithoutBypass) {
    TimelineLink link(4);
    link.Apply(devlink::BypassCommand(4, true));
    EXPECT_TRUE(mosaic::RecoverDviSignal(link, 4, false, true, false));
    const devlink::StatusReply s = link.device.Status();
    EXPECT_EQ(s.mainSource, devlink::kDvi);
    EXPECT_EQ(s.functions & (devlink::kBypassBit | devlink::kMosaicBit), devlink::kMosaicBit);
    for (const devlink::Frame& f : link.frames) {
        EXPECT_EQ(f[1], 4);  // the dialog's device ID
    }
}

TEST(MosaicSequence, AStopEndsTheConnectSequenceAtItsNextStep) {
    TimelineLink link(1);
    link.patches[0x04] = [&](devlink::Frame&) { return link.stopped = true, false; };
    const ConnectResult r = mosaic::ConnectWorker(link, 1, 1024, 768);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(link.timeline, (kResolution + Lines{"P1000", "Q fe 04/6000"}));
}

TEST(MosaicSequence, DetectJudgesTheStatusWithDvi) {
    struct Case {
        const char* what;
        std::function<void(TimelineLink&)> setup;
        mosaic::Detect want;
    };
    const Case cases[] = {
        {"DVI with MOSAIC",
         [](TimelineLink& l) {
             l.Apply(devlink::SourceSwitch(1, 0, devlink::kDvi));
             l.Apply(devlink::MosaicCommand(1, true));
         },
         mosaic::Detect::kUsable},
        {"EXT. with MOSAIC",
         [](TimelineLink& l) {
             l.Apply(devlink::SourceSwitch(1, 0, devlink::kExt));
             l.Apply(devlink::MosaicCommand(1, true));
         },
         mosaic::Detect::kUnusable},
        {"fresh device", [](TimelineLink&) {}, mosaic::Detect::kUnusable},
        {"silent", [](TimelineLink& l) { l.silent = true; }, mosaic::Detect::kNoAnswer},
        {"byte 6 FF",
         [](TimelineLink& l) {
             l.patches[0x00] = [](devlink::Frame& r) { return r[6] = 0xFF, true; };
         },
         mosaic::Detect::kNoAnswer},
    };
    for (const Case& c : cases) {
        TimelineLink link(1);
        c.setup(link);
        link.timeline.clear();
        EXPECT_EQ(mosaic::DetectSignal(link, 1), c.want) << c.what;
        EXPECT_EQ(link.timeline, Lines{"Q fe 00/6000"}) << c.what;
    }
}

TEST(MosaicSequence, WindowSetsAndSyncModeReachTheDevice) {
    TimelineLink link(3);
    mosaic::SendWindow(link, 3, false, {640, 1080, 640, 0});
    ASSERT_EQ(link.frames.size(), 1u);
    EXPECT_EQ(devlink::HexText(link.frames[0].data(), 13),
              "05 03 23 00 02 80 02 80 00 00 04 38 19");
    EXPECT_EQ(link.timeline, Lines{"S 23 00 02 80 02 80 00 00 04 38/1000"});
    const auto& s = link.device.State();
    EXPECT_EQ((std::vector<int>{s.input.hs, s.input.w, s.input.vs, s.input.h}),
              (std::vector<int>{640, 640, 0, 1080}));

    mosaic::SendWindow(link, 3, true, {1920, 1080, 0, 0});
    EXPECT_EQ(link.timeline.back(), "S 2c 00 00 00 07 80 00 00 04 38/1000");
    const auto& m3 = s.layouts[2][0];
    EXPECT_EQ((std::vector<int>{m3.hs, m3.w, m3.vs, m3.h}), (std::vector<int>{0, 1920, 0, 1080}));

    // The mosaic mode goes to the main window's device, whatever the dialog's device ID.
    TimelineLink main(1);
    mosaic::SendSyncMode(main, true);
    EXPECT_EQ(main.timeline, Lines{"S 22 01/3000"});
    EXPECT_EQ(main.frames[0][1], 1);
    EXPECT_TRUE(main.device.State().syncMosaic);
    mosaic::SendSyncMode(main, false);
    EXPECT_EQ(main.timeline.back(), "S 22 00/3000");
    EXPECT_FALSE(main.device.State().syncMosaic);
}
