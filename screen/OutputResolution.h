// Output resolutions: the codes the processor knows, and the check a custom resolution passes
// before it is sent. No windows here.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "link/Frame.h"

namespace screen {

// Output resolution codes 0..15 are presets; 16 is the custom resolution.
constexpr int kResolutionCount = 17;
constexpr int kCustomResolution = 16;

struct OutputResolution {
    const char* listText;  // as the resolution lists show it
    int width;             // 0 for the custom entry: read from the device
    int height;
};

// The table of codes 0..16, in code order.
extern const OutputResolution kOutputResolutions[kResolutionCount];

// The dot-clock range a custom resolution must lie in, both ends included.
constexpr int64_t kMinDotClock = 25999001;
constexpr int64_t kMaxDotClock = 164998999;

// True when the dot clock (h + 45) x (w + 184) x f (184 pixels of blanking per line, 45 lines per
// frame) lies in the range. Exact for every value of the boxes: the product is taken in 128 bits.
bool DotClockInRange(int32_t width, int32_t height, int32_t rate);

// The custom resolution frame for a width, height and field rate whose dot clock is in range
// (width and height travel as their low 16 bits, the rate as its low 8); nothing otherwise.
std::optional<devlink::Frame> CustomResolutionFrame(uint8_t deviceId, int32_t width, int32_t height,
                                                    int32_t rate);

}  // namespace screen
