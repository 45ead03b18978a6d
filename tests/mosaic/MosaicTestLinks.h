// Links for the fast mosaic's tests: the simulator's link that writes down every step of a
// sequence, and a link the dialog's runner makes over it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SimSequenceLink.h"
#include "link/Commands.h"
#include "platform/Clock.h"

namespace testutil {

// Bytes 2..11 without their trailing zero bytes (at least two): "fe 03", "21 01 05".
inline std::string Body(const devlink::Frame& f) {
    int n = 10;
    while (n > 2 && f[2 + n - 1] == 0) {
        --n;
    }
    return devlink::HexText(f.data() + 2, n);
}

// The simulator's link that writes down what a sequence does, one line per step: "P500" a pause,
// "S 21 01 05/500" a frame sent with its pause, "Q fe 00/6000" a question with its limit. A patch
// may change the device's answer to a query sub-code, or drop it (returning false).
class TimelineLink : public SimSequenceLink {
public:
    using SimSequenceLink::SimSequenceLink;

    bool Send(const devlink::Frame& frame, int delayMs) override {
        timeline.push_back("S " + Body(frame) + "/" + std::to_string(delayMs));
        frames.push_back(frame);
        m_inner = true;
        const bool r = SimSequenceLink::Send(frame, delayMs);
        m_inner = false;
        return r;
    }
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override {
        timeline.push_back("Q " + Body(frame) + "/" + std::to_string(limitMs));
        m_inner = true;
        int r = SimSequenceLink::Query(frame, reply, limitMs);
        m_inner = false;
        const auto patch = patches.find(frame[3]);
        if (r == 13 && patch != patches.end() && !patch->second(reply)) {
            r = 0;
        }
        return r;
    }
    bool Pause(int ms) override {
        if (!m_inner) {
            timeline.push_back("P" + std::to_string(ms));
        }
        return SimSequenceLink::Pause(ms);
    }

    // Has the device carry out a command, and lets its delayed changes happen.
    void Apply(const devlink::Frame& command) {
        device.HandleFrame(command, nowMs);
        nowMs += 1000;
        device.Advance(nowMs);
    }

    std::map<uint8_t, std::function<bool(devlink::Frame&)>> patches;
    // Each question through a ForwardLink first waits this long (a slow device; a stop cuts it).
    int queryMs = 0;
    std::vector<std::string> timeline;
    std::vector<devlink::Frame> frames;

private:
    bool m_inner = false;
};

// What a dialog's runner makes for one sequence: the steps go to one simulator's link that lives
// as long as the test, frames for the main window carry mainId, and the runner's stop ends the
// sequence. With realPauses, pauses take their time on the real clock (a stop cuts them short).
class ForwardLink : public app::SequenceLink {
public:
    ForwardLink(TimelineLink& target, uint8_t mainId, platform::StopFlag& stop, bool realPauses)
        : m_target(target), m_mainId(mainId), m_stop(stop), m_realPauses(realPauses) {}

    uint8_t DeviceId() const override { return m_mainId; }
    bool Send(const devlink::Frame& frame, int delayMs) override {
        if (Stopped()) {
            return false;
        }
        m_target.Send(frame, delayMs);
        return !(m_realPauses && m_stop.WaitFor(delayMs)) && !Stopped();
    }
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override {
        if (Stopped() || (m_target.queryMs > 0 && m_stop.WaitFor(m_target.queryMs))) {
            return 0;
        }
        return m_target.Query(frame, reply, limitMs);
    }
    bool Pause(int ms) override {
        if (m_realPauses && m_stop.WaitFor(ms)) {
            return false;
        }
        return m_target.Pause(ms) && !Stopped();
    }
    bool Stopped() const override { return m_stop.Requested(); }

private:
    TimelineLink& m_target;
    uint8_t m_mainId;
    platform::StopFlag& m_stop;
    bool m_realPauses;
};

}  // namespace testutil
