#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>

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

TEST(NetTcp, ParsesDottedAddresses) {
    uint32_t a = 0;
    ASSERT_TRUE(ParseIPv4("192.168.1.20", a));
    EXPECT_EQ(a, 0xC0A80114u);
    EXPECT_FALSE(ParseIPv4("192.168.1", a));
    EXPECT_FALSE(ParseIPv4("300.1.1.1", a));
    EXPECT_FALSE(ParseIPv4("", a));
}
