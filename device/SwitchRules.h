// The switching rules of the main window's source, overlay, function and mode controls. Each
// press becomes either a complete command for the command worker or a refusal to show; none of
// them touches the link. The guards read the device state that the status decoder keeps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/DeviceState.h"
#include "link/Frame.h"

namespace app {

// A command for the command worker: sent, then the worker waits delayMs before reading the
// state back. It replaces a command that is still pending.
struct QueuedCommand {
    devlink::Frame frame{};
    int delayMs = 0;
};

// A refused press, in the language in force when it was pressed.
struct Refusal {
    bool messageBox = false;  // false: the Info line 1035
    std::string text;
    std::string caption;  // message box only
    int languageId = 0;   // message box only: 1033 English, 2052 Chinese
};

struct SwitchOutcome {
    std::optional<QueuedCommand> command;
    std::optional<Refusal> refusal;
    bool disableBypass = false;  // disable the "BYPASS" button 1129, whatever the outcome
};

// A source button: code is the button's source, 0 "V1" .. 7 "EXT." ("V2" switches to YPbPr
// while the V2 input carries it). Other codes do nothing.
SwitchOutcome PressSource(const DeviceState& st, uint8_t deviceId, bool chinese, int code);

// "PIP/PBP" and "TEXT": on while the overlay is off, off while it is pending or on.
SwitchOutcome PressPip(const DeviceState& st, uint8_t deviceId, bool chinese);
SwitchOutcome PressText(const DeviceState& st, uint8_t deviceId, bool chinese);

// "M1", "M2", "M3": preset 0..2.
SwitchOutcome PressPreset(uint8_t deviceId, int preset);

// "BYPASS", "MOSAIC", "FREEZE": the flag flips at once and the command carries its new value.
SwitchOutcome PressBypass(DeviceState& st, uint8_t deviceId);
SwitchOutcome PressMosaic(DeviceState& st, uint8_t deviceId);
SwitchOutcome PressFreeze(DeviceState& st, uint8_t deviceId);

// "AUTO"/"TAKE": TAKE in Pre + TAKE mode, AUTO otherwise.
SwitchOutcome PressAutoTake(const DeviceState& st, uint8_t deviceId);

// "One Key Switch" (preTake false) and "Pre + TAKE Switch" (true).
SwitchOutcome PickSwitchMode(uint8_t deviceId, bool preTake);

// "Cut", "0.5S", "1.0S", "1.5S": index 0..3 becomes the transition of the next switch or TAKE.
// Nothing is sent.
void PickTransition(DeviceState& st, int index);

}  // namespace app
