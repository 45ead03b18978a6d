#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
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
    const testutil::FrameTraceOn trace;
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

namespace {

// The device end of either transport, for scripts that answer queries late, twice or in pieces.
class DeviceEnd {
public:
    explicit DeviceEnd(bool serial) : m_serial(serial) {
        if (serial) {
            m_pty = std::make_unique<testutil::PtyPair>();
            link.m_bSerial = 1;
            EXPECT_EQ(link.m_serialPort.Open(m_pty->slavePath), 1);
            EXPECT_EQ(link.m_serialPort.Configure(), 1);
        } else {
            m_listener = std::make_unique<testutil::Listener>();
            EXPECT_EQ(ConnectTcp(link.m_socket, 0x7F000001, m_listener->port), 1);
            m_peer = m_listener->Accept(2000);
            EXPECT_GE(m_peer, 0);
        }
    }
    ~DeviceEnd() {
        if (m_thread.joinable())
            m_thread.join();
        CloseTcp(link.m_socket);
        if (m_peer >= 0)
            ::close(m_peer);
    }
    // Waits for one whole query from the controller.
    bool ReadQuery(int waitMs = 3000) {
        if (m_serial)
            return m_pty->ReadMaster(13, waitMs).size() == 13;
        uint8_t q[13];
        size_t got = 0;
        const auto end = steady_clock::now() + milliseconds(waitMs);
        while (got < 13 && steady_clock::now() < end) {
            const ssize_t n = ::recv(m_peer, q + got, 13 - got, MSG_DONTWAIT);
            if (n > 0)
                got += static_cast<size_t>(n);
            else
                std::this_thread::sleep_for(milliseconds(5));
        }
        return got == 13;
    }
    void Write(const std::vector<uint8_t>& bytes) {
        if (m_serial)
            m_pty->WriteMaster(bytes);
        else
            ::send(m_peer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void Write(const Frame& f) { Write(std::vector<uint8_t>(f.begin(), f.end())); }
    void ClosePeer() {
        ::close(m_peer);
        m_peer = -1;
    }
    void Script(std::function<void(DeviceEnd&)> script) {
        m_thread = std::thread([this, script] { script(*this); });
    }
    void Join() {
        if (m_thread.joinable())
            m_thread.join();
    }

    LinkConnection link;

private:
    bool m_serial;
    std::unique_ptr<testutil::PtyPair> m_pty;
    std::unique_ptr<testutil::Listener> m_listener;
    int m_peer = -1;
    std::thread m_thread;
};

// The state before and after: replies that differ in byte 5.
Frame OldReply() {
    Frame f = Reply();
    f[5] = 0x11;
    return f;
}
Frame NewReply() {
    Frame f = Reply();
    f[5] = 0x22;
    return f;
}

std::vector<uint8_t> Join(std::initializer_list<Frame> frames) {
    std::vector<uint8_t> out;
    for (const Frame& f : frames)
        out.insert(out.end(), f.begin(), f.end());
    return out;
}

}  // namespace

// Input that belongs to no question (a backlog, a stray byte, a late reply) may cost one reply,
// never every later one: the next query after it reads the device's current answer.
TEST(Query, LateAndStrayInputNeverShiftsTheNextReply) {
    struct Case {
        const char* name;
        // What the device does around the first query, which the controller asks with a 300 ms
        // limit; then it answers the second query with the new state.
        std::function<void(DeviceEnd&)> first;
    };
    const Case cases[] = {
        {"five queued answers released at once",
         [](DeviceEnd& d) {
             d.ReadQuery();
             std::this_thread::sleep_for(milliseconds(500));  // the query has given up
             d.Write(Join({OldReply(), OldReply(), OldReply(), OldReply(), OldReply()}));
         }},
        {"one stray byte after a query that gave up",
         [](DeviceEnd& d) {
             d.ReadQuery();
             std::this_thread::sleep_for(milliseconds(500));
             d.Write(std::vector<uint8_t>{0x05});
         }},
        {"a reply after the time limit",
         [](DeviceEnd& d) {
             d.ReadQuery();
             std::this_thread::sleep_for(milliseconds(450));
             d.Write(OldReply());
         }},
        {"a reply torn across two queries",
         [](DeviceEnd& d) {
             d.ReadQuery();
             const Frame old = OldReply();
             d.Write(Slice(old, 0, 5));
             std::this_thread::sleep_for(milliseconds(500));
             d.Write(Slice(old, 5, 13));
         }},
    };
    for (bool serial : {true, false}) {
        for (const Case& k : cases) {
            const std::string name = std::string(serial ? "serial: " : "tcp: ") + k.name;
            DeviceEnd d(serial);
            d.Script([&](DeviceEnd& dev) {
                k.first(dev);
                std::this_thread::sleep_for(milliseconds(200));
                if (dev.ReadQuery())
                    dev.Write(NewReply());
            });
            CaptureStdout();
            Frame reply{};
            QueryCommand(d.link, StatusQuery(1).data(), reply.data(), 300);
            std::this_thread::sleep_for(milliseconds(700));  // the late input is in by now
            Frame second{};
            EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), second.data(), 2000), 13) << name;
            d.Join();
            FlushDiscarded();  // told at most once a second: the count not yet told, now
            const std::string trace = GetCapturedStdout();
            EXPECT_EQ(second, NewReply()) << name;
            EXPECT_NE(trace.find("discarded"), std::string::npos) << name << "\n" << trace;
        }
    }
}

