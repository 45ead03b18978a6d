// Captions and messages of the fast mosaic dialog in both languages, exactly as the program shows
// them, misspellings included. Texts are UTF-8.
#pragma once

#include <string>
#include <vector>

#include "resources/Captions.h"

namespace res {

// The dialog's caption set (title and fixed captions), in the order it is applied. The
// Effects-show box and the two window groups carry numbers: their captions are made below.
extern const Caption kMosaicCaptions[];
extern const int kMosaicCaptionCount;

enum class MosaicMsg {
    SpecTooLarge,           // custom specification above 6 × 8
    SpecTooSmall,           // custom specification with a 0
    HorizontalIncomplete,   // Auto Calculate: an empty width
    VerticalIncomplete,     // Auto Calculate: an empty height
    SizeOutOfRange,         // Auto Calculate: a size outside 64 .. the output
    DataOutOfRange,         // a composed window outside the output
    MustBeEven,             // a composed value that is odd
    ConnectSerialQuestion,  // a device ID radio
    CannotConnect,          // the connect sequence's status query unanswered
    DviSignalAfterConnect,  // the recovery in the connect sequence failed
    DviSignal,              // "Detect" found no usable signal
    SetUpOk,                // a mosaic mode was sent
    SendFailed,             // a frame of a Set or mode change did not go out
};

struct MessageBoxText {
    const char* text;
    const char* caption;
};

MessageBoxText MosaicMessage(MosaicMsg m, bool chinese);

// "Effects show（...Width<=1920，Height<=1080）" with the output size.
std::string EffectsShowCaption(int width, int height, bool chinese);
// "Input（WindowID：003）" or "Output（WindowID：003）".
std::string WindowGroupCaption(bool output, int screen, bool chinese);
// The resolution list's text for a custom resolution read from the device.
std::string CustomResolutionText(int width, int height, int rate, bool chinese);
// Labels of a screen's boxes in the grid: "Height" and "Width".
const char* ScreenBoxLabel(bool height, bool chinese);
// For accessible names: "Screen" before a screen's number; "selected" for the selected screen.
const char* ScreenWord(bool chinese);
const char* SelectedWord(bool chinese);
// For accessible names of the value boxes and arrows: the side ("Input", "Output") and the
// arrows ("up", "down").
const char* SideWord(bool output, bool chinese);
const char* ArrowWord(bool up, bool chinese);
// For accessible names of the device ID radios and list: "Device ID".
const char* DeviceIdWord(bool chinese);

// ---- the whole wall ----------------------------------------------------------------------------

enum class WallWord {
    SetWholeWall,  // the button that sets every screen
    Stop,          // stops a wall being set
    FirstId,       // label of the first device ID
    Title,         // title of the whole wall window
    SaveWall,      // "Save wall…"
    LoadWall,      // "Load wall…"
    RetryFailed,   // "Retry failed screens"
    Close,         // closes the screens window
    ScreenHead,    // table heads
    DeviceIdHead,
    WidthHead,
    HeightHead,
    InputAdjustHead,
    OutputAdjustHead,
    ResultHead,
    WallFiles,        // file dialog filter
    Progress,         // accessible name of the progress bar
    NothingSent,      // head of the list of problems found before sending
    Caption,          // caption of the wall's message boxes
    FirstIdTooHigh,   // the first ID leaves no room for the last screen
    OpenWall,         // the fast mosaic's button that opens the whole wall window without a run
    AdjustForm,       // an adjustment typed wrongly
    Summary,          // accessible name of the summary
    Running,          // the progress bar's text while the first screen starts
    ReplaceQuestion,  // a name given its extension names a file that exists: replace it?
    NotLaidOut,       // head of the question before a run of a layout the operator has not made
    NotKept,          // the wall laid out cannot be kept for the next opening (a problem follows)
    KeepFailed,       // the plan file could not be written with the wall
    Count,
};
const char* WallText(WallWord w, bool chinese);

// "Screen 3 of 12 (005), about 27 s left".
std::string WallProgressText(int position, int count, int screen, int secondsLeft, bool chinese);

// How one screen came out, for the summary: screen number, its device ID, and the result.
enum class WallResultWord { NotDone, Verified, NotAnswering, Different, NotSent, Stopped };
// "Screen 003 (ID 4): set and verified" and the like; details (what differed) follow after ": ".
std::string WallScreenLine(int screen, int deviceId, WallResultWord result,
                           const std::string& details, bool chinese);
// What differed: "input window 640x360 at 2,0 (sent 640x360 at 0,0)".
std::string WallWindowDifference(bool output, const std::string& read, const std::string& sent,
                                 bool chinese);
// "output 1280x1024 (the wall is laid out for 1920x1080)".
std::string WallSizeDifference(int width, int height, int wallWidth, int wallHeight, bool chinese);
// The first line of the summary: "11 of 12 screens set and verified."
std::string WallSummaryHead(int verified, int count, bool chinese);
// The question after a summary with failures: "Retry the 1 screen that did not verify?"
std::string WallRetryQuestion(int failed, bool chinese);
// Short result for the screens table: "verified", "not answering", ...
const char* WallResultShort(WallResultWord result, bool chinese);

// What a run would set, for a question before it: "Specification 1 x 1, output 1920 x 1080",
// then the screens' sizes and IDs (one line when every screen has one size), then "Set it?".
struct WallScreenSize {
    int width, height, deviceId;
};
std::string WallPlanText(int rows, int cols, int outWidth, int outHeight,
                         const std::vector<WallScreenSize>& screens, bool chinese);

// A problem that keeps the wall from being sent.
enum class WallProblemWord { DeviceId, SameId };
std::string WallProblemLine(WallProblemWord problem, int screen, int deviceId, int otherScreen,
                            bool chinese);

// A screen whose window fails its send checks, with the value refused and the limit: the window
// as composed (width, height, horizontal and vertical start), the quantity that failed (0 width,
// 1 horizontal start, 2 height, 3 vertical start, as the checks run), how, the value and the
// limit (the output's width or height). "Screen 002: input window 640 x 360 at 1280,360 ends at
// 1920, past the input width 1280".
enum class WindowFault { kTooLarge, kTooSmall, kEndsPast, kStartsBefore, kStartsPast, kOdd };
struct WindowNumbers {
    long long width, height, hStart, vStart;
};
std::string WallWindowFault(int screen, bool output, bool vertical, int quantity, WindowFault fault,
                            WindowNumbers window, long long value, long long limit, bool chinese);
// A screen whose row's widths (or the first column's heights) fail the calculation: "Screen 002:
// the width 2000 of screen 003 is outside 64..1920 (the output width)".
std::string WallSizeFault(int screen, int other, bool vertical, int value, int limit, bool chinese);

}  // namespace res
