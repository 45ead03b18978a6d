// How the program's worker threads wait: only for work, never on a clock to look at a flag again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

// A worker's wait for work, without a timeout. The work (a pending command, lamps to flash, a
// queue) is guarded by the signal's mutex. Whoever changes what the worker waits for, its work or
// a flag it looks at (its stop, its pause), calls Notify afterwards: Notify passes through the
// mutex, so the change cannot fall between the worker's look and its sleep and no wake-up is lost.
// A worker therefore sleeps until it is told, and wakes only for work or to stop.
class WorkSignal {
public:
    std::mutex& Mutex() { return m_mutex; }
    // Runs change under the mutex, then wakes every waiter.
    template <typename F>
    void Change(F change) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change();
        }
        m_cv.notify_all();
    }
    // Wakes every waiter after something changed outside the mutex (a stop flag).
    void Notify() {
        { std::lock_guard<std::mutex> lock(m_mutex); }
        m_cv.notify_all();
    }
    // Sleeps, lock (of Mutex()) held, until ready() holds.
    template <typename Ready>
    void Wait(std::unique_lock<std::mutex>& lock, Ready ready) {
        m_cv.wait(lock, ready);
    }
    // The same for a timed step of the work (a lamp's half period): false when the time ran out
    // first.
    template <typename Ready>
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point end,
                   Ready ready) {
        return m_cv.wait_until(lock, end, ready);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

// A wake-up for a worker that sleeps in poll() on file descriptors (a file watch, sockets) rather
// than on a condition: Ring from any thread makes Fd() readable until the worker calls Clear.
// A ring between the worker's Clear and its poll() is kept, so none is lost.
class Doorbell {
public:
    Doorbell();
    ~Doorbell();
    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;
    void Ring();
    void Clear();
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// Names the calling thread (at most 15 characters), so that per-thread figures (top -H,
// /proc/PID/task) tell the workers apart.
void NameThisThread(const char* name);

}  // namespace platform
