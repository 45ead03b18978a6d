// Reply layouts, one plain struct each, decoded and encoded in one place. The controller decodes
// what the processor answers; the simulator encodes its answers with the same structs.
#pragma once

#include <cstdint>

#include "link/Frame.h"

namespace devlink {

// Bytes 2..11 of the identification reply: FE FE "view rgb".
extern const uint8_t kIdentifyAnswer[10];
// True when bytes 2..11 of reply are the identification answer (bytes 0, 1, 12 not examined).
bool IsIdentifyReply(const uint8_t* reply);
Frame IdentifyReply(uint8_t id);

// Overlay states of status byte 4.
enum Overlay : uint8_t {
    kOverlayNone = 0,
    kPipPending = 1,
    kPipOn = 2,
    kTextPending = 3,
    kTextOn = 4,
    kPreviewEmpty = 7,
    kPreviewSet = 8,
};

// "PIP pending", "PIP on", "TEXT pending", "TEXT on", "preview empty", "preview set" or "none".
const char* OverlayName(uint8_t overlay);

// Function bits of status byte 6.
enum FunctionBit : uint8_t {
    kFreezeBit = 0x01,
    kBypassBit = 0x02,
    kMosaicBit = 0x04,
    kV2YPbPrBit = 0x08,
    kPreTakeBit = 0x10,
};

// Answer to the status query (FE 00).
struct StatusReply {
    uint8_t deviceId = 0;
    uint8_t marker = kQueryCode;  // byte 2, 0xFE
    uint8_t overlay = 0;          // byte 4
    uint8_t transition = 0;       // byte 5
    uint8_t functions = 0;        // byte 6
    uint8_t mainSource = 0;       // byte 7 low nibble
    uint8_t secondSource = 0;     // byte 7 high nibble
    bool mainSignal = false;      // byte 8
    bool secondSignal = false;    // byte 9
    uint8_t pipPreset = 0;        // byte 10
    uint8_t extInput = 0;         // byte 11: 0 NULL, 1 SDI, 2 VGA, 3 DVI, 4 VIDEO

    static StatusReply Decode(const uint8_t* reply);
    Frame Encode() const;
};

// A window: horizontal start, width, vertical start, height (bytes 4..11).
struct WindowReply {
    int hs = 0, w = 0, vs = 0, h = 0;
    static WindowReply Decode(const uint8_t* reply);
    // Writes the window into bytes 4..11 of frame.
    void Put(Frame& frame) const;
};

// FE 03: output resolution code in byte 3, output window in 4..11.
struct ResolutionReply {
    uint8_t code = 0;
    WindowReply output;
    static ResolutionReply Decode(const uint8_t* reply);
    Frame Encode(uint8_t id) const;
};

// FE 0F: custom resolution.
struct CustomResolutionReply {
    int width = 0, height = 0, rate = 0;
    static CustomResolutionReply Decode(const uint8_t* reply);
    Frame Encode(uint8_t id) const;
};

// FE 04: byte 3 bit 1 sync mosaic; input window in 4..11.
struct MosaicModeReply {
    bool syncMosaic = false;
    WindowReply input;
    static MosaicModeReply Decode(const uint8_t* reply);
    Frame Encode(uint8_t id) const;
};

// FE 07..0C: a window of a layout.
Frame GeometryReply(uint8_t id, uint8_t sub, const WindowReply& window);

// FE 05: picture and audio.
struct PictureAudioReply {
    uint8_t brightness = 0;     // byte 3
    uint8_t bias = 0;           // byte 5
    uint8_t sharpness = 0;      // byte 6: 0 Normal, else Sharp
    uint8_t audio1 = 0;         // byte 7 high nibble
    uint8_t audio2 = 0;         // byte 7 low nibble
    uint8_t hotSpare = 0;       // byte 8: bit 0 V1>>V2, bit 1 HDMI>>DVI, bit 2 VGA1>>VGA2
    uint8_t brightness100 = 0;  // byte 9: 0 brightness runs 0..64, else 0..100
    static PictureAudioReply Decode(const uint8_t* reply);
    Frame Encode(uint8_t id) const;
};

// FE 06: text key.
struct TextKeyReply {
    uint8_t threshold = 0;                 // byte 3: 0 "<Threshold", 1 ">Threshold"
    uint8_t red = 0, green = 0, blue = 0;  // bytes 4..6
    static TextKeyReply Decode(const uint8_t* reply);
    Frame Encode(uint8_t id) const;
};

// FE 10: colour of V1, V2, HDMI, DVI, DP, EXT, YPbPr in bytes 4..10.
struct ColourReply {
    static constexpr uint8_t kSources[7] = {0, 1, 4, 5, 6, 7, 8};
    uint8_t values[7] = {};
    static ColourReply Decode(const uint8_t* reply);
    Frame Encode(uint8_t id) const;
};

}  // namespace devlink
