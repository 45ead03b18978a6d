// The link's output under a flood of bytes that belong to no question (a broken cable, a wrong
// device on the port): one summary line at most once a second, however fast they come, and no
// frame trace unless asked for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "link/Commands.h"
#include "link/Link.h"
#include "link/Trace.h"

using namespace devlink;
using namespace std::chrono;

TEST(Trace, DiscardedBytesAreSummedUpAtMostOnceASecond) {
    DiscardTally tally;
    struct Step {
        int64_t bytes;  // 0: a look (Due) only
        int64_t atMs;
        bool force;
        const char* line;  // nullptr: none due
    };
    const Step steps[] = {
        {13, 0, false, "discarded 13 bytes in the last second"},  // the first: at once
        {64, 100, false, nullptr},
        {64, 500, false, nullptr},
        {0, 900, false, nullptr},
        {1'234'432, 1000, false, "discarded 1,234,560 bytes in the last second"},
        {0, 1500, false, nullptr},  // nothing left to tell
        {5, 1200 + 600, false, nullptr},
        {0, 1999, false, nullptr},
        {0, 3900, false, "discarded 5 bytes in the last 2 seconds"},  // held back, then looked at
        {1, 4000, false, nullptr},
        {0, 4001, true, "discarded 1 byte in the last second"},  // a connection that closes
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.atMs);
        const auto line = s.bytes > 0 ? tally.Add(s.bytes, s.atMs) : tally.Due(s.atMs, s.force);
        if (s.line == nullptr)
            EXPECT_FALSE(line) << *line;
        else
            EXPECT_EQ(line.value_or("<none>"), s.line);
    }
    for (auto [n, text] : std::vector<std::pair<int64_t, const char*>>{
             {0, "0"}, {999, "999"}, {1000, "1,000"}, {763'000'000, "763,000,000"}})
        EXPECT_EQ(GroupedNumber(n), text);
}

// A peer that sends garbage without a pause while the link polls it as the connection does:
// over TCP and over a serial line (a pseudo-terminal, as fast as the kernel takes bytes).
TEST(Trace, AFloodGivesBoundedOutputAndTheSummaryLine) {
    for (bool serial : {false, true}) {
        SCOPED_TRACE(serial ? "serial" : "tcp");
        LinkConnection link;
        std::unique_ptr<testutil::PtyPair> pty;
        int peer = -1;
        if (serial) {
            pty = std::make_unique<testutil::PtyPair>();
            link.m_bSerial = 1;
            ASSERT_EQ(link.m_serialPort.Open(pty->slavePath), 1);
            ASSERT_EQ(link.m_serialPort.Configure(), 1);
            peer = pty->master;
        } else {
            int pair[2];
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
            link.m_socket = pair[0];
            peer = pair[1];
        }
        // Never blocked in a write once the link stops reading.
        ::fcntl(peer, F_SETFL, ::fcntl(peer, F_GETFL) | O_NONBLOCK);
        std::atomic<bool> stop{false};
        std::atomic<int64_t> sent{0};
        std::thread flood([&] {
            std::vector<uint8_t> garbage(4096);
            for (size_t i = 0; i < garbage.size(); ++i)
                garbage[i] = static_cast<uint8_t>(i * 37 + 11);
            while (!stop) {
                const ssize_t n = ::write(peer, garbage.data(), garbage.size());
                if (n > 0)
                    sent += n;
                else
                    std::this_thread::sleep_for(milliseconds(1));
            }
        });
        testing::internal::CaptureStdout();
        const auto start = steady_clock::now();
        while (steady_clock::now() - start < milliseconds(3000)) {
            Frame reply{};
            QueryCommand(link, StatusQuery(1).data(), reply.data(), 300, QueryReplyShape(1));
        }
        stop = true;
        flood.join();
        FlushDiscarded();
        const std::string out = testing::internal::GetCapturedStdout();
        if (!serial)
            ::close(peer), ::close(link.m_socket);
        EXPECT_GT(sent, 1'000'000);  // a flood indeed
        // Three seconds: the first line at once, then at most one a second, and the last.
        const std::regex summary(
            R"(\d\d:\d\d:\d\d-\d\d\d discarded \d{1,3}(,\d\d\d)* bytes? in the last (second|\d+ seconds)\n)");
        int lines = 0;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line); ++lines)
            EXPECT_TRUE(std::regex_match(line + "\n", summary)) << line;
        EXPECT_GE(lines, 2) << out;
        EXPECT_LE(lines, 6) << out;
        EXPECT_LT(out.size(), 1000u) << out;
        EXPECT_EQ(out.find("->"), std::string::npos);  // no trace without -v
    }
}
