#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "TestUtil.h"
#include "link/Commands.h"
#include "link/SerialPort.h"

using namespace devlink;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::vector<uint8_t> Bytes(int n, uint8_t first) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = static_cast<uint8_t>(first + i);
    return v;
}

struct OpenPort {
    testutil::PtyPair pty;
    CSerialPort port;
    OpenPort() {
        EXPECT_EQ(port.Open(pty.slavePath), 1);
        EXPECT_EQ(port.Configure(), 1);
    }
};

}  // namespace

TEST(SerialPort, ReadsAtMost13WithoutWaiting) {
    const testutil::FrameTraceOn trace;
    OpenPort p;
    uint8_t buf[13] = {};
    CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.port.Read(buf), 0);  // nothing queued: at once
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    p.pty.WriteMaster(Bytes(20, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(p.port.Read(buf), 13);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[12], 13);
    EXPECT_EQ(p.port.Read(buf), 7);
    EXPECT_EQ(buf[0], 14);
    const std::string out = GetCapturedStdout();
    EXPECT_TRUE(std::regex_search(
        out, std::regex(R"(^\d\d:\d\d:\d\d-\d\d\d <- 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d\n)")))
        << out;
    EXPECT_NE(out.find(" <- 0e 0f 10 11 12 13 14\n"), std::string::npos) << out;
}

// The trace is there when asked for, and only then.
TEST(SerialPort, WriteSendsTheFrameAndTracesItWhenAsked) {
    OpenPort p;
    const Frame f = StatusQuery(1);
    CaptureStdout();
    EXPECT_EQ(p.port.Write(f.data()), 13);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(p.pty.ReadMaster(13, 1000), std::vector<uint8_t>(f.begin(), f.end()));

    const testutil::FrameTraceOn trace;
    CaptureStdout();
    EXPECT_EQ(p.port.Write(f.data()), 13);
    const std::string out = GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(
        out, std::regex(R"(\d\d:\d\d:\d\d-\d\d\d -> 05 01 fe 00 00 00 00 00 00 00 00 00 fa\n)")))
        << out;
    EXPECT_EQ(p.pty.ReadMaster(13, 1000), std::vector<uint8_t>(f.begin(), f.end()));
}

TEST(SerialPort, ClosedOrUnconfiguredPortDoesNothingQuietly) {
    testutil::PtyPair pty;
    CSerialPort never;
    CSerialPort unconfigured;
    ASSERT_EQ(unconfigured.Open(pty.slavePath), 1);
    CSerialPort closed;
    ASSERT_EQ(closed.Open(pty.slavePath + "x"), 0);  // prints its own error; not checked here
    closed.Close();
    const Frame f = StatusQuery(1);
    uint8_t buf[13];
    CaptureStdout();
    for (CSerialPort* port : {&never, &unconfigured, &closed}) {
        EXPECT_EQ(port->Write(f.data()), 0);
        EXPECT_EQ(port->Read(buf), 0);
    }
    EXPECT_EQ(GetCapturedStdout(), "");
}

// One program on a line at a time, for root too (the suite runs as root, whom the exclusive mode
// of the tty does not stop): the second opener is refused as "in use" until the first closes.
TEST(SerialPort, SecondOpenerIsRefusedAsInUse) {
    testutil::PtyPair pty;
    CSerialPort first, second;
    ASSERT_EQ(first.Open(pty.slavePath), 1);
    CaptureStdout();
    EXPECT_EQ(second.Open(pty.slavePath), 0);
    EXPECT_EQ(GetCapturedStdout(), "CreateFile Error\nGetLastError: Device or resource busy\n");
    EXPECT_TRUE(second.InUse());
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_EQ(second.Open(pty.slavePath), 1);
    EXPECT_FALSE(second.InUse());
}

TEST(SerialPort, OpenFailureAndReopen) {
    CaptureStdout();
    CSerialPort port;
    EXPECT_EQ(port.Open("/dev/no-such-port-orn312"), 0);
    EXPECT_EQ(GetCapturedStdout(), "CreateFile Error\nGetLastError: No such file or directory\n");

    // Closing gives the port back: the same device opens again.
    testutil::PtyPair pty;
    ASSERT_EQ(port.Open(pty.slavePath), 1);
    ASSERT_EQ(port.Configure(), 1);
    port.Close();
    EXPECT_EQ(port.Open(pty.slavePath), 1);
}
