#include "screen/ScreenChecks.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace screen {

OpeningValues OpeningFrom(const app::DeviceState& state, uint8_t deviceId, bool connected,
                          bool chinese) {
    OpeningValues v;
    v.deviceId = deviceId;
    v.chinese = chinese;
    v.connected = connected;
    v.dviMain = state.m_bDviMain;
    v.mosaic = state.m_bMosaic;
    v.bypass = state.m_bBypass;
    v.pipOpen = state.PipFlag();
    v.textOpen = state.TextFlag();
    v.v2IsYPbPr = state.m_bV2IsYPbPr;
    v.pipPreset = state.m_pipPreset;
    return v;
}

std::array<WindowGeometry, 4> g_windowGeometry{};

namespace {

// One axis: size s with start a against the limit; 64-bit so that no sum overflows.
bool SizeFails(int64_t s, int64_t a, int64_t limit) {
    return s > limit || s < 64 || std::llabs(a) + s > limit;
}
bool StartFails(int64_t a, int64_t s, int64_t limit) {
    return a > limit || a < 0 || std::llabs(s) + a > limit;
}

}  // namespace

GeometryCheck CheckGeometry(const WindowGeometry& g, Size output) {
    const int64_t W = output.width, H = output.height;
    if (SizeFails(g.w, g.hs, W)) {
        return {GeometryCheck::kOutOfRange, kWidth};
    }
    if (StartFails(g.hs, g.w, W)) {
        return {GeometryCheck::kOutOfRange, kHStart};
    }
    if (SizeFails(g.h, g.vs, H)) {
        return {GeometryCheck::kOutOfRange, kHeight};
    }
    if (StartFails(g.vs, g.h, H)) {
        return {GeometryCheck::kOutOfRange, kVStart};
    }
    const int values[4] = {g.w, g.hs, g.h, g.vs};
    for (int f = 0; f < 4; ++f) {
        if (values[f] % 2 != 0) {
            return {GeometryCheck::kOdd, static_cast<GeometryField>(f)};
        }
    }
    return {};
}

Rect PreviewRect(int frameWidth, int frameHeight, Size output, const WindowGeometry& g) {
    if (output.width <= 0 || output.height <= 0) {
        return {};
    }
    const double sx = static_cast<double>(frameWidth) / output.width;
    const double sy = static_cast<double>(frameHeight) / output.height;
    // Scaled values are kept within the frame, which is all a preview shows: a window far beyond
    // a tiny output would otherwise scale past what an int holds.
    const auto within = [](double v, int limit) {
        return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(std::max(limit, 0))));
    };
    const int left = within(sx * g.hs, frameWidth);
    const int top = within(sy * g.vs, frameHeight);
    return {left, top, within(sx * g.w, frameWidth - left), within(sy * g.h, frameHeight - top)};
}

namespace {

// Compared as unsigned: a negative value is above every limit.
bool Within(int v, unsigned limit) {
    return static_cast<unsigned>(v) <= limit;
}

}  // namespace

ValueCheck CheckBrightness(int v, bool range100) {
    if (!Within(v, range100 ? 100 : 64)) {
        return ValueCheck::kOutOfRange;
    }
    return v % 2 != 0 ? ValueCheck::kOdd : ValueCheck::kOk;
}

ValueCheck CheckPercent(int v) {
    return Within(v, 100) ? ValueCheck::kOk : ValueCheck::kOutOfRange;
}

ValueCheck CheckKeyColour(int v) {
    return Within(v, 255) ? ValueCheck::kOk : ValueCheck::kOutOfRange;
}

int BrightnessResetValue(bool range100) {
    return range100 ? 50 : 64;
}

int KeyColourStep(int colour) {
    return colour == 1 ? 4 : 8;
}

SpinOutcome SpinKeyColour(int v, int colour, int delta) {
    const int value = static_cast<int16_t>(v);
    const int step = KeyColourStep(colour);
    if (delta == -1) {
        if (value + step > 255) {
            return {SpinOutcome::kAtTop, value};
        }
        return {SpinOutcome::kMoved, value + step};
    }
    if (delta == 1) {
        if (value - step < 0) {
            return {SpinOutcome::kAtBottom, value};
        }
        return {SpinOutcome::kMoved, value - step};
    }
    return {SpinOutcome::kUnchanged, value};
}

const char* const kAudioEntries[kAudioEntryCount] = {"V1",   "V2/YPbPr", "VGA1", "VGA2",
                                                     "HDMI", "DVI",      "DP",   "EXT."};

std::optional<int> AudioClash(int changedIndex, int otherIndex) {
    if (changedIndex < 0 || changedIndex != otherIndex) {
        return std::nullopt;
    }
    return changedIndex > 0 ? 0 : 1;
}

int AudioEntryOfCode(int code) {
    if (code == devlink::kYPbPr) {
        return 1;
    }
    return code >= 0 && code < kAudioEntryCount ? code : -1;
}

uint8_t AudioCodeOfEntry(int index, bool v2IsYPbPr) {
    if (index < 0) {
        return 0xFF;
    }
    if (index == 1 && v2IsYPbPr) {
        return devlink::kYPbPr;
    }
    return static_cast<uint8_t>(index);
}

}  // namespace screen
