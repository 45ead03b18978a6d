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
    StopFlag();
    ~StopFlag();
    StopFlag(const StopFlag&) = delete;
    StopFlag& operator=(const StopFlag&) = delete;

    void Request();
    void Reset();
    bool Requested() const { return m_stop.load(std::memory_order_acquire); }
    // Waits until the flag is raised or ms have passed on the real clock. True when raised.
    bool WaitFor(int ms);
    // Readable while the flag is raised, so that a wait on other descriptors (poll) wakes on a
    // stop too. -1 when the system gave none; then only WaitFor wakes at once.
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;  // an eventfd, counted up by Request and drained by Reset
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

// Why SleepUntil ended.
enum class Wake {
    Reached,   // the clock reads the time asked for, or later
    ClockSet,  // the time of day was set (stepped) meanwhile: look at the clock again
    Stopped,   // the stop flag was raised
    Ready,     // the descriptor given became readable
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the epoch.
    virtual int64_t NowMs() = 0;
    virtual LocalTime Local() = 0;
    // Pauses for ms milliseconds; returns false when stop was raised before the end.
    virtual bool Sleep(int ms, StopFlag* stop) = 0;
    // Sleeps until the time of day reads wallMs (ms since the epoch), following the clock when it
    // is set meanwhile: a sleeper for 10:00 wakes at 10:00 by the clock even when the clock was
    // stepped an hour on an hour earlier, and it wakes at once on such a step (ClockSet) so that
    // the caller can look at the time of day again. fd (when not -1) ends the sleep as soon as it
    // is readable. A clock that cannot tell a step sleeps the difference.
    virtual Wake SleepUntil(int64_t wallMs, StopFlag* stop, int fd = -1);
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
inline Wake SleepUntil(int64_t wallMs, StopFlag* stop = nullptr, int fd = -1) {
    return CurrentClock().SleepUntil(wallMs, stop, fd);
}
inline LocalTime Now() {
    return CurrentClock().Local();
}

// Breaks a time in milliseconds since the epoch into local time.
LocalTime ToLocal(int64_t epochMs);

}  // namespace platform
