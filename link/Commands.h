// The command catalogue: every frame the system sends, by name. Windows, scheduler, simulator,
// command-line client and tests build their frames here, so the protocol is written once.
// Each function returns the whole 13-byte frame with its checksum.
#pragma once

#include <cstdint>

#include "link/Frame.h"

namespace devlink {

// Command codes (frame byte 2).
enum Code : uint8_t {
    kMainSwitch = 0x00,
    kPipOnOff = 0x01,
    kPipSource = 0x02,
    kTextOnOff = 0x03,
    kTextSource = 0x04,
    kSwitchMode = 0x09,
    kPreviewEmptySource = 0x0A,
    kPreviewSetSource = 0x0B,
    kTake = 0x0C,
    kResolution = 0x0D,
    kOutputWindow = 0x0E,
    kCustomResolution = 0x0F,
    kHotSpare = 0x13,
    kTextKey = 0x15,
    kBrightness = 0x16,
    kSharpness = 0x17,
    kColour = 0x18,
    kAudio = 0x19,
    kV2Input = 0x1A,
    kMosaic = 0x21,
    kSyncMode = 0x22,
    kInputWindow = 0x23,
    kPipPreset = 0x24,
    kBypass = 0x26,
    kAuto = 0x27,
    kFreeze = 0x29,
    kLayoutM1 = 0x2A,
    kLayoutM2 = 0x2B,
    kLayoutM3 = 0x2C,
    kBias = 0x2D,
    kQuery = 0xFE,
};

// Query sub-codes (frame byte 3 after FE).
enum QuerySub : uint8_t {
    kStatusSub = 0x00,
    kResolutionSub = 0x03,
    kMosaicModeSub = 0x04,
    kPictureAudioSub = 0x05,
    kTextKeySub = 0x06,
    kMainGeometryM1Sub = 0x07,  // PIP of M1 is 08; M2 09/0A; M3 0B/0C
    kCustomResolutionSub = 0x0F,
    kColourSub = 0x10,
    kIdentifySub = 0xFE,
};

// Source codes.
enum Source : uint8_t {
    kV1 = 0,
    kV2 = 1,
    kVga1 = 2,
    kVga2 = 3,
    kHdmi = 4,
    kDvi = 5,
    kDp = 6,
    kExt = 7,
    kYPbPr = 8,
};
constexpr int kSourceCount = 9;

// ---- queries ----------------------------------------------------------------------------------

inline Frame ReadQuery(uint8_t id, uint8_t sub) {
    return MakeFrame(id, {kQuery, sub});
}
inline Frame IdentifyQuery(uint8_t id) {
    return ReadQuery(id, kIdentifySub);
}
inline Frame StatusQuery(uint8_t id) {
    return ReadQuery(id, kStatusSub);
}
inline Frame ResolutionQuery(uint8_t id) {
    return ReadQuery(id, kResolutionSub);
}
inline Frame CustomResolutionQuery(uint8_t id) {
    return ReadQuery(id, kCustomResolutionSub);
}
inline Frame MosaicModeQuery(uint8_t id) {
    return ReadQuery(id, kMosaicModeSub);
}
inline Frame PictureAudioQuery(uint8_t id) {
    return ReadQuery(id, kPictureAudioSub);
}
inline Frame TextKeyQuery(uint8_t id) {
    return ReadQuery(id, kTextKeySub);
}
inline Frame ColourQuery(uint8_t id) {
    return ReadQuery(id, kColourSub);
}
// Window geometry of a layout: layout 0..2 (M1..M3), pip false for the main window.
inline uint8_t LayoutGeometrySub(int layout, bool pip) {
    return static_cast<uint8_t>(kMainGeometryM1Sub + 2 * layout + (pip ? 1 : 0));
}
inline Frame LayoutGeometryQuery(uint8_t id, uint8_t sub) {
    return ReadQuery(id, sub);
}

// ---- source switching and overlays ------------------------------------------------------------

// 00 tt ss: the main switch with transition tt (0 Cut, 1 0.5 s, 2 1.0 s, 3 1.5 s).
inline Frame SourceSwitch(uint8_t id, uint8_t transition, uint8_t source) {
    return MakeFrame(id, {kMainSwitch, transition, source});
}
inline Frame PipOnOffCommand(uint8_t id, bool on) {
    return MakeFrame(id, {kPipOnOff, on});
}
inline Frame PipSourceCommand(uint8_t id, uint8_t s) {
    return MakeFrame(id, {kPipSource, s});
}
inline Frame TextOnOffCommand(uint8_t id, bool on) {
    return MakeFrame(id, {kTextOnOff, on});
}
inline Frame TextSourceCommand(uint8_t id, uint8_t s) {
    return MakeFrame(id, {kTextSource, s});
}
inline Frame PreviewEmptySourceCommand(uint8_t id, uint8_t s) {
    return MakeFrame(id, {kPreviewEmptySource, s});
}
inline Frame PreviewSetSourceCommand(uint8_t id, uint8_t s) {
    return MakeFrame(id, {kPreviewSetSource, s});
}
// 09 00 One Key Switch, 09 01 Pre + TAKE.
inline Frame SwitchModeCommand(uint8_t id, bool preTake) {
    return MakeFrame(id, {kSwitchMode, preTake});
}
inline Frame TakeCommand(uint8_t id, uint8_t transition) {
    return MakeFrame(id, {kTake, transition});
}
inline Frame AutoCommand(uint8_t id) {
    return MakeFrame(id, {kAuto, 0x00});
}
// 24 nn: PIP preset / layout M1..M3 (nn 0..2).
inline Frame LayoutCommand(uint8_t id, uint8_t preset) {
    return MakeFrame(id, {kPipPreset, preset});
}
inline Frame BypassCommand(uint8_t id, bool on) {
    return MakeFrame(id, {kBypass, on});
}
inline Frame FreezeCommand(uint8_t id, bool on) {
    return MakeFrame(id, {kFreeze, on});
}
// 21 nn mm: MOSAIC on/off; the fast mosaic's recovery puts 05 in mm after a switch to DVI.
inline Frame MosaicCommand(uint8_t id, bool on, uint8_t extra = 0) {
    return MakeFrame(id, {kMosaic, on, extra});
}

// ---- window geometry (16-bit values high byte first) -------------------------------------------

// LL ww hs w vs h: LL the layout code 2A/2B/2C, ww 00 main window, 01 PIP window.
inline Frame WindowGeometryCommand(uint8_t id, uint8_t layoutCode, bool pip, int hs, int w, int vs,
                                   int h) {
    return MakeFrame(id, {layoutCode, pip, High(hs), Low(hs), High(w), Low(w), High(vs), Low(vs),
                          High(h), Low(h)});
}
inline Frame InputWindowCommand(uint8_t id, int hs, int w, int vs, int h) {
    return MakeFrame(id, {kInputWindow, 0, High(hs), Low(hs), High(w), Low(w), High(vs), Low(vs),
                          High(h), Low(h)});
}
inline Frame OutputGeometryCommand(uint8_t id, int hs, int w, int vs, int h) {
    return MakeFrame(id, {kOutputWindow, 0, High(hs), Low(hs), High(w), Low(w), High(vs), Low(vs),
                          High(h), Low(h)});
}

// ---- output resolution ------------------------------------------------------------------------

inline Frame ResolutionCommand(uint8_t id, uint8_t code) {
    return MakeFrame(id, {kResolution, code});
}
inline Frame CustomResolutionCommand(uint8_t id, int width, int height, int rate) {
    return MakeFrame(
        id, {kCustomResolution, 0, High(width), Low(width), High(height), Low(height), Low(rate)});
}

// ---- picture, audio and modes -----------------------------------------------------------------

inline Frame TextKeyCommand(uint8_t id, bool aboveThreshold, uint8_t r, uint8_t g, uint8_t b) {
    return MakeFrame(id, {kTextKey, aboveThreshold, r, g, b});
}
inline Frame BrightnessCommand(uint8_t id, uint8_t v) {
    return MakeFrame(id, {kBrightness, v});
}
inline Frame BiasCommand(uint8_t id, uint8_t v) {
    return MakeFrame(id, {kBias, v});
}
inline Frame ColourCommand(uint8_t id, uint8_t v, uint8_t source) {
    return MakeFrame(id, {kColour, v, source});
}
inline Frame SharpnessCommand(uint8_t id, bool sharp) {
    return MakeFrame(id, {kSharpness, sharp});
}
inline Frame AudioCommand(uint8_t id, uint8_t a1, uint8_t a2) {
    return MakeFrame(id, {kAudio, a1, a2});
}
inline Frame HotSpareCommand(uint8_t id, bool v1v2, bool hdmiDvi, bool vga1vga2) {
    return MakeFrame(id, {kHotSpare, v1v2, hdmiDvi, vga1vga2});
}
inline Frame SyncModeCommand(uint8_t id, bool sync) {
    return MakeFrame(id, {kSyncMode, sync});
}
inline Frame V2InputCommand(uint8_t id, bool ypbpr) {
    return MakeFrame(id, {kV2Input, ypbpr});
}

// ---- fast mosaic -------------------------------------------------------------------------------

// 21 01 nn: MOSAIC on from the fast mosaic's DVI recovery; nn is 05 after its switch to DVI.
inline Frame MosaicOnCommand(uint8_t id, uint8_t nn) {
    return MosaicCommand(id, true, nn);
}
// FE 00 nn: the status query that closes that recovery, with the same nn.
inline Frame ClosingStatusQuery(uint8_t id, uint8_t nn) {
    return MakeFrame(id, {kQuery, kStatusSub, nn});
}

// ---- how long a command holds the line ----------------------------------------------------------

// The processor is given this long after a command before the next frame: the pauses the window
// keeps, in one place for the window, the command-line client and the service's shared line.
constexpr int kQuickPauseMs = 500;        // PIP/TEXT off, presets, BYPASS, MOSAIC, FREEZE
constexpr int kSettingPauseMs = 1000;     // a setting saved; any command not known here
constexpr int kSwitchPauseMs = 3000;      // a source switch, PIP/TEXT on, TAKE, the switch mode
constexpr int kDviSwitchPauseMs = 5000;   // a switch to DVI
constexpr int kSyncModePauseMs = 3000;    // the mosaic's sync mode
constexpr int kAutoPauseMs = 20000;       // AUTO
constexpr int kResolutionWaitMs = 10000;  // the processor switching its output resolution

// The pause after frame, by its command (bytes 2..): 0 for a question (it is answered instead).
int CommandPause(const Frame& frame);

// Source labels as the switching buttons show them ("V1" .. "EXT.", "YPbPr"); nullptr above 8.
const char* SourceLabel(int code);
// Code of a source label (any case, "EXT" without the dot too); -1 when unknown.
int SourceFromLabel(const char* label);

}  // namespace devlink
