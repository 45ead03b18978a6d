#include "screen/SettingsBackup.h"

#include <algorithm>
#include <map>

#include "link/Commands.h"
#include "screen/OutputResolution.h"
#include "screen/ResolutionSequences.h"

namespace screen {

using devlink::Frame;
using platform::FileFault;
using platform::FileProblem;
using platform::TextLine;

namespace {

constexpr const char* kMagic = "orn312-settings";
constexpr const char* kHotSpareNames[3] = {"V1>>V2", "HDMI>>DVI", "VGA1>>VGA2"};
// Colour sources in the order of the colour reply.
constexpr const char* kColourNames[7] = {"V1", "V2", "HDMI", "DVI", "DP", "EXT.", "YPbPr"};

std::string LayoutEntry(int layout, bool pip) {
    return "m" + std::to_string(layout + 1) + (pip ? "-pip" : "-main");
}

std::string WindowWords(const WindowGeometry& g) {
    return std::to_string(g.w) + " " + std::to_string(g.h) + " " + std::to_string(g.hs) + " " +
           std::to_string(g.vs);
}

std::string WindowText(const WindowGeometry& g) {
    return std::to_string(g.w) + "x" + std::to_string(g.h) + " at " + std::to_string(g.hs) + "," +
           std::to_string(g.vs);
}

std::string SourceName(int code) {
    const char* label = devlink::SourceLabel(code);
    return label != nullptr ? label : std::to_string(code);
}

std::string CustomText(const devlink::CustomResolutionReply& c) {
    return std::to_string(c.width) + "x" + std::to_string(c.height) + "@" + std::to_string(c.rate);
}

std::string ResolutionText(int code) {
    if (code >= 0 && code < kResolutionCount) {
        return std::to_string(code) + " (" + kOutputResolutions[code].listText + ")";
    }
    return std::to_string(code);
}

WindowGeometry FromReply(const devlink::WindowReply& r) {
    return WindowGeometry{r.w, r.h, r.hs, r.vs};
}

// Reads the entries of a settings file into a record, the first fault ending it.
class Reader {
public:
    std::variant<ProcessorSettings, FileProblem> Read(std::string_view text);

private:
    bool Fail(FileProblem p) {
        if (!m_problem) {
            m_problem = std::move(p);
        }
        return false;
    }
    bool Form(const TextLine& l, const char* form) {
        return Fail({FileFault::kMalformed, l.number, l.words[0], platform::JoinWords(l.words), 0,
                     0, form});
    }
    bool Number(const TextLine& l, const std::string& what, const std::string& text, int low,
                int high, int& v) {
        int parsed = 0;
        if (!platform::ParseWholeNumber(text, -(1 << 30), 1 << 30, parsed)) {
            return Fail({FileFault::kMalformed, l.number, what, platform::JoinWords(l.words), 0, 0,
                         "whole numbers"});
        }
        if (parsed < low || parsed > high) {
            return Fail({FileFault::kOutOfRange, l.number, what, text, low, high, ""});
        }
        v = parsed;
        return true;
    }
    bool Window(const TextLine& l, WindowGeometry& g) {
        if (l.words.size() != 5) {
            return Form(l, "width height hstart vstart");
        }
        int* fields[4] = {&g.w, &g.h, &g.hs, &g.vs};
        const char* names[4] = {" width", " height", " hstart", " vstart"};
        for (int k = 0; k < 4; ++k) {
            if (!Number(l, l.words[0] + names[k], l.words[1 + k], 0, 65535, *fields[k])) {
                return false;
            }
        }
        return true;
    }
    // One word of two: false (0) or true (1); anything else is a fault.
    bool Choice(const TextLine& l, const char* no, const char* yes, bool& v) {
        if (l.words.size() != 2 || (l.words[1] != no && l.words[1] != yes)) {
            return Form(l, (std::string(no) + " or " + yes).c_str());
        }
        v = l.words[1] == yes;
        return true;
    }
    bool Entry(const TextLine& l);

