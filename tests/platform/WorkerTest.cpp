// What the workers wait on: the kernel's word that a file changed, and a wake-up that is never
// lost.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/FileReplace.h"
#include "platform/FileWatch.h"
#include "platform/Worker.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// Waits up to ms for the watch's descriptor, then drains it: whether the file was concerned.
bool Told(platform::FileWatch& watch, int ms) {
    struct pollfd p {
        watch.Fd(), POLLIN, 0
    };
    const auto end = steady_clock::now() + milliseconds(ms);
    while (steady_clock::now() < end) {
        const int left =
            static_cast<int>(duration_cast<milliseconds>(end - steady_clock::now()).count());
        if (::poll(&p, 1, std::max(left, 1)) <= 0)
            return false;
        if (watch.Drain())
            return true;
    }
    return false;
}

void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace

// Every way the plan file is changed is told at once, through a link too; a neighbour's change is
// not.
TEST(FileWatch, TellsEveryChangeOfTheFileAndNoneOfItsNeighbours) {
    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-watch-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "real");
    struct Case {
        const char* what;
        std::function<void(const fs::path& file)> change;
        bool told;
    };
    const std::vector<Case> cases = {
        {"replaced by a rename",
         [](const fs::path& f) {
             ASSERT_EQ(platform::ReplaceFileAtomically(f.string(), "[PLANCOUNT]\n"), 0);
         },
         true},
        {"written in place", [](const fs::path& f) { WriteText(f, "[DAYTIME]\n"); }, true},
        {"removed", [](const fs::path& f) { fs::remove(f); }, true},
        {"put back", [](const fs::path& f) { WriteText(f, "x"); }, true},
        {"a neighbour written",
         [](const fs::path& f) { WriteText(f.parent_path() / "other.ini", "y"); }, false},
        {"a neighbour renamed",
         [](const fs::path& f) {
             WriteText(f.parent_path() / "a.tmp", "y");
             fs::rename(f.parent_path() / "a.tmp", f.parent_path() / "b.ini");
         },
         false},
    };
    for (const bool linked : {false, true}) {
        const fs::path real = dir / "real" / "Planinfo.ini";
        const fs::path file = linked ? dir / "Planinfo.ini" : real;
        WriteText(real, "start");
        if (linked) {
            fs::remove(file);
            fs::create_symlink(real, file);  // its writes replace the file in real/
        }
        platform::FileWatch watch(file.string());
        ASSERT_TRUE(watch.Active());
        for (const Case& c : cases) {
            if (linked && std::string(c.what) == "removed")
                continue;  // the link would dangle; put back writes through it again
            const auto start = steady_clock::now();
            c.change(linked && std::string(c.what).rfind("a neighbour", 0) == 0 ? real : file);
            EXPECT_EQ(Told(watch, c.told ? 2000 : 300), c.told)
                << c.what << (linked ? ", linked" : "");
            if (c.told) {
                EXPECT_LT(steady_clock::now() - start, milliseconds(1000)) << c.what;
            }
        }
    }
    fs::remove_all(dir);
}

// A stop raised outside the worker's lock, just as the worker looks at its work, still wakes it:
// the worker waits with no timeout and never misses it.
TEST(WorkSignal, AStopIsNeverLostBetweenTheLookAndTheSleep) {
    for (int round = 0; round < 2000; ++round) {
        platform::WorkSignal signal;
        std::atomic<bool> stop{false}, done{false};
        bool rescue = false;  // frees a worker whose wake-up was lost, so the test can fail
        std::thread worker([&] {
            std::unique_lock<std::mutex> lock(signal.Mutex());
            signal.Wait(lock, [&] { return stop.load() || rescue; });
            done = true;
        });
        if (round % 2 == 0)
            std::this_thread::yield();
        stop = true;
        signal.Notify();
        const auto end = steady_clock::now() + seconds(2);
        while (!done && steady_clock::now() < end)
            std::this_thread::sleep_for(microseconds(50));
        const bool woke = done;
        signal.Change([&] { rescue = true; });
        worker.join();
        ASSERT_TRUE(woke) << "round " << round;
    }
}
