// Texts of source switching and of the status display in both languages, exactly as the program
// shows them. Texts are UTF-8.
#pragma once

#include <string>

namespace res {

enum class SwitchMsg {
    // Info line
    MosaicOffOnly,
    IncorrectSource,
    // message boxes
    CloseOverlayOrTake,
    ExtIsNull,
    MainIsYPbPr,
    // preview label
    PreviewEmpty,
};

const char* SwitchText(SwitchMsg m, bool chinese);

// The preview label of a preview set to source code (the name for 0..7, "NULL" otherwise).
std::string PreviewLabel(int code, bool chinese);

// The Info line while a source shows without its signal (code 0..8): on air ("No signal on
// HDMI, which is on air") or pre-selected for TAKE.
std::string NoSignalText(int code, bool onAir, bool chinese);
// What a screen reader says of the Info line while it shows an alarm (no signal, no answer).
const char* AlarmDescription(bool chinese);

// Captions that do not change with the language.
inline const char* V2Caption(bool ypbpr) {
    return ypbpr ? "YPbPr" : "V2";
}
inline const char* AutoTakeCaption(bool preTake) {
    return preTake ? "TAKE" : "AUTO";
}

}  // namespace res
