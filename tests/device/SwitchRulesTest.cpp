#include "device/SwitchRules.h"

#include <gtest/gtest.h>

#include <vector>

using app::DeviceState;
using app::SwitchOutcome;

namespace {

constexpr uint8_t kId = 3;

// The main window's controls of this test; the eight source buttons in the order of their codes.
enum Button {
    V1,
    V2,
    VGA1,
    VGA2,
    HDMI,
    DVI,
    DP,
    EXT,
    Pip,
    Text,
    M1,
    M2,
    M3,
    Bypass,
    Mosaic,
    Freeze,
    AutoTake,
    OneKey,
    PreTake,
};

SwitchOutcome Press(Button b, DeviceState& st, bool chinese = false) {
    switch (b) {
        case Pip:
            return app::PressPip(st, kId, chinese);
        case Text:
            return app::PressText(st, kId, chinese);
        case M1:
            return app::PressPreset(kId, 0);
        case M2:
            return app::PressPreset(kId, 1);
        case M3:
            return app::PressPreset(kId, 2);
        case Bypass:
            return app::PressBypass(st, kId);
        case Mosaic:
            return app::PressMosaic(st, kId);
        case Freeze:
            return app::PressFreeze(st, kId);
        case AutoTake:
            return app::PressAutoTake(st, kId);
        case OneKey:
            return app::PickSwitchMode(kId, false);
        case PreTake:
            return app::PickSwitchMode(kId, true);
        default:
            return app::PressSource(st, kId, chinese, b);
    }
}

// A device state with main source code and its group, as the decoder leaves it.
DeviceState Main(int code, DeviceState st = {}) {
    st.m_mainSource = static_cast<int8_t>(code);
    st.m_mainGroup = app::SourceGroup(code);
    return st;
}

// 05 id, then body, zeros, and the XOR of bytes 0..11.
devlink::Frame Wire(std::vector<uint8_t> body) {
    devlink::Frame f{};
    f[0] = 0x05;
    f[1] = kId;
    for (size_t i = 0; i < body.size(); ++i) {
        f[2 + i] = body[i];
    }
    for (int i = 0; i < 12; ++i) {
        f[12] ^= f[i];
    }
    return f;
}

void ExpectRefusal(const SwitchOutcome& out, const char* text, bool box, bool chinese) {
    EXPECT_FALSE(out.command);
    ASSERT_TRUE(out.refusal);
    EXPECT_EQ(out.refusal->text, text);
    EXPECT_EQ(out.refusal->messageBox, box);
    if (box) {
        EXPECT_EQ(out.refusal->caption, chinese ? "系统信息" : "System information");
        EXPECT_EQ(out.refusal->languageId, chinese ? 2052 : 1033);
    }
}

constexpr const char* kIncorrect = "Invalid operate incorrect source";
constexpr const char* kMosaicOff = "Invalid operate only valid in mosaic off";

TEST(SwitchRules, EachPressQueuesItsFrameOrIsRefused) {
    struct Case {
        const char* name;
        DeviceState state;
        Button button;
        std::vector<uint8_t> body;  // bytes 2.. of the queued frame; empty when refused
        int delay = 0;
        const char* refusal = nullptr;
        bool box = false;
        bool chinese = false;
        bool disableBypass = false;
    };
    const DeviceState pipOnV1 = Main(0, {.m_bPipOn = true});
    const DeviceState previewEmptyHdmi = Main(4, {.m_bPreviewEmpty = true});
    const DeviceState ypbpr = Main(8, {.m_bV2IsYPbPr = true, .m_transition = 3});
    const Case cases[] = {
        // A second picture from the main picture's group is refused; PIP may show the main.
        {"PIP on V1: V2", pipOnV1, V2, {}, 0, kIncorrect},
        {"PIP on V1: V2, Chinese", pipOnV1, V2, {}, 0, "无效操作，错误通道", false, true},
        {"PIP on V1: V1", pipOnV1, V1, {0x02, 0x00}, 3000},
        {"PIP on V1: HDMI", pipOnV1, HDMI, {0x02, 0x04}, 3000},
        {"PIP on V1: DVI waits longer", pipOnV1, DVI, {0x02, 0x05}, 5000},
        {"PIP pending V1: VGA1", Main(0, {.m_bPipPending = true}), VGA1, {0x02, 0x02}, 3000},
        {"TEXT on HDMI: DP", Main(4, {.m_bTextOn = true}), DP, {}, 0, kIncorrect},
        {"TEXT on HDMI: HDMI", Main(4, {.m_bTextOn = true}), HDMI, {0x04, 0x04}, 3000},
        {"TEXT pending HDMI: VGA2", Main(4, {.m_bTextPending = true}), VGA2, {0x04, 0x03}, 3000},
        // The preview may not take the main source itself.
        {"preview empty HDMI: DP", previewEmptyHdmi, DP, {}, 0, kIncorrect},
        {"preview empty HDMI: HDMI", previewEmptyHdmi, HDMI, {}, 0, kIncorrect},
        {"preview empty HDMI: VGA1", previewEmptyHdmi, VGA1, {0x0A, 0x02}, 3000},
        {"preview set VGA1: HDMI", Main(2, {.m_bPreviewSet = true}), HDMI, {0x0B, 0x04}, 3000},
        {"preview set VGA1: VGA2", Main(2, {.m_bPreviewSet = true}), VGA2, {}, 0, kIncorrect},
        // The main switch carries the transition.
        {"1.0 s: DVI", Main(0, {.m_transition = 2}), DVI, {0x00, 0x02, 0x05}, 5000},
        {"Cut: HDMI", Main(0), HDMI, {0x00, 0x00, 0x04}, 3000},
        {"MOSAIC guards only the main switch",
         Main(0, {.m_bPipOn = true, .m_bMosaic = true}),
         HDMI,
         {0x02, 0x04},
         3000},
        {"BYPASS on: queued, the BYPASS button disabled",
         Main(0, {.m_bBypass = true}),
         HDMI,
         {0x00, 0x00, 0x04},
         3000,
         nullptr,
         false,
         false,
         true},
        {"BYPASS on: refused, the BYPASS button disabled all the same",
         Main(0, {.m_bPipOn = true, .m_bBypass = true}),
         V2,
         {},
         0,
         kIncorrect,
         false,
         false,
         true},
        // V2 while the V2 input carries YPbPr.
        {"YPbPr: main switch to code 8", ypbpr, V2, {0x00, 0x03, 0x08}, 3000},
        {"YPbPr under PIP",
         Main(0, {.m_bPipOn = true, .m_bV2IsYPbPr = true}),
         V2,
         {},
         0,
         "Please close PIP/Text Or Take",
         true},
        {"YPbPr under the preview, Chinese",
         Main(0, {.m_bPreviewEmpty = true, .m_bV2IsYPbPr = true}),
         V2,
         {},
         0,
         "请关闭PIP/Text 或者Take",
         true,
         true},
        {"YPbPr does not disable BYPASS",
         Main(0, {.m_bBypass = true, .m_bV2IsYPbPr = true}),
         V2,
         {0x00, 0x00, 0x08},
         3000},
        // EXT. with nothing behind it.
        {"EXT. NULL", Main(0), EXT, {}, 0, "Ext is null,can't switch", true},
        {"EXT. NULL, Chinese",
         Main(0, {.m_bPipOn = true}),
         EXT,
         {},
         0,
         "Ext为空，不能切换",
         true,
         true},
        {"EXT. SDI", Main(0, {.m_extInput = 1, .m_transition = 1}), EXT, {0x00, 0x01, 0x07}, 3000},
        // Overlays.
        {"PIP off: on", Main(0), Pip, {0x01, 0x01}, 3000},
        {"PIP pending: off", Main(0, {.m_bPipPending = true}), Pip, {0x01, 0x00}, 500},
        {"PIP on: off", pipOnV1, Pip, {0x01, 0x00}, 500},
        {"PIP over YPbPr", ypbpr, Pip, {}, 0, "Main signal is YPbPr, can't open PIP/Text", true},
        {"TEXT over YPbPr, Chinese",
         ypbpr,
         Text,
         {},
         0,
         "当前信号是YPbPr,不能打开PIP/Text",
         true,
         true},
        {"PIP on over YPbPr can be closed",
         Main(8, {.m_bPipOn = true, .m_bV2IsYPbPr = true}),
         Pip,
         {0x01, 0x00},
         500},
        {"TEXT off: on", Main(0), Text, {0x03, 0x01}, 3000},
        {"TEXT pending: off", Main(0, {.m_bTextPending = true}), Text, {0x03, 0x00}, 500},
        {"TEXT on: off", Main(0, {.m_bTextOn = true}), Text, {0x03, 0x00}, 500},
        {"M1", pipOnV1, M1, {0x24, 0x00}, 500},
        {"M2", pipOnV1, M2, {0x24, 0x01}, 500},
        {"M3", pipOnV1, M3, {0x24, 0x02}, 500},
        // Functions and modes.
        {"BYPASS on", Main(5), Bypass, {0x26, 0x01}, 500},
        {"MOSAIC off", Main(5, {.m_bMosaic = true}), Mosaic, {0x21, 0x00}, 500},
        {"FREEZE on", Main(5), Freeze, {0x29, 0x01}, 500},
        {"TAKE",
         Main(0, {.m_bPreTakeMode = true, .m_transition = 2}),
         AutoTake,
         {0x0C, 0x02},
         3000},
        {"AUTO", Main(2, {.m_transition = 2}), AutoTake, {0x27, 0x00}, 20000},
        {"One Key Switch", Main(0), OneKey, {0x09, 0x00}, 3000},
        {"Pre + TAKE Switch", Main(0), PreTake, {0x09, 0x01}, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceState st = c.state;
        const SwitchOutcome out = Press(c.button, st, c.chinese);
        if (c.refusal != nullptr) {
            ExpectRefusal(out, c.refusal, c.box, c.chinese);
            EXPECT_EQ(st, c.state);
        } else {
            EXPECT_FALSE(out.refusal);
            ASSERT_TRUE(out.command);
            EXPECT_EQ(out.command->frame, Wire(c.body));
            EXPECT_EQ(out.command->delayMs, c.delay);
        }
        EXPECT_EQ(out.disableBypass, c.disableBypass);
    }
}

TEST(SwitchRules, MosaicOnRefusesEverySourceWithoutAnOverlay) {
    const DeviceState plain = Main(5, {.m_extInput = 2, .m_bMosaic = true});
    const DeviceState ypbpr = Main(5, {.m_extInput = 2, .m_bMosaic = true, .m_bV2IsYPbPr = true});
    for (const DeviceState& state : {plain, ypbpr}) {
        for (int b = V1; b <= EXT; ++b) {
            SCOPED_TRACE(testing::Message()
                         << "source " << b << (state.m_bV2IsYPbPr ? " YPbPr" : ""));
            DeviceState st = state;
            ExpectRefusal(Press(static_cast<Button>(b), st), kMosaicOff, false, false);
            ExpectRefusal(Press(static_cast<Button>(b), st, true), "无效操作，仅在mosaic关有效",
                          false, true);
        }
    }
}

// The window keeps one pending command: a later press replaces it.
TEST(SwitchRules, FunctionButtonsFlipTheirFlagAtOnce) {
    struct Case {
        Button button;
        bool DeviceState::*flag;
        uint8_t code;
    };
    const Case cases[] = {
        {Freeze, &DeviceState::m_bFreeze, 0x29},
        {Bypass, &DeviceState::m_bBypass, 0x26},
        {Mosaic, &DeviceState::m_bMosaic, 0x21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        DeviceState st = Main(5);
        std::optional<app::QueuedCommand> pending;

        pending = Press(c.button, st).command;
        EXPECT_TRUE(st.*c.flag);
        ASSERT_TRUE(pending);
        EXPECT_EQ(pending->frame, Wire({c.code, 0x01}));

        pending = Press(c.button, st).command;  // before the worker has sent the first
        EXPECT_FALSE(st.*c.flag);
        ASSERT_TRUE(pending);
        EXPECT_EQ(pending->frame, Wire({c.code, 0x00}));
        EXPECT_EQ(pending->delayMs, 500);
    }
}

TEST(SwitchRules, TransitionRadiosFeedTheNextSwitchAndTake) {
    DeviceState st = Main(0);
    app::PickTransition(st, 2);  // "1.0S": nothing is sent
    EXPECT_EQ(Press(DVI, st).command->frame, Wire({0x00, 0x02, 0x05}));

    app::PickTransition(st, 0);  // "Cut"
    app::PickTransition(st, 4);  // no such radio
    EXPECT_EQ(Press(HDMI, st).command->frame, Wire({0x00, 0x00, 0x04}));

    st.m_bPreTakeMode = true;
    app::PickTransition(st, 3);  // "1.5S"
    EXPECT_EQ(Press(AutoTake, st).command->frame, Wire({0x0C, 0x03}));
}

}  // namespace
