// The system clock's sleep until a time of day: it ends at that time, at once on a stop, and as
// soon as a descriptor it watches becomes readable.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"

namespace {

using namespace std::chrono;

TEST(SystemClock, SleepUntilEndsAtTheTimeOnAStopOrOnADescriptor) {
    platform::Clock& clock = platform::CurrentClock();
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(fd, 0);
    platform::StopFlag stop;
    enum What { Time, Stop, Descriptor };
    for (What what : {Time, Stop, Descriptor}) {
        SCOPED_TRACE(what);
        stop.Reset();
        const int64_t until = clock.NowMs() + (what == Time ? 150 : 5000);
        std::thread poke;
        if (what == Stop)
            poke = std::thread([&] {
                std::this_thread::sleep_for(milliseconds(50));
                stop.Request();
            });
        if (what == Descriptor)
            poke = std::thread([&] {
                std::this_thread::sleep_for(milliseconds(50));
                const uint64_t one = 1;
                EXPECT_EQ(::write(fd, &one, sizeof one), 8);
            });
        const auto start = steady_clock::now();
        const platform::Wake wake = clock.SleepUntil(until, &stop, fd);
        const auto took = steady_clock::now() - start;
        if (poke.joinable())
            poke.join();
        switch (what) {
            case Time:
                EXPECT_EQ(wake, platform::Wake::Reached);
                EXPECT_GE(clock.NowMs(), until);
                break;
            case Stop:
                EXPECT_EQ(wake, platform::Wake::Stopped);
                EXPECT_LT(took, milliseconds(2000));
                break;
            case Descriptor:
                EXPECT_EQ(wake, platform::Wake::Ready);
                EXPECT_LT(took, milliseconds(2000));
                break;
        }
    }
    // A raised flag ends the sleep before it starts; a time already passed is reached at once.
    stop.Request();
    EXPECT_EQ(clock.SleepUntil(clock.NowMs() + 5000, &stop), platform::Wake::Stopped);
    stop.Reset();
    EXPECT_EQ(clock.SleepUntil(clock.NowMs() - 1, &stop), platform::Wake::Reached);
    ::close(fd);
}

}  // namespace
