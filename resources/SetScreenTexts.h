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

// Captions that read the same in both languages: the V2/YPbPr choice and the previews' corner
// labels as the dialog opens (the size label then follows the window's values).
std::span<const FixedCaption> SetScreenFixedCaptions();
// The range shown beside each colour box.
extern const char* const kColourRange;

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
    RestoreTitle,     // title of the window that lists what a restore will change
    RestoreButton,    // its button that sends the settings ticked
    Cancel,           // its button that sends nothing
    SettingHead,      // its table's heads: the setting, its value now, its value in the file
    NowHead,
    FileHead,
    GroupsLabel,       // the label over the groups' tick boxes
    NothingToChange,   // a restore finds every setting ticked as in the file
    RestoreCancelled,  // Info line: the operator sent nothing
    TypedQuestion,     // Save to file with values typed but not sent: what to do with them
    SendTyped,         // its three buttons
    LeaveOutTyped,
    CancelSave,
    ReplaceQuestion,  // a name given an extension names a file that exists: replace it?
    Count,
};
const char* SettingsFileText(SettingsFileMsg m, bool chinese);

// The groups a restore takes or leaves, in the order of screen::SettingGroup: "Output
// resolution", "Windows and layouts", "Picture (brightness, bias, sharpness, colours)", "Audio",
// "Hot spare", "Text key".
const char* SettingGroupText(int group, bool chinese);
// What the restore window and orn312ctl say before a restore: "Device 2 now, and rig.settings
// (saved from device 1):"; savedFrom 0 when the file does not say.
std::string RestorePlanHead(int deviceId, const std::string& file, int savedFrom, bool chinese);
// Why the windows are left out by default: "The file was saved from device 1, not from device 2:
// its windows are left out unless ticked."
std::string WindowsLeftOutText(int deviceId, int savedFrom, bool chinese);
// "Device 2: 5 settings changed from rig.settings" (1 setting, 0 settings).
std::string RestoreDoneText(int deviceId, int settings, const std::string& file, bool chinese);

// A setting's name and value as a restore lists them ("brightness", "Sharp") in the language
// chosen; names and words without a translation are kept as they are.
std::string SettingNameText(const std::string& name, bool chinese);
std::string SettingValueText(const std::string& value, bool chinese);

// Range label of the brightness (the same in both languages).
inline const char* BrightnessRangeText(bool range100) {
    return range100 ? "(0~100)" : "(0~64)";
}

}  // namespace res
