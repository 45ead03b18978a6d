// Captions, messages and accessible names of the screen settings dialog in both languages,
// exactly as the dialog shows them. Texts are UTF-8.
#pragma once

#include <span>
#include <string>

#include "resources/Captions.h"

namespace res {

// The dialog's caption set, in the order it is applied. Controls not in it keep their template
// text in both languages.
std::span<const Caption> SetScreenCaptions();

// Accessible names of the controls whose caption alone does not say what they are: the edit
// boxes (which window, which value), the lists, the arrows and the previews.
std::span<const Caption> SetScreenNames();

enum class ScreenMsg {
    OutOfRange,         // "Value out  of range"
    OutOfRangeCaption,  // "System Information"
    OddValue,           // "he input value must be even, and can not be odd"
    OddValueCaption,    // "System information"
    SpinTop,            // "Value cannot be upward adjustment"
    SpinBottom,         // "Value cannot be downward adjustment"
    SameAudio,          // "Sorry, audio1 and audio2 can't use the same channel"
    NoticeCaption,      // "System information" (Chinese "系统消息"), of the arrows and audio
    SetOk,              // "Set successfully"
    Reading,            // on the Info line while the settings are read from the device
    SetFailed,          // a frame of the action did not go out (failed write, closed link)
};

const char* ScreenText(ScreenMsg m, bool chinese);

// ---- a processor's settings saved to and loaded from a file ------------------------------------

enum class SettingsFileMsg {
    SaveButton,       // "Save to file…"
    LoadButton,       // "Load from file…"
    Filter,           // the file chooser's filter
    Reading,          // Info line while every setting is read for the file
    Restoring,        // Info line while a file's settings are sent
    Saved,            // Info line: "Settings saved to " + the file
    Restored,         // Info line: every setting reads back as in the file
    NoAnswerSave,     // the processor did not answer: nothing saved
    NoAnswerLoad,     // the processor did not answer: nothing sent
    NotSent,          // a frame could not be written: the restore is incomplete
    Differ,           // head of the list of settings that differ after a restore
    DifferInfo,       // Info line: some settings differ
    Caption,          // caption of this feature's message boxes
    NotRestorable,    // the processor reports a value no settings file may hold
    BrightnessRange,  // a brightness beyond this processor's range 0..64, not sent
    Count,
};
const char* SettingsFileText(SettingsFileMsg m, bool chinese);

// A setting's name and value as a restore lists them ("brightness", "Sharp") in the language
// chosen; names and words without a translation are kept as they are.
std::string SettingNameText(const std::string& name, bool chinese);
std::string SettingValueText(const std::string& value, bool chinese);

// Range label of the brightness (the same in both languages).
inline const char* BrightnessRangeText(bool range100) {
    return range100 ? "(0~100)" : "(0~64)";
}

}  // namespace res
