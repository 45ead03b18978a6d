// A processor's settings saved, restored and cloned against the simulator's devices: a backup of
// one processor restored to another leaves two processors whose full readbacks are equal, the
// output resolution goes first with its wait, what cannot be set is listed, and every kind of
// bad file is refused with its line.
#include "screen/SettingsBackup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <variant>

#include "SimSequenceLink.h"
#include "link/Commands.h"
#include "resources/FileTexts.h"

using screen::ProcessorSettings;
using testutil::SimSequenceLink;

namespace {

void Apply(SimSequenceLink& link, const devlink::Frame& command) {
    link.device.HandleFrame(command, link.nowMs);
}

// Every question the screen settings dialog asks, and the device's answer (bytes 2..11).
std::vector<std::vector<uint8_t>> FullReadback(SimSequenceLink& link) {
    std::vector<std::vector<uint8_t>> answers;
    for (uint8_t sub : {0x03, 0x0F, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x10}) {
        devlink::Frame reply{};
        EXPECT_EQ(link.Query(devlink::ReadQuery(link.DeviceId(), sub), reply, 5000), 13);
        answers.emplace_back(reply.begin() + 2, reply.begin() + 12);
    }
    return answers;
}

ProcessorSettings Parsed(const std::string& text) {
    auto r = screen::ParseSettingsFile(text);
    EXPECT_TRUE(std::holds_alternative<ProcessorSettings>(r));
    return std::holds_alternative<ProcessorSettings>(r) ? std::get<ProcessorSettings>(r)
                                                        : ProcessorSettings{};
}

std::string FreshText() {
    SimSequenceLink fresh(1);
    return screen::SettingsFileText(*screen::ReadSettings(fresh));
}

}  // namespace

TEST(SettingsBackup, ABackupRestoredToAnotherProcessorClonesIt) {
    SimSequenceLink a(1);
    for (const devlink::Frame& f : {
             devlink::CustomResolutionCommand(1, 1280, 720, 60),
             devlink::ResolutionCommand(1, 16),
             devlink::OutputGeometryCommand(1, 0, 1200, 10, 700),
             devlink::InputWindowCommand(1, 640, 640, 0, 720),
             devlink::SyncModeCommand(1, true),
             devlink::WindowGeometryCommand(1, devlink::kLayoutM2, true, 100, 400, 50, 300),
             devlink::WindowGeometryCommand(1, devlink::kLayoutM3, false, 0, 640, 0, 720),
             devlink::BrightnessCommand(1, 40),
             devlink::BiasCommand(1, 30),
             devlink::SharpnessCommand(1, true),
             devlink::AudioCommand(1, devlink::kHdmi, devlink::kDvi),
             devlink::HotSpareCommand(1, true, false, true),
             devlink::TextKeyCommand(1, true, 16, 32, 48),
             devlink::ColourCommand(1, 70, devlink::kDp),
             devlink::ColourCommand(1, 20, devlink::kYPbPr),
         }) {
        Apply(a, f);
    }
    const std::optional<ProcessorSettings> read = screen::ReadSettings(a);
    ASSERT_TRUE(read);
    const std::string file = screen::SettingsFileText(*read, "device 1");
    EXPECT_NE(file.find("\noutput-resolution 16  # "), std::string::npos) << file;
    EXPECT_NE(file.find("\ncustom-resolution 1280x720@60"), std::string::npos) << file;
    EXPECT_NE(file.find("\nm2-pip 400 300 100 50\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\nhot-spare V1>>V2=on HDMI>>DVI=off VGA1>>VGA2=on\n"), std::string::npos);
    EXPECT_NE(file.find("\ntext-key above red=16 green=32 blue=48\n"), std::string::npos);

    SimSequenceLink b(1);  // a fresh processor: 1920x1080@60Hz
    const screen::RestoreResult r = screen::RestoreSettings(b, Parsed(file));
    EXPECT_TRUE(r.answered);
    EXPECT_FALSE(r.stopped);
    EXPECT_TRUE(r.differences.empty()) << r.differences.front().name;
    EXPECT_TRUE(r.refused.empty());
    EXPECT_EQ(FullReadback(b), FullReadback(a));

    // The resolution first, each change with its ten seconds; then the rest, one frame a setting
    // that differs, after a fresh readback.
    std::vector<std::vector<uint8_t>> commands;
    for (const auto& s : b.sent) {
        if (s.body[0] != devlink::kQuery) {
            commands.push_back({s.body[0], static_cast<uint8_t>(s.ms / 100)});
        }
    }
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], (std::vector<uint8_t>{devlink::kResolution, 10}));
    EXPECT_EQ(commands[1], (std::vector<uint8_t>{devlink::kCustomResolution, 10}));
    EXPECT_EQ(r.framesSent, static_cast<int>(commands.size()));
    // Then output and input window, mosaic mode, two layout windows, brightness, bias,
    // sharpness, audio, hot spare, text key and two colours.
    EXPECT_EQ(commands.size(), 2u + 13u);
    EXPECT_GE(b.pausedMs, 2 * 10000 + 13 * 1000);

    // A second restore finds nothing to send.
    b.sent.clear();
    const screen::RestoreResult again = screen::RestoreSettings(b, Parsed(file));
    EXPECT_EQ(again.framesSent, 0);
    EXPECT_TRUE(again.differences.empty());
}

