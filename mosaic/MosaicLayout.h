// The arithmetic of the fast mosaic: which wall specifications are taken, each screen's input and
// output window as "Auto Calculate" works it out from the screens' sizes, the checks a window
// passes before it is sent, and one arrow step of an Adjusted value. Plain numbers and texts in,
// plain results out; the dialog shows the messages and fills the boxes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mosaic {

// The largest wall: 6 rows of 8 screens.
constexpr int kMaxRows = 6;
constexpr int kMaxCols = 8;
// Sizes below this many pixels are refused.
constexpr int kMinSize = 64;

// The custom specification, rows and columns as read from their boxes, compared as unsigned
// numbers (a negative number counts as too large).
enum class SpecCheck { kOk, kTooLarge, kTooSmall };
SpecCheck CheckSpecification(int32_t rows, int32_t cols);

// The four numbers of a window.
struct WindowValues {
    int32_t width = 0;
    int32_t height = 0;
    int32_t hStart = 0;
    int32_t vStart = 0;
    bool operator==(const WindowValues&) const = default;
};

// What "Auto Calculate" reads: the specification, the output resolution, the selected screen and
// the texts of the screens' width and height boxes (screens 0 .. rows × cols − 1, row by row).
struct Wall {
    int rows = 1;
    int cols = 1;
    int outWidth = 1024;
    int outHeight = 768;
    int selected = 0;
    std::vector<std::string> widths;
    std::vector<std::string> heights;
};

enum class CalcMessage {
    kNone,
    kHorizontalIncomplete,  // an empty width in the selected row
    kVerticalIncomplete,    // an empty height in the first column
    kOutOfRange,            // a size outside 64 .. the output size
};

// The outcome of one check: its message and the screen whose box is refilled with the output
// size (-1 when the check passed).
struct CalcCheck {
    CalcMessage message = CalcMessage::kNone;
    int screen = -1;
};

struct CalcResult {
    CalcCheck horizontal;  // widths of the selected row
    CalcCheck vertical;    // heights of the first column
    bool calculated = false;
    WindowValues input;   // valid when calculated
    WindowValues output;  // valid when calculated
};

// The selected screen's share of the picture: its input window divides the output resolution
// among the screens in proportion to their pixel sizes, and starts where the screens before it
// end; its output window is its own size at the origin. Both checks always run (a failed
// horizontal check is followed by the vertical one), and nothing is calculated after a failure.
CalcResult AutoCalculate(const Wall& wall);

// The quantities of a window, in the order the send checks look at them.
enum class Quantity { kWidth, kHStart, kHeight, kVStart };

struct ComposeResult {
    // 0 when the window may be sent; 1..4 the range check that failed (that quantity's Adjusted
    // box goes back to 0); 5 an odd value (that quantity's Adjusted box is marked).
    int failedCheck = 0;
    Quantity box = Quantity::kWidth;
    WindowValues values;  // Calculated + Adjusted, to send when failedCheck is 0
};

// Calculated + Adjusted of one side, checked against the output resolution in a fixed order:
// width, horizontal start, height, vertical start, then evenness. What passes lies within the
// output, is at least 64 pixels large, and is even throughout.
ComposeResult ComposeWindow(const WindowValues& calculated, const WindowValues& adjusted,
                            int outWidth, int outHeight);

// One arrow step on an Adjusted value: step −1 (the upper arrow) adds 1, +1 (the lower arrow)
// subtracts 1, any other step changes nothing; the result wraps to 16 bits (32767 + 1 is −32768).
int32_t StepAdjusted(int32_t value, int step);

}  // namespace mosaic
