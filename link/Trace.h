// The link's diagnostics on standard output: the time-stamped hex trace of every serial frame,
// printed only when asked for (-v or --trace), and the bytes thrown away because they belonged to
// no question, summed up in one line at most once a second whatever their rate, so that a broken
// cable or a wrong device on the line cannot fill the disk that holds the program's output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devlink {

// Turns the frame trace on or off (off at the start). Any thread.
void SetFrameTrace(bool on);
bool FrameTraceOn();

// Prints "hh:mm:ss-mmm -> 05 01 ..." (sent) or "<-" (received) on standard output, when the
// trace is on.
void TraceFrame(bool sent, const uint8_t* bytes, int count);

// Counts input that arrived before a question and belongs to none. The count is told as
// "hh:mm:ss-mmm discarded 1,234,560 bytes in the last second": at once when the last such line
// is a second old or more, otherwise with the next count or look (ReportDiscarded) a second
// after it.
void TraceDiscarded(int count);
// Prints the count not yet told when its second is up. Called before each question.
void ReportDiscarded();
// Prints the count not yet told, now (a connection that closes, a program that ends).
void FlushDiscarded();

// 1234560 as "1,234,560".
std::string GroupedNumber(int64_t n);

// The rule behind TraceDiscarded, on a clock of the caller's: bytes in, summary lines out.
class DiscardTally {
public:
    static constexpr int64_t kPeriodMs = 1000;
    // Counts bytes discarded at nowMs; the line to print when one is due.
    std::optional<std::string> Add(int64_t bytes, int64_t nowMs);
    // The line for the bytes not yet told, when one is due (always, with force, when any wait).
    std::optional<std::string> Due(int64_t nowMs, bool force = false);

private:
    int64_t m_pending = 0;  // bytes not yet told
    int64_t m_firstMs = 0;  // when the first of them came
    int64_t m_lastLineMs = 0;
    bool m_anyLine = false;
};

}  // namespace devlink