    std::optional<FileProblem> m_problem;
    ProcessorSettings m_s;
    std::map<std::string, int> m_seen;  // entry -> its line
    int m_brightnessLine = 0;
    int m_customLine = 0;
};

const std::vector<std::string>& Entries() {
    static const std::vector<std::string> entries = [] {
        std::vector<std::string> e = {"output-resolution", "custom-resolution", "output-window",
                                      "input-window", "mosaic-mode"};
        for (int l = 0; l < 3; ++l) {
            e.push_back(LayoutEntry(l, false));
            e.push_back(LayoutEntry(l, true));
        }
        e.insert(e.end(), {"brightness", "brightness-range", "bias", "sharpness", "audio",
                           "hot-spare", "text-key", "colour"});
        return e;
    }();
    return entries;
}

bool Reader::Entry(const TextLine& l) {
    const std::string& e = l.words[0];
    const size_t n = l.words.size();
    if (e == "output-resolution") {
        return n == 2 ? Number(l, e, l.words[1], 0, kCustomResolution, m_s.resolution)
                      : Form(l, "output-resolution CODE");
    }
    if (e == "custom-resolution") {
        m_customLine = l.number;
        const std::string& v = n == 2 ? l.words[1] : std::string();
        const size_t x = v.find('x'), at = v.find('@');
        if (x == std::string::npos || at == std::string::npos || at < x) {
            return Form(l, "custom-resolution WIDTHxHEIGHT@RATE");
        }
        return Number(l, "custom width", v.substr(0, x), 1, 65535, m_s.custom.width) &&
               Number(l, "custom height", v.substr(x + 1, at - x - 1), 1, 65535,
                      m_s.custom.height) &&
               Number(l, "custom rate", v.substr(at + 1), 1, 255, m_s.custom.rate);
    }
    if (e == "device-id") {
        return n == 2 ? Number(l, e, l.words[1], 0, 255, m_s.deviceId) : Form(l, "device-id N");
    }
    if (e == "output-window") {
        return Window(l, m_s.output);
    }
    if (e == "input-window") {
        return Window(l, m_s.input);
    }
    if (e == "mosaic-mode") {
        return Choice(l, "no-sync", "sync", m_s.syncMosaic);
    }
    for (int layout = 0; layout < 3; ++layout) {
        for (int pip = 0; pip < 2; ++pip) {
            if (e == LayoutEntry(layout, pip != 0)) {
                return Window(l, m_s.layouts[layout][pip]);
            }
        }
    }
    if (e == "brightness") {
        m_brightnessLine = l.number;
        return n == 2 ? Number(l, e, l.words[1], 0, 100, m_s.brightness) : Form(l, "brightness N");
    }
    if (e == "brightness-range") {
        if (n != 2 || (l.words[1] != "0-64" && l.words[1] != "0-100")) {
            return Form(l, "brightness-range 0-64 or 0-100");
        }
        m_s.brightness100 = l.words[1] == "0-100";
        return true;
    }
    if (e == "bias") {
        return n == 2 ? Number(l, e, l.words[1], 0, 100, m_s.bias) : Form(l, "bias N");
    }
    if (e == "sharpness") {
        return Choice(l, "normal", "sharp", m_s.sharp);
    }
    if (e == "audio") {
        if (n != 3) {
            return Form(l, "audio SOURCE SOURCE");
        }
        int codes[2] = {};
        for (int k = 0; k < 2; ++k) {
            codes[k] = devlink::SourceFromLabel(l.words[1 + k].c_str());
            if (codes[k] < 0 && !Number(l, "audio " + std::to_string(k + 1), l.words[1 + k], 0,
                                        devlink::kSourceCount - 1, codes[k])) {
                return false;
            }
        }
        m_s.audio1 = codes[0];
        m_s.audio2 = codes[1];
        return true;
    }
    if (e == "hot-spare") {
        const char* form = "hot-spare V1>>V2=on|off HDMI>>DVI=on|off VGA1>>VGA2=on|off";
        if (n != 4) {
            return Form(l, form);
        }
        for (int k = 0; k < 3; ++k) {
            std::string name, value;
            if (!platform::SplitField(l.words[1 + k], name, value) || name != kHotSpareNames[k] ||
                (value != "on" && value != "off")) {
                return Form(l, form);
            }
            m_s.hotSpare[k] = value == "on";
        }
        return true;
    }
    if (e == "text-key") {
        const char* form = "text-key below|above red=N green=N blue=N";
        if (n != 5 || (l.words[1] != "below" && l.words[1] != "above")) {
            return Form(l, form);
        }
        m_s.aboveThreshold = l.words[1] == "above";
        int* colours[3] = {&m_s.keyRed, &m_s.keyGreen, &m_s.keyBlue};
        const char* names[3] = {"red", "green", "blue"};
        for (int k = 0; k < 3; ++k) {
            std::string name, value;
            if (!platform::SplitField(l.words[2 + k], name, value) || name != names[k]) {
                return Form(l, form);
            }
            if (!Number(l, std::string("text key ") + names[k], value, 0, 255, *colours[k])) {
                return false;
            }
        }
        return true;
    }
    if (e == "colour") {
        const char* form = "colour V1=N V2=N HDMI=N DVI=N DP=N EXT.=N YPbPr=N";
        if (n != 8) {
            return Form(l, form);
        }
        for (int k = 0; k < 7; ++k) {
            std::string name, value;
            if (!platform::SplitField(l.words[1 + k], name, value) || name != kColourNames[k]) {
                return Form(l, form);
            }
            if (!Number(l, std::string("colour ") + kColourNames[k], value, 0, 100,
                        m_s.colour[k])) {
                return false;
            }
        }
        return true;
    }
    return Fail({FileFault::kUnknownEntry, l.number, "", e, 0, 0, ""});
}

std::variant<ProcessorSettings, FileProblem> Reader::Read(std::string_view text) {
    const std::vector<TextLine> lines = platform::SplitTextLines(text);
    if (auto problem = platform::CheckFileHead(lines, kMagic, kSettingsFileVersion)) {
        return *problem;
    }
    for (size_t i = 1; i < lines.size() && !m_problem; ++i) {
        const TextLine& l = lines[i];
        const auto [it, fresh] = m_seen.emplace(l.words[0], l.number);
        if (!fresh) {
            Fail({FileFault::kTwice, l.number, l.words[0], "", it->second, 0, ""});
            break;
        }
        Entry(l);
    }
    const int last = lines.back().number;
    for (const std::string& e : Entries()) {
        if (!m_problem && m_seen.count(e) == 0) {
            Fail({FileFault::kMissing, last, e, "", 0, 0, ""});
        }
    }
    if (!m_problem && !m_s.brightness100 && m_s.brightness > 64) {
        Fail({FileFault::kOutOfRange, m_brightnessLine, "brightness",
              std::to_string(m_s.brightness), 0, 64, ""});
    }
    if (!m_problem && m_s.resolution == kCustomResolution &&
        !DotClockInRange(m_s.custom.width, m_s.custom.height, m_s.custom.rate)) {
        const int64_t clock =
            int64_t{m_s.custom.height + 45} * (m_s.custom.width + 184) * m_s.custom.rate;
        Fail({FileFault::kOutOfRange, m_customLine, "custom resolution dot clock",
              std::to_string(clock), static_cast<int>(kMinDotClock), static_cast<int>(kMaxDotClock),
              ""});
    }
    if (m_problem) {
        return *m_problem;
    }
    return m_s;
}

// Asks each question in turn, a step pause between two.
class Asker {
public:
    Asker(app::SequenceLink& link, std::string* unanswered)
        : m_link(link), m_unanswered(unanswered) {}
    std::optional<Frame> Ask(uint8_t sub, int limitMs, const char* what) {
        if (m_asked++ > 0 && !m_link.Pause(kStepPauseMs)) {
            return Failed(what);
        }
        Frame reply{};
        const uint8_t id = m_link.DeviceId();
        if (m_link.Query(devlink::ReadQuery(id, sub), reply, limitMs) != devlink::kFrameSize ||
            reply[0] != devlink::kLeader || reply[1] != id || reply[2] != devlink::kQueryCode) {
            return Failed(what);
        }
        return reply;
    }

private:
    std::optional<Frame> Failed(const char* what) {
        if (m_unanswered != nullptr) {
            *m_unanswered = what;
        }
        return std::nullopt;
    }
    app::SequenceLink& m_link;
    std::string* m_unanswered;
    int m_asked = 0;
};

}  // namespace

// ---- groups ------------------------------------------------------------------------------------

const char* SettingGroupWord(SettingGroup g) {
    static const char* const words[kSettingGroupCount] = {"resolution", "windows",   "picture",
                                                          "audio",      "hot-spare", "text-key"};
    return words[static_cast<size_t>(g)];
}

bool ParseSettingGroups(const std::string& list, SettingGroups& groups, std::string& bad) {
    groups = {};
    size_t at = 0;
    bool any = false;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string word = list.substr(at, comma - at);
        int found = -1;
        for (int g = 0; g < kSettingGroupCount; ++g) {
            if (word == SettingGroupWord(static_cast<SettingGroup>(g))) {
                found = g;
            }
        }
        if (found < 0) {
            bad = word;
            return false;
        }
        groups[static_cast<size_t>(found)] = true;
        any = true;
        at = comma + 1;
    }
    return any;
}

