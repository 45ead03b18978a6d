// Captions and messages of the fast mosaic dialog in both languages, exactly as the program shows
// them, misspellings included. Texts are UTF-8.
#pragma once

#include <string>

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

}  // namespace res
