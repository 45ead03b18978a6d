#include "sim/Simulator.h"

#include <strings.h>

#include <cstdio>
#include <sstream>

namespace sim {

using namespace devlink;

namespace {

constexpr int kResolutionCount = 17;  // codes 0..15 preset, 16 custom

// Width and height of the preset output resolutions 0..15.
constexpr int kPresetSize[16][2] = {
    {1024, 768},  {1024, 768},  {1280, 1024}, {1280, 1024}, {1600, 1200}, {1920, 1080},
    {1920, 1080}, {1366, 768},  {1440, 900},  {2048, 1152}, {2560, 816},  {2304, 1152},
    {1920, 1200}, {1200, 1600}, {1080, 1920}, {1536, 1536},
};

const char* const kExtNames[5] = {"NULL", "SDI", "VGA", "DVI", "VIDEO"};

std::string Hex(uint8_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", v);
    return buf;
}

std::string Name(uint8_t source) {
    const char* label = SourceLabel(source);
    return label != nullptr ? label : "source " + Hex(source);
}

std::string WindowText(const Window& w) {
    return std::to_string(w.w) + "x" + std::to_string(w.h) + " at " + std::to_string(w.hs) + "," +
           std::to_string(w.vs);
}

// Sources that share hardware: the device shows no two pictures of one group at a time.
int Group(uint8_t source) {
    static const int kGroups[kSourceCount] = {0, 0, 1, 1, 2, 2, 2, 3, 4};
    return source < kSourceCount ? kGroups[source] : -1;
}

bool ValidSource(uint8_t s) {
    return s < kSourceCount;
}
bool ValidTransition(uint8_t t) {
    return t <= 3;
}

// The physical input behind a source code.
int InputOf(uint8_t source) {
    return source == kYPbPr ? int{kV2} : int{source};
}

// Source code from a name (any case) or a number 0..8; -1 when neither.
int ParseSource(const std::string& word) {
    const int byName = SourceFromLabel(word.c_str());
    if (byName >= 0) {
        return byName;
    }
    if (word.size() == 1 && word[0] >= '0' && word[0] <= '8') {
        return word[0] - '0';
    }
    return -1;
}

}  // namespace

Simulator::Simulator(uint8_t id, ReplyFaults faults) : m_id(id), m_faults(faults) {}

Simulator::Response Simulator::HandleFrame(const Frame& f, int64_t nowMs) {
    if (f[0] != kLeader) {
        return {std::nullopt, "ignored: leader " + Hex(f[0])};
    }
    if (f[12] != Checksum(f.data())) {
        return {std::nullopt, "ignored: checksum"};
    }
    if (f[1] != m_id) {
        return {std::nullopt, "ignored: device id " + std::to_string(f[1])};
    }
    if (f[2] == kQuery) {
        return Answer(f[3]);  // bytes after the sub-code are not looked at
    }
    return {std::nullopt, Apply(f, nowMs)};
}

std::vector<std::string> Simulator::Advance(int64_t nowMs) {
    std::vector<std::string> notes;
    if (m_switch && m_switch->dueMs <= nowMs) {
        const PendingSwitch sw = *m_switch;
        m_switch.reset();
        m_state.mainSource = V2Form(sw.source);
        if (sw.take && m_state.overlay == kPreviewSet) {
            m_state.overlay = kPreviewEmpty;
        }
        notes.push_back("main source now " + Name(m_state.mainSource));
    }
    if (m_opening && m_opening->dueMs <= nowMs) {
        const PendingOverlay op = *m_opening;
        m_opening.reset();
        // Still pending since the on command; anything else means it was closed meanwhile.
        const uint8_t pending = op.target == kPipOn ? kPipPending : kTextPending;
        if (m_state.overlay == pending) {
            m_state.overlay = op.target;
            notes.push_back(OverlayName(op.target));
        }
    }
    return notes;
}

std::optional<int64_t> Simulator::NextChangeMs() const {
    std::optional<int64_t> next;
    if (m_switch) {
        next = m_switch->dueMs;
    }
    if (m_opening && (!next || m_opening->dueMs < *next)) {
        next = m_opening->dueMs;
    }
    return next;
}

uint8_t Simulator::V2Form(uint8_t source) const {
    const bool ypbpr = (m_state.functions & kV2YPbPrBit) != 0;
    if (source == kV2 && ypbpr) {
        return kYPbPr;
    }
    if (source == kYPbPr && !ypbpr) {
        return kV2;
    }
    return source;
}

Window Simulator::FullOutput() const {
    if (m_state.resolution < 16) {
        return Window{0, kPresetSize[m_state.resolution][0], 0, kPresetSize[m_state.resolution][1]};
    }
    return Window{0, m_state.customWidth, 0, m_state.customHeight};
}

std::string Simulator::Apply(const Frame& f, int64_t nowMs) {
    DeviceState& s = m_state;
    const uint8_t code = f[2];
    const uint8_t a = f[3];
    const uint8_t b = f[4];
    switch (code) {
        case kMainSwitch:
            if (!ValidTransition(a) || !ValidSource(b)) {
                return "refused: main switch " + Hex(a) + " " + Hex(b);
            }
            s.transition = a;
            m_switch = PendingSwitch{nowMs + kSwitchDelayMs, b, false};
            return "main switch to " + Name(V2Form(b)) + " in " + std::to_string(kSwitchDelayMs) +
                   " ms";
        case kPipOnOff:
            return OverlayOnOff(true, a != 0, nowMs);
        case kTextOnOff:
            return OverlayOnOff(false, a != 0, nowMs);
        case kPipSource:
        case kTextSource:
            if (!ValidSource(a)) {
                return "refused: source " + Hex(a);
            }
            s.secondSource = V2Form(a);
            return std::string(code == kPipSource ? "PIP" : "TEXT") + " source " +
                   Name(s.secondSource);
        case kSwitchMode:
            if (a != 0) {
                s.functions |= kPreTakeBit;
                if (s.overlay == kOverlayNone) {
                    s.overlay = kPreviewEmpty;
                }
                return "switch mode Pre + TAKE";
            }
            s.functions &= static_cast<uint8_t>(~kPreTakeBit);
            if (s.overlay == kPreviewEmpty || s.overlay == kPreviewSet) {
                s.overlay = kOverlayNone;
            }
            return "switch mode One Key";
        case kPreviewEmptySource:
        case kPreviewSetSource:
            if (s.overlay != kPreviewEmpty && s.overlay != kPreviewSet) {
                return "refused: no preview (not in Pre + TAKE mode, or PIP/TEXT open)";
            }
            if (!ValidSource(a)) {
                return "refused: source " + Hex(a);
            }
            s.secondSource = V2Form(a);
            s.overlay = kPreviewSet;
            return "preview " + Name(s.secondSource);
        case kTake:
            if (s.overlay != kPreviewSet || !ValidTransition(a)) {
                return "refused: TAKE without a preview source";
            }
            s.transition = a;
            m_switch = PendingSwitch{nowMs + kSwitchDelayMs, s.secondSource, true};
            return "take " + Name(s.secondSource) + " in " + std::to_string(kSwitchDelayMs) + " ms";
        case kResolution:
            if (a >= kResolutionCount) {
                return "refused: output resolution " + Hex(a);
            }
            s.resolution = a;
            s.output = FullOutput();
            return "output resolution " + std::to_string(a) + ", output window " +
                   WindowText(s.output);
        case kOutputWindow:
            s.output = Window::Decode(f.data());
            return "output window " + WindowText(s.output);
        case kCustomResolution: {
            const CustomResolutionReply c = CustomResolutionReply::Decode(f.data());
            s.customWidth = c.width;
            s.customHeight = c.height;
            s.customRate = c.rate;
            if (s.resolution == 16) {
                s.output = FullOutput();
            }
            return "custom resolution " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                   "@" + std::to_string(c.rate);
        }
        case kHotSpare:
            s.picture.hotSpare = static_cast<uint8_t>((a ? 1 : 0) | (b ? 2 : 0) | (f[5] ? 4 : 0));
            return "hot spare " + std::to_string(s.picture.hotSpare);
        case kTextKey:
            s.textKey = TextKeyReply::Decode(f.data());
            s.textKey.threshold = a != 0 ? 1 : 0;
            return "text key";
        case kBrightness:
            s.picture.brightness = a;
            return "brightness " + std::to_string(a);
        case kSharpness:
            s.picture.sharpness = a != 0 ? 1 : 0;
            return a != 0 ? "sharpness Sharp" : "sharpness Normal";
        case kColour:
            if (!ValidSource(b)) {
                return "refused: colour of source " + Hex(b);
            }
            s.colour[b] = a;
            return "colour " + Name(b) + " " + std::to_string(a);
        case kAudio:
            if (!ValidSource(a) || !ValidSource(b)) {
                return "refused: audio " + Hex(a) + " " + Hex(b);
            }
            s.picture.audio1 = a;
            s.picture.audio2 = b;
            return "audio " + Name(a) + ", " + Name(b);
        case kV2Input:
            if (a != 0) {
                s.functions |= kV2YPbPrBit;
            } else {
                s.functions &= static_cast<uint8_t>(~kV2YPbPrBit);
            }
            s.mainSource = V2Form(s.mainSource);
            s.secondSource = V2Form(s.secondSource);
            return a != 0 ? "V2 input YPbPr" : "V2 input V2";
        case kMosaic:
        case kBypass:
        case kFreeze: {
            const uint8_t bit = code == kMosaic   ? kMosaicBit
                                : code == kBypass ? kBypassBit
                                                  : kFreezeBit;
            if (a != 0) {
                s.functions |= bit;
            } else {
                s.functions &= static_cast<uint8_t>(~bit);
            }
            const char* name = code == kMosaic ? "MOSAIC" : code == kBypass ? "BYPASS" : "FREEZE";
            return std::string(name) + (a != 0 ? " on" : " off");
        }
        case kSyncMode:
            s.syncMosaic = a != 0;
            return a != 0 ? "sync mosaic" : "no sync mosaic";
        case kInputWindow:
            s.input = Window::Decode(f.data());
            return "input window " + WindowText(s.input);
        case kPipPreset:
            if (a > 2) {
                return "refused: PIP preset " + Hex(a);
            }
            s.pipPreset = a;
            return "PIP preset M" + std::to_string(a + 1);
        case kAuto:
            return "auto adjust (nothing to change)";
        case kLayoutM1:
        case kLayoutM2:
        case kLayoutM3: {
            if (a > 1) {
                return "refused: window " + Hex(a);
            }
            const Window w = Window::Decode(f.data());
            s.layouts[code - kLayoutM1][a] = w;
            if (code == kLayoutM1 && a == 0 && w.hs == 0 && w.w == 0 && w.vs == 0 && w.h == 0) {
                // The fast mosaic's way out of BYPASS: an empty M1 main window.
                s.functions &= static_cast<uint8_t>(~kBypassBit);
                return "M1 main window empty, BYPASS off";
            }
            return "M" + std::to_string(code - kLayoutM1 + 1) + (a ? " PIP" : " main") +
                   " window " + WindowText(w);
        }
        case kBias:
            s.picture.bias = a;
            return "bias " + std::to_string(a);
        default:
            return "unknown command " + Hex(code);
    }
}

std::string Simulator::OverlayOnOff(bool pip, bool on, int64_t nowMs) {
    DeviceState& s = m_state;
    const uint8_t pending = pip ? kPipPending : kTextPending;
    const uint8_t open = pip ? kPipOn : kTextOn;
    const std::string what = pip ? "PIP" : "TEXT";
    if (on) {
        if (s.mainSource == kYPbPr) {
            return "refused: " + what + " on while the main source is YPbPr";
        }
        if (s.overlay == pending || s.overlay == open) {
            return what + " already on";
        }
        // The second picture keeps its last source unless that one shares the main source's
        // hardware; then it shows the main source itself.
        if (Group(s.secondSource) == Group(s.mainSource)) {
            s.secondSource = s.mainSource;
        }
        s.overlay = pending;
        m_opening = PendingOverlay{nowMs + kOverlayOpenMs, open};
        return what + " opening with " + Name(s.secondSource);
    }
    if (s.overlay != pending && s.overlay != open) {
        return what + " already off";
    }
    m_opening.reset();
    s.overlay = (s.functions & kPreTakeBit) != 0 ? kPreviewEmpty : kOverlayNone;
    return what + " off";
}

Frame Simulator::WithFaults(Frame r) const {
    if (m_faults.lead) {
        r[0] = 0x06;
    }
    if (m_faults.otherId) {
        r[1] = static_cast<uint8_t>(m_id + 1);
    }
    r[12] = Checksum(r.data());
    return r;
}

Simulator::Response Simulator::Answer(uint8_t sub) const {
    const DeviceState& s = m_state;
    switch (sub) {
        case kStatusSub:
            return {WithFaults(Status().Encode()), "status"};
        case kIdentifySub: {
            Frame r = IdentifyReply(m_id);
            if (m_faults.badIdentify) {
                r[11] = 0x63;
            }
            return {WithFaults(r), "identify"};
        }
        case kResolutionSub:
            return {WithFaults(ResolutionReply{s.resolution, s.output}.Encode(m_id)), "resolution"};
        case kMosaicModeSub:
            return {WithFaults(MosaicModeReply{s.syncMosaic, s.input}.Encode(m_id)), "mosaic mode"};
        case kPictureAudioSub:
            return {WithFaults(s.picture.Encode(m_id)), "picture and audio"};
        case kTextKeySub:
            return {WithFaults(s.textKey.Encode(m_id)), "text key"};
        case kCustomResolutionSub: {
            const CustomResolutionReply c{s.customWidth, s.customHeight, s.customRate};
            return {WithFaults(c.Encode(m_id)), "custom resolution"};
        }
        case kColourSub: {
            ColourReply c;
            for (int i = 0; i < 7; ++i) {
                c.values[i] = s.colour[ColourReply::kSources[i]];
            }
            return {WithFaults(c.Encode(m_id)), "colour"};
        }
        default:
            break;
    }
    if (sub >= kMainGeometryM1Sub && sub < kMainGeometryM1Sub + 6) {
        const int layout = (sub - kMainGeometryM1Sub) / 2;
        const int window = (sub - kMainGeometryM1Sub) % 2;
        return {WithFaults(GeometryReply(m_id, sub, s.layouts[layout][window])),
                "M" + std::to_string(layout + 1) + (window ? " PIP" : " main") + " window"};
    }
    return {std::nullopt, "unknown query " + Hex(sub)};
}

void Simulator::SetSignal(uint8_t source, bool on) {
    if (ValidSource(source)) {
        m_state.signal[InputOf(source)] = on;
    }
}

bool Simulator::HasSignal(uint8_t source) const {
    if (!ValidSource(source)) {
        return false;
    }
    if (source == kExt && m_state.extInput == 0) {
        return false;  // nothing plugged behind EXT.
    }
    return m_state.signal[InputOf(source)];
}

StatusReply Simulator::Status() const {
    const DeviceState& s = m_state;
    StatusReply r;
    r.deviceId = m_id;
    r.overlay = s.overlay;
    r.transition = s.transition;
    r.functions = s.functions;
    r.mainSource = s.mainSource;
    r.secondSource = s.secondSource;
    r.mainSignal = HasSignal(s.mainSource);
    // Only a second picture that is shown (PIP, TEXT or a chosen preview) reports its signal.
    const bool secondShown = s.overlay == kPipPending || s.overlay == kPipOn ||
                             s.overlay == kTextPending || s.overlay == kTextOn ||
                             s.overlay == kPreviewSet;
    r.secondSignal = secondShown && HasSignal(s.secondSource);
    r.pipPreset = s.pipPreset;
    r.extInput = s.extInput;
    return r;
}

std::string Simulator::Describe() const {
    const DeviceState& s = m_state;
    std::ostringstream o;
    auto onOff = [](bool on) { return on ? "on" : "off"; };
    o << "state device id " << int(m_id) << "\n";
    o << "state main " << Name(s.mainSource) << (HasSignal(s.mainSource) ? "" : " (no signal)")
      << ", second " << Name(s.secondSource) << (HasSignal(s.secondSource) ? "" : " (no signal)")
      << ", overlay " << int(s.overlay) << " " << OverlayName(s.overlay) << ", transition "
      << int(s.transition) << "\n";
    o << "state FREEZE " << onOff(s.functions & kFreezeBit) << ", BYPASS "
      << onOff(s.functions & kBypassBit) << ", MOSAIC " << onOff(s.functions & kMosaicBit)
      << ", V2 input " << ((s.functions & kV2YPbPrBit) ? "YPbPr" : "V2") << ", switch mode "
      << ((s.functions & kPreTakeBit) ? "Pre + TAKE" : "One Key") << ", PIP preset M"
      << int(s.pipPreset) + 1 << "\n";
    o << "state signals";
    for (int i = 0; i < kInputCount; ++i) {
        o << " " << Name(static_cast<uint8_t>(i)) << " " << onOff(s.signal[i]);
    }
    o << ", EXT. input " << (s.extInput < 5 ? kExtNames[s.extInput] : "?") << "\n";
    o << "state output resolution " << int(s.resolution) << ", output window "
      << WindowText(s.output) << ", custom " << s.customWidth << "x" << s.customHeight << "@"
      << s.customRate << ", input window " << WindowText(s.input) << ", "
      << (s.syncMosaic ? "sync mosaic" : "no sync mosaic") << "\n";
    for (int l = 0; l < 3; ++l) {
        o << "state M" << l + 1 << " main " << WindowText(s.layouts[l][0]) << ", PIP "
          << WindowText(s.layouts[l][1]) << "\n";
    }
    o << "state brightness " << int(s.picture.brightness) << " (0~"
      << (s.picture.brightness100 ? 100 : 64) << "), bias " << int(s.picture.bias) << ", sharpness "
      << (s.picture.sharpness ? "Sharp" : "Normal") << ", audio " << Name(s.picture.audio1) << " "
      << Name(s.picture.audio2) << ", hot spare " << int(s.picture.hotSpare) << "\n";
    o << "state text key " << (s.textKey.threshold ? ">" : "<") << "threshold red "
      << int(s.textKey.red) << " green " << int(s.textKey.green) << " blue " << int(s.textKey.blue)
      << ", colour";
    for (int i = 0; i < kSourceCount; ++i) {
        o << " " << Name(static_cast<uint8_t>(i)) << " " << int(s.colour[i]);
    }
    o << "\n";
    return o.str();
}

const char kConsoleCommands[] =
    "signal SOURCE on|off, ext NULL|SDI|VGA|DVI|VIDEO, brightness 64|100, state, stall MS, "
    "noise N, hangup, help";

Simulator::ConsoleResult Simulator::Console(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    auto is = [&](size_t i, const char* word) {
        return i < words.size() && strcasecmp(words[i].c_str(), word) == 0;
    };
    if (words.size() == 1 && is(0, "state")) {
        return {ConsoleResult::kState, Describe()};
    }
    if (words.size() == 3 && is(0, "signal") && (is(2, "on") || is(2, "off"))) {
        const int source = ParseSource(words[1]);
        if (source < 0) {
            return {ConsoleResult::kError, "error: unknown source '" + words[1] + "'"};
        }
        const bool on = is(2, "on");
        SetSignal(static_cast<uint8_t>(source), on);
        return {ConsoleResult::kChanged,
                "signal " + Name(static_cast<uint8_t>(source)) + (on ? " on" : " off")};
    }
    if (words.size() == 2 && is(0, "ext")) {
        for (uint8_t i = 0; i < 5; ++i) {
            if (is(1, kExtNames[i])) {
                m_state.extInput = i;
                return {ConsoleResult::kChanged, std::string("EXT. input ") + kExtNames[i]};
            }
        }
        return {ConsoleResult::kError, "error: EXT. input must be NULL, SDI, VGA, DVI or VIDEO"};
    }
    if (words.size() == 2 && is(0, "brightness") && (is(1, "64") || is(1, "100"))) {
        // The range the processor's brightness runs in; the value itself stays as it is.
        m_state.picture.brightness100 = is(1, "100") ? 1 : 0;
        return {ConsoleResult::kChanged, "brightness range 0~" + words[1]};
    }
    if (words.size() == 1 && is(0, "help")) {
        return {ConsoleResult::kState, std::string("console lines: ") + kConsoleCommands};
    }
    return {ConsoleResult::kError, std::string("error: console lines are ") + kConsoleCommands};
}

}  // namespace sim
