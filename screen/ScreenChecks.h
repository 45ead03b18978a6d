// The screen settings dialog's rules, without windows: output resolutions, the window geometry
// kept between openings, the geometry and value checks, the preview scale, the text key arrows
// and the audio channel rule.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/DeviceState.h"
#include "screen/OutputResolution.h"

namespace screen {

// ---- what the dialog takes from the main window when Setup opens it --------------------------

struct OpeningValues {
    uint8_t deviceId = 1;
    bool chinese = false;
    bool connected = false;  // m_bLinkUp: the geometry Saves send only when set
    bool dviMain = false;    // m_bSourceIsDvi
    bool mosaic = false;     // m_bMosaicOn
    bool bypass = false;     // m_bBypassOn
    bool pipOpen = false;    // PIP pending or on
    bool textOpen = false;   // TEXT pending or on
    bool v2IsYPbPr = false;
    int pipPreset = 0;  // 0 M1, 1 M2, 2 M3
};

OpeningValues OpeningFrom(const app::DeviceState& state, uint8_t deviceId, bool connected,
                          bool chinese);

// ---- output resolutions ------------------------------------------------------------------------

// The resolution codes and their table: screen/OutputResolution.h.

struct Size {
    int width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

// ---- window geometry ---------------------------------------------------------------------------

// The windows in the order of g_windowGeometry.
enum Window { kInput = 0, kOutput = 1, kMain = 2, kPip = 3 };

struct WindowGeometry {
    int w = 0, h = 0, hs = 0, vs = 0;  // width, height, horizontal start, vertical start
    bool operator==(const WindowGeometry&) const = default;
};

// In pixels of the output picture, for the input, output, main and PIP window: written by the
// readback and the geometry Saves, read by the previews. Zero at start and kept between openings
// of the dialog. UI thread only.
extern std::array<WindowGeometry, 4> g_windowGeometry;

// The boxes of a window in the order their checks name them.
enum GeometryField { kWidth = 0, kHStart = 1, kHeight = 2, kVStart = 3 };

struct GeometryCheck {
    enum Kind { kOk, kOutOfRange, kOdd } kind = kOk;
    GeometryField field = kWidth;  // the box the failure names
};

// Range checks against the output size (width, then horizontal start, height, vertical start),
// then parity (every value even; the first odd box named).
GeometryCheck CheckGeometry(const WindowGeometry& g, Size output);

// ---- previews ----------------------------------------------------------------------------------

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// Where a window's coloured rectangle goes inside its preview frame of frameWidth x frameHeight:
// the frame stands for the output picture. An output without a width or height has no scale: the
// rectangle is then empty, at the frame's corner.
Rect PreviewRect(int frameWidth, int frameHeight, Size output, const WindowGeometry& g);

// ---- boxes and values --------------------------------------------------------------------------

enum class ValueCheck { kOk, kOutOfRange, kOdd };

// Brightness runs 0..64, or 0..100 when range100; it must be even.
ValueCheck CheckBrightness(int v, bool range100);
// Bias and colours: 0..100. Text key colours: 0..255. A negative value is out of range.
ValueCheck CheckPercent(int v);
ValueCheck CheckKeyColour(int v);

// Values the Reset buttons write and send.
int BrightnessResetValue(bool range100);
constexpr int kBiasReset = 50;
constexpr int kColourReset = 50;

// ---- text key arrows ---------------------------------------------------------------------------

// Key colours 0 red, 1 green, 2 blue: green moves by 4, red and blue by 8.
int KeyColourStep(int colour);

struct SpinOutcome {
    enum Kind { kMoved, kAtTop, kAtBottom, kUnchanged } kind;
    int value;
};
// One arrow on a key colour box holding v: delta -1 is the up arrow, +1 the down arrow, anything
// else changes nothing. The value is read as 16-bit signed, as the box holds it.
SpinOutcome SpinKeyColour(int v, int colour, int delta);

// ---- audio -------------------------------------------------------------------------------------

constexpr int kAudioEntryCount = 8;
extern const char* const kAudioEntries[kAudioEntryCount];  // index = source code

// After the operator changed one audio list to changedIndex while the other shows otherIndex:
// the index the changed list moves to when both would use one channel, or nullopt.
std::optional<int> AudioClash(int changedIndex, int otherIndex);
// The list entry of a source code from the readback (8, YPbPr, is entry 1); -1 for codes without
// an entry.
int AudioEntryOfCode(int code);
// The source code the Audio Save sends for a list index: 1 as 8 while the V2 input is YPbPr, no
// selection (-1) as FF.
uint8_t AudioCodeOfEntry(int index, bool v2IsYPbPr);

}  // namespace screen
