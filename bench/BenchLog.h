// Helpers of the measuring programs without Qt: local time of day and the simulator's log.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

namespace bench {

// Milliseconds since local midnight, as the simulator's log stamps its lines.
inline int64_t LocalMsOfDay() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const time_t secs = system_clock::to_time_t(now);
    struct tm t {};
    localtime_r(&secs, &t);
    const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return ((t.tm_hour * 60 + t.tm_min) * 60 + t.tm_sec) * 1000 + ms;
}

// Arrival time (ms of day) of the n-th line (0-based) of the log file that holds text.
inline bool ArrivalOf(const std::string& logPath, const std::string& text, int n, int64_t& ms) {
    std::ifstream in(logPath);
    std::string line;
    int seen = 0;
    while (std::getline(in, line)) {
        if (line.find(text) == std::string::npos)
            continue;
        if (seen++ < n)
            continue;
        int h, m, s, milli;
        if (std::sscanf(line.c_str(), "%d:%d:%d.%d", &h, &m, &s, &milli) != 4)
            return false;
        ms = ((h * 60 + m) * 60 + s) * 1000 + milli;
        return true;
    }
    return false;
}

}  // namespace bench
