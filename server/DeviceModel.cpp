#include "server/DeviceModel.h"

#include <algorithm>
#include <vector>

#include "device/StatusDecoder.h"
#include "link/Commands.h"
#include "platform/Clock.h"

namespace server {

DeviceModel::DeviceModel(uint8_t deviceId) {
    m_now.deviceId = deviceId;
}

void DeviceModel::SetDeviceId(uint8_t id) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_now.deviceId == id) {
            return;
        }
    }
    Lost();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now.deviceId = id;
}

void DeviceModel::Reply(const devlink::Frame& reply) {
    DeviceSnapshot told;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool same = m_now.connected &&
                          std::equal(reply.begin() + 2, reply.end() - 1, m_lastReply.begin() + 2);
        app::DeviceState state = m_now.state;
        std::map<int, bool> noSignal;
        if (!app::DecodeStatus(reply.data(), m_now.deviceId, false, false, state, noSignal)) {
            return;  // not a status reply of this device
        }
        m_now.updatedMs = platform::CurrentClock().NowMs();
        if (same) {
            return;
        }
        m_lastReply = reply;
        m_now.connected = true;
        m_now.state = state;
        m_now.status = devlink::StatusReply::Decode(reply.data());
        m_now.noSignal = std::move(noSignal);
        ++m_now.version;
        told = m_now;
    }
    Tell(told);
}

void DeviceModel::Answer(const devlink::Frame& question, const devlink::Frame& reply) {
    if (question[2] == devlink::kQueryCode && question[3] == devlink::kStatusSub) {
        Reply(reply);
    }
}

void DeviceModel::Lost() {
    DeviceSnapshot told;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_now.connected) {
            return;
        }
        DeviceSnapshot empty;
        empty.deviceId = m_now.deviceId;
        empty.version = m_now.version + 1;
        empty.updatedMs = platform::CurrentClock().NowMs();
        m_now = empty;
        m_lastReply = {};
        told = m_now;
    }
    Tell(told);
}

DeviceSnapshot DeviceModel::Current() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_now;
}

int DeviceModel::Subscribe(Listener listener) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int token = m_nextToken++;
    m_listeners[token] = std::move(listener);
    return token;
}

void DeviceModel::Unsubscribe(int token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.erase(token);
}

void DeviceModel::Tell(const DeviceSnapshot& snapshot) {
    std::vector<Listener> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& entry : m_listeners) {
            listeners.push_back(entry.second);
        }
    }
    for (const Listener& listener : listeners) {
        listener(snapshot);
    }
}

}  // namespace server
