#include "link/Replies.h"

#include <strings.h>
#include <cctype>
#include <cstring>

#include "link/Commands.h"

namespace devlink {

const uint8_t kIdentifyAnswer[10] = {0xFE, 0xFE, 'v', 'i', 'e', 'w', ' ', 'r', 'g', 'b'};

bool IsIdentifyReply(const uint8_t* reply) {
    return std::memcmp(reply + 2, kIdentifyAnswer, sizeof kIdentifyAnswer) == 0;
}

namespace {

// 05 id FE b3 and zeros; the caller fills the rest and Seal adds the checksum.
Frame ReplyFrame(uint8_t id, uint8_t byte3) {
    Frame f{};
    f[0] = kLeader;
    f[1] = id;
    f[2] = kQueryCode;
    f[3] = byte3;
    return f;
}

Frame Seal(Frame f) {
    f[12] = Checksum(f.data());
    return f;
}

}  // namespace

Frame IdentifyReply(uint8_t id) {
    Frame f{};
    f[0] = kLeader;
    f[1] = id;
    std::memcpy(f.data() + 2, kIdentifyAnswer, sizeof kIdentifyAnswer);
    return Seal(f);
}

const char* OverlayName(uint8_t overlay) {
    switch (overlay) {
        case kPipPending:
            return "PIP pending";
        case kPipOn:
            return "PIP on";
        case kTextPending:
            return "TEXT pending";
        case kTextOn:
            return "TEXT on";
        case kPreviewEmpty:
            return "preview empty";
        case kPreviewSet:
            return "preview set";
        default:
            return "none";
    }
}

StatusReply StatusReply::Decode(const uint8_t* r) {
    StatusReply s;
    s.deviceId = r[1];
    s.marker = r[2];
    s.overlay = r[4];
    s.transition = r[5];
    s.functions = r[6];
    s.mainSource = r[7] & 0x0F;
    s.secondSource = r[7] >> 4;
    s.mainSignal = r[8] != 0;
    s.secondSignal = r[9] != 0;
    s.pipPreset = r[10];
    s.extInput = r[11];
    return s;
}

Frame StatusReply::Encode() const {
    Frame f = ReplyFrame(deviceId, 0);
    f[2] = marker;
    f[4] = overlay;
    f[5] = transition;
    f[6] = functions;
    f[7] = static_cast<uint8_t>(((secondSource & 0x0F) << 4) | (mainSource & 0x0F));
    f[8] = mainSignal ? 1 : 0;
    f[9] = secondSignal ? 1 : 0;
    f[10] = pipPreset;
    f[11] = extInput;
    return Seal(f);
}

WindowReply WindowReply::Decode(const uint8_t* r) {
    return WindowReply{Word(r + 4), Word(r + 6), Word(r + 8), Word(r + 10)};
}

void WindowReply::Put(Frame& f) const {
    const int values[4] = {hs, w, vs, h};
    for (int i = 0; i < 4; ++i) {
        f[4 + 2 * i] = High(values[i]);
        f[5 + 2 * i] = Low(values[i]);
    }
}

ResolutionReply ResolutionReply::Decode(const uint8_t* r) {
    return ResolutionReply{r[3], WindowReply::Decode(r)};
}

Frame ResolutionReply::Encode(uint8_t id) const {
    Frame f = ReplyFrame(id, code);
    output.Put(f);
    return Seal(f);
}

CustomResolutionReply CustomResolutionReply::Decode(const uint8_t* r) {
    return CustomResolutionReply{Word(r + 4), Word(r + 6), r[8]};
}

Frame CustomResolutionReply::Encode(uint8_t id) const {
    Frame f = ReplyFrame(id, kCustomResolutionSub);
    f[4] = High(width);
    f[5] = Low(width);
    f[6] = High(height);
    f[7] = Low(height);
    f[8] = Low(rate);
    return Seal(f);
}

MosaicModeReply MosaicModeReply::Decode(const uint8_t* r) {
    return MosaicModeReply{(r[3] & 0x02) != 0, WindowReply::Decode(r)};
}

Frame MosaicModeReply::Encode(uint8_t id) const {
    Frame f = ReplyFrame(id, syncMosaic ? 0x02 : 0x00);
    input.Put(f);
    return Seal(f);
}

Frame GeometryReply(uint8_t id, uint8_t sub, const WindowReply& window) {
    Frame f = ReplyFrame(id, sub);
    window.Put(f);
    return Seal(f);
}

PictureAudioReply PictureAudioReply::Decode(const uint8_t* r) {
    PictureAudioReply p;
    p.brightness = r[3];
    p.bias = r[5];
    p.sharpness = r[6];
    p.audio1 = r[7] >> 4;
    p.audio2 = r[7] & 0x0F;
    p.hotSpare = r[8];
    p.brightness100 = r[9];
    return p;
}

Frame PictureAudioReply::Encode(uint8_t id) const {
    Frame f = ReplyFrame(id, brightness);
    f[5] = bias;
    f[6] = sharpness;
    f[7] = static_cast<uint8_t>(((audio1 & 0x0F) << 4) | (audio2 & 0x0F));
    f[8] = hotSpare;
    f[9] = brightness100;
    return Seal(f);
}

TextKeyReply TextKeyReply::Decode(const uint8_t* r) {
    return TextKeyReply{r[3], r[4], r[5], r[6]};
}

Frame TextKeyReply::Encode(uint8_t id) const {
    Frame f = ReplyFrame(id, threshold);
    f[4] = red;
    f[5] = green;
    f[6] = blue;
    return Seal(f);
}

ColourReply ColourReply::Decode(const uint8_t* r) {
    ColourReply c;
    for (int i = 0; i < 7; ++i) {
        c.values[i] = r[4 + i];
    }
    return c;
}

Frame ColourReply::Encode(uint8_t id) const {
    Frame f = ReplyFrame(id, kColourSub);
    for (int i = 0; i < 7; ++i) {
        f[4 + i] = values[i];
    }
    return Seal(f);
}

namespace {
const char* const kSourceLabels[kSourceCount] = {"V1",  "V2", "VGA1", "VGA2", "HDMI",
                                                 "DVI", "DP", "EXT.", "YPbPr"};
}

const char* SourceLabel(int code) {
    return code >= 0 && code < kSourceCount ? kSourceLabels[code] : nullptr;
}

int SourceFromLabel(const char* label) {
    if (label == nullptr) {
        return -1;
    }
    for (int i = 0; i < kSourceCount; ++i) {
        if (strcasecmp(label, kSourceLabels[i]) == 0) {
            return i;
        }
    }
    if (strcasecmp(label, "EXT") == 0) {
        return kExt;
    }
    return -1;
}

}  // namespace devlink
