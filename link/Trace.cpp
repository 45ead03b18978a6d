#include "link/Trace.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "link/Frame.h"
#include "platform/Clock.h"

namespace devlink {

namespace {

std::atomic<bool> g_trace{false};

// One tally for the program: every transport's discards are one figure. The lock also keeps
// its lines whole.
std::mutex g_tallyLock;
DiscardTally g_tally;

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PrintStamped(const std::string& text) {
    const platform::LocalTime t = platform::Now();
    std::printf("%02d:%02d:%02d-%03d %s\n", t.hour, t.minute, t.second, t.millisecond,
                text.c_str());
    std::fflush(stdout);
}

}  // namespace

void SetFrameTrace(bool on) {
    g_trace = on;
}

bool FrameTraceOn() {
    return g_trace;
}

void TraceFrame(bool sent, const uint8_t* bytes, int count) {
    if (!g_trace) {
        return;
    }
    PrintStamped(std::string(sent ? "-> " : "<- ") + HexText(bytes, count));
}

void TraceDiscarded(int count) {
    std::lock_guard<std::mutex> lock(g_tallyLock);
    if (const auto line = g_tally.Add(count, SteadyMs())) {
        PrintStamped(*line);
    }
}

void ReportDiscarded() {
    std::lock_guard<std::mutex> lock(g_tallyLock);
    if (const auto line = g_tally.Due(SteadyMs())) {
        PrintStamped(*line);
    }
}

void FlushDiscarded() {
    std::lock_guard<std::mutex> lock(g_tallyLock);
    if (const auto line = g_tally.Due(SteadyMs(), true)) {
        PrintStamped(*line);
    }
}

std::string GroupedNumber(int64_t n) {
    const std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out = n < 0 ? "-" : "";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::optional<std::string> DiscardTally::Add(int64_t bytes, int64_t nowMs) {
    if (bytes <= 0) {
        return std::nullopt;
    }
    if (m_pending == 0) {
        m_firstMs = nowMs;
    }
    m_pending += bytes;
    return Due(nowMs);
}

std::optional<std::string> DiscardTally::Due(int64_t nowMs, bool force) {
    if (m_pending == 0 || (!force && m_anyLine && nowMs - m_lastLineMs < kPeriodMs)) {
        return std::nullopt;
    }
    // The bytes told came within the last second, or, when the line was held back until more
    // came or someone looked, within the seconds since the first of them.
    const int64_t seconds = std::max<int64_t>(1, (nowMs - m_firstMs + kPeriodMs / 2) / kPeriodMs);
    std::string line =
        "discarded " + GroupedNumber(m_pending) + (m_pending == 1 ? " byte" : " bytes") +
        " in the last " +
        (seconds == 1 ? std::string("second") : std::to_string(seconds) + " seconds");
    m_pending = 0;
    m_lastLineMs = nowMs;
    m_anyLine = true;
    return line;
}

}  // namespace devlink
