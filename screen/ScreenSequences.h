// The screen settings dialog's link sequences: the readback of every setting, the layout change
// and the Saves. Plain functions of a SequenceLink; the dialog runs them off the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "device/Sequence.h"
#include "link/Commands.h"
#include "link/Frame.h"
#include "link/Replies.h"
#include "screen/ScreenChecks.h"

namespace screen {

// Pauses and time limits of the readback and the layout change.
constexpr int kStepPauseMs = 200;
constexpr int kReadLimitMs = 5000;
constexpr int kLongReadLimitMs = 15000;  // picture and audio, colours
constexpr int kLayoutReadLimitMs = 1000;
constexpr int kLayoutDelayMs = devlink::kQuickPauseMs;
// Every Save's pause after its command.
constexpr int kSaveDelayMs = devlink::kSettingPauseMs;

// What the readback got; a part without a reply is empty and changes nothing.
struct Readback {
    std::optional<devlink::ResolutionReply> resolution;  // only an accepted reply
    std::optional<devlink::CustomResolutionReply> custom;
    std::optional<devlink::WindowReply> main, pip;
    std::optional<devlink::MosaicModeReply> mosaic;
    std::optional<devlink::PictureAudioReply> picture;
    std::optional<devlink::TextKeyReply> textKey;
    std::optional<devlink::ColourReply> colour;

    // The output size the replies give: the preset of the code, or the custom size when the
    // code is 16 and the custom query was answered; nullopt otherwise (the size stays as it was).
    std::optional<Size> OutputSize() const;
};

// The main geometry query of a layout code (2A, 2B, 2C: sub-codes 07, 09, 0B); PIP is one more.
uint8_t MainGeometrySub(uint8_t layoutCode);

// Reads every setting, in order: output resolution (custom size for code 16), main and PIP
// geometry of layoutCode, mosaic mode and input window, picture and audio, text key, colours.
// A resolution reply that is not from this device skips to the colours. shown gets the readback
// so far after each step.
Readback RefreshFromDevice(app::SequenceLink& link, uint8_t layoutCode,
                           const std::function<void(const Readback&)>& shown = {});

// The layout radio for layout n (0..2): reads that layout's main and PIP geometry, then switches
// the layout when PIP is open.
struct LayoutGeometry {
    std::optional<devlink::WindowReply> main, pip;
};
LayoutGeometry ChangeLayout(app::SequenceLink& link, int n, bool pipOpen);

// The geometry Save of a window: its command, then the pause. False when stopped.
devlink::Frame GeometryCommand(uint8_t id, Window which, uint8_t layoutCode,
                               const WindowGeometry& g);
bool SaveWindowGeometry(app::SequenceLink& link, Window which, uint8_t layoutCode,
                        const WindowGeometry& g);

// A picture, audio or mode Save: the command, then the pause. False when stopped.
bool SendSetting(app::SequenceLink& link, const devlink::Frame& command);

}  // namespace screen
