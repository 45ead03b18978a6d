// What the controller knows of the processor: written by the status decoder from each status
// reply, read by the switching rules. Plain values; the main window keeps them under a lock.
#pragma once

#include <cstdint>

#include "resources/ControlIds.h"
#include "link/Commands.h"

namespace app {

struct DeviceState {
    int8_t m_mainSource = -1;    // source code on the main output; -1 until the first decode
    int m_mainGroup = -1;        // its group (SourceGroup)
    int8_t m_secondSource = -1;  // second picture shown with a lamp; -1 when none
    uint8_t m_extInput = 0;      // behind EXT.: 0 NULL, 1 SDI, 2 VGA, 3 DVI, 4 VIDEO

    // Overlay flags: at most one is set.
    bool m_bPipPending = false;
    bool m_bPipOn = false;
    bool m_bTextPending = false;
    bool m_bTextOn = false;
    bool m_bPreviewEmpty = false;
    bool m_bPreviewSet = false;

    bool m_bBypass = false;
    bool m_bMosaic = false;
    bool m_bFreeze = false;
    bool m_bV2IsYPbPr = false;    // the V2 input carries YPbPr; button 1115 reads "YPbPr"
    bool m_bPreTakeMode = false;  // Pre + TAKE switch mode

    int m_transition = 0;        // 0 Cut, 1 0.5 s, 2 1.0 s, 3 1.5 s
    bool m_bFadeLoaded = false;  // the transition has been read from the device on this connection
    bool m_bDviMain = false;     // the last main source seen with a signal was DVI
    bool m_sourceInUse[devlink::kSourceCount] = {};
    uint8_t m_pipPreset = 0;  // 0 M1, 1 M2, 2 M3

    bool PipFlag() const { return m_bPipPending || m_bPipOn; }
    bool TextFlag() const { return m_bTextPending || m_bTextOn; }
    bool PreviewFlag() const { return m_bPreviewEmpty || m_bPreviewSet; }
    bool AnyOverlay() const { return PipFlag() || TextFlag() || PreviewFlag(); }

    bool operator==(const DeviceState&) const = default;
};

// Group of a source code: sources of one group cannot be shown together. -1 above 8.
inline int SourceGroup(int code) {
    static constexpr int kGroups[devlink::kSourceCount] = {0, 0, 1, 1, 2, 2, 2, 3, 4};
    return code >= 0 && code < devlink::kSourceCount ? kGroups[code] : -1;
}

// Lamp of a source code (YPbPr shares the V2 lamp); 0 above 8, where there is no lamp.
inline int SourceLamp(int code) {
    if (code == devlink::kYPbPr) {
        return ids::kSourceLamps[devlink::kV2];
    }
    return code >= 0 && code < devlink::kYPbPr ? ids::kSourceLamps[code] : 0;
}

}  // namespace app