SettingGroups DefaultSettingGroups(const ProcessorSettings& file, int deviceId) {
    SettingGroups groups = kAllSettingGroups;
    groups[static_cast<size_t>(SettingGroup::kWindows)] = file.deviceId == deviceId;
    return groups;
}

// ---- the file ----------------------------------------------------------------------------------

std::string SettingsFileText(const ProcessorSettings& s, const std::string& comment) {
    std::string t = "# ORN312 processor settings";
    t += comment.empty() ? "\n" : ": " + comment + "\n";
    t += "# windows are width height hstart vstart, in pixels of the output\n";
    t += std::string(kMagic) + " " + std::to_string(kSettingsFileVersion) + "\n";
    if (s.deviceId > 0) {
        t += "device-id " + std::to_string(s.deviceId) + "  # the processor it was saved from\n";
    }
    t += "output-resolution " + std::to_string(s.resolution);
    if (s.resolution >= 0 && s.resolution < kResolutionCount) {
        t += std::string("  # ") + kOutputResolutions[s.resolution].listText;
    }
    t += "\ncustom-resolution " + CustomText(s.custom) + "  # used with output-resolution 16\n";
    t += "output-window " + WindowWords(s.output) + "\n";
    t += "input-window " + WindowWords(s.input) + "\n";
    t += std::string("mosaic-mode ") + (s.syncMosaic ? "sync" : "no-sync") + "\n";
    for (int l = 0; l < 3; ++l) {
        for (int pip = 0; pip < 2; ++pip) {
            t += LayoutEntry(l, pip != 0) + " " + WindowWords(s.layouts[l][pip]) + "\n";
        }
    }
    t += "brightness " + std::to_string(s.brightness) + "\n";
    t += std::string("brightness-range ") + (s.brightness100 ? "0-100" : "0-64") +
         "  # the processor's own; not sent\n";
    t += "bias " + std::to_string(s.bias) + "\n";
    t += std::string("sharpness ") + (s.sharp ? "sharp" : "normal") + "\n";
    t += "audio " + SourceName(s.audio1) + " " + SourceName(s.audio2) + "\n";
    t += "hot-spare";
    for (int k = 0; k < 3; ++k) {
        t += std::string(" ") + kHotSpareNames[k] + "=" + (s.hotSpare[k] ? "on" : "off");
    }
    t += std::string("\ntext-key ") + (s.aboveThreshold ? "above" : "below") +
         " red=" + std::to_string(s.keyRed) + " green=" + std::to_string(s.keyGreen) +
         " blue=" + std::to_string(s.keyBlue) + "\n";
    t += "colour";
    for (int k = 0; k < 7; ++k) {
        t += std::string(" ") + kColourNames[k] + "=" + std::to_string(s.colour[k]);
    }
    t += "\n";
    return t;
}

