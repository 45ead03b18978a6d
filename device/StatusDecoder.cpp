#include "device/StatusDecoder.h"

#include <algorithm>

#include "link/Replies.h"
#include "resources/SwitchTexts.h"

namespace app {

namespace {

using devlink::StatusReply;

// The lamp changes of one decode, kept as each lamp's final state, and the blink set.
class LampChanges {
public:
    LampChanges(std::map<int, LampState>& lamps, std::map<int, bool>& blinkSet)
        : m_lamps(lamps), m_blinkSet(blinkSet) {}

    // Lamp 0 stands for a source code without a lamp: nothing changes.
    void Show(int lamp) {
        // A lamp of the blink set keeps flashing whatever else the decode does to it.
        if (lamp != 0 && !Is(lamp, LampState::Flashing)) {
            m_lamps[lamp] = LampState::Steady;
        }
    }
    void Flash(int lamp) {
        if (lamp != 0) {
            m_blinkSet[lamp] = true;
            m_lamps[lamp] = LampState::Flashing;
        }
    }
    // Hides a lamp unless this decode has already lit it. The lamp of the previous main or
    // second source goes out after the new main lamp is lit; when both are the same lamp (V2
    // and YPbPr share one, or the main source is the previous second source) it belongs to the
    // new picture and stays lit.
    void Hide(int lamp) {
        if (lamp != 0 && !Is(lamp, LampState::Steady) && !Is(lamp, LampState::Flashing)) {
            m_lamps[lamp] = LampState::Hidden;
        }
    }
    void Set(int lamp, bool on) { on ? Show(lamp) : Hide(lamp); }
    void ClearBlinkSet() { m_blinkSet.clear(); }

private:
    bool Is(int lamp, LampState s) const {
        const auto it = m_lamps.find(lamp);
        return it != m_lamps.end() && it->second == s;
    }

