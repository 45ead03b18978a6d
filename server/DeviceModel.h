// One model of the processor's state, as the status replies tell it: the service's poll and the
// status questions of its clients feed it, and whoever publishes the state (the HTTP API, the
// event stream, MQTT) reads it and hears of each change. No Qt here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "device/DeviceState.h"
#include "link/Frame.h"
#include "link/Replies.h"

namespace server {

struct DeviceSnapshot {
    bool connected = false;  // the processor answers; nothing below is stale while false
    uint8_t deviceId = 1;
    app::DeviceState state;        // what the window would show (sources, overlays, modes)
    devlink::StatusReply status;   // the last status reply as read (signals, EXT. input, ...)
    std::map<int, bool> noSignal;  // lamps of inputs in use without a signal
    int64_t updatedMs = 0;         // when it was last read (ms since the epoch)
    uint64_t version = 0;          // counts the changes
};

class DeviceModel {
public:
    // Called after each change, with the model's lock released, on the thread that fed it.
    using Listener = std::function<void(const DeviceSnapshot&)>;

    explicit DeviceModel(uint8_t deviceId = 1);

    // The answer to a status question: when it is this device's, it updates the model.
    // Listeners hear of it only when the state changed (or the device came back).
    void Reply(const devlink::Frame& reply);
    // Any question answered on the line: only the answers to status questions of this device
    // feed the model (the other answers have the same leader, ID and marker).
    void Answer(const devlink::Frame& question, const devlink::Frame& reply);
    // The processor is away: the model says so and keeps no state.
    void Lost();
    void SetDeviceId(uint8_t id);

    DeviceSnapshot Current() const;
    int Subscribe(Listener listener);
    void Unsubscribe(int token);

private:
    void Tell(const DeviceSnapshot& snapshot);

    mutable std::mutex m_mutex;
    DeviceSnapshot m_now;
    devlink::Frame m_lastReply{};
    std::map<int, Listener> m_listeners;
    int m_nextToken = 1;
};

}  // namespace server