std::variant<ProcessorSettings, FileProblem> ParseSettingsFile(std::string_view text) {
    Reader reader;
    return reader.Read(text);
}

std::variant<ProcessorSettings, FileProblem> LoadSettingsFile(const std::string& path) {
    return platform::LoadTextFile<ProcessorSettings>(path, ParseSettingsFile);
}

std::optional<FileProblem> SaveSettingsFile(const std::string& path, const ProcessorSettings& s,
                                            const std::string& comment) {
    return platform::SaveTextFile(path, SettingsFileText(s, comment));
}

// ---- talking to the processor -------------------------------------------------------------------

std::optional<ProcessorSettings> ReadSettings(app::SequenceLink& link, std::string* unanswered) {
    ProcessorSettings s;
    Asker asker(link, unanswered);
    const auto res = asker.Ask(devlink::kResolutionSub, kReadLimitMs, "output resolution");
    if (!res) {
        return std::nullopt;
    }
    const auto resolution = devlink::ResolutionReply::Decode(res->data());
    s.resolution = resolution.code;
    s.output = FromReply(resolution.output);
    const auto custom = asker.Ask(devlink::kCustomResolutionSub, kReadLimitMs, "custom resolution");
    if (!custom) {
        return std::nullopt;
    }
    s.custom = devlink::CustomResolutionReply::Decode(custom->data());
    for (int l = 0; l < 3; ++l) {
        for (int pip = 0; pip < 2; ++pip) {
            const auto g =
                asker.Ask(devlink::LayoutGeometrySub(l, pip != 0), kReadLimitMs, "layout window");
            if (!g) {
                return std::nullopt;
            }
            s.layouts[l][pip] = FromReply(devlink::WindowReply::Decode(g->data()));
        }
    }
    const auto mosaic = asker.Ask(devlink::kMosaicModeSub, kReadLimitMs, "mosaic mode");
    if (!mosaic) {
        return std::nullopt;
    }
    const auto m = devlink::MosaicModeReply::Decode(mosaic->data());
    s.syncMosaic = m.syncMosaic;
    s.input = FromReply(m.input);
    const auto picture =
        asker.Ask(devlink::kPictureAudioSub, kLongReadLimitMs, "picture and audio");
    if (!picture) {
        return std::nullopt;
    }
    const auto p = devlink::PictureAudioReply::Decode(picture->data());
    s.brightness = p.brightness;
    s.brightness100 = p.brightness100 != 0;
    s.bias = p.bias;
    s.sharp = p.sharpness != 0;
    s.audio1 = p.audio1;
    s.audio2 = p.audio2;
    for (int k = 0; k < 3; ++k) {
        s.hotSpare[k] = ((p.hotSpare >> k) & 1) != 0;
    }
    const auto key = asker.Ask(devlink::kTextKeySub, kReadLimitMs, "text key");
    if (!key) {
        return std::nullopt;
    }
    const auto k = devlink::TextKeyReply::Decode(key->data());
    s.aboveThreshold = k.threshold != 0;
    s.keyRed = k.red;
    s.keyGreen = k.green;
    s.keyBlue = k.blue;
    const auto colour = asker.Ask(devlink::kColourSub, kLongReadLimitMs, "colours");
    if (!colour) {
        return std::nullopt;
    }
    const auto c = devlink::ColourReply::Decode(colour->data());
    for (int i = 0; i < 7; ++i) {
        s.colour[i] = c.values[i];
    }
    return s;
}

