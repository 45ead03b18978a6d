// A sequence link for tests: the simulator's device answers every frame at once (no wire, no
// clock), every frame sent is recorded, and pauses are only added up. Faults: silent (no query
// answered) and a query answered with a wrong leader.
#pragma once

#include <vector>

#include "device/Sequence.h"
#include "sim/Simulator.h"

namespace testutil {

class SimSequenceLink : public app::SequenceLink {
public:
    explicit SimSequenceLink(uint8_t id = 1) : device(id), m_id(id) {}

    uint8_t DeviceId() const override { return m_id; }
    bool Send(const devlink::Frame& frame, int delayMs) override {
        if (stopped) {
            return false;
        }
        Record(frame, delayMs);
        device.HandleFrame(devlink::WithChecksum(frame.data()), nowMs);
        Pause(delayMs);
        return !stopped;
    }
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override {
        if (stopped) {
            return 0;
        }
        Record(frame, limitMs);
        const auto r = device.HandleFrame(devlink::WithChecksum(frame.data()), nowMs);
        if (silent || !r.reply) {
            nowMs += limitMs;
            return 0;
        }
        reply = *r.reply;
        if (wrongLeader) {
            reply[0] = 0x06;
        }
        Pause(200);
        return 13;
    }
    bool Pause(int ms) override {
        pausedMs += ms;
        nowMs += ms;
        device.Advance(nowMs);
        return !stopped;
    }
    bool Stopped() const override { return stopped; }

    // Bytes 2..11 of each frame sent, with the delay or limit it carried.
    struct Sent {
        std::vector<uint8_t> body;
        int ms;
    };
    std::vector<Sent> sent;
    sim::Simulator device;
    int64_t nowMs = 0;
    int64_t pausedMs = 0;
    bool silent = false;
    bool wrongLeader = false;
    bool stopped = false;

private:
    void Record(const devlink::Frame& f, int ms) {
        sent.push_back({std::vector<uint8_t>(f.begin() + 2, f.begin() + 12), ms});
    }
    uint8_t m_id;
};

}  // namespace testutil
