#include "platform/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace platform {

void StopFlag::Request() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true, std::memory_order_release);
    }
    m_cv.notify_all();
}

void StopFlag::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop.store(false, std::memory_order_release);
}

bool StopFlag::WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms),
                         [this] { return m_stop.load(std::memory_order_acquire); });
}

LocalTime ToLocal(int64_t epochMs) {
    time_t secs = static_cast<time_t>(epochMs / 1000);
    struct tm tmv {};
    localtime_r(&secs, &tmv);
    LocalTime t;
    t.year = tmv.tm_year + 1900;
    t.month = tmv.tm_mon + 1;
    t.day = tmv.tm_mday;
    t.weekday = tmv.tm_wday;
    t.hour = tmv.tm_hour;
    t.minute = tmv.tm_min;
    t.second = tmv.tm_sec;
    t.millisecond = static_cast<int>(epochMs % 1000);
    return t;
}

namespace {

class SystemClock : public Clock {
public:
    int64_t NowMs() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    LocalTime Local() override { return ToLocal(NowMs()); }
    bool Sleep(int ms, StopFlag* stop) override {
        if (stop != nullptr) {
            return !stop->WaitFor(ms);
        }
        if (ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
        return true;
    }
};

SystemClock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};

}  // namespace

Clock& CurrentClock() {
    return *g_clock.load(std::memory_order_acquire);
}

void SetClock(Clock* clock) {
    g_clock.store(clock != nullptr ? clock : &g_systemClock, std::memory_order_release);
}

}  // namespace platform
