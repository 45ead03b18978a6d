#include "device/SwitchRules.h"

#include "link/Commands.h"
#include "resources/Captions.h"
#include "resources/SwitchTexts.h"

namespace app {

using namespace devlink;

namespace {

// Every command waits the pause the catalogue gives it before the read-back.
SwitchOutcome Queue(const Frame& frame) {
    SwitchOutcome out;
    out.command = QueuedCommand{frame, CommandPause(frame)};
    return out;
}

SwitchOutcome InfoLine(res::SwitchMsg m, bool chinese) {
    SwitchOutcome out;
    out.refusal = Refusal{false, res::SwitchText(m, chinese), "", 0};
    return out;
}

SwitchOutcome Box(res::SwitchMsg m, bool chinese) {
    SwitchOutcome out;
    out.refusal =
        Refusal{true, res::SwitchText(m, chinese), res::Text(res::Msg::SystemInformation, chinese),
                res::LanguageId(chinese)};
    return out;
}

uint8_t Transition(const DeviceState& st) {
    return static_cast<uint8_t>(st.m_transition);
}

// A source to the main output, or to the picture that an overlay or the preview is waiting for.
// The second picture may not come from the main picture's group; PIP and TEXT may show the main
// source itself.
SwitchOutcome SwitchTo(const DeviceState& st, uint8_t id, bool chinese, uint8_t ss) {
    Frame frame;
    if (st.PipFlag()) {
        frame = PipSourceCommand(id, ss);
    } else if (st.TextFlag()) {
        frame = TextSourceCommand(id, ss);
    } else if (st.m_bPreviewEmpty) {
        frame = PreviewEmptySourceCommand(id, ss);
    } else if (st.m_bPreviewSet) {
        frame = PreviewSetSourceCommand(id, ss);
    } else {
        frame = SourceSwitch(id, Transition(st), ss);
    }

    SwitchOutcome out;
    if (!st.AnyOverlay()) {
        out = st.m_bMosaic ? InfoLine(res::SwitchMsg::MosaicOffOnly, chinese) : Queue(frame);
    } else if (!st.PreviewFlag() && ss == st.m_mainSource) {
        out = Queue(frame);
    } else if (SourceGroup(ss) == st.m_mainGroup) {
        out = InfoLine(res::SwitchMsg::IncorrectSource, chinese);
    } else {
        out = Queue(frame);
    }
    out.disableBypass = st.m_bBypass;
    return out;
}

// PIP and TEXT cannot be opened over a YPbPr main picture; closing is always allowed.
SwitchOutcome ToggleOverlay(const DeviceState& st, bool chinese, bool active, const Frame& on,
                            const Frame& off) {
    if (active) {
        return Queue(off);
    }
    if (st.m_bV2IsYPbPr && st.m_mainSource == kYPbPr) {
        return Box(res::SwitchMsg::MainIsYPbPr, chinese);
    }
    return Queue(on);
}

}  // namespace

SwitchOutcome PressSource(const DeviceState& st, uint8_t deviceId, bool chinese, int code) {
    if (code == kV2 && st.m_bV2IsYPbPr) {
        if (st.m_bMosaic) {
            return InfoLine(res::SwitchMsg::MosaicOffOnly, chinese);
        }
        if (st.AnyOverlay()) {
            return Box(res::SwitchMsg::CloseOverlayOrTake, chinese);
        }
        return Queue(SourceSwitch(deviceId, Transition(st), kYPbPr));
    }
    if (code == kExt && st.m_extInput == 0) {
        return Box(res::SwitchMsg::ExtIsNull, chinese);
    }
    if (code < kV1 || code > kExt) {
        return {};
    }
    return SwitchTo(st, deviceId, chinese, static_cast<uint8_t>(code));
}

SwitchOutcome PressPip(const DeviceState& st, uint8_t deviceId, bool chinese) {
    return ToggleOverlay(st, chinese, st.PipFlag(), PipOnOffCommand(deviceId, true),
                         PipOnOffCommand(deviceId, false));
}

SwitchOutcome PressText(const DeviceState& st, uint8_t deviceId, bool chinese) {
    return ToggleOverlay(st, chinese, st.TextFlag(), TextOnOffCommand(deviceId, true),
                         TextOnOffCommand(deviceId, false));
}

SwitchOutcome PressPreset(uint8_t deviceId, int preset) {
    if (preset < 0 || preset > 2) {
        return {};
    }
    return Queue(LayoutCommand(deviceId, static_cast<uint8_t>(preset)));
}

SwitchOutcome PressBypass(DeviceState& st, uint8_t deviceId) {
    st.m_bBypass = !st.m_bBypass;
    return Queue(BypassCommand(deviceId, st.m_bBypass));
}

SwitchOutcome PressMosaic(DeviceState& st, uint8_t deviceId) {
    st.m_bMosaic = !st.m_bMosaic;
    return Queue(MosaicCommand(deviceId, st.m_bMosaic));
}

SwitchOutcome PressFreeze(DeviceState& st, uint8_t deviceId) {
    st.m_bFreeze = !st.m_bFreeze;
    return Queue(FreezeCommand(deviceId, st.m_bFreeze));
}

SwitchOutcome PressAutoTake(const DeviceState& st, uint8_t deviceId) {
    if (st.m_bPreTakeMode) {
        return Queue(TakeCommand(deviceId, Transition(st)));
    }
    // After AUTO the state is read back only 20 s later.
    return Queue(AutoCommand(deviceId));
}

SwitchOutcome PickSwitchMode(uint8_t deviceId, bool preTake) {
    return Queue(SwitchModeCommand(deviceId, preTake));
}

void PickTransition(DeviceState& st, int index) {
    if (index >= 0 && index <= 3) {
        st.m_transition = index;
    }
}

}  // namespace app
