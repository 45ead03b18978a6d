#include "screen/ScreenSequences.h"

#include "link/Commands.h"

namespace screen {

using namespace devlink;

std::optional<Size> Readback::OutputSize() const {
    if (!resolution) {
        return std::nullopt;
    }
    const int code = resolution->code;
    if (code < kCustomResolution) {
        return Size{kOutputResolutions[code].width, kOutputResolutions[code].height};
    }
    if (code == kCustomResolution && custom) {
        return Size{custom->width, custom->height};
    }
    return std::nullopt;
}

uint8_t MainGeometrySub(uint8_t layoutCode) {
    const int layout =
        layoutCode >= kLayoutM1 && layoutCode <= kLayoutM3 ? layoutCode - kLayoutM1 : 0;
    return LayoutGeometrySub(layout, false);
}

namespace {

// Asks sub and returns the reply, or nullopt when none came within limitMs.
std::optional<Frame> Ask(app::SequenceLink& link, uint8_t sub, int limitMs) {
    Frame reply{};
    if (link.Query(ReadQuery(link.DeviceId(), sub), reply, limitMs) != kFrameSize) {
        return std::nullopt;
    }
    return reply;
}

}  // namespace

Readback RefreshFromDevice(app::SequenceLink& link, uint8_t layoutCode,
                           const std::function<void(const Readback&)>& shown) {
    Readback r;
    const auto show = [&] {
        if (shown && !link.Stopped()) {
            shown(r);
        }
    };
    const std::optional<Frame> res = Ask(link, kResolutionSub, kReadLimitMs);
    // Only this reply is checked for its sender; the others are taken as they come.
    if (res && (*res)[1] == link.DeviceId() && (*res)[2] == kQueryCode) {
        r.resolution = ResolutionReply::Decode(res->data());
        if (r.resolution->code == kCustomResolution) {
            if (!link.Pause(kStepPauseMs)) {
                return r;
            }
            if (const auto c = Ask(link, kCustomResolutionSub, kReadLimitMs)) {
                r.custom = CustomResolutionReply::Decode(c->data());
            }
        }
        show();

        const uint8_t mainSub = MainGeometrySub(layoutCode);
        if (!link.Pause(kStepPauseMs)) {
            return r;
        }
        if (const auto g = Ask(link, mainSub, kReadLimitMs)) {
            r.main = WindowReply::Decode(g->data());
            show();
        }
        if (!link.Pause(kStepPauseMs)) {
            return r;
        }
        if (const auto g = Ask(link, static_cast<uint8_t>(mainSub + 1), kReadLimitMs)) {
            r.pip = WindowReply::Decode(g->data());
            show();
        }
        if (!link.Pause(kStepPauseMs)) {
            return r;
        }
        if (const auto m = Ask(link, kMosaicModeSub, kReadLimitMs)) {
            r.mosaic = MosaicModeReply::Decode(m->data());
            show();
        }
        if (!link.Pause(kStepPauseMs)) {
            return r;
        }
        if (const auto p = Ask(link, kPictureAudioSub, kLongReadLimitMs)) {
            r.picture = PictureAudioReply::Decode(p->data());
            show();
        }
        if (!link.Pause(kStepPauseMs)) {
            return r;
        }
        if (const auto t = Ask(link, kTextKeySub, kReadLimitMs)) {
            r.textKey = TextKeyReply::Decode(t->data());
            show();
        }
    }
    if (link.Stopped()) {
        return r;
    }
    if (const auto c = Ask(link, kColourSub, kLongReadLimitMs)) {
        r.colour = ColourReply::Decode(c->data());
        show();
    }
    return r;
}

LayoutGeometry ChangeLayout(app::SequenceLink& link, int n, bool pipOpen) {
    LayoutGeometry g;
    const uint8_t mainSub = LayoutGeometrySub(n, false);
    if (const auto m = Ask(link, mainSub, kLayoutReadLimitMs)) {
        g.main = WindowReply::Decode(m->data());
    }
    if (!link.Pause(kStepPauseMs)) {
        return g;
    }
    if (const auto p = Ask(link, static_cast<uint8_t>(mainSub + 1), kLayoutReadLimitMs)) {
        g.pip = WindowReply::Decode(p->data());
    }
    if (pipOpen && !link.Stopped()) {
        link.Send(LayoutCommand(link.DeviceId(), static_cast<uint8_t>(n)), kLayoutDelayMs);
    }
    return g;
}

Frame GeometryCommand(uint8_t id, Window which, uint8_t layoutCode, const WindowGeometry& g) {
    switch (which) {
        case kInput:
            return InputWindowCommand(id, g.hs, g.w, g.vs, g.h);
        case kOutput:
            return OutputGeometryCommand(id, g.hs, g.w, g.vs, g.h);
        case kMain:
        case kPip:
            break;
    }
    return WindowGeometryCommand(id, layoutCode, which == kPip, g.hs, g.w, g.vs, g.h);
}

bool SaveWindowGeometry(app::SequenceLink& link, Window which, uint8_t layoutCode,
                        const WindowGeometry& g) {
    return link.Send(GeometryCommand(link.DeviceId(), which, layoutCode, g), kSaveDelayMs);
}

bool SendSetting(app::SequenceLink& link, const Frame& command) {
    return link.Send(command, kSaveDelayMs);
}

}  // namespace screen
