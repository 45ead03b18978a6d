// The fast mosaic's arithmetic: specifications, Auto Calculate, the send checks, arrow steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mosaic/MosaicLayout.h"

using mosaic::CalcMessage;
using mosaic::Quantity;
using mosaic::WindowValues;

namespace {

// A wall whose screens all have the same box texts.
mosaic::Wall Uniform(int rows, int cols, const std::string& w, const std::string& h, int outW,
                     int outH, int selected) {
    mosaic::Wall wall{rows, cols, outW, outH, selected, {}, {}};
    wall.widths.assign(rows * cols, w);
    wall.heights.assign(rows * cols, h);
    return wall;
}

}  // namespace

TEST(MosaicLayout, SpecificationsUpTo6By8AreTaken) {
    const struct {
        int32_t rows, cols;
        mosaic::SpecCheck want;
    } cases[] = {
        {1, 1, mosaic::SpecCheck::kOk},       {6, 8, mosaic::SpecCheck::kOk},
        {4, 3, mosaic::SpecCheck::kOk},       {7, 1, mosaic::SpecCheck::kTooLarge},
        {1, 9, mosaic::SpecCheck::kTooLarge}, {0, 3, mosaic::SpecCheck::kTooSmall},
        {3, 0, mosaic::SpecCheck::kTooSmall}, {-1, 2, mosaic::SpecCheck::kTooLarge},
        {0, 9, mosaic::SpecCheck::kTooLarge},  // the size check comes first
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mosaic::CheckSpecification(c.rows, c.cols), c.want) << c.rows << "x" << c.cols;
    }
}