// Over the serial line a whole frame read at once is that frame, even after a torn piece of
// another within the same query: two replies are never spliced into one.
TEST(Query, SerialNeverSplicesTwoReplies) {
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> pieces;  // written ~150 ms apart after the query
        Frame expected;
    };
    const Frame old = OldReply(), now = NewReply();
    const Case cases[] = {
        {"stale 5 + whole 13", {Slice(old, 0, 5), Slice(now, 0, 13)}, now},
        {"stale 12 + whole 13", {Slice(old, 0, 12), Slice(now, 0, 13)}, now},
        {"two whole frames at once", {Join({now, old})}, now},
    };
    for (const Case& k : cases) {
        SerialDevice d;
        d.AnswerWith(k.pieces);
        Frame reply{};
        CaptureStdout();
        EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply.data(), 3000), 13) << k.name;
        GetCapturedStdout();
        EXPECT_EQ(reply, k.expected) << k.name;
    }
}

// A try waits for the reply's bytes instead of sleeping blindly: a reply 30 ms after the query
// is taken by a query of one single 100 ms try.
TEST(Query, ReplyIsPickedUpWithinTheTryItArrivesIn) {
    for (bool serial : {true, false}) {
        DeviceEnd d(serial);
        d.Script([](DeviceEnd& dev) {
            if (dev.ReadQuery()) {
                std::this_thread::sleep_for(milliseconds(30));
                dev.Write(NewReply());
            }
        });
        CaptureStdout();
        Frame reply{};
        EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply.data(), 100), 13) << serial;
        GetCapturedStdout();
        d.Join();
        EXPECT_EQ(reply, NewReply()) << serial;
    }
}

TEST(Query, TcpPeerThatClosesIsNotedAtOnce) {
    DeviceEnd d(false);
    d.Script([](DeviceEnd& dev) {
        dev.ReadQuery();
        dev.ClosePeer();
    });
    Frame reply{};
    const auto start = steady_clock::now();
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply.data(), 5000), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
    d.Join();
    EXPECT_TRUE(d.link.m_peerClosed);
    // Later queries fail at once too.
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply.data(), 5000), 0);
}

// A query that leaves the pause after its reply owed returns with the reply; the next frame on
// the link waits for the rest of the pause, so the processor still gets it.
TEST(Query, APauseLeftOwedAfterAReplyIsKeptByTheNextFrame) {
    TcpDevice d;
    const Frame r = Reply();
    d.AnswerWith({Slice(r, 0, 13)}, 0);
    d.link.m_owePauseAfterReply = true;
    Frame reply{};
    const auto asked = steady_clock::now();
    EXPECT_EQ(QueryCommand(d.link, StatusQuery(1).data(), reply.data(), 2000), 13);
    const auto answered = steady_clock::now();
    EXPECT_EQ(reply, r);
    EXPECT_LT(answered - asked, milliseconds(150));  // no pause slept after the reply
    EXPECT_GT(QuietLeftMs(d.link), 100);
    EXPECT_TRUE(SendCommand(d.link, FreezeCommand(1, true).data(), 0));
    EXPECT_GE(steady_clock::now() - answered, milliseconds(195));
    EXPECT_EQ(QuietLeftMs(d.link), 0);
}
