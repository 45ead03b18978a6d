// The status decoder: turns a status reply into the device state and into the display the main
// window shows (lamps, captions, radios, preview label, enabled buttons). No widgets here; the
// window applies the Display on the UI thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "device/DeviceState.h"

namespace app {

// A lamp's state; the numbers are those of the window's SetLampState.
enum class LampState : int {
    Hidden = 0,
    Steady = 1,
    Flashing = 2,  // in the blink set: the blink thread shows and hides it
};

// Enabled state of the function buttons.
struct FunctionButtons {
    bool mosaic = false;      // "MOSAIC" 1130
    bool bypass = false;      // "BYPASS" 1129
    bool freeze = false;      // "FREEZE" 1131
    bool pip = false;         // "PIP/PBP" 1127
    bool text = false;        // "TEXT" 1128
    bool switchMode = false;  // "One Key Switch" 1042 and "Pre + TAKE Switch" 1043

    bool operator==(const FunctionButtons&) const = default;
};

// A source shown without its signal: on air (the main picture, or the PIP or TEXT picture that
// is on), or pre-selected for TAKE (Pre + TAKE's preview).
struct SignalLoss {
    int source = 0;  // code 0..8
    bool onAir = true;

    bool operator==(const SignalLoss&) const = default;
};

// What the window must do after one decode.
struct Display {
    // Final state of every lamp the decode touched, by lamp id; lamps not listed keep theirs.
    // A final state rather than the sequence of changes: the decode may hide a lamp and light it
    // again (the previous main source becomes the second source), and the window must not
    // depend on replaying the changes in their order to end with the right picture.
    std::map<int, LampState> lamps;
    // The Cut/Fade radio to check, the other three unchecked; only on the first decode of a
    // connection.
    std::optional<int> transitionRadio;
    const char* v2Caption = "V2";          // button 1115
    bool preTakeMode = false;              // checks 1043 and unchecks 1042, or the other way round
    const char* autoTakeCaption = "AUTO";  // button 1132
    bool presetsEnabled = false;           // M1..M3 (1031..1033)
    std::optional<int> extRadio;           // the EXT. input radio to check; none: all unchecked
    std::optional<std::string> previewLabel;         // label 1210: shown with this text, or hidden
    bool autoTakeEnabled = false;                    // button 1132
    std::optional<FunctionButtons> functionButtons;  // absent while the scheduler runs
    // The source on air without its signal, or else the pre-selected one; none while all have it.
    std::optional<SignalLoss> signalLoss;
};

// Decodes a status reply (13 bytes) for the device deviceId into state and blinkSet (lamp ids
// that the blink thread flashes, rebuilt at every decode). Call with the link lock held, which
// guards blinkSet. chinese chooses the preview label's language; timerRunning leaves the
// function buttons alone. A reply with a wrong leader, device ID or marker changes nothing and
// gives no display.
std::optional<Display> DecodeStatus(const uint8_t* reply, uint8_t deviceId, bool chinese,
                                    bool timerRunning, DeviceState& state,
                                    std::map<int, bool>& blinkSet);

}  // namespace app