TEST(MosaicLayout, AutoCalculateSharesTheOutputAmongTheScreens) {
    struct Case {
        const char* what;
        mosaic::Wall wall;
        WindowValues input, output;
    };
    mosaic::Wall truncation{1, 2, 1080, 1080, 0, {"374", "166"}, {"1080", "1080"}};
    mosaic::Wall unevenRows{3, 1, 1920, 1080, 2, {"1920", "1920", "1920"}, {"100", "300", "600"}};
    mosaic::Wall emptyHeightOutside = Uniform(1, 2, "960", "1080", 1920, 1080, 1);
    emptyHeightOutside.heights[1] = "";
    const Case cases[] = {
        {"1x3 of 1920, screen 001",
         Uniform(1, 3, "1920", "1080", 1920, 1080, 1),
         {640, 1080, 640, 0},
         {1920, 1080, 0, 0}},
        {"2x2 of 1024x768, screen 003",
         Uniform(2, 2, "1024", "768", 1024, 768, 3),
         {512, 384, 512, 384},
         {1024, 768, 0, 0}},
        {"3x2 of 1920x1080, screen 005",
         Uniform(3, 2, "1920", "1080", 1920, 1080, 5),
         {960, 360, 960, 720},
         {1920, 1080, 0, 0}},
        // 374 / 540 × 1080 is 748 exactly, but not in double precision.
        {"374 of 540 on 1080", truncation, {747, 1080, 0, 0}, {374, 1080, 0, 0}},
        {"rows of 100, 300, 600", unevenRows, {1920, 648, 0, 432}, {1920, 600, 0, 0}},
        {"64 and the output width are taken",
         Uniform(1, 2, "64", "1080", 1920, 1080, 1),
         {960, 1080, 960, 0},
         {64, 1080, 0, 0}},
        {"empty height outside the first column",
         emptyHeightOutside,
         {960, 0, 960, 0},
         {960, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const mosaic::CalcResult r = mosaic::AutoCalculate(c.wall);
        EXPECT_EQ(r.horizontal.message, CalcMessage::kNone) << c.what;
        EXPECT_EQ(r.vertical.message, CalcMessage::kNone) << c.what;
        ASSERT_TRUE(r.calculated) << c.what;
        EXPECT_EQ(r.input, c.input) << c.what;
        EXPECT_EQ(r.output, c.output) << c.what;
    }
}

TEST(MosaicLayout, AutoCalculateRefusesMissingAndOutOfRangeSizes) {
    struct Case {
        const char* what;
        mosaic::Wall wall;
        mosaic::CalcCheck horizontal, vertical;
    };
    const auto withWidth = [](int screen, const char* text) {
        mosaic::Wall w = Uniform(2, 3, "640", "540", 1920, 1080, 4);
        w.widths[screen] = text;
        return w;
    };
    const auto withHeight = [](int screen, const char* text) {
        mosaic::Wall w = Uniform(2, 3, "640", "540", 1920, 1080, 4);
        w.heights[screen] = text;
        return w;
    };
    mosaic::Wall both = withWidth(4, "");
    both.heights[3] = "2000";
    const Case cases[] = {
        {"63 wide", withWidth(4, "63"), {CalcMessage::kOutOfRange, 4}, {}},
        {"wider than the output", withWidth(5, "1921"), {CalcMessage::kOutOfRange, 5}, {}},
        {"negative width", withWidth(3, "-640"), {CalcMessage::kOutOfRange, 3}, {}},
        {"empty width", withWidth(3, ""), {CalcMessage::kHorizontalIncomplete, 3}, {}},
        {"text width", withWidth(3, "abc"), {CalcMessage::kOutOfRange, 3}, {}},
        // Only the selected row's widths count.
        {"bad width in another row", withWidth(0, ""), {}, {}},
        {"empty first-column height", withHeight(3, ""), {}, {CalcMessage::kVerticalIncomplete, 3}},
        {"63 high", withHeight(0, "63"), {}, {CalcMessage::kOutOfRange, 0}},
        {"taller than the output", withHeight(3, "1081"), {}, {CalcMessage::kOutOfRange, 3}},
        // A height outside the first column is not checked.
        {"bad height outside the first column", withHeight(1, ""), {}, {}},
        {"both checks fail",
         both,
         {CalcMessage::kHorizontalIncomplete, 4},
         {CalcMessage::kOutOfRange, 3}},
    };
    for (const Case& c : cases) {
        const mosaic::CalcResult r = mosaic::AutoCalculate(c.wall);
        EXPECT_EQ(r.horizontal.message, c.horizontal.message) << c.what;
        EXPECT_EQ(r.horizontal.screen, c.horizontal.screen) << c.what;
        EXPECT_EQ(r.vertical.message, c.vertical.message) << c.what;
        EXPECT_EQ(r.vertical.screen, c.vertical.screen) << c.what;
        const bool failed =
            c.horizontal.message != CalcMessage::kNone || c.vertical.message != CalcMessage::kNone;
        EXPECT_EQ(r.calculated, !failed) << c.what;
    }
}

TEST(MosaicLayout, ANegativeHeightOutsideTheFirstColumnGivesAWindowThatIsRefused) {
    mosaic::Wall wall = Uniform(1, 2, "960", "1080", 1920, 1080, 1);
    wall.heights[1] = "-2";  // 4294967294 as an unsigned part
    const mosaic::CalcResult r = mosaic::AutoCalculate(wall);
    ASSERT_TRUE(r.calculated);
    EXPECT_GT(r.input.height, 1080);
    for (int adjust : {-32768, 0, 32767}) {
        EXPECT_EQ(mosaic::ComposeWindow(r.input, {0, adjust, 0, 0}, 1920, 1080).failedCheck, 3);
    }
}

TEST(MosaicLayout, ComposeChecksRunInOrderAndTheFirstFailureDecides) {
    struct Case {
        const char* what;
        WindowValues calculated, adjusted;
        int failedCheck;
        Quantity box;
    };
    // Output 1920 × 1080. WindowValues are {width, height, hStart, vStart}.
    const Case cases[] = {
        {"fits exactly", {1920, 1080, 0, 0}, {}, 0, Quantity::kWidth},
        {"adjusted into place", {640, 1080, 640, 0}, {-2, 0, 2, 0}, 0, Quantity::kWidth},
        {"W 1920 X 2", {1920, 1080, 2, 0}, {}, 1, Quantity::kWidth},
        {"W 1920 X -2", {1920, 1080, -2, 0}, {}, 1, Quantity::kWidth},
        {"W 62", {62, 1080, 0, 0}, {}, 1, Quantity::kWidth},
        {"W 64 by adjustment", {62, 1080, 0, 0}, {2, 0, 0, 0}, 0, Quantity::kWidth},
        {"W 640 X -2", {640, 1080, -2, 0}, {}, 2, Quantity::kHStart},
        {"W 640 X 1282", {640, 1080, 1282, 0}, {}, 1, Quantity::kWidth},
        {"H 1082", {640, 1082, 0, 0}, {}, 3, Quantity::kHeight},
        {"H 1080 Y 2", {640, 1080, 0, 2}, {}, 3, Quantity::kHeight},
        {"H 540 Y -2", {640, 540, 0, -2}, {}, 4, Quantity::kVStart},
        {"H 540 Y 542, past the bottom", {640, 540, 0, 542}, {}, 3, Quantity::kHeight},
        {"X odd", {640, 1080, 641, 0}, {}, 5, Quantity::kHStart},
        {"W and Y odd: W first", {639, 540, 0, 1}, {}, 5, Quantity::kWidth},
        {"H odd by adjustment", {640, 540, 0, 0}, {0, 1, 0, 0}, 5, Quantity::kHeight},
        {"Y odd", {640, 540, 0, 3}, {}, 5, Quantity::kVStart},
        {"range before evenness", {641, 1081, 0, 0}, {}, 3, Quantity::kHeight},
        // Near the 32-bit end the sum does not wrap into range.
        {"huge calculated", {2147483647, 540, 0, 0}, {32767, 0, 0, 0}, 1, Quantity::kWidth},
    };
    for (const Case& c : cases) {
        const mosaic::ComposeResult r = mosaic::ComposeWindow(c.calculated, c.adjusted, 1920, 1080);
        EXPECT_EQ(r.failedCheck, c.failedCheck) << c.what;
        if (c.failedCheck != 0) {
            EXPECT_EQ(r.box, c.box) << c.what;
        } else {
            const WindowValues sum{
                c.calculated.width + c.adjusted.width, c.calculated.height + c.adjusted.height,
                c.calculated.hStart + c.adjusted.hStart, c.calculated.vStart + c.adjusted.vStart};
            EXPECT_EQ(r.values, sum) << c.what;
        }
    }
}

TEST(MosaicLayout, ArrowStepsWrapAt16Bits) {
    const struct {
        int32_t value;
        int step;
        int32_t want;
    } cases[] = {
        {0, -1, 1}, {0, 1, -1}, {32767, -1, -32768}, {-32768, 1, 32767},
        {5, 2, 5},  {5, 0, 5},  {70000, 0, 4464},  // truncated even unchanged
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mosaic::StepAdjusted(c.value, c.step), c.want) << c.value << " " << c.step;
    }
}
