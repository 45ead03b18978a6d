#include "device/StatusDecoder.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "link/Frame.h"

using app::DecodeStatus;
using app::DeviceState;
using app::Display;
using app::FunctionButtons;
using app::LampState;

namespace {

// Lamp ids as the window numbers them.
constexpr int kV1 = 1073, kV2 = 1074, kVga1 = 1075, kHdmi = 1077, kDvi = 1078;
constexpr int kPip = 1083, kText = 1084, kBypass = 1085, kFreeze = 1086, kMosaic = 1087;
constexpr int kM1 = 1089, kM2 = 1090, kM3 = 1091;

// A status reply for device 1, bytes 4..11 by name (byte 7: second source high, main low).
struct Reply {
    uint8_t overlay = 0;
    uint8_t fade = 0;
    uint8_t functions = 0;
    uint8_t sources = 0x00;
    uint8_t mainSignal = 1;
    uint8_t secondSignal = 1;
    uint8_t preset = 0;
    uint8_t ext = 0;

    devlink::Frame Bytes() const {
        devlink::Frame f = {0x05,    0x01,       0xFE,         0x00,   overlay, fade, functions,
                            sources, mainSignal, secondSignal, preset, ext,     0x00};
        for (int i = 0; i < 12; ++i) {
            f[12] ^= f[i];
        }
        return f;
    }
};

// The window's side of the decoder: one connection's device state and blink set, and the lamp
// picture that applying every display in turn leaves.
struct Window {
    DeviceState state;
    std::map<int, bool> blinkSet;
    std::map<int, LampState> lamps;

