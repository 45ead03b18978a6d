#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "link/NetTcp.h"

using namespace devlink;
using namespace std::chrono;

TEST(NetTcp, ConnectsToAListenerAndLeavesTheSocketNonBlocking) {
    testutil::Listener listener;
    int sock = -1;
    ASSERT_EQ(ConnectTcp(sock, 0x7F000001, listener.port), 1);
    ASSERT_GE(sock, 0);
    const auto start = steady_clock::now();
    char buf[13];
    EXPECT_LT(::recv(sock, buf, sizeof buf, 0), 0);  // nothing there: returns at once
    EXPECT_LT(steady_clock::now() - start, milliseconds(50));
    EXPECT_EQ(CloseTcp(sock), 1);
    EXPECT_EQ(sock, -1);
}

TEST(NetTcp, ClosedPortFailsQuicklyAndClosesTheSocket) {
    int port;
    {
        testutil::Listener gone;
        port = gone.port;
    }
    int sock = 123456;
    const auto start = steady_clock::now();
    EXPECT_EQ(ConnectTcp(sock, 0x7F000001, port), 0);
    EXPECT_EQ(sock, -1);
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
}

// A listener whose backlog is full drops the handshake, so a connect to it hangs: an abort ends
// the wait within a slice instead of the whole 3 s.
TEST(NetTcp, AnAbortEndsAConnectThatHangs) {
    const int full = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(full, 0), 0);
    ::getsockname(full, reinterpret_cast<sockaddr*>(&a), &len);
    const int port = ntohs(a.sin_port);
    std::vector<int> waiting(3, -1);
    for (int& s : waiting) {
        s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    std::this_thread::sleep_for(milliseconds(100));

    platform::StopFlag abort;
    std::thread aborter([&] {
        std::this_thread::sleep_for(milliseconds(300));
        abort.Request();
    });
    int sock = -1;
    const auto start = steady_clock::now();
    EXPECT_EQ(ConnectTcp(sock, 0x7F000001, port, &abort), 0);
    const auto took = steady_clock::now() - start;
    aborter.join();
    EXPECT_EQ(sock, -1);
    EXPECT_GE(took, milliseconds(250));
    EXPECT_LT(took, milliseconds(1000));
    for (int s : waiting)
        ::close(s);
    ::close(full);
}

TEST(NetTcp, ParsesDottedAddresses) {
    uint32_t a = 0;
    ASSERT_TRUE(ParseIPv4("192.168.1.20", a));
    EXPECT_EQ(a, 0xC0A80114u);
    EXPECT_FALSE(ParseIPv4("192.168.1", a));
    EXPECT_FALSE(ParseIPv4("300.1.1.1", a));
    EXPECT_FALSE(ParseIPv4("", a));
}
