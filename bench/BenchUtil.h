// Helpers of the measuring programs: local time of day, the simulator's log (BenchLog.h), the
// event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include "BenchLog.h"

namespace bench {

// Runs the event loop for ms milliseconds.
inline void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace bench
