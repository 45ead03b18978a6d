#include "screen/ResolutionSequences.h"

#include "link/Commands.h"
#include "screen/OutputResolution.h"

namespace screen {

namespace {

constexpr int kQueryLimitMs = 5000;
constexpr int kCommandDelayMs = devlink::kSettingPauseMs;

// An answer from this device to a query: 13 bytes, its device ID, FE in byte 2.
bool FromDevice(const app::SequenceLink& link, const devlink::Frame& reply) {
    return reply[1] == link.DeviceId() && reply[2] == devlink::kQueryCode;
}

}  // namespace

ResolutionReading ReadOutputResolution(app::SequenceLink& link) {
    ResolutionReading r;
    devlink::Frame reply{};
    if (link.Query(devlink::ResolutionQuery(link.DeviceId()), reply, kQueryLimitMs) != 13 ||
        !FromDevice(link, reply)) {
        return r;
    }
    r.accepted = true;
    r.code = reply[3];
    if (r.code != kCustomResolution || !link.Pause(200)) {
        return r;
    }
    devlink::Frame custom{};
    if (link.Query(devlink::CustomResolutionQuery(link.DeviceId()), custom, kQueryLimitMs) == 13) {
        r.customRead = true;
        r.custom = devlink::CustomResolutionReply::Decode(custom.data());
    }
    return r;
}

ResolutionChange ChangeOutputResolution(app::SequenceLink& link, uint8_t code) {
    ResolutionChange r;
    if (!link.Send(devlink::ResolutionCommand(link.DeviceId(), code), kCommandDelayMs) ||
        !link.Pause(kResolutionWaitMs) || code != kCustomResolution) {
        return r;
    }
    devlink::Frame reply{};
    if (link.Query(devlink::CustomResolutionQuery(link.DeviceId()), reply, kQueryLimitMs) == 13 &&
        FromDevice(link, reply)) {
        r.customRead = true;
        r.custom = devlink::CustomResolutionReply::Decode(reply.data());
    }
    return r;
}

bool SetCustomResolution(app::SequenceLink& link, int32_t width, int32_t height, int32_t rate) {
    const auto frame = CustomResolutionFrame(link.DeviceId(), width, height, rate);
    return frame && link.Send(*frame, kCommandDelayMs) && link.Pause(kResolutionWaitMs);
}

}  // namespace screen