TEST(SettingsBackup, ARestoreListsWhatTheProcessorCouldNotTake) {
    SimSequenceLink a(1);
    a.device.Console("brightness 100");
    Apply(a, devlink::BrightnessCommand(1, 80));
    Apply(a, devlink::BiasCommand(1, 10));
    const ProcessorSettings wanted = Parsed(screen::SettingsFileText(*screen::ReadSettings(a)));

    SimSequenceLink b(1);  // brightness runs 0..64 here
    const screen::RestoreResult r = screen::RestoreSettings(b, wanted);
    EXPECT_EQ(r.refused, std::vector<std::string>{"brightness"});
    using screen::SettingGroup;
    EXPECT_EQ(r.differences, (std::vector<screen::SettingDifference>{
                                 {"brightness", "80", "64", SettingGroup::kPicture},
                                 {"brightness range", "0~100", "0~64", SettingGroup::kPicture}}));
    EXPECT_EQ(b.device.State().picture.bias, 10);  // the rest went through

    SimSequenceLink silent(1);
    silent.silent = true;
    const screen::RestoreResult none = screen::RestoreSettings(silent, wanted);
    EXPECT_FALSE(none.answered);
    EXPECT_EQ(none.framesSent, 0);
    for (const auto& s : silent.sent) {
        EXPECT_EQ(s.body[0], devlink::kQuery);  // nothing was set on a processor not heard
    }
}

TEST(SettingsBackup, EachBadFileIsRefusedNamingItsLine) {
    const std::string good = FreshText();
    const auto change = [](std::string t, const std::string& from, const std::string& to) {
        const size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? t : t.replace(at, from.size(), to);
    };
    const auto with = [&](const std::string& from, const std::string& to) {
        return change(good, from, to);
    };
    const auto lineOf = [&good](const std::string& entry) {
        const size_t at = good.find("\n" + entry);
        return std::to_string(
            std::count(good.begin(), good.begin() + static_cast<long>(at) + 1, '\n') + 1);
    };
    struct Case {
        std::string text;
        std::string refusal;
    } cases[] = {
        {good, "accepted"},
        {with("orn312-settings 1", "orn312-settings 2"),
         "line 3: a settings file of version 2; this program reads version 1"},
        {"orn312-wall 1\n", "line 1: not a settings file (it begins with 'orn312-wall 1')"},
        {good.substr(0, good.find("\nbias")),
         "line " + lineOf("brightness-range") + ": the file ends without bias"},
        {with("brightness 64", "brightness 70"),
         "line " + lineOf("brightness ") + ": brightness 70 is out of range 0..64"},
        {with("YPbPr=50", "YPbPr=101"),
         "line " + lineOf("colour") + ": colour YPbPr 101 is out of range 0..100"},
        {with("m2-pip 960", "m2-pip 70000"),
         "line " + lineOf("m2-pip") + ": m2-pip width 70000 is out of range 0..65535"},
        {with("output-resolution 6", "output-resolution 17"),
         "line " + lineOf("output-resolution") + ": output-resolution 17 is out of range 0..16"},
        {change(with("output-resolution 6", "output-resolution 16"),
                "custom-resolution 1920x1080@60", "custom-resolution 640x480@60"),
         "line " + lineOf("custom-resolution") +
             ": custom resolution dot clock 25956000 is out of range 25999001..164998999"},
        {with("text-key below", "text-key maybe"),
         "line " + lineOf("text-key") +
             ": text-key is not written as text-key below|above red=N green=N blue=N: "
             "'text-key maybe red=0 green=0 blue=0'"},
        {with("bias 50\n", "bias 50\nbias 40\n"),
         "line " + std::to_string(std::stoi(lineOf("bias")) + 1) +
             ": bias is given a second time (first on line " + lineOf("bias") + ")"},
        {with("sharpness normal", "sharpness normal\nsaturation 3"),
         "line " + std::to_string(std::stoi(lineOf("sharpness")) + 1) +
             ": unknown entry 'saturation'"},
        {with("orn312-settings 1\n", "orn312-settings 1\ndevice-id 300\n"),
         "line 4: device-id 300 is out of range 0..255"},
        {with("bias 50", "bias 5O"),
         "line " + lineOf("bias") + ": bias is not written as whole numbers: 'bias 5O'"},
    };
    for (const Case& c : cases) {
        const auto r = screen::ParseSettingsFile(c.text);
        const std::string got = std::holds_alternative<ProcessorSettings>(r)
                                    ? "accepted"
                                    : res::FileProblemText(std::get<platform::FileProblem>(r),
                                                           res::FileKind::kSettings, false);
        EXPECT_EQ(got, c.refusal) << c.text;
    }
}

