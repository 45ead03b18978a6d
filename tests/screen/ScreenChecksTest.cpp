#include "screen/ScreenChecks.h"

#include <gtest/gtest.h>

#include <climits>

using namespace screen;

TEST(ScreenGeometry, RangeThenParityNamesTheFirstBadBox) {
    const Size xga{1024, 768};
    struct Case {
        const char* what;
        WindowGeometry g;  // w, h, hs, vs
        Size output;
        GeometryCheck::Kind kind;
        GeometryField field;
    } cases[] = {
        {"whole output", {1024, 768, 0, 0}, xga, GeometryCheck::kOk, kWidth},
        {"width 1024 + start 2", {1024, 200, 2, 0}, xga, GeometryCheck::kOutOfRange, kWidth},
        {"width above the output", {1026, 200, 0, 0}, xga, GeometryCheck::kOutOfRange, kWidth},
        {"width below 64", {62, 200, 0, 0}, xga, GeometryCheck::kOutOfRange, kWidth},
        {"negative start counts by size",
         {1000, 200, -30, 0},
         xga,
         GeometryCheck::kOutOfRange,
         kWidth},
        {"negative start", {100, 200, -2, 0}, xga, GeometryCheck::kOutOfRange, kHStart},
        {"height 50 (below 64)", {100, 50, 0, 0}, xga, GeometryCheck::kOutOfRange, kHeight},
        {"height 48 as the tooltip says",
         {100, 48, 0, 0},
         xga,
         GeometryCheck::kOutOfRange,
         kHeight},
        {"height + start", {100, 700, 0, 70}, xga, GeometryCheck::kOutOfRange, kHeight},
        {"vertical start beyond", {100, 64, 0, 770}, xga, GeometryCheck::kOutOfRange, kHeight},
        {"width 101 and odd start: width named",
         {101, 100, 0, 3},
         xga,
         GeometryCheck::kOdd,
         kWidth},
        {"odd vertical start only", {100, 100, 0, 3}, xga, GeometryCheck::kOdd, kVStart},
        {"odd height", {100, 101, 0, 0}, xga, GeometryCheck::kOdd, kHeight},
        {"custom 1280 x 720 limits", {1280, 720, 0, 0}, {1280, 720}, GeometryCheck::kOk, kWidth},
        {"custom 1280 x 720, height 722",
         {1280, 722, 0, 0},
         {1280, 720},
         GeometryCheck::kOutOfRange,
         kHeight},
        {"no output size", {64, 64, 0, 0}, {0, 0}, GeometryCheck::kOutOfRange, kWidth},
        {"huge values do not wrap",
         {INT_MAX, 100, INT_MAX, 0},
         xga,
         GeometryCheck::kOutOfRange,
         kWidth},
    };
    for (const Case& c : cases) {
        const GeometryCheck r = CheckGeometry(c.g, c.output);
        EXPECT_EQ(r.kind, c.kind) << c.what;
        if (c.kind != GeometryCheck::kOk) {
            EXPECT_EQ(r.field, c.field) << c.what;
        }
    }
}

TEST(ScreenGeometry, PreviewScalesIntoTheFrameAndNeverDividesByZero) {
    struct Case {
        const char* what;
        Size output;
        WindowGeometry g;
        Rect want;
    } cases[] = {
        {"whole output fills the frame", {1920, 1080}, {1920, 1080, 0, 0}, {0, 0, 200, 120}},
        {"lower right quarter", {1920, 1080}, {960, 540, 960, 540}, {100, 60, 100, 60}},
        {"truncated toward zero", {1024, 768}, {100, 100, 3, 7}, {0, 1, 19, 15}},
        {"custom width 0", {0, 720}, {100, 100, 10, 10}, {0, 0, 0, 0}},
        {"custom height 0", {1280, 0}, {100, 100, 10, 10}, {0, 0, 0, 0}},
        {"negative size from a bad reply", {-5, 768}, {100, 100, 10, 10}, {0, 0, 0, 0}},
        // Found by fuzzing: a huge window on a tiny output scaled past what an int holds.
        {"huge window on a 1-pixel output", {1, 1}, {666666666, 101, 101, 0}, {200, 0, 0, 120}},
        {"partly beyond the output", {1920, 1080}, {1920, 1080, 960, 540}, {100, 60, 100, 60}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PreviewRect(200, 120, c.output, c.g), c.want) << c.what;
    }
    // Every resolution of the list scales without a fault.
    for (const OutputResolution& r : kOutputResolutions) {
        const Rect rect = PreviewRect(200, 120, {r.width, r.height}, {r.width, r.height, 0, 0});
        if (r.width > 0) {
            EXPECT_EQ(rect, (Rect{0, 0, 200, 120})) << r.listText;
        }
    }
}

