#include "platform/Clock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

namespace platform {

StopFlag::StopFlag() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopFlag::~StopFlag() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void StopFlag::Request() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true, std::memory_order_release);
        if (m_fd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
        }
    }
    m_cv.notify_all();
}

void StopFlag::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop.store(false, std::memory_order_release);
    if (m_fd >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_fd, &count, sizeof count);
    }
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

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace

Wake Clock::SleepUntil(int64_t wallMs, StopFlag* stop, int fd) {
    // A clock of its own (a test's) has no step to tell: sleep the difference, in short slices
    // while a descriptor is to be watched.
    for (;;) {
        if (stop != nullptr && stop->Requested())
            return Wake::Stopped;
        if (fd >= 0 && Readable(fd))
            return Wake::Ready;
        const int64_t left = wallMs - NowMs();
        if (left <= 0)
            return Wake::Reached;
        const int slice = static_cast<int>(fd >= 0 ? std::min<int64_t>(left, 20) : left);
        if (!Sleep(slice, stop))
            return Wake::Stopped;
        if (fd < 0)
            return NowMs() >= wallMs ? Wake::Reached : Wake::ClockSet;
    }
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

    // An absolute timer on the time of day that the kernel cancels when the clock is set: the
    // sleeper wakes at its moment by the clock, and at once on a step. As a safety net for clocks
    // whose steps the kernel does not tell (a hypervisor's, a library's fake time), the clock is
    // also read once a minute; a reading that ran apart from the steady clock is a step too.
    Wake SleepUntil(int64_t wallMs, StopFlag* stop, int fd) override {
        if (stop != nullptr && stop->Requested())
            return Wake::Stopped;
        if (NowMs() >= wallMs)
            return Wake::Reached;
        int timer = ::timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
        if (timer >= 0) {
            itimerspec at{};
            at.it_value.tv_sec = static_cast<time_t>(wallMs / 1000);
            at.it_value.tv_nsec = static_cast<long>(wallMs % 1000) * 1000000L;
            if (::timerfd_settime(timer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &at,
                                  nullptr) != 0) {
                ::close(timer);
                timer = -1;
            }
        }
        pollfd fds[3] = {
            {timer, POLLIN, 0}, {stop != nullptr ? stop->Fd() : -1, POLLIN, 0}, {fd, POLLIN, 0}};
        const int64_t wall0 = NowMs();
        const int64_t steady0 = SteadyMs();
        Wake wake = Wake::Reached;
        for (;;) {
            const int64_t left = wallMs - NowMs();
            if (left <= 0) {
                wake = Wake::Reached;
                break;
            }
            const int n = ::poll(fds, 3, static_cast<int>(std::min<int64_t>(left, kLookMs)));
            if (n < 0 && errno == EINTR)
                continue;
            if (stop != nullptr && stop->Requested()) {
                wake = Wake::Stopped;
                break;
            }
            if (fds[2].revents != 0) {
                wake = Wake::Ready;
                break;
            }
            if (fds[0].revents != 0) {
                uint64_t expirations = 0;
                if (::read(fds[0].fd, &expirations, sizeof expirations) < 0 && errno == ECANCELED) {
                    wake = Wake::ClockSet;
                    break;
                }
                if (NowMs() >= wallMs - 1) {
                    wake = Wake::Reached;
                    break;
                }
                // The kernel's time of day is not the one read here: go on by the minute looks.
                fds[0].fd = -1;
                continue;
            }
            const int64_t drift = (NowMs() - wall0) - (SteadyMs() - steady0);
            if (drift > kDriftMs || drift < -kDriftMs) {
                wake = Wake::ClockSet;
                break;
            }
        }
        if (timer >= 0)
            ::close(timer);
        return wake;
    }

private:
    static constexpr int64_t kLookMs = 60000;  // the longest stretch without reading the clock
    static constexpr int64_t kDriftMs = 1000;  // a larger difference to the steady clock: a step

    static int64_t SteadyMs() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
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