// The groups of a restore: what is listed before it, what it sends, and the default that keeps a
// wall's windows when the file is another processor's.
TEST(SettingsBackup, ARestoreListsAndSendsOnlyTheGroupsChosen) {
    using screen::SettingGroup;
    SimSequenceLink a(1);
    for (const devlink::Frame& f : {
             devlink::ResolutionCommand(1, 2),
             devlink::InputWindowCommand(1, 0, 640, 0, 512),
             devlink::BrightnessCommand(1, 40),
             devlink::ColourCommand(1, 70, devlink::kDp),
             devlink::AudioCommand(1, devlink::kHdmi, devlink::kDvi),
             devlink::HotSpareCommand(1, true, false, false),
             devlink::TextKeyCommand(1, true, 1, 2, 3),
         }) {
        Apply(a, f);
    }
    ProcessorSettings file = *screen::ReadSettings(a);
    file.deviceId = 1;
    file = Parsed(screen::SettingsFileText(file));  // through the file: its device ID kept
    EXPECT_EQ(file.deviceId, 1);

    // The list before a restore: each setting with its value now and in the file.
    SimSequenceLink fresh(2);
    const auto now = *screen::ReadSettings(fresh);
    EXPECT_EQ(screen::PlanRestore(file, now, screen::kAllSettingGroups),
              (std::vector<screen::SettingDifference>{
                  {"output resolution", "2 (1280x1024@60Hz)", "6 (1920x1080@60Hz)",
                   SettingGroup::kResolution},
                  {"output window", "1280x1024 at 0,0", "1920x1080 at 0,0", SettingGroup::kWindows},
                  {"input window", "640x512 at 0,0", "1920x1080 at 0,0", SettingGroup::kWindows},
                  {"brightness", "40", "64", SettingGroup::kPicture},
                  {"audio", "HDMI, DVI", "V1, HDMI", SettingGroup::kAudio},
                  {"hot spare V1>>V2", "on", "off", SettingGroup::kHotSpare},
                  {"text key", ">Threshold 1 2 3", "<Threshold 0 0 0", SettingGroup::kTextKey},
                  {"colour DP", "70", "50", SettingGroup::kPicture}}));

    // After each restore, the groups that read back as in the file: those chosen, no others.
    const auto matching = [&file](const ProcessorSettings& after) {
        std::string words;
        for (int g = 0; g < screen::kSettingGroupCount; ++g) {
            screen::SettingGroups one{};
            one[static_cast<size_t>(g)] = true;
            if (screen::PlanRestore(file, after, one).empty()) {
                words += std::string(words.empty() ? "" : ",") +
                         screen::SettingGroupWord(static_cast<SettingGroup>(g));
            }
        }
        return words;
    };
    struct Case {
        std::string only;  // empty: the default for device 2
        std::string matching;
        int settings;
    } cases[] = {
        {"", "resolution,picture,audio,hot-spare,text-key", 6},
        {"picture,audio", "picture,audio", 3},
        {"windows", "windows", 2},  // on the output resolution as it is
        {"text-key", "text-key", 1},
    };
    for (const Case& c : cases) {
        SimSequenceLink b(2);
        screen::SettingGroups groups = screen::DefaultSettingGroups(file, 2);
        std::string bad;
        if (!c.only.empty()) {
            ASSERT_TRUE(screen::ParseSettingGroups(c.only, groups, bad)) << bad;
        }
        const screen::RestoreResult r = screen::RestoreSettings(b, file, groups);
        ASSERT_TRUE(r.after) << c.only;
        EXPECT_TRUE(r.differences.empty()) << c.only << ": " << r.differences.front().name;
        EXPECT_EQ(r.settingsChanged, c.settings) << c.only;
        EXPECT_EQ(matching(*r.after), c.matching) << c.only;
    }

    // The default: the windows go only to the device ID the file was saved from.
    EXPECT_TRUE(screen::Has(screen::DefaultSettingGroups(file, 1), SettingGroup::kWindows));
    EXPECT_FALSE(screen::Has(screen::DefaultSettingGroups(file, 2), SettingGroup::kWindows));
    file.deviceId = 0;  // a file that does not say
    EXPECT_FALSE(screen::Has(screen::DefaultSettingGroups(file, 1), SettingGroup::kWindows));
    screen::SettingGroups g;
    std::string bad;
    EXPECT_FALSE(screen::ParseSettingGroups("picture,colour", g, bad));
    EXPECT_EQ(bad, "colour");
    EXPECT_FALSE(screen::ParseSettingGroups("picture,", g, bad));
    EXPECT_EQ(bad, "");
}
