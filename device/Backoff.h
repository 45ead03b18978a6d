// How a lost device is connected again, by the window and the service alike: the first attempt a
// second after the loss, then twice as long after each attempt that failed, up to every 30 s.
#pragma once

#include <algorithm>

namespace app {

class ReconnectBackoff {
public:
    static constexpr int kFirstMs = 1000;
    static constexpr int kMaxMs = 30000;

    // The wait before the next attempt; the one after it is twice as long.
    int Next() {
        const int wait = m_next;
        m_next = std::min(m_next * 2, kMaxMs);
        return wait;
    }
    void Reset() { m_next = kFirstMs; }

private:
    int m_next = kFirstMs;
};

}  // namespace app
