// The processor's output resolution codes: the list text of each and the size it gives. Code 16
// is the custom resolution, whose size is asked for separately.
#pragma once

namespace res {

struct OutputResolution {
    const char* text;
    int width;   // 0 for the custom entry
    int height;  // 0 for the custom entry
};

constexpr int kOutputResolutionCount = 17;
constexpr int kCustomResolutionCode = 16;
extern const OutputResolution kOutputResolutions[kOutputResolutionCount];

}  // namespace res
