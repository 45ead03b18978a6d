// A line with several processors on it, for the whole wall's tests: the simulator's devices in
// memory, each answering its own device ID, every frame written down with its pause, pauses only
// added up. A device ID without a device leaves its questions unanswered for their whole limit.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/Sequence.h"
#include "link/Frame.h"
#include "sim/Simulator.h"

namespace testutil {

class WallSimLink : public app::SequenceLink {
public:
    // Devices with the IDs first .. last.
    WallSimLink(int first, int last) {
        for (int id = first; id <= last; ++id) {
            Add(id);
        }
    }
    sim::Simulator& Add(int id) {
        return devices.try_emplace(static_cast<uint8_t>(id), static_cast<uint8_t>(id))
            .first->second;
    }

    uint8_t DeviceId() const override { return 1; }
    bool Send(const devlink::Frame& frame, int delayMs) override {
        if (stopped) {
            return false;
        }
        Write(frame, "S", delayMs);
        if (afterSend) {
            afterSend(frame);  // a stop raised here comes while the frame's pause runs
        }
        return Pause(delayMs);
    }
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override {
        if (stopped) {
            return 0;
        }
        const auto r = Write(frame, "Q", limitMs);
        if (!r.reply) {
            nowMs += limitMs;
            return 0;
        }
        reply = *r.reply;
        if (patch) {
            patch(reply);
        }
        Pause(200);
        return 13;
    }
    bool Pause(int ms) override {
        if (stopped) {
            return false;
        }
        pausedMs += ms;
        nowMs += ms;
        for (auto& [id, d] : devices) {
            d.Advance(nowMs);
        }
        return true;
    }
    bool Stopped() const override { return stopped; }

    // "S 1 23 00 ..." (a command to device 1) or "Q 2 fe 04" (a question to device 2), with the
    // pause or limit: "/1000".
    std::vector<std::string> log;
    std::vector<int64_t> atMs;  // when each frame of the log went out
    std::map<uint8_t, sim::Simulator> devices;
    std::function<void(const devlink::Frame&)> afterSend;
    std::function<void(devlink::Frame&)> patch;  // changes every answer
    int64_t nowMs = 0;
    int64_t pausedMs = 0;
    bool stopped = false;

private:
    sim::Simulator::Response Write(const devlink::Frame& frame, const char* kind, int ms) {
        int n = 10;
        while (n > 2 && frame[2 + n - 1] == 0) {
            --n;
        }
        log.push_back(std::string(kind) + " " + std::to_string(frame[1]) + " " +
                      devlink::HexText(frame.data() + 2, n) + "/" + std::to_string(ms));
        atMs.push_back(nowMs);
        const auto it = devices.find(frame[1]);
        if (it == devices.end()) {
            return {};
        }
        return it->second.HandleFrame(devlink::WithChecksum(frame.data()), nowMs);
    }
};

}  // namespace testutil