std::vector<SettingDifference> CompareSettings(const ProcessorSettings& w,
                                               const ProcessorSettings& f) {
    std::vector<SettingDifference> d;
    SettingGroup group = SettingGroup::kResolution;
    const auto check = [&d, &group](bool differs, std::string name, std::string wanted,
                                    std::string found) {
        if (differs) {
            d.push_back({std::move(name), std::move(wanted), std::move(found), group});
        }
    };
    const auto onOff = [](bool on) { return std::string(on ? "on" : "off"); };
    check(w.resolution != f.resolution, "output resolution", ResolutionText(w.resolution),
          ResolutionText(f.resolution));
    check(w.resolution == kCustomResolution &&
              (w.custom.width != f.custom.width || w.custom.height != f.custom.height ||
               w.custom.rate != f.custom.rate),
          "custom resolution", CustomText(w.custom), CustomText(f.custom));
    group = SettingGroup::kWindows;
    check(w.output != f.output, "output window", WindowText(w.output), WindowText(f.output));
    check(w.input != f.input, "input window", WindowText(w.input), WindowText(f.input));
    check(w.syncMosaic != f.syncMosaic, "mosaic mode", w.syncMosaic ? "sync" : "no sync",
          f.syncMosaic ? "sync" : "no sync");
    for (int l = 0; l < 3; ++l) {
        for (int pip = 0; pip < 2; ++pip) {
            check(w.layouts[l][pip] != f.layouts[l][pip],
                  "M" + std::to_string(l + 1) + (pip ? " PIP window" : " main window"),
                  WindowText(w.layouts[l][pip]), WindowText(f.layouts[l][pip]));
        }
    }
    group = SettingGroup::kPicture;
    check(w.brightness != f.brightness, "brightness", std::to_string(w.brightness),
          std::to_string(f.brightness));
    check(w.brightness100 != f.brightness100, "brightness range",
          w.brightness100 ? "0~100" : "0~64", f.brightness100 ? "0~100" : "0~64");
    check(w.bias != f.bias, "bias", std::to_string(w.bias), std::to_string(f.bias));
    check(w.sharp != f.sharp, "sharpness", w.sharp ? "Sharp" : "Normal",
          f.sharp ? "Sharp" : "Normal");
    group = SettingGroup::kAudio;
    check(w.audio1 != f.audio1 || w.audio2 != f.audio2, "audio",
          SourceName(w.audio1) + ", " + SourceName(w.audio2),
          SourceName(f.audio1) + ", " + SourceName(f.audio2));
    group = SettingGroup::kHotSpare;
    for (int k = 0; k < 3; ++k) {
        check(w.hotSpare[k] != f.hotSpare[k], std::string("hot spare ") + kHotSpareNames[k],
              onOff(w.hotSpare[k]), onOff(f.hotSpare[k]));
    }
    const auto key = [](const ProcessorSettings& s) {
        return std::string(s.aboveThreshold ? ">Threshold " : "<Threshold ") +
               std::to_string(s.keyRed) + " " + std::to_string(s.keyGreen) + " " +
               std::to_string(s.keyBlue);
    };
    group = SettingGroup::kTextKey;
    check(key(w) != key(f), "text key", key(w), key(f));
    group = SettingGroup::kPicture;
    for (int k = 0; k < 7; ++k) {
        check(w.colour[k] != f.colour[k], std::string("colour ") + kColourNames[k],
              std::to_string(w.colour[k]), std::to_string(f.colour[k]));
    }
    return d;
}

