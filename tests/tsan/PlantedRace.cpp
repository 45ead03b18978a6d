// Races planted for the thread sanitizer build, run with the suppressions in force:
//   timer  a QTimer handler on the UI thread and a std::thread write one plain int: reported.
//   late   a worker posts a change to the UI thread, then writes what the change reads: reported,
//          the hand-over orders only what came before it.
//   clean  a worker writes, then posts a change that reads it: ordered by the hand-over, no
//          report.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "controls/PostBox.h"

namespace {

int g_shared = 0;  // plain, unguarded

int TimerRace(QCoreApplication& app) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [] { ++g_shared; });
    timer.start(1);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            ++g_shared;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    QTimer::singleShot(300, &app, &QCoreApplication::quit);
    app.exec();
    stop = true;
    worker.join();
    return 0;
}

int HandOver(bool writeAfterPosting) {
    ui::PostBox box(nullptr);
    int seen = 0;
    bool ran = false;  // UI thread only
    std::thread worker([&] {
        if (!writeAfterPosting) {
            g_shared = 1;
        }
        box.Post([&] {
            seen = g_shared;
            ran = true;
        });
        if (writeAfterPosting) {
            g_shared = 2;
        }
    });
    // The UI thread takes the change straight from the queue, as a busy event loop does between
    // two events, not after a wake-up: the sanitizer takes the write and read of the wake-up
    // descriptor for an order of their own, and would hide what the hand-over lacks.
    while (!ran) {
        QCoreApplication::sendPostedEvents();
        std::this_thread::yield();
    }
    worker.join();
    std::printf("seen %d\n", seen);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "timer") == 0) {
        return TimerRace(app);
    }
    if (std::strcmp(mode, "late") == 0 || std::strcmp(mode, "clean") == 0) {
        return HandOver(std::strcmp(mode, "late") == 0);
    }
    std::fprintf(stderr, "usage: %s timer|late|clean\n", argv[0]);
    return 2;
}
