// A whole wall set in one action: every screen's processor gets its input and output window,
// worked out by the mosaic arithmetic from the screen's row and column, sent with the same frames
// and pauses as the dialog's two Set buttons, then read back and compared. No windows here: the
// fast mosaic dialog and orn312ctl both run it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/Sequence.h"
#include "mosaic/MosaicLayout.h"
#include "mosaic/MosaicSequence.h"

namespace mosaic {

// Device IDs a wall's processors may have (the dialog's list).
constexpr int kMinDeviceId = 1;
constexpr int kMaxDeviceId = 255;

// One screen: its size in pixels, its processor's device ID and its own corrections to the
// calculated windows (the dialog's Adjusted values).
struct WallScreen {
    int width = 1920;
    int height = 1080;
    int deviceId = 1;
    WindowValues inputAdjust;
    WindowValues outputAdjust;
    bool operator==(const WallScreen&) const = default;
};

// A laid-out wall: its specification, the output resolution its windows are worked out for, and
// its screens row by row from the top left (screen n is row n / cols, column n % cols).
struct WallPlan {
    int rows = 1;
    int cols = 1;
    int outWidth = 1920;
    int outHeight = 1080;
    std::vector<WallScreen> screens;
    bool operator==(const WallPlan&) const = default;

    int Count() const { return rows * cols; }
};

// A plan of rows × cols screens of one size, numbered from firstId.
WallPlan UniformWall(int rows, int cols, int outWidth, int outHeight, int width, int height,
                     int firstId);

// Gives screen n the device ID firstId + n. False (nothing changed) when the last would pass 255.
bool NumberScreens(WallPlan& plan, int firstId);

// The windows of one screen as its Set buttons would send them: the arithmetic with that screen
// selected, plus its adjustments, checked as a Set checks them.
struct ScreenWindows {
    enum class Problem {
        kNone,
        kSizes,         // the sizes of its row or of the first column fail the calculation
        kInputWindow,   // the input window fails the send checks (range or evenness)
        kOutputWindow,  // the output window fails them
    };
    Problem problem = Problem::kNone;
    WindowValues input;
    WindowValues output;
    // What failed, to say with its value and limit. kSizes: the check of the row's widths
    // (horizontal) or the first column's heights that failed and its screen. kInputWindow,
    // kOutputWindow: the send check that failed (ComposeResult's) and the window as composed.
    CalcCheck sizes;
    bool sizesVertical = false;
    int failedCheck = 0;
    Quantity box = Quantity::kWidth;
    int64_t width = 0, height = 0, hStart = 0, vStart = 0;
};
ScreenWindows WindowsOf(const WallPlan& plan, int screen);

// Why a plan cannot be sent as it is: a screen whose windows fail, a device ID outside 1..255,
// two screens with one device ID. Empty when the whole wall can go.
struct WallProblem {
    enum class Kind { kWindows, kDeviceId, kSameId } kind = Kind::kWindows;
    int screen = 0;
    int other = -1;  // kSameId: the earlier screen with that ID
    ScreenWindows::Problem windows = ScreenWindows::Problem::kNone;
    ScreenWindows found;  // kWindows: the screen's windows and what failed
};
std::vector<WallProblem> CheckWall(const WallPlan& plan);

// How one screen came out.
enum class ScreenResult {
    kNotDone,       // not reached (stopped before it)
    kVerified,      // set, and both windows read back as sent on the expected output size
    kNotAnswering,  // its device did not answer the readback
    kDifferent,     // it answered with other windows or another output size
    kNotSent,       // a frame could not be written (the link failed)
    kStopped,       // stopped while it was being set: part of it may have been sent
};

struct ScreenOutcome {
    ScreenResult result = ScreenResult::kNotDone;
    WindowValues inputSent, outputSent;
    WindowsReadBack read;  // what the device reported
    // kDifferent: which of them differed.
    bool inputDiffers = false;
    bool outputDiffers = false;
    bool sizeDiffers = false;
};

// Progress while a wall is set: position of count screens in this run (0-based), the screen's
// number in the wall, and the pauses still ahead (this screen's included) as time left.
struct WallProgress {
    int position = 0;
    int count = 0;
    int screen = 0;
    int64_t msLeft = 0;
    bool finished = false;  // the screen is done: outcome holds how it came out
    ScreenOutcome outcome;
};

// The pauses of one screen when its device answers at once: two Sets and the readback.
int64_t ScreenPauseMs();

// Sends one screen's two windows (input, then output) with the Set frames and pauses. False when
// the sequence was stopped or a frame did not go out.
bool SendScreenWindows(app::SequenceLink& link, uint8_t deviceId, const ScreenWindows& windows);

// Sets the screens listed (in that order; all screens when empty) and checks each by its
// readback. Screens whose windows fail CheckWall are not sent (kNotDone); call CheckWall first.
// A stop ends it after the frame in flight: the screen being set is kStopped, later ones
// kNotDone. progress runs on the sequence's thread, before and after each screen.
std::vector<ScreenOutcome> SetWall(app::SequenceLink& link, const WallPlan& plan,
                                   const std::vector<int>& which = {},
                                   const std::function<void(const WallProgress&)>& progress = {});

// The screens of a run that did not come out verified, for a retry.
std::vector<int> FailedScreens(const std::vector<ScreenOutcome>& outcomes);

// ---- texts in the operator's language ----------------------------------------------------------

// "Screen 003 (ID 4): read back different: input window ... (sent ...)".
std::string ScreenOutcomeLine(const WallPlan& plan, int screen, const ScreenOutcome& outcome,
                              bool chinese);
// "verified", "not answering", ... for the screens table.
std::string ScreenOutcomeShort(const ScreenOutcome& outcome, bool chinese);
// The summary of a run: "11 of 12 screens set and verified.", then a line for every screen that
// did not verify.
std::vector<std::string> WallSummary(const WallPlan& plan,
                                     const std::vector<ScreenOutcome>& outcomes, bool chinese);
// One line per problem of CheckWall, each naming the value refused and its limit ("Screen 002:
// input window 640 x 360 at 1280,360 ends at 1920, past the input width 1280").
std::vector<std::string> WallProblemLines(const WallPlan& plan,
                                          const std::vector<WallProblem>& problems, bool chinese);

}  // namespace mosaic
