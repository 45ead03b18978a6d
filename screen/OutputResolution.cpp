#include "screen/OutputResolution.h"

#include <charconv>

#include "link/Commands.h"

namespace screen {

const OutputResolution kOutputResolutions[kResolutionCount] = {
    {"1024X768@60Hz", 1024, 768},
    {"1024x768@75Hz", 1024, 768},
    {"1280x1024@60Hz", 1280, 1024},
    {"1280x1024@75Hz", 1280, 1024},
    {"1600x1200@60Hz", 1600, 1200},
    {"1920x1080@50Hz", 1920, 1080},
    {"1920x1080@60Hz", 1920, 1080},
    {"1366x768@60Hz", 1366, 768},
    {"1440x900@60Hz", 1440, 900},
    {"2048x1152@60Hz", 2048, 1152},
    {"2560x816@60Hz", 2560, 816},
    {"2304x1152@60Hz", 2304, 1152},
    {"1920x1200@60Hz", 1920, 1200},
    {"1200x1600@60Hz", 1200, 1600},
    {"1080x1920@60Hz", 1080, 1920},
    {"1536x1536@60Hz", 1536, 1536},
    {"自定义分辨率(Custom resolution)", 0, 0},
};

bool DotClockInRange(int32_t width, int32_t height, int32_t rate) {
    // Three 32-bit factors need at most 96 bits.
    using Wide = __int128;
    const Wide dotClock = (Wide{height} + 45) * (Wide{width} + 184) * Wide{rate};
    return dotClock >= kMinDotClock && dotClock <= kMaxDotClock;
}

std::optional<devlink::Frame> CustomResolutionFrame(uint8_t deviceId, int32_t width, int32_t height,
                                                    int32_t rate) {
    if (!DotClockInRange(width, height, rate)) {
        return std::nullopt;
    }
    return devlink::CustomResolutionCommand(deviceId, width, height, rate);
}

}  // namespace screen