    std::map<int, LampState>& m_lamps;
    std::map<int, bool>& m_blinkSet;
};

bool Accepted(const uint8_t* reply, uint8_t deviceId) {
    return reply[0] == devlink::kLeader && reply[1] == deviceId && reply[2] == devlink::kQueryCode;
}

}  // namespace

std::optional<Display> DecodeStatus(const uint8_t* reply, uint8_t deviceId, bool chinese,
                                    bool timerRunning, DeviceState& st,
                                    std::map<int, bool>& blinkSet) {
    // 1. Only a status reply of our device.
    if (!Accepted(reply, deviceId)) {
        return std::nullopt;
    }
    const StatusReply r = StatusReply::Decode(reply);
    Display d;
    LampChanges lamps(d.lamps, blinkSet);

    // 2. Overlay flags.
    st.m_bPipPending = r.overlay == devlink::kPipPending;
    st.m_bPipOn = r.overlay == devlink::kPipOn;
    st.m_bTextPending = r.overlay == devlink::kTextPending;
    st.m_bTextOn = r.overlay == devlink::kTextOn;
    st.m_bPreviewEmpty = r.overlay == devlink::kPreviewEmpty;
    st.m_bPreviewSet = r.overlay == devlink::kPreviewSet;
    if (!st.AnyOverlay()) {
        lamps.Hide(ids::kPipLamp);
        lamps.Hide(ids::kTextLamp);
    }

    // 3. The transition, once per connection; afterwards the radios belong to the operator.
    // A value without a radio is not taken, so that no switch goes out with it.
    if (!st.m_bFadeLoaded) {
        if (r.transition <= 3) {
            st.m_transition = r.transition;
        }
        if (st.m_transition >= 0 && st.m_transition <= 3) {
            d.transitionRadio = ids::kTransitionRadios[st.m_transition];
        }
        st.m_bFadeLoaded = true;
    }

    // 4. Function bits.
    st.m_bFreeze = (r.functions & devlink::kFreezeBit) != 0;
    lamps.Set(ids::kFreezeLamp, st.m_bFreeze);
    st.m_bBypass = (r.functions & devlink::kBypassBit) != 0;
    lamps.Set(ids::kBypassLamp, st.m_bBypass);
    st.m_bMosaic = (r.functions & devlink::kMosaicBit) != 0;
    lamps.Set(ids::kMosaicLamp, st.m_bMosaic);
    st.m_bV2IsYPbPr = (r.functions & devlink::kV2YPbPrBit) != 0;
    d.v2Caption = res::V2Caption(st.m_bV2IsYPbPr);
    st.m_bPreTakeMode = (r.functions & devlink::kPreTakeBit) != 0;
    d.preTakeMode = st.m_bPreTakeMode;
    d.autoTakeCaption = res::AutoTakeCaption(st.m_bPreTakeMode);

    // 5. The blink set is rebuilt from scratch.
    lamps.ClearBlinkSet();

    // 6. Main source.
    const int m = r.mainSource;
    if (r.mainSignal) {
        lamps.Show(SourceLamp(m));
        st.m_bDviMain = m == devlink::kDvi;
    } else {
        lamps.Flash(SourceLamp(m));
    }
    st.m_mainGroup = SourceGroup(m);
    if (st.m_mainSource != -1 && st.m_mainSource != m) {
        lamps.Hide(SourceLamp(st.m_mainSource));
    }
    st.m_mainSource = static_cast<int8_t>(m);
    std::ranges::fill(st.m_sourceInUse, false);
    if (m < devlink::kSourceCount) {
        st.m_sourceInUse[m] = true;
    }

    // 7. Second source.
    const int s = r.secondSource;
    if (st.m_secondSource != -1) {
        lamps.Hide(SourceLamp(st.m_secondSource));
        st.m_secondSource = -1;
    }
    if (st.AnyOverlay()) {
        lamps.Hide(ids::kPipLamp);
        lamps.Hide(ids::kTextLamp);
        if (s < devlink::kSourceCount) {
            st.m_sourceInUse[s] = true;
        }
        if (st.m_bPipOn || st.m_bTextOn || st.m_bPreviewSet) {
            if (r.secondSignal) {
                lamps.Show(SourceLamp(s));
            } else {
                lamps.Flash(SourceLamp(s));
            }
        }
        if (st.m_bPipOn) {
            lamps.Show(ids::kPipLamp);
        } else if (st.m_bPipPending) {
            lamps.Flash(ids::kPipLamp);
        } else if (st.m_bTextOn) {
            lamps.Show(ids::kTextLamp);
        } else if (st.m_bTextPending) {
            lamps.Flash(ids::kTextLamp);
        }
        if (!st.m_bTextPending && !st.m_bPreviewEmpty && !st.m_bPipPending) {
            st.m_secondSource = static_cast<int8_t>(s);
        }
    }

    // What the flashing lamps say, for the Info line: the picture on air first.
    const bool secondOnAir = st.m_bPipOn || st.m_bTextOn;
    if (!r.mainSignal && m < devlink::kSourceCount) {
        d.signalLoss = SignalLoss{m, true};
    } else if ((secondOnAir || st.m_bPreviewSet) && !r.secondSignal && s < devlink::kSourceCount) {
        d.signalLoss = SignalLoss{s, secondOnAir};
    }

    // 8. and 9. PIP presets: M1..M3 only while PIP is pending or on.
    d.presetsEnabled = st.PipFlag();
    const int presetLamps[3] = {ids::kM1Lamp, ids::kM2Lamp, ids::kM3Lamp};
    if (!st.PipFlag()) {
        st.m_pipPreset = 0;
        for (int lamp : presetLamps) {
            lamps.Hide(lamp);
        }
    } else {
        st.m_pipPreset = r.pipPreset;
        if (r.pipPreset < 3) {
            for (int i = 0; i < 3; ++i) {
                lamps.Set(presetLamps[i], i == r.pipPreset);
            }
        }
    }

    // 10. EXT. input; a value without a radio unchecks all and keeps the member.
    if (r.extInput <= 4) {
        d.extRadio = ids::kExtRadios[r.extInput];
        st.m_extInput = r.extInput;
    }

    // 11. Preview label.
    if (st.m_bPreviewEmpty) {
        d.previewLabel = res::SwitchText(res::SwitchMsg::PreviewEmpty, chinese);
    } else if (st.m_bPreviewSet) {
        d.previewLabel = res::PreviewLabel(s, chinese);
    }

    // 12. AUTO/TAKE: TAKE whenever no PIP or TEXT; AUTO only for a VGA picture without BYPASS.
    const bool pipOrText = st.PipFlag() || st.TextFlag();
    if (st.m_bPreTakeMode) {
        d.autoTakeEnabled = !pipOrText;
    } else {
        const bool vgaMain = m == devlink::kVga1 || m == devlink::kVga2;
        const bool vgaBehindExt = st.m_sourceInUse[devlink::kExt] && st.m_extInput == 2;
        d.autoTakeEnabled = !pipOrText && !st.m_bBypass && (vgaMain || vgaBehindExt);
    }

    // 13. Function buttons, unless the scheduler runs.
    if (!timerRunning) {
        FunctionButtons& f = d.functionButtons.emplace();
        f.mosaic = !pipOrText && m == devlink::kDvi;
        f.bypass = !pipOrText && !st.m_bMosaic;
        f.freeze = !pipOrText;
        f.pip = !st.TextFlag();
        f.text = !st.PipFlag() && !st.PreviewFlag() && !st.m_bMosaic;
        f.switchMode = !pipOrText;
    }
    return d;
}

}  // namespace app