std::vector<SettingDifference> PlanRestore(const ProcessorSettings& file,
                                           const ProcessorSettings& now,
                                           const SettingGroups& groups) {
    std::vector<SettingDifference> plan;
    for (SettingDifference& d : CompareSettings(file, now)) {
        if (Has(groups, d.group) && d.name != "brightness range") {
            plan.push_back(std::move(d));
        }
    }
    return plan;
}

std::array<int, kSettingGroupCount> CountByGroup(const std::vector<SettingDifference>& lines) {
    std::array<int, kSettingGroupCount> counts{};
    for (const SettingDifference& d : lines) {
        ++counts[static_cast<size_t>(d.group)];
    }
    return counts;
}

RestoreResult RestoreSettings(app::SequenceLink& link, const ProcessorSettings& wanted,
                              const SettingGroups& groups,
                              const std::optional<ProcessorSettings>& known) {
    RestoreResult r;
    const uint8_t id = link.DeviceId();
    std::optional<ProcessorSettings> now = known ? known : ReadSettings(link);
    const auto end = [&r, &link] {
        r.stopped = link.Stopped();
        return r;
    };
    if (!now) {
        return end();
    }
    r.answered = true;
    // What is to change, as listed before the restore; counted as changed once its frames went.
    const std::vector<SettingDifference> plan = PlanRestore(wanted, *now, groups);
    const auto changed = [&plan](const std::string& name) {
        return static_cast<int>(std::count_if(plan.begin(), plan.end(), [&name](const auto& d) {
            return d.name.compare(0, name.size(), name) == 0;
        }));
    };

    // The output resolution first, with the processor's time to switch: the windows depend on it.
    const bool resolution = Has(groups, SettingGroup::kResolution);
    bool switched = false;
    devlink::CustomResolutionReply custom = now->custom;
    if (resolution && wanted.resolution != now->resolution) {
        const ResolutionChange change =
            ChangeOutputResolution(link, static_cast<uint8_t>(wanted.resolution));
        ++r.framesSent;
        switched = true;
        if (link.Stopped()) {
            return end();
        }
        r.settingsChanged += changed("output resolution");
        if (change.customRead) {
            custom = change.custom;
        }
    }
    if (resolution && wanted.resolution == kCustomResolution &&
        (custom.width != wanted.custom.width || custom.height != wanted.custom.height ||
         custom.rate != wanted.custom.rate)) {
        ++r.framesSent;
        switched = true;
        if (!SetCustomResolution(link, wanted.custom.width, wanted.custom.height,
                                 wanted.custom.rate)) {
            return end();
        }
        r.settingsChanged += changed("custom resolution");
    }
    if (switched) {
        now = ReadSettings(link);
        if (!now) {
            return end();
        }
    }

    // Everything else chosen that differs, each with its Save command and pause, and the names
    // of the plan's lines it changes.
    std::vector<std::pair<Frame, std::string>> frames;
    if (Has(groups, SettingGroup::kWindows)) {
        if (wanted.output != now->output) {
            frames.push_back({GeometryCommand(id, kOutput, 0, wanted.output), "output window"});
        }
        if (wanted.input != now->input) {
            frames.push_back({GeometryCommand(id, kInput, 0, wanted.input), "input window"});
        }
        if (wanted.syncMosaic != now->syncMosaic) {
            frames.push_back({devlink::SyncModeCommand(id, wanted.syncMosaic), "mosaic mode"});
        }
        for (int l = 0; l < 3; ++l) {
            for (int pip = 0; pip < 2; ++pip) {
                if (wanted.layouts[l][pip] != now->layouts[l][pip]) {
                    frames.push_back(
                        {GeometryCommand(id, pip ? kPip : kMain,
                                         static_cast<uint8_t>(devlink::kLayoutM1 + l),
                                         wanted.layouts[l][pip]),
                         "M" + std::to_string(l + 1) + (pip ? " PIP window" : " main window")});
                }
            }
        }
    }
    const bool picture = Has(groups, SettingGroup::kPicture);
    if (picture && wanted.brightness != now->brightness) {
        if (!now->brightness100 && wanted.brightness > 64) {
            r.refused.push_back("brightness");  // beyond this processor's range 0..64
        } else {
            frames.push_back(
                {devlink::BrightnessCommand(id, static_cast<uint8_t>(wanted.brightness)),
                 "brightness"});
        }
    }
    if (picture && wanted.bias != now->bias) {
        frames.push_back({devlink::BiasCommand(id, static_cast<uint8_t>(wanted.bias)), "bias"});
    }
    if (picture && wanted.sharp != now->sharp) {
        frames.push_back({devlink::SharpnessCommand(id, wanted.sharp), "sharpness"});
    }
    if (Has(groups, SettingGroup::kAudio) &&
        (wanted.audio1 != now->audio1 || wanted.audio2 != now->audio2)) {
        frames.push_back({devlink::AudioCommand(id, static_cast<uint8_t>(wanted.audio1),
                                                static_cast<uint8_t>(wanted.audio2)),
                          "audio"});
    }
    if (Has(groups, SettingGroup::kHotSpare) && wanted.hotSpare != now->hotSpare) {
        frames.push_back({devlink::HotSpareCommand(id, wanted.hotSpare[0], wanted.hotSpare[1],
                                                   wanted.hotSpare[2]),
                          "hot spare"});
    }
    if (Has(groups, SettingGroup::kTextKey) &&
        (wanted.aboveThreshold != now->aboveThreshold || wanted.keyRed != now->keyRed ||
         wanted.keyGreen != now->keyGreen || wanted.keyBlue != now->keyBlue)) {
        frames.push_back(
            {devlink::TextKeyCommand(id, wanted.aboveThreshold, static_cast<uint8_t>(wanted.keyRed),
                                     static_cast<uint8_t>(wanted.keyGreen),
                                     static_cast<uint8_t>(wanted.keyBlue)),
             "text key"});
    }
    for (int k = 0; picture && k < 7; ++k) {
        if (wanted.colour[k] != now->colour[k]) {
            frames.push_back({devlink::ColourCommand(id, static_cast<uint8_t>(wanted.colour[k]),
                                                     devlink::ColourReply::kSources[k]),
                              std::string("colour ") + kColourNames[k]});
        }
    }
    for (const auto& [frame, name] : frames) {
        if (!SendSetting(link, frame)) {
            r.notSent = !link.Stopped();
            return end();
        }
        ++r.framesSent;
        r.settingsChanged += changed(name);
    }

    r.after = ReadSettings(link);
    if (r.after) {
        for (SettingDifference& d : CompareSettings(wanted, *r.after)) {
            if (Has(groups, d.group)) {
                r.differences.push_back(std::move(d));
            }
        }
        // Changed: what was listed and now reads back as in the file (an output window that
        // followed the resolution counts, though it needed no frame of its own).
        r.settingsChanged = static_cast<int>(
            std::count_if(plan.begin(), plan.end(), [&r](const SettingDifference& d) {
                return std::none_of(r.differences.begin(), r.differences.end(),
                                    [&d](const SettingDifference& e) { return e.name == d.name; });
            }));
    }
    return end();
}

