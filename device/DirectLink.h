// A sequence link straight over one open link, for programs that hold the line themselves and
// have no main window (orn312ctl, the measuring programs): no workers share it, so no lock.
#pragma once

#include <cstdint>

#include "device/Sequence.h"
#include "link/Link.h"
#include "platform/Clock.h"

namespace app {

class DirectSequenceLink : public SequenceLink {
public:
    // stop ends the sequence: every pause and every query's tries give up at once, a frame
    // already being written is finished first.
    DirectSequenceLink(devlink::LinkConnection& link, uint8_t deviceId, platform::StopFlag& stop)
        : m_link(link), m_deviceId(deviceId), m_stop(stop) {}

    uint8_t DeviceId() const override { return m_deviceId; }
    // False when stopped, and also when the frame could not be written (Stopped() tells which).
    bool Send(const devlink::Frame& frame, int delayMs) override;
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override;
    bool Pause(int ms) override { return platform::Sleep(ms, &m_stop); }
    bool Stopped() const override { return m_stop.Requested(); }

private:
    devlink::LinkConnection& m_link;
    uint8_t m_deviceId;
    platform::StopFlag& m_stop;
};

}  // namespace app
