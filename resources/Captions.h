// Every caption and message of the main window in both languages, exactly as the program shows
// them. One table per caption set; texts are UTF-8.
#pragma once

#include <span>
#include <string>

namespace res {

struct Caption {
    int id;  // control identifier; kWindowTitle for the title
    const char* zh;
    const char* en;
    // The dialog template's caption, shown when the window opens, where it is not the English
    // one (the main window's "PIP", whose English caption is "PIP_Mode").
    const char* start = nullptr;
};

constexpr int kWindowTitle = -1;

// The caption a control (or the title, kWindowTitle) shows when its window opens, from the
// window's caption set: its start caption, or else its English one. Empty when the set does not
// hold id.
const char* StartCaption(std::span<const Caption> set, int id);

// The main window's caption set, in the order it is applied. The timer panel button (1000) is
// not in it: its caption follows the panel (PanelButtonCaption).
extern const Caption kMainCaptions[];
extern const int kMainCaptionCount;

const char* PanelButtonCaption(bool collapsed, bool chinese);

// Captions that read the same in both languages and keep what the window opened with (source and
// function names, digits, "OK"): a language switch leaves them alone. The layouts take them from
// here, as they take the others from the caption sets.
struct FixedCaption {
    int id;  // control identifier
    const char* text;
};

// A fixed caption of a set; empty when the set does not hold id.
const char* FixedText(std::span<const FixedCaption> set, int id);

// The main window's fixed captions: the source, overlay and function buttons, the EXT. input
// and transition radios, the device ID radios, the preview label and AUTO/TAKE as they open.
extern const FixedCaption kMainFixedCaptions[];
extern const int kMainFixedCaptionCount;

// The About dialog: its title, its lines and its button.
extern const char* const kAboutTitle;
extern const char* const kAboutLines[2];
extern const char* const kOkCaption;  // every dialog's "OK"

// The About item of the main window's context menu (the Windows system menu's item).
extern const Caption kAboutItem;

// Messages, chosen by the language flag when shown.
enum class Msg {
    // Info line
    OpenComOk,
    OpenComFail,
    OpenNetOk,
    OpenNetFail,
    DeviceNormal,
    DeviceFailed,
    DeviceSilent,  // three status reads in a row failed
    DeviceClosed,  // the device closed the TCP connection
    // message boxes
    PortOutOfRange,
    PortOutOfRangeCaption,
    NotConnected,
    ExitQuestion,
    SystemInformation,  // the usual caption
    // progress dialog purposes 1..3
    ProgressConnecting,
    ProgressResolution,
    ProgressDotClock,
    // timer fields of the main window
    TimerNoExecution,
    TimerImmediateExecution,
    TimerUnknown,
    SelectTimer,  // Start with no plan kind ticked
    // Info line
    SettingsNotSaved,  // the settings file could not be written
    PortInUse,         // another program holds the serial line
    Disconnected,      // after Disconnect: nothing shown is live any more
    ClosedForMosaic,   // the fast mosaic closed the connection: connect again
    SharedLine,        // connected through the service's shared line (title and Info line)
    // Info line: Planinfo.ini is no plan file, and is neither read nor written
    NotPlanFileTooLarge,  // at the start: larger than 1 MB
    NotPlanFileNotText,   // at the start: not text
    SettingsNotPlanFile,  // a settings change was not written into it
    Reconnecting,         // the link was lost with AutoConnect ticked: trying again
};

const char* Text(Msg m, bool chinese);

// Why a connection could not be opened, from the errno value of the failure, shown after the
// Info line's text: the system's English words, or their Chinese for the common reasons.
std::string ConnectReason(int errnoValue, bool chinese);

// "Connection lost; connecting again in 4 s (attempt 3)": the window's reconnection under way.
std::string ReconnectText(int seconds, int attempt, bool chinese);

// The progress dialog's text for a purpose; other purposes keep the template text.
const char* ProgressText(int purpose, bool chinese);

// Message box language identifier for the language flag.
int LanguageId(bool chinese);

// ---- output resolution dialog (dialog 155) ----

// Its caption set, in the order it is applied.
extern const Caption kAdvancedCaptions[];
extern const int kAdvancedCaptionCount;
// Accessible names of its list, custom boxes and Save, in both languages.
extern const Caption kAdvancedNames[];
extern const int kAdvancedNameCount;

// The unit beside its refresh rate box, the same in both languages.
extern const char* const kRateUnit;

enum class AdvancedMsg {
    DotClockOutOfRange,  // Save with a dot clock out of range
    DotClockCaption,     // that box's caption
    SendFailed,          // the resolution command did not go out (failed write, closed link)
};
const char* Text(AdvancedMsg m, bool chinese);

}  // namespace res