Readback ToReadback(const ProcessorSettings& s, uint8_t layoutCode) {
    Readback r;
    const auto reply = [](const WindowGeometry& g) {
        return devlink::WindowReply{g.hs, g.w, g.vs, g.h};
    };
    r.resolution = devlink::ResolutionReply{static_cast<uint8_t>(s.resolution), reply(s.output)};
    r.custom = s.custom;
    const int layout = MainGeometrySub(layoutCode) - devlink::kMainGeometryM1Sub;
    r.main = reply(s.layouts[layout / 2][0]);
    r.pip = reply(s.layouts[layout / 2][1]);
    r.mosaic = devlink::MosaicModeReply{s.syncMosaic, reply(s.input)};
    devlink::PictureAudioReply p;
    p.brightness = static_cast<uint8_t>(s.brightness);
    p.bias = static_cast<uint8_t>(s.bias);
    p.sharpness = s.sharp ? 1 : 0;
    p.audio1 = static_cast<uint8_t>(s.audio1);
    p.audio2 = static_cast<uint8_t>(s.audio2);
    p.hotSpare = static_cast<uint8_t>((s.hotSpare[0] ? 1 : 0) | (s.hotSpare[1] ? 2 : 0) |
                                      (s.hotSpare[2] ? 4 : 0));
    p.brightness100 = s.brightness100 ? 1 : 0;
    r.picture = p;
    r.textKey = devlink::TextKeyReply{
        static_cast<uint8_t>(s.aboveThreshold ? 1 : 0), static_cast<uint8_t>(s.keyRed),
        static_cast<uint8_t>(s.keyGreen), static_cast<uint8_t>(s.keyBlue)};
    devlink::ColourReply c;
    for (int k = 0; k < 7; ++k) {
        c.values[k] = static_cast<uint8_t>(s.colour[k]);
    }
    r.colour = c;
    return r;
}

}  // namespace screen
