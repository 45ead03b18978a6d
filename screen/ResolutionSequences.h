// The link sequences of the output resolution dialog: the opening readback, a change of the
// output resolution and a custom resolution, each with the processor's ten seconds to switch its
// output. Plain functions of a SequenceLink; the dialog runs them off the UI thread.
#pragma once

#include <cstdint>

#include "device/Sequence.h"
#include "link/Commands.h"
#include "link/Replies.h"

namespace screen {

// The processor's time to switch its output after a resolution change. Nothing is sent to it
// meanwhile from this dialog.
constexpr int kResolutionWaitMs = devlink::kResolutionWaitMs;

// What the opening readback found.
struct ResolutionReading {
    bool accepted = false;  // the resolution query was answered by this device
    int code = -1;          // output resolution code of the answer (0..255)
    bool customRead = false;
    devlink::CustomResolutionReply custom;  // valid when customRead
};

// The output resolution, and for the custom code 16 the custom width, height and rate.
ResolutionReading ReadOutputResolution(app::SequenceLink& link);

// What a change read back: for code 16 the custom resolution now in use.
struct ResolutionChange {
    bool customRead = false;
    devlink::CustomResolutionReply custom;
};

// Switches the output to code (0..16), waits for the processor, and for code 16 reads the
// custom resolution back.
ResolutionChange ChangeOutputResolution(app::SequenceLink& link, uint8_t code);

// Sends the custom resolution and waits for the processor. False when its dot clock is out of
// range (nothing sent) or the sequence was stopped.
bool SetCustomResolution(app::SequenceLink& link, int32_t width, int32_t height, int32_t rate);

}  // namespace screen
