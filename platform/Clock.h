// Time of day and pauses. Every pause and every reading of the time of day in the program goes
// through here, so that tests can run the program on a fake clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

struct LocalTime {
    int year = 1970;
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int weekday = 4;  // 0 Sunday .. 6 Saturday
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// A stop request that wakes a pause at once. Workers pass theirs to Sleep so that a stop never
// waits for a long pause to run out.
class StopFlag {
public:
    void Request();
    void Reset();
    bool Requested() const { return m_stop.load(std::memory_order_acquire); }
    // Waits until the flag is raised or ms have passed on the real clock. True when raised.
    bool WaitFor(int ms);

private:
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the epoch.
    virtual int64_t NowMs() = 0;
    virtual LocalTime Local() = 0;
    // Pauses for ms milliseconds; returns false when stop was raised before the end.
    virtual bool Sleep(int ms, StopFlag* stop) = 0;
};

// The clock in use: the system clock unless a test installed another.
Clock& CurrentClock();
// Installs clock (nullptr restores the system clock). Not thread-safe against running workers:
// install before starting them.
void SetClock(Clock* clock);

// Shorthands for the clock in use.
inline bool Sleep(int ms, StopFlag* stop = nullptr) {
    return CurrentClock().Sleep(ms, stop);
}
inline LocalTime Now() {
    return CurrentClock().Local();
}

// Breaks a time in milliseconds since the epoch into local time.
LocalTime ToLocal(int64_t epochMs);

}  // namespace platform
