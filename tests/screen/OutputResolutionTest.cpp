#include "screen/OutputResolution.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "SimSequenceLink.h"
#include "link/Commands.h"
#include "platform/BoxNumber.h"
#include "screen/ResolutionSequences.h"

using devlink::HexText;
using testutil::SimSequenceLink;

namespace {

std::string Body(const devlink::Frame& f) {
    return HexText(f.data() + 2, 10);
}
std::string Body(const std::vector<uint8_t>& b) {
    return HexText(b.data(), static_cast<int>(b.size()));
}

}  // namespace

// What Save makes of the three boxes' texts: the custom resolution frame, or nothing (the
// dot-clock message) when the dot clock is out of range.
TEST(CustomResolution, DotClockDecidesAndTheFrameCarriesLowBits) {
    const std::string kMax = std::to_string(INT_MAX);
    const std::string kMin = std::to_string(INT_MIN);
    struct Case {
        std::string w, h, f;
        const char* body;  // bytes 2..11 of the frame, or nullptr: refused
    } cases[] = {
        {"1920", "1080", "60", "0f 00 07 80 04 38 3c 00 00 00"},
        {"640", "480", "60", nullptr},  // 25956000, just below the minimum
        {"800", "600", "60", "0f 00 03 20 02 58 3c 00 00 00"},
        {"2560", "1600", "60", nullptr},  // 270838800
        // Both ends of the range are in it.
        {"25998817", "-44", "1", "0f 00 b5 e1 ff d4 01 00 00 00"},  // exactly 25999001
        {"25998816", "-44", "1", nullptr},
        {"164998815", "-44", "1", "0f 00 ae 9f ff d4 01 00 00 00"},  // exactly 164998999
        {"164998816", "-44", "1", nullptr},
        // A width above 65535 (and a rate above 255) travel as their low bits.
        {"66336", "600", "3", "0f 00 03 20 02 58 03 00 00 00"},
        {"800", "600", "256", "0f 00 03 20 02 58 00 00 00 00"},
        // Negative sizes count as the product says: (-1000) x (-1000) x 60 is in range.
        {"-1184", "-1045", "60", "0f 00 fb 60 fb eb 3c 00 00 00"},
        // Products that wrap around in 32 or 64 bits are still out of range.
        {"549370728", "-43", "4", nullptr},  // 2^32 + 100000000
        {kMax, kMax, kMax, nullptr},
        {kMin, kMin, kMax, nullptr},
        {kMin, kMax, kMin, nullptr},
        {kMax, kMin, kMin, nullptr},
        // Text that is not a number reads as 0, which no dot clock survives.
        {"1920", "1080", "", nullptr},
        {"1920", "1080", "6O", nullptr},
        {"1920", "1080", "99999999999", nullptr},  // beyond 32 bits
        {" 1920 ", "1080\t", "+60", "0f 00 07 80 04 38 3c 00 00 00"},
        {" 1920 ", "1080\t", "60", "0f 00 07 80 04 38 3c 00 00 00"},
    };
    for (const Case& c : cases) {
        const auto frame = screen::CustomResolutionFrame(
            7, platform::BoxNumber(c.w), platform::BoxNumber(c.h), platform::BoxNumber(c.f));
        const std::string name = c.w + " x " + c.h + " @ " + c.f;
        if (c.body == nullptr) {
            EXPECT_FALSE(frame) << name;
            continue;
        }
        ASSERT_TRUE(frame) << name;
        EXPECT_EQ(Body(*frame), c.body) << name;
        EXPECT_EQ((*frame)[1], 7) << name;
        EXPECT_EQ((*frame)[12], devlink::Checksum(frame->data())) << name;
    }
}

TEST(ResolutionTable, SeventeenCodesInListOrder) {
    EXPECT_STREQ(screen::kOutputResolutions[0].listText, "1024X768@60Hz");
    EXPECT_STREQ(screen::kOutputResolutions[7].listText, "1366x768@60Hz");
    EXPECT_EQ(screen::kOutputResolutions[7].width, 1366);
    EXPECT_STREQ(screen::kOutputResolutions[15].listText, "1536x1536@60Hz");
    EXPECT_STREQ(screen::kOutputResolutions[16].listText, "自定义分辨率(Custom resolution)");
}

// ---- the dialog's sequences against the simulator's device ------------------------------------

