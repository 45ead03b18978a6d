// A sequence of status replies from any bytes, decoded as the window does. Input: byte 0 the
// device ID and the flags, then replies of 13 bytes. Properties: at most one overlay flag is
// set, every lamp of a display is off, steady or flashing, and the blink set holds only lamps
// the display shows flashing.
#include <cstdint>
#include <map>

#include "device/StatusDecoder.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t id = data[0] & 0x07;
    const bool chinese = (data[0] & 0x08) != 0;
    const bool timer = (data[0] & 0x10) != 0;
    app::DeviceState state;
    std::map<int, bool> blink;
    for (size_t at = 1; at + 13 <= size; at += 13) {
        const auto display = app::DecodeStatus(data + at, id, chinese, timer, state, blink);
        const int overlays = state.m_bPipPending + state.m_bPipOn + state.m_bTextPending +
                             state.m_bTextOn + state.m_bPreviewEmpty + state.m_bPreviewSet;
        fuzz::Check(overlays <= 1);
        if (!display) {
            continue;
        }
        for (const auto& [lamp, lampState] : display->lamps) {
            const int s = static_cast<int>(lampState);
            fuzz::Check(s >= 0 && s <= 2);
        }
        for (const auto& [lamp, on] : blink) {
            const auto it = display->lamps.find(lamp);
            fuzz::Check(it != display->lamps.end() && it->second == app::LampState::Flashing);
        }
    }
    return 0;
}
