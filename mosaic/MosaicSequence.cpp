#include "mosaic/MosaicSequence.h"

#include "link/Commands.h"
#include "link/Replies.h"
#include "screen/OutputResolution.h"

namespace mosaic {

namespace {

constexpr int kQueryLimitMs = 6000;
constexpr int kCustomLimitMs = 5000;

// A command with the pause the catalogue gives it.
bool SendPaused(app::SequenceLink& link, const devlink::Frame& frame) {
    return link.Send(frame, devlink::CommandPause(frame));
}

}  // namespace

bool SignalUsable(const devlink::Frame& status, uint8_t expectedSource) {
    const uint8_t functions = status[6];
    return (functions & devlink::kBypassBit) == 0 && (functions & devlink::kMosaicBit) != 0 &&
           status[8] != 0 && (status[7] & 0x0F) == expectedSource;
}

ConnectResult ConnectWorker(app::SequenceLink& link, uint8_t mosaicId, int outWidth,
                            int outHeight) {
    ConnectResult r;
    r.outWidth = outWidth;
    r.outHeight = outHeight;
    const auto stopped = [&r] {
        r.stopped = true;
        return r;
    };
    devlink::Frame reply{};

    // The wait dialog appears meanwhile.
    if (!link.Pause(1000)) {
        return stopped();
    }
    if (link.Query(devlink::ResolutionQuery(mosaicId), reply, kQueryLimitMs) != 13 ||
        reply[2] != devlink::kQueryCode) {
        r.end = ConnectResult::End::kNoResolution;
        r.stopped = link.Stopped();
        return r;
    }
    r.resolutionIndex = reply[3];
    if (r.resolutionIndex < screen::kCustomResolution) {
        r.outWidth = screen::kOutputResolutions[r.resolutionIndex].width;
        r.outHeight = screen::kOutputResolutions[r.resolutionIndex].height;
    } else if (r.resolutionIndex == screen::kCustomResolution) {
        if (!link.Pause(200)) {
            return stopped();
        }
        if (link.Query(devlink::CustomResolutionQuery(mosaicId), reply, kCustomLimitMs) == 13) {
            const auto custom = devlink::CustomResolutionReply::Decode(reply.data());
            r.outWidth = custom.width;
            r.outHeight = custom.height;
            r.customRate = custom.rate;
            r.customTaken = true;
        }
    }  // an index above 16 leaves the size as it was

    if (!link.Pause(1000)) {
        return stopped();
    }
    if (link.Query(devlink::MosaicModeQuery(mosaicId), reply, kQueryLimitMs) != 13) {
        r.end = ConnectResult::End::kNoMosaicMode;
        r.stopped = link.Stopped();
        return r;
    }
    r.syncMosaic = (reply[3] & 0x02) != 0;

    if (!link.Pause(1000)) {
        return stopped();
    }
    if (link.Query(devlink::StatusQuery(mosaicId), reply, kQueryLimitMs) != 13) {
        r.end = ConnectResult::End::kNoStatus;
        r.stopped = link.Stopped();
        return r;
    }
    if (SignalUsable(reply, devlink::kExt)) {
        r.end = ConnectResult::End::kUsable;
        return r;
    }
    const bool recovered = RecoverDviSignal(link, mosaicId, (reply[7] & 0x0F) == devlink::kDvi,
                                            (reply[6] & devlink::kBypassBit) != 0,
                                            (reply[6] & devlink::kMosaicBit) != 0);
    r.end = recovered ? ConnectResult::End::kRecovered : ConnectResult::End::kRecoveryFailed;
    r.stopped = link.Stopped();
    return r;
}

bool RecoverDviSignal(app::SequenceLink& link, uint8_t mosaicId, bool sourceIsDvi, bool bypassOn,
                      bool mosaicOn) {
    // Byte 4 of the later frames tells the device that this run switched to DVI.
    uint8_t switched = 0x00;
    if (!link.Pause(500)) {
        return false;
    }
    if (bypassOn && !SendPaused(link, devlink::WindowGeometryCommand(mosaicId, devlink::kLayoutM1,
                                                                     false, 0, 0, 0, 0))) {
        return false;
    }
    if (!link.Pause(500)) {
        return false;
    }
    if (!sourceIsDvi) {
        if (!SendPaused(link, devlink::SourceSwitch(mosaicId, 0, devlink::kDvi))) {
            return false;
        }
        switched = devlink::kDvi;
    }
    if (!link.Pause(500)) {
        return false;
    }
    if (!mosaicOn && !SendPaused(link, devlink::MosaicOnCommand(mosaicId, switched))) {
        return false;
    }
    if (!link.Pause(500)) {
        return false;
    }
    devlink::Frame reply{};
    return link.Query(devlink::ClosingStatusQuery(mosaicId, switched), reply, kQueryLimitMs) ==
               13 &&
           reply[6] != 0xFF && SignalUsable(reply, devlink::kDvi);
}

Detect DetectSignal(app::SequenceLink& link, uint8_t mosaicId) {
    devlink::Frame reply{};
    if (link.Query(devlink::StatusQuery(mosaicId), reply, kQueryLimitMs) != 13 ||
        reply[6] == 0xFF) {
        return Detect::kNoAnswer;
    }
    return SignalUsable(reply, devlink::kDvi) ? Detect::kUsable : Detect::kUnusable;
}

bool SendWindow(app::SequenceLink& link, uint8_t mosaicId, bool output, const WindowValues& w) {
    const devlink::Frame frame =
        output ? devlink::WindowGeometryCommand(mosaicId, devlink::kLayoutM3, false, w.hStart,
                                                w.width, w.vStart, w.height)
               : devlink::InputWindowCommand(mosaicId, w.hStart, w.width, w.vStart, w.height);
    return SendPaused(link, frame);
}

namespace {

WindowValues FromReply(const devlink::WindowReply& r) {
    return WindowValues{r.w, r.h, r.hs, r.vs};
}

}  // namespace

WindowsReadBack ReadBackWindows(app::SequenceLink& link, uint8_t mosaicId) {
    WindowsReadBack r;
    devlink::Frame reply{};
    // Each question goes out as soon as the link lets it: the pause after the previous answer,
    // which the link keeps, is all the processor needs between two questions.
    // An answer is this device's when it carries its ID and the query marker.
    const auto ask = [&](const devlink::Frame& query, int limitMs) {
        return link.Query(query, reply, limitMs) == 13 && reply[0] == devlink::kLeader &&
               reply[1] == mosaicId && reply[2] == devlink::kQueryCode;
    };
    if (!ask(devlink::MosaicModeQuery(mosaicId), kQueryLimitMs)) {
        return r;
    }
    r.answered = true;
    r.input = FromReply(devlink::MosaicModeReply::Decode(reply.data()).input);
    if (!ask(devlink::LayoutGeometryQuery(mosaicId, devlink::LayoutGeometrySub(2, false)),
             kQueryLimitMs)) {
        return r;
    }
    r.output = FromReply(devlink::WindowReply::Decode(reply.data()));
    if (!ask(devlink::ResolutionQuery(mosaicId), kQueryLimitMs)) {
        return r;
    }
    r.resolutionCode = reply[3];
    if (r.resolutionCode < screen::kCustomResolution) {
        r.outputSize = {screen::kOutputResolutions[r.resolutionCode].width,
                        screen::kOutputResolutions[r.resolutionCode].height};
    } else if (r.resolutionCode == screen::kCustomResolution &&
               ask(devlink::CustomResolutionQuery(mosaicId), kCustomLimitMs)) {
        const auto custom = devlink::CustomResolutionReply::Decode(reply.data());
        r.outputSize = {custom.width, custom.height};
    }
    return r;
}

void SendSyncMode(app::SequenceLink& link, bool sync) {
    SendPaused(link, devlink::SyncModeCommand(link.DeviceId(), sync));
}

}  // namespace mosaic