    std::optional<Display> Decode(const devlink::Frame& reply, bool chinese = false,
                                  bool timerRunning = false) {
        auto d = DecodeStatus(reply.data(), 1, chinese, timerRunning, state, blinkSet);
        if (d) {
            for (const auto& [id, s] : d->lamps) {
                lamps[id] = s;
            }
        }
        return d;
    }
    std::optional<Display> Decode(const Reply& r, bool chinese = false, bool timer = false) {
        return Decode(r.Bytes(), chinese, timer);
    }
    std::set<int> Lamps(LampState s) const {
        std::set<int> out;
        for (const auto& [id, state] : lamps) {
            if (state == s) {
                out.insert(id);
            }
        }
        return out;
    }
    std::set<int> Blinking() const {
        std::set<int> out;
        for (const auto& entry : blinkSet) {
            out.insert(entry.first);
        }
        return out;
    }
};

TEST(StatusDecoder, LampsShowTheLatestStateAfterEachSequence) {
    struct Case {
        const char* name;
        std::vector<Reply> replies;
        std::set<int> steady;
        std::set<int> flashing;
    };
    const Case cases[] = {
        {"V1 with signal", {{}}, {kV1}, {}},
        {"V1 without signal flashes", {{.mainSignal = 0}}, {}, {kV1}},
        {"PIP on with HDMI and preset M2",
         {{.overlay = 2, .sources = 0x40, .preset = 1}},
         {kV1, kHdmi, kPip, kM2},
         {}},
        {"PIP on, neither picture has a signal",
         {{.overlay = 2, .sources = 0x40, .mainSignal = 0, .secondSignal = 0, .preset = 2}},
         {kPip, kM3},
         {kV1, kHdmi}},
        {"PIP pending flashes the PIP lamp, not the second source",
         {{.overlay = 1, .sources = 0x40}},
         {kV1, kM1},
         {kPip}},
        {"TEXT on with DVI over HDMI", {{.overlay = 4, .sources = 0x54}}, {kHdmi, kDvi, kText}, {}},
        {"TEXT pending", {{.overlay = 3, .sources = 0x54}}, {kHdmi}, {kText}},
        {"preview set lights the preview source",
         {{.overlay = 8, .sources = 0x24}},
         {kHdmi, kVga1},
         {}},
        {"preview empty lights no second source", {{.overlay = 7, .sources = 0x24}}, {kHdmi}, {}},
        {"function lamps", {{.functions = 0x07}}, {kV1, kFreeze, kBypass, kMosaic}, {}},
        {"function lamps go out", {{.functions = 0x07}, {}}, {kV1}, {}},
        {"the previous main source goes out", {{}, {.sources = 0x04}}, {kHdmi}, {}},
        {"a lamp leaves the blink set when the signal returns", {{.mainSignal = 0}, {}}, {kV1}, {}},
        {"a flashing previous main source goes out",
         {{.mainSignal = 0}, {.sources = 0x04}},
         {kHdmi},
         {}},
        {"PIP pending, then off", {{.overlay = 1, .sources = 0x40}, {}}, {kV1}, {}},
        {"a preset without a lamp leaves the preset lamps alone",
         {{.overlay = 2, .sources = 0x40, .preset = 1},
          {.overlay = 2, .sources = 0x40, .preset = 5}},
         {kV1, kHdmi, kPip, kM2},
         {}},
        {"PIP off puts out the second source, PIP and preset lamps",
         {{.overlay = 2, .sources = 0x40, .preset = 1}, {}},
         {kV1},
         {}},
        {"the second source changes under PIP",
         {{.overlay = 2, .sources = 0x40}, {.overlay = 2, .sources = 0x50}},
         {kV1, kDvi, kPip, kM1},
         {}},
        {"the previous main source becomes the PIP source",
         {{}, {.overlay = 2, .sources = 0x04}},
         {kV1, kHdmi, kPip, kM1},
         {}},
        {"main and PIP source swap",
         {{.overlay = 2, .sources = 0x40}, {.overlay = 2, .sources = 0x04}},
         {kV1, kHdmi, kPip, kM1},
         {}},
        {"V2 turns to YPbPr: the shared lamp stays lit",
         {{.functions = 0x08, .sources = 0x01}, {.functions = 0x08, .sources = 0x08}},
         {kV2},
         {}},
        {"codes above 8 light nothing and put out the old main lamp",
         {{}, {.overlay = 2, .sources = 0xF9, .mainSignal = 0, .secondSignal = 0}},
         {kPip, kM1},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        for (const Reply& r : c.replies) {
            ASSERT_TRUE(w.Decode(r));
        }
        EXPECT_EQ(w.Lamps(LampState::Steady), c.steady);
        EXPECT_EQ(w.Lamps(LampState::Flashing), c.flashing);
        EXPECT_EQ(w.Blinking(), c.flashing);
    }
}

TEST(StatusDecoder, DisplayOfOneReply) {
    constexpr FunctionButtons kAll = {true, true, true, true, true, true};
    constexpr FunctionButtons kIdle = {.mosaic = false,
                                       .bypass = true,
                                       .freeze = true,
                                       .pip = true,
                                       .text = true,
                                       .switchMode = true};
    constexpr FunctionButtons kPipOnly = {.pip = true};
    constexpr FunctionButtons kPreview = {
        .bypass = true, .freeze = true, .pip = true, .switchMode = true};
    // What the first decode of a connection shows for V1 with signal, no overlay, One Key.
    struct Want {
        std::optional<int> transitionRadio = 1020;
        const char* v2Caption = "V2";
        bool preTake = false;
        const char* autoTakeCaption = "AUTO";
        bool presets = false;
        std::optional<int> extRadio = 1036;
        std::optional<std::string> preview = std::nullopt;
        bool autoTakeEnabled = false;
        std::optional<FunctionButtons> functions = kIdle;
    };
    struct Case {
        const char* name;
        Reply reply;
        Want want;
        bool chinese = false;
        bool timerRunning = false;
    };
    const Case cases[] = {
        {"V1 with signal", {}, {}},
        {"1.0 s fade", {.fade = 2}, {.transitionRadio = 1038}},
        {"YPbPr in Pre + TAKE mode",
         {.functions = 0x18, .sources = 0x08},
         {.v2Caption = "YPbPr",
          .preTake = true,
          .autoTakeCaption = "TAKE",
          .autoTakeEnabled = true}},
        {"preview set, Chinese",
         {.overlay = 8, .functions = 0x10, .sources = 0x24},
         {.preTake = true,
          .autoTakeCaption = "TAKE",
          .preview = "预选:\tVGA1",
          .autoTakeEnabled = true,
          .functions = kPreview},
         true},
        {"preview set, English",
         {.overlay = 8, .functions = 0x10, .sources = 0x74},
         {.preTake = true,
          .autoTakeCaption = "TAKE",
          .preview = "Pre: EXT.",
          .autoTakeEnabled = true,
          .functions = kPreview}},
        {"preview of YPbPr reads NULL",
         {.overlay = 8, .sources = 0x84},
         {.preview = "Pre: NULL", .functions = kPreview}},
        {"preview empty, Chinese",
         {.overlay = 7},
         {.preview = "预选: 空", .functions = kPreview},
         true},
        {"preview empty, English", {.overlay = 7}, {.preview = "Pre: NULL", .functions = kPreview}},
        {"PIP on", {.overlay = 2, .sources = 0x42}, {.presets = true, .functions = kPipOnly}},
        {"PIP pending", {.overlay = 1}, {.presets = true, .functions = kPipOnly}},
        {"TEXT on", {.overlay = 4, .sources = 0x42}, {.functions = FunctionButtons{.text = true}}},
        {"AUTO for VGA1", {.sources = 0x02}, {.autoTakeEnabled = true}},
        {"no AUTO with BYPASS", {.functions = 0x02, .sources = 0x03}, {}},
        {"AUTO for VGA behind EXT.",
         {.sources = 0x07, .ext = 2},
         {.extRadio = 1040, .autoTakeEnabled = true}},
        {"no AUTO for DVI behind EXT.", {.sources = 0x07, .ext = 3}, {.extRadio = 1030}},
        {"MOSAIC on over DVI",
         {.functions = 0x04, .sources = 0x05},
         {.functions =
              FunctionButtons{.mosaic = true, .freeze = true, .pip = true, .switchMode = true}}},
        {"DVI offers MOSAIC", {.sources = 0x05}, {.functions = kAll}},
        {"EXT. input VIDEO", {.ext = 4}, {.extRadio = 1041}},
        {"EXT. input above 4 checks no radio", {.ext = 5}, {.extRadio = std::nullopt}},
        {"the scheduler keeps the function buttons", {}, {.functions = std::nullopt}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        const auto d = w.Decode(c.reply, c.chinese, c.timerRunning);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->transitionRadio, c.want.transitionRadio);
        EXPECT_STREQ(d->v2Caption, c.want.v2Caption);
        EXPECT_EQ(d->preTakeMode, c.want.preTake);
        EXPECT_STREQ(d->autoTakeCaption, c.want.autoTakeCaption);
        EXPECT_EQ(d->presetsEnabled, c.want.presets);
        EXPECT_EQ(d->extRadio, c.want.extRadio);
        EXPECT_EQ(d->previewLabel, c.want.preview);
        EXPECT_EQ(d->autoTakeEnabled, c.want.autoTakeEnabled);
        EXPECT_EQ(d->functionButtons, c.want.functions);
    }
}

TEST(StatusDecoder, DeviceStateOfASequence) {
    struct Want {
        int main = 0;
        int group = 0;
        int second = -1;
        std::set<int> inUse = {0};
        bool dviMain = false;
        int preset = 0;
        int ext = 0;
    };
    struct Case {
        const char* name;
        std::vector<Reply> replies;
        Want want;
    };
    const Case cases[] = {
        {"PIP on keeps the second source",
         {{.overlay = 2, .sources = 0x74, .preset = 2}},
         {.main = 4, .group = 2, .second = 7, .inUse = {4, 7}, .preset = 2}},
        {"PIP pending: in use, no second source",
         {{.overlay = 1, .sources = 0x74, .preset = 1}},
         {.main = 4, .group = 2, .inUse = {4, 7}, .preset = 1}},
        {"preview empty: in use, no second source",
         {{.overlay = 7, .sources = 0x74}},
         {.main = 4, .group = 2, .inUse = {4, 7}}},
        {"PIP off: only the main source, preset back to M1",
         {{.overlay = 2, .sources = 0x74, .preset = 2}, {.sources = 0x74, .preset = 2}},
         {.main = 4, .group = 2, .inUse = {4}}},
        {"YPbPr", {{.functions = 0x08, .sources = 0x08}}, {.main = 8, .group = 4, .inUse = {8}}},
        {"DVI main with signal",
         {{.sources = 0x05}},
         {.main = 5, .group = 2, .inUse = {5}, .dviMain = true}},
        {"DVI-main flag kept while the main source has no signal",
         {{.sources = 0x05}, {.sources = 0x04, .mainSignal = 0}},
         {.main = 4, .group = 2, .inUse = {4}, .dviMain = true}},
        {"DVI-main flag cleared by another source with signal",
         {{.sources = 0x05}, {.sources = 0x04}},
         {.main = 4, .group = 2, .inUse = {4}}},
        {"codes above 8",
         {{.overlay = 2, .sources = 0xFC}},
         {.main = 12, .group = -1, .second = 15, .inUse = {}}},
        {"EXT. input above 4 keeps the last one", {{.ext = 3}, {.ext = 9}}, {.ext = 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        for (const Reply& r : c.replies) {
            ASSERT_TRUE(w.Decode(r));
        }
        const DeviceState& st = w.state;
        EXPECT_EQ(st.m_mainSource, c.want.main);
        EXPECT_EQ(st.m_mainGroup, c.want.group);
        EXPECT_EQ(st.m_secondSource, c.want.second);
        std::set<int> inUse;
        for (int i = 0; i < devlink::kSourceCount; ++i) {
            if (st.m_sourceInUse[i]) {
                inUse.insert(i);
            }
        }
        EXPECT_EQ(inUse, c.want.inUse);
        EXPECT_EQ(st.m_bDviMain, c.want.dviMain);
        EXPECT_EQ(st.m_pipPreset, c.want.preset);
        EXPECT_EQ(st.m_extInput, c.want.ext);
    }
}

TEST(StatusDecoder, FlagsFollowTheReply) {
    Window w;
    ASSERT_TRUE(w.Decode(Reply{.overlay = 3, .functions = 0x1F}));
    const DeviceState& st = w.state;
    EXPECT_TRUE(st.m_bTextPending);
    EXPECT_FALSE(st.m_bPipPending || st.m_bPipOn || st.m_bTextOn || st.PreviewFlag());
    EXPECT_TRUE(st.m_bFreeze && st.m_bBypass && st.m_bMosaic && st.m_bV2IsYPbPr &&
                st.m_bPreTakeMode);

    ASSERT_TRUE(w.Decode(Reply{.overlay = 5}));  // not an overlay state
    EXPECT_FALSE(st.AnyOverlay());
    EXPECT_FALSE(st.m_bFreeze || st.m_bBypass || st.m_bMosaic || st.m_bV2IsYPbPr ||
                 st.m_bPreTakeMode);
}

TEST(StatusDecoder, RefusesRepliesThatAreNotOurStatus) {
    struct Case {
        const char* name;
        int byte;
        uint8_t value;
    };
    const Case cases[] = {
        {"another device ID", 1, 0x02},
        {"wrong leader", 0, 0x06},
        {"not a query answer", 2, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        ASSERT_TRUE(w.Decode(Reply{.overlay = 1, .mainSignal = 0}));
        const DeviceState before = w.state;
        const auto blinkBefore = w.blinkSet;

        devlink::Frame bad = Reply{.sources = 0x44, .ext = 3}.Bytes();
        bad[c.byte] = c.value;
        EXPECT_FALSE(w.Decode(bad));
        EXPECT_EQ(w.state, before);
        EXPECT_EQ(w.blinkSet, blinkBefore);
    }
}

TEST(StatusDecoder, TransitionIsTakenOncePerConnection) {
    Window w;
    auto d = w.Decode(Reply{.fade = 1});
    EXPECT_EQ(d->transitionRadio, 1022);
    EXPECT_EQ(w.state.m_transition, 1);

    w.state.m_transition = 3;  // the operator picks 1.5S
    d = w.Decode(Reply{.fade = 2});
    EXPECT_EQ(d->transitionRadio, std::nullopt);
    EXPECT_EQ(w.state.m_transition, 3);

    w.state.m_bFadeLoaded = false;  // the next connection
    d = w.Decode(Reply{.fade = 2});
    EXPECT_EQ(d->transitionRadio, 1038);
    EXPECT_EQ(w.state.m_transition, 2);

    // A value without a radio is not taken: the next switch must not carry it.
    w.state.m_bFadeLoaded = false;
    d = w.Decode(Reply{.fade = 7});
    EXPECT_EQ(d->transitionRadio, 1038);
    EXPECT_EQ(w.state.m_transition, 2);
    EXPECT_TRUE(w.state.m_bFadeLoaded);
}

}  // namespace

// The source the Info line tells of: the picture on air without its signal first (the main one,
// or the PIP or TEXT picture that is on), else the pre-selected one; none while every picture
// shown has its signal or the second picture is not shown yet.
TEST(StatusDecoder, TellsWhichSourceShowsWithoutItsSignal) {
    struct Case {
        const char* name;
        Reply reply;
        std::optional<app::SignalLoss> loss;
    } cases[] = {
        {"all signals", {.sources = 0x04}, std::nullopt},
        {"main HDMI lost", {.sources = 0x04, .mainSignal = 0}, app::SignalLoss{4, true}},
        {"main YPbPr lost",
         {.functions = 0x08, .sources = 0x08, .mainSignal = 0},
         app::SignalLoss{8, true}},
        {"PIP on, its DVI lost",
         {.overlay = 2, .sources = 0x50, .secondSignal = 0},
         app::SignalLoss{5, true}},
        {"TEXT on, its VGA1 lost",
         {.overlay = 4, .sources = 0x24, .secondSignal = 0},
         app::SignalLoss{2, true}},
        {"PIP pending: its picture is not shown",
         {.overlay = 1, .sources = 0x50, .secondSignal = 0},
         std::nullopt},
        {"Pre+TAKE, pre-selected VGA1 lost",
         {.overlay = 8, .functions = 0x10, .sources = 0x24, .secondSignal = 0},
         app::SignalLoss{2, false}},
        {"Pre+TAKE, main lost before the pre-selected",
         {.overlay = 8, .functions = 0x10, .sources = 0x24, .mainSignal = 0, .secondSignal = 0},
         app::SignalLoss{4, true}},
        {"Pre+TAKE, nothing pre-selected",
         {.overlay = 7, .functions = 0x10, .sources = 0x04, .secondSignal = 0},
         std::nullopt},
        {"a main code without a lamp", {.sources = 0x0C, .mainSignal = 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        Window w;
        const auto d = w.Decode(c.reply.Bytes());
        ASSERT_TRUE(d) << c.name;
        EXPECT_EQ(d->signalLoss, c.loss) << c.name;
    }
}