TEST(ResolutionSequences, OpeningReadsTheCodeAndForCustomTheSize) {
    {
        SimSequenceLink link(3);
        const auto r = screen::ReadOutputResolution(link);
        EXPECT_TRUE(r.accepted);
        EXPECT_EQ(r.code, 6);  // the simulator starts at 1920x1080@60Hz
        EXPECT_FALSE(r.customRead);
        ASSERT_EQ(link.sent.size(), 1u);
        EXPECT_EQ(Body(link.sent[0].body), "fe 03 00 00 00 00 00 00 00 00");
        EXPECT_EQ(link.sent[0].ms, 5000);
    }
    {
        SimSequenceLink link(3);
        link.device.HandleFrame(devlink::CustomResolutionCommand(3, 1280, 720, 50), 0);
        link.device.HandleFrame(devlink::ResolutionCommand(3, 16), 0);
        const int64_t before = link.pausedMs;
        const auto r = screen::ReadOutputResolution(link);
        EXPECT_EQ(r.code, 16);
        ASSERT_TRUE(r.customRead);
        EXPECT_EQ(r.custom.width, 1280);
        EXPECT_EQ(r.custom.height, 720);
        EXPECT_EQ(r.custom.rate, 50);
        ASSERT_EQ(link.sent.size(), 2u);
        EXPECT_EQ(Body(link.sent[1].body), "fe 0f 00 00 00 00 00 00 00 00");
        // 200 ms between the two queries (the fake link adds 200 after each reply).
        EXPECT_EQ(link.pausedMs - before, 200 + 200 + 200);
    }
    // Accepted only from this device with FE in byte 2; byte 0 is not looked at.
    struct Fault {
        const char* name;
        bool silent, otherId, lead, accepted;
    } faults[] = {
        {"silent", true, false, false, false},
        {"other device ID", false, true, false, false},
        {"wrong leader", false, false, true, true},
    };
    for (const Fault& f : faults) {
        SimSequenceLink link(3);
        link.device = sim::Simulator(3, sim::ReplyFaults{.otherId = f.otherId});
        link.silent = f.silent;
        link.wrongLeader = f.lead;
        EXPECT_EQ(screen::ReadOutputResolution(link).accepted, f.accepted) << f.name;
    }
}

TEST(ResolutionSequences, ChangeSendsWaitsAndReadsTheCustomSizeBack) {
    struct Case {
        uint8_t code;
        const char* command;
        bool customQuery;
    } cases[] = {
        {7, "0d 07 00 00 00 00 00 00 00 00", false},
        {16, "0d 10 00 00 00 00 00 00 00 00", true},
    };
    for (const Case& c : cases) {
        SimSequenceLink link(1);
        const auto r = screen::ChangeOutputResolution(link, c.code);
        ASSERT_GE(link.sent.size(), 1u);
        EXPECT_EQ(Body(link.sent[0].body), c.command);
        EXPECT_EQ(link.sent[0].ms, 1000);
        EXPECT_EQ(link.device.State().resolution, c.code);
        EXPECT_EQ(link.sent.size(), c.customQuery ? 2u : 1u);
        EXPECT_EQ(r.customRead, c.customQuery);
        // The command's second, the ten-second wait, and the pause after a reply.
        EXPECT_EQ(link.pausedMs, 1000 + 10000 + (c.customQuery ? 200 : 0));
        if (c.customQuery) {
            EXPECT_EQ(Body(link.sent[1].body), "fe 0f 00 00 00 00 00 00 00 00");
            EXPECT_EQ(r.custom.width, 1920);
            EXPECT_EQ(r.custom.height, 1080);
            EXPECT_EQ(r.custom.rate, 60);
        }
    }
    // After a change to custom, no answer or another device's leaves the boxes as they are.
    SimSequenceLink silent(1);
    silent.silent = true;
    EXPECT_FALSE(screen::ChangeOutputResolution(silent, 16).customRead);
    SimSequenceLink other(1);
    other.device = sim::Simulator(1, sim::ReplyFaults{.otherId = true});
    EXPECT_FALSE(screen::ChangeOutputResolution(other, 16).customRead);
}

TEST(ResolutionSequences, CustomSendsThenWaitsOrSendsNothing) {
    SimSequenceLink link(2);
    EXPECT_TRUE(screen::SetCustomResolution(link, 1280, 720, 50));
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(Body(link.sent[0].body), "0f 00 05 00 02 d0 32 00 00 00");
    EXPECT_EQ(link.sent[0].ms, 1000);
    EXPECT_EQ(link.pausedMs, 11000);
    EXPECT_EQ(link.device.State().customWidth, 1280);

    SimSequenceLink refused(2);
    EXPECT_FALSE(screen::SetCustomResolution(refused, 640, 480, 60));
    EXPECT_TRUE(refused.sent.empty());
    EXPECT_EQ(refused.pausedMs, 0);

    // A stop during the send ends the sequence before the wait.
    SimSequenceLink stopped(2);
    stopped.stopped = true;
    EXPECT_FALSE(screen::SetCustomResolution(stopped, 1280, 720, 50));
    EXPECT_EQ(stopped.pausedMs, 0);
}
