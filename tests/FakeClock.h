// A clock for tests: virtual time that moves only as far as the test lets it, so a worker can
// sleep through minutes or cross midnight in a test that takes milliseconds.
#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace testutil {

// Sets the local time zone (TZ) for the life of the object.
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        if (const char* old = getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedZone() {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

private:
    std::optional<std::string> m_old;
};

// A sleep moves virtual time forward by its length at once, as long as its end stays within the
// horizon the test has set; a sleep that would end past the horizon waits ("parks") until the test
// moves the horizon or the sleeper's stop flag is raised. Local() breaks the virtual time into
// fields in the zone of TZ, as the system clock does.
//
// Use: install with platform::SetClock before starting a worker; RunUntil(t) lets the worker run
// through virtual time up to t and returns once it is parked in a sleep that ends after t. Between
// two RunUntil calls the worker is parked, so what it recorded can be read.
class FakeClock : public platform::Clock {
public:
    explicit FakeClock(int64_t startMs) : m_horizon(startMs), m_offset(startMs) {}

    int64_t NowMs() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_elapsed + m_offset;
    }
    platform::LocalTime Local() override { return platform::ToLocal(NowMs()); }

    bool Sleep(int ms, platform::StopFlag* stop) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        const int64_t end = m_elapsed + std::max(ms, 0);
        Park(lock, [&] { return end + m_offset > m_horizon && !Stopped(stop); });
        if (Stopped(stop))
            return false;
        m_elapsed = std::max(m_elapsed, end);
        return true;
    }

    // Sleeps until the clock reads wallMs, moving virtual time on as Sleep does; a Jump while it
    // waits wakes it at once (ClockSet), as a step of the system clock does. fd is looked at every
    // millisecond of real time while parked.
    platform::Wake SleepUntil(int64_t wallMs, platform::StopFlag* stop, int fd) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        const uint64_t jumps = m_jumps;
        auto ready = [&] { return fd >= 0 && Readable(fd); };
        Park(lock,
             [&] { return wallMs > m_horizon && !Stopped(stop) && jumps == m_jumps && !ready(); });
        if (Stopped(stop))
            return platform::Wake::Stopped;
        if (jumps != m_jumps)
            return platform::Wake::ClockSet;
        if (ready())
            return platform::Wake::Ready;
        m_elapsed = std::max(m_elapsed, wallMs - m_offset);
        return platform::Wake::Reached;
    }

    // Lets sleepers run on up to virtual time ms. Returns once `sleepers` of them are parked in
    // sleeps that end after it; false if that has not happened within waitMs of real time.
    bool RunUntil(int64_t ms, int sleepers = 1, int waitMs = 10000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_horizon = std::max(m_horizon, ms);
        ++m_generation;
        m_parked = 0;
        m_cv.notify_all();
        return m_cv.wait_for(lock, std::chrono::milliseconds(waitMs),
                             [&] { return m_parked >= sleepers; });
    }

    // Sets the time of day forward (or back) by deltaMs, as when the clock is set by hand. Sleeps
    // keep their length: one under way ends deltaMs later or earlier by the clock. A SleepUntil
    // under way wakes.
    void Jump(int64_t deltaMs) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_offset += deltaMs;
        ++m_jumps;
        m_cv.notify_all();
    }

private:
    // Waits while waiting() holds, counted as parked once for each horizon the test sets. A stop
    // flag or a descriptor cannot wake this wait, so it looks again every millisecond.
    template <typename Waiting>
    void Park(std::unique_lock<std::mutex>& lock, Waiting waiting) {
        uint64_t countedIn = 0;  // the horizon this sleeper was counted as parked at
        while (waiting()) {
            if (countedIn != m_generation) {
                countedIn = m_generation;
                ++m_parked;
                m_cv.notify_all();
            }
            m_cv.wait_for(lock, std::chrono::milliseconds(1));
        }
        if (countedIn == m_generation)
            --m_parked;
    }

    static bool Stopped(const platform::StopFlag* stop) {
        return stop != nullptr && stop->Requested();
    }
    static bool Readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    int64_t m_elapsed = 0;  // virtual time slept since the start
    int64_t m_horizon;      // by the clock: no sleep ends later than this
    int64_t m_offset;       // the clock reads m_elapsed + m_offset
    uint64_t m_generation = 1;
    uint64_t m_jumps = 0;
    int m_parked = 0;
};

}  // namespace testutil
