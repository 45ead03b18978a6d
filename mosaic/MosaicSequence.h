// The fast mosaic's talks with the processor, each one sequence of frames and pauses run off the
// UI thread: the connect sequence (output resolution, mosaic mode, signal, and the DVI recovery
// when the signal is not usable), "Detect", a window Set and a mosaic mode. The dialog's frames
// carry its own device ID; the mosaic mode frames carry the main window's (the link's).
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "device/Sequence.h"
#include "link/Frame.h"
#include "mosaic/MosaicLayout.h"

namespace mosaic {

// A status reply's signal is usable for the mosaic: BYPASS off, MOSAIC on, the main source
// showing a picture, and the main source the expected one.
bool SignalUsable(const devlink::Frame& status, uint8_t expectedSource);

struct ConnectResult {
    enum class End {
        kNoResolution,    // no answer to the resolution query, or not a query reply
        kNoMosaicMode,    // no answer to the mosaic mode query
        kNoStatus,        // no answer to the status query
        kUsable,          // the signal was usable at once
        kRecovered,       // usable after the DVI recovery
        kRecoveryFailed,  // not usable after the DVI recovery either
    };
    End end = End::kNoResolution;
    bool stopped = false;      // the dialog stopped it; nothing to show
    int resolutionIndex = -1;  // as read from the device; -1 when none was read
    int outWidth = 0;          // the output size after the sequence
    int outHeight = 0;
    bool customTaken = false;  // the custom size was read (resolution 16)
    int customRate = 0;
    std::optional<bool> syncMosaic;  // as read from the device

    // The Set buttons may send afterwards.
    bool DeviceReady() const { return end != End::kNoStatus; }
    // The Set and mode controls are enabled afterwards.
    bool SignalOk() const { return end == End::kUsable || end == End::kRecovered; }
};

// The connect sequence for device mosaicId, starting from the output size the dialog has.
ConnectResult ConnectWorker(app::SequenceLink& link, uint8_t mosaicId, int outWidth, int outHeight);

// Tries to get a usable DVI picture: BYPASS off through a zero main window, the main source to
// DVI, MOSAIC on, each only when needed; then asks again. True when the signal is usable with DVI.
bool RecoverDviSignal(app::SequenceLink& link, uint8_t mosaicId, bool sourceIsDvi, bool bypassOn,
                      bool mosaicOn);

enum class Detect { kNoAnswer, kUsable, kUnusable };
// "Detect": the status, judged with DVI as the expected source.
Detect DetectSignal(app::SequenceLink& link, uint8_t mosaicId);

// A window Set: the input window (23 00) or the output window (2C 00) of the selected screen.
// False when the sequence was stopped or the frame did not go out.
bool SendWindow(app::SequenceLink& link, uint8_t mosaicId, bool output, const WindowValues& window);

// What a processor reports of the windows a Set sends: the input window (the mosaic mode query),
// the output window (the main window of layout M3, which the output Set writes) and the output
// size its resolution gives. Asked one after the other, each question right after the pause the
// link keeps after the previous answer; the first question left unanswered (or answered by
// another device) ends it.
struct WindowsReadBack {
    bool answered = false;  // the first question was answered by this device
    std::optional<WindowValues> input;
    std::optional<WindowValues> output;
    int resolutionCode = -1;  // -1 when not read
    // The output size of the code (the custom size read for 16); nothing when unknown.
    std::optional<std::pair<int, int>> outputSize;
};
WindowsReadBack ReadBackWindows(app::SequenceLink& link, uint8_t mosaicId);

// The questions of ReadBackWindows: a screen's readback costs as many pauses after an answer
// (devlink::kAfterReplyMs) when the device answers at once.
constexpr int kReadBackQuestions = 3;  // four with a custom resolution

// "No Sync Mosaic" or "Sync Mosaic", for the main window's device (the link's device ID).
void SendSyncMode(app::SequenceLink& link, bool sync);

}  // namespace mosaic
