#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "TestUtil.h"
#include "link/Commands.h"
#include "link/Link.h"
#include "link/NetTcp.h"
#include "link/Replies.h"

using namespace devlink;
using namespace std::chrono;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Status reply of device 1 with recognisable bytes.
Frame Reply(uint8_t leader = kLeader) {
    Frame f = MakeFrame(1, {0xFE, 0x00, 0x02, 0x01, 0x00, 0x40, 0x01, 0x01, 0x02, 0x03});
    f[0] = leader;
    return f;
}

std::vector<uint8_t> Slice(const Frame& f, int from, int to) {
    return std::vector<uint8_t>(f.begin() + from, f.begin() + to);
}

// The device side of a serial link: waits for the query, then answers in pieces ~150 ms apart,
// so that each piece arrives at its own read attempt.
struct SerialDevice {
    testutil::PtyPair pty;
    LinkConnection link;
    std::thread device;

    SerialDevice() {
        link.m_bSerial = 1;
        EXPECT_EQ(link.m_serialPort.Open(pty.slavePath), 1);
        EXPECT_EQ(link.m_serialPort.Configure(), 1);
    }
    void AnswerWith(std::vector<std::vector<uint8_t>> pieces) {
        device = std::thread([this, pieces] {
            pty.ReadMaster(13, 2000);
            for (const auto& p : pieces) {
                pty.WriteMaster(p);
                std::this_thread::sleep_for(milliseconds(150));
            }
        });
    }
    ~SerialDevice() {
        if (device.joinable())
            device.join();
    }
};

struct TcpDevice {
    testutil::Listener listener;
    LinkConnection link;
    int peer = -1;
    std::thread device;

    TcpDevice() {
        link.m_bSerial = 0;
        EXPECT_EQ(ConnectTcp(link.m_socket, 0x7F000001, listener.port), 1);
        peer = listener.Accept(2000);
        EXPECT_GE(peer, 0);
    }
    void AnswerWith(std::vector<std::vector<uint8_t>> pieces, int gapMs) {
        device = std::thread([this, pieces, gapMs] {
            uint8_t q[13];
            size_t got = 0;
            while (got < 13) {
                const ssize_t n = ::recv(peer, q + got, 13 - got, 0);
                if (n <= 0)
                    return;
                got += static_cast<size_t>(n);
            }
            for (const auto& p : pieces) {
                ::send(peer, p.data(), p.size(), MSG_NOSIGNAL);
                std::this_thread::sleep_for(milliseconds(gapMs));
            }
        });
    }
    ~TcpDevice() {
        if (device.joinable())
            device.join();
        CloseTcp(link.m_socket);
        if (peer >= 0)
            ::close(peer);
    }
};

}  // namespace

TEST(Query, SerialReplyInPiecesIsAssembled) {
    SerialDevice d;
    const Frame r = Reply();
    d.AnswerWith({Slice(r, 0, 5), Slice(r, 5, 13)});
    uint8_t reply[13] = {};
    CaptureStdout();
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 5000), 13);
    GetCapturedStdout();
    EXPECT_EQ(Frame(std::to_array(reply)), r);
}

TEST(Query, SerialPiecesWithAWrongLeaderAreRefused) {
    SerialDevice d;
    const Frame r = Reply(0x06);
    d.AnswerWith({Slice(r, 0, 5), Slice(r, 5, 13)});
    uint8_t reply[13] = {0xAA};
    CaptureStdout();
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 5000), 0);
    GetCapturedStdout();
    EXPECT_EQ(reply[0], 0xAA);  // untouched
}

TEST(Query, SerialPiecesPastThirteenNeverOverfillTheAssembly) {
    // 6 + 9 bytes: the first 13 are kept and judged, the surplus dropped.
    SerialDevice d;
    const Frame r = Reply();
    std::vector<uint8_t> second = Slice(r, 6, 13);
    second.push_back(0xEE);
    second.push_back(0xEF);
    d.AnswerWith({Slice(r, 0, 6), second});
    uint8_t reply[13] = {};
    CaptureStdout();
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 5000), 13);
    GetCapturedStdout();
    EXPECT_EQ(Frame(std::to_array(reply)), r);
}

TEST(Query, LimitBelowOneTrySendsAndReturnsAtOnce) {
    SerialDevice d;
    uint8_t reply[13] = {};
    CaptureStdout();
    const auto start = steady_clock::now();
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 99), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(50));
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("-> 05 01 fe 00"), std::string::npos);  // the frame went out
    EXPECT_EQ(out.find("<-"), std::string::npos);              // nothing was read
    EXPECT_EQ(d.pty.ReadMaster(13, 500).size(), 13u);
}

TEST(Query, NoAnswerUsesAllTriesAndLeavesTheReply) {
    SerialDevice d;
    uint8_t reply[13] = {0xAA};
    CaptureStdout();
    const auto start = steady_clock::now();
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 500), 0);
    const auto took = steady_clock::now() - start;
    GetCapturedStdout();
    EXPECT_GE(took, milliseconds(450));
    EXPECT_LT(took, milliseconds(2000));
    EXPECT_EQ(reply[0], 0xAA);
}

TEST(Query, NullFramesAndZeroDelay) {
    SerialDevice d;
    uint8_t reply[13] = {};
    EXPECT_EQ(QueryCommand(d.link, nullptr, reply, 1000), 0);
    CaptureStdout();
    const auto start = steady_clock::now();
    SendCommand(d.link, nullptr, 3000);
    SendCommand(d.link, StatusQuery(1).data(), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(100));
    GetCapturedStdout();
}

TEST(Query, TcpReplyInPiecesIsJoined) {
    TcpDevice d;
    const Frame r = Reply();
    d.AnswerWith({Slice(r, 0, 5), Slice(r, 5, 13)}, 30);
    uint8_t reply[13] = {};
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 5000), 13);
    EXPECT_EQ(Frame(std::to_array(reply)), r);
}

TEST(Query, TcpReplyThatStaysShortIsPaddedWithZeros) {
    TcpDevice d;
    const Frame r = Reply();
    d.AnswerWith({Slice(r, 0, 7)}, 0);
    uint8_t reply[13];
    std::fill(std::begin(reply), std::end(reply), 0xAA);
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 5000), 13);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(reply[i], r[static_cast<size_t>(i)]);
    for (int i = 7; i < 13; ++i)
        EXPECT_EQ(reply[i], 0x00) << i;
}

TEST(Query, TcpSendFailureReturnsAtOnce) {
    LinkConnection link;  // network, no socket
    uint8_t reply[13] = {};
    const auto start = steady_clock::now();
    EXPECT_EQ(QueryCommand(link, StatusQuery(1).data(), reply, 5000), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(50));
}

TEST(Query, AbortEndsTheWaitEarly) {
    SerialDevice d;
    platform::StopFlag abort;
    d.link.m_abort = &abort;
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(200));
        abort.Request();
    });
    CaptureStdout();
    const auto start = steady_clock::now();
    SendCommand(d.link, StatusQuery(1).data(), 20000);
    uint8_t reply[13];
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply, 5000), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(3000));
    GetCapturedStdout();
    stopper.join();
    // Both frames went out whole.
    EXPECT_EQ(d.pty.ReadMaster(26, 500).size(), 26u);
}
