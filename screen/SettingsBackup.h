// A processor's settings saved, restored and cloned: everything the screen settings dialog reads
// (output resolution and custom size, output window, the main and PIP windows of the three
// layouts, input window and mosaic mode, brightness, bias, sharpness, audio, hot spare, text key,
// the colours), read into one record, written to a readable versioned text file, and sent back
// with the dialogs' own commands and pauses. No windows here: orn312ctl and the dialog both use it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/Sequence.h"
#include "link/Replies.h"
#include "platform/TextFile.h"
#include "screen/ScreenSequences.h"

namespace screen {

constexpr int kSettingsFileVersion = 1;

struct ProcessorSettings {
    int resolution = 6;                     // output resolution code 0..16
    devlink::CustomResolutionReply custom;  // width, height, rate; in use with code 16
    WindowGeometry output;
    WindowGeometry input;
    bool syncMosaic = false;
    std::array<std::array<WindowGeometry, 2>, 3> layouts{};  // [M1..M3][main, PIP]
    int brightness = 0;
    bool brightness100 = false;  // the processor's brightness range (0..100, else 0..64)
    int bias = 0;
    bool sharp = false;
    int audio1 = 0, audio2 = 0;      // source codes (8: YPbPr)
    std::array<bool, 3> hotSpare{};  // V1>>V2, HDMI>>DVI, VGA1>>VGA2
    bool aboveThreshold = false;
    int keyRed = 0, keyGreen = 0, keyBlue = 0;
    std::array<int, 7> colour{};  // V1, V2, HDMI, DVI, DP, EXT., YPbPr
    int deviceId = 0;             // the device ID a file was saved from; 0 when it does not say
};

// The groups of settings a restore may take or leave: output resolution (and custom size);
// windows and layouts (output, input and layout windows, mosaic mode); picture (brightness,
// bias, sharpness, colours); audio; hot spare; text key.
enum class SettingGroup { kResolution, kWindows, kPicture, kAudio, kHotSpare, kTextKey };
constexpr int kSettingGroupCount = 6;
using SettingGroups = std::array<bool, kSettingGroupCount>;
constexpr SettingGroups kAllSettingGroups = {true, true, true, true, true, true};
inline bool Has(const SettingGroups& groups, SettingGroup g) {
    return groups[static_cast<size_t>(g)];
}
// The group's word on the command line: "resolution", "windows", "picture", "audio",
// "hot-spare", "text-key".
const char* SettingGroupWord(SettingGroup g);
// A list of those words separated by commas into groups; false with the word not known in bad.
bool ParseSettingGroups(const std::string& list, SettingGroups& groups, std::string& bad);
// What a restore of file onto the processor with deviceId takes by default: every group, but
// the windows only when the file was saved from that device ID (a wall's windows differ from
// processor to processor; a file that does not say its ID counts as another's).
SettingGroups DefaultSettingGroups(const ProcessorSettings& file, int deviceId);

// ---- the file ----------------------------------------------------------------------------------

std::string SettingsFileText(const ProcessorSettings& s, const std::string& comment = "");
// The settings a file gives, or the first thing wrong with it and its line: another kind of file
// or another version, a damaged line, an entry twice or missing, a value out of range (a code
// above 16, a custom size whose dot clock is out of range, a window value beyond 16 bits,
// brightness above its range, bias and colours above 100, key colours above 255, an audio source
// above 8).
std::variant<ProcessorSettings, platform::FileProblem> ParseSettingsFile(std::string_view text);
std::variant<ProcessorSettings, platform::FileProblem> LoadSettingsFile(const std::string& path);
std::optional<platform::FileProblem> SaveSettingsFile(const std::string& path,
                                                      const ProcessorSettings& s,
                                                      const std::string& comment = "");

// ---- talking to the processor -------------------------------------------------------------------

// Reads every setting (each question after a 200 ms step pause). Nothing when a question went
// unanswered or was answered by another device; unanswered then names what.
std::optional<ProcessorSettings> ReadSettings(app::SequenceLink& link,
                                              std::string* unanswered = nullptr);

// One setting that differs between two records: its name ("brightness", "M2 PIP window") and
// both values as text.
struct SettingDifference {
    std::string name;
    std::string wanted;
    std::string found;
    SettingGroup group = SettingGroup::kResolution;
    bool operator==(const SettingDifference&) const = default;
};
// What differs between wanted and found. The custom resolution counts only while wanted uses it.
std::vector<SettingDifference> CompareSettings(const ProcessorSettings& wanted,
                                               const ProcessorSettings& found);

// What a restore of file would change on a processor that reads now: one line per setting of
// the groups chosen, its value now (found) and in the file (wanted). The brightness range is the
// processor's own and never sent, so it is not listed; a brightness beyond the processor's range
// is (the restore then says it was not sent).
std::vector<SettingDifference> PlanRestore(const ProcessorSettings& file,
                                           const ProcessorSettings& now,
                                           const SettingGroups& groups);
// How many of a plan's lines lie in each group.
std::array<int, kSettingGroupCount> CountByGroup(const std::vector<SettingDifference>& lines);

struct RestoreResult {
    bool answered = false;  // the processor answered the first readback
    bool stopped = false;   // the sequence was stopped
    bool notSent = false;   // a frame could not be written
    int framesSent = 0;
    // The settings listed before the restore that it changed: those reading back as in the file
    // afterwards; without that readback, those whose frames went out.
    int settingsChanged = 0;
    std::optional<ProcessorSettings> after;      // the readback at the end
    std::vector<SettingDifference> differences;  // wanted against after (or against nothing)
    std::vector<std::string> refused;            // settings not sent: out of this processor's range
};

// Restores the groups chosen of wanted: reads the processor (unless now is given, a readback
// just made), changes its output resolution first when it differs and is chosen (the resolution
// change and its wait, then the custom size with its wait), reads it again after such a change,
// sends every other chosen setting that differs with its Save command and pause, then reads
// everything back and lists what still differs among the groups chosen.
RestoreResult RestoreSettings(app::SequenceLink& link, const ProcessorSettings& wanted,
                              const SettingGroups& groups = kAllSettingGroups,
                              const std::optional<ProcessorSettings>& now = std::nullopt);

// The dialog's readback record for the layout shown (2A, 2B, 2C), made from a settings record.
Readback ToReadback(const ProcessorSettings& s, uint8_t layoutCode);

}  // namespace screen