TEST(ScreenValues, RangesAndBrightnessParity) {
    using V = ValueCheck;
    struct Case {
        const char* what;
        V got, want;
    } cases[] = {
        {"brightness 64 of 0..64", CheckBrightness(64, false), V::kOk},
        {"brightness 66 of 0..64", CheckBrightness(66, false), V::kOutOfRange},
        {"brightness 66 of 0..100", CheckBrightness(66, true), V::kOk},
        {"brightness 102 of 0..100", CheckBrightness(102, true), V::kOutOfRange},
        {"brightness 33", CheckBrightness(33, false), V::kOdd},
        {"brightness -2", CheckBrightness(-2, true), V::kOutOfRange},
        {"bias 100", CheckPercent(100), V::kOk},
        {"colour 101", CheckPercent(101), V::kOutOfRange},
        {"colour -1", CheckPercent(-1), V::kOutOfRange},
        {"key colour 255", CheckKeyColour(255), V::kOk},
        {"key colour 256", CheckKeyColour(256), V::kOutOfRange},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.got, c.want) << c.what;
    }
    EXPECT_EQ(BrightnessResetValue(false), 64);
    EXPECT_EQ(BrightnessResetValue(true), 50);
}

TEST(ScreenValues, KeyColourArrowsStepAndStopAtTheEnds) {
    enum { Red, Green, Blue };
    using S = SpinOutcome;
    struct Case {
        int v, colour, delta;
        S::Kind kind;
        int value;
    } cases[] = {
        {0, Red, -1, S::kMoved, 8},         {0, Green, -1, S::kMoved, 4},
        {248, Red, -1, S::kAtTop, 248},     {252, Green, -1, S::kAtTop, 252},
        {248, Green, -1, S::kMoved, 252},   {4, Green, 1, S::kMoved, 0},
        {0, Red, 1, S::kAtBottom, 0},       {7, Blue, 1, S::kAtBottom, 7},
        {100, Blue, 2, S::kUnchanged, 100}, {65536 + 16, Red, -1, S::kMoved, 24},
    };
    for (const Case& c : cases) {
        const S r = SpinKeyColour(c.v, c.colour, c.delta);
        EXPECT_EQ(r.kind, c.kind) << c.v << " " << c.colour << " " << c.delta;
        EXPECT_EQ(r.value, c.value) << c.v << " " << c.colour << " " << c.delta;
    }
}

TEST(ScreenAudio, OneChannelTwiceMovesTheChangedList) {
    EXPECT_EQ(AudioClash(4, 4), 0);  // AD1 to HDMI while AD2 shows HDMI: AD1 to V1
    EXPECT_EQ(AudioClash(0, 0), 1);
    EXPECT_EQ(AudioClash(4, 5), std::nullopt);
    EXPECT_EQ(AudioClash(-1, -1), std::nullopt);

    // Readback byte 7 = 0x84: audio 1 code 8 shows "V2/YPbPr", audio 2 code 4 "HDMI".
    EXPECT_STREQ(kAudioEntries[AudioEntryOfCode(0x84 >> 4)], "V2/YPbPr");
    EXPECT_STREQ(kAudioEntries[AudioEntryOfCode(0x84 & 0x0F)], "HDMI");
    EXPECT_EQ(AudioEntryOfCode(9), -1);
    EXPECT_EQ(AudioEntryOfCode(15), -1);

    EXPECT_EQ(AudioCodeOfEntry(1, true), 8);
    EXPECT_EQ(AudioCodeOfEntry(1, false), 1);
    EXPECT_EQ(AudioCodeOfEntry(5, true), 5);
    EXPECT_EQ(AudioCodeOfEntry(-1, false), 0xFF);
}

TEST(ScreenOpening, TakesTheMainWindowsFlags) {
    app::DeviceState st;
    st.m_bPipPending = true;
    st.m_bMosaic = true;
    st.m_bDviMain = true;
    st.m_bV2IsYPbPr = true;
    st.m_pipPreset = 2;
    OpeningValues v = OpeningFrom(st, 7, true, true);
    EXPECT_EQ(v.deviceId, 7);
    EXPECT_TRUE(v.pipOpen && v.mosaic && v.dviMain && v.v2IsYPbPr && v.connected && v.chinese);
    EXPECT_FALSE(v.textOpen || v.bypass);
    EXPECT_EQ(v.pipPreset, 2);
    st = {};
    st.m_bTextOn = true;
    v = OpeningFrom(st, 1, false, false);
    EXPECT_TRUE(v.textOpen);
    EXPECT_FALSE(v.pipOpen);
}
