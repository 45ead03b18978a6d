#include "link/NetTcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace devlink {

int CloseTcp(int& socket) {
    int ok = 1;
    if (socket >= 0) {
        ok = ::close(socket) == 0 ? 1 : 0;
    }
    socket = -1;
    return ok;
}

bool SharedLineMarked(int socket) {
    if (socket < 0) {
        return false;
    }
    uint8_t mark = 0;
    ssize_t n;
    do {
        n = ::recv(socket, &mark, 1, MSG_OOB | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n == 1 && mark == kSharedLineMark;
}

namespace {

// ConnectTcp to any address (IPv4 or IPv6), with the errno value of a failure in why.
int Connect(int& socketOut, const sockaddr* address, socklen_t length,
            const platform::StopFlag* abort, int& why) {
    why = 0;
    socketOut = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socketOut < 0) {
        why = errno;
        socketOut = -1;
        return 0;
    }
    const int flags = ::fcntl(socketOut, F_GETFL);
    ::fcntl(socketOut, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);
    // Frames are 13 bytes and must go out at once, not wait for more data.
    const int one = 1;
    ::setsockopt(socketOut, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    if (::connect(socketOut, address, length) == 0) {
        return 1;
    }
    if (errno != EINPROGRESS) {
        why = errno;
        CloseTcp(socketOut);
        return 0;
    }

    // The 3.003 s wait is cut into slices, so that an abort is seen within one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3003);
    fd_set readSet, writeSet;
    int ready = 0;
    for (;;) {
        if (abort != nullptr && abort->Requested()) {
            why = ECANCELED;
            CloseTcp(socketOut);
            return 0;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ready = 0;
            break;
        }
        const long slice = std::min<long>(static_cast<long>(left.count()), 100000);
        FD_ZERO(&readSet);
        FD_ZERO(&writeSet);
        FD_SET(socketOut, &readSet);
        FD_SET(socketOut, &writeSet);
        timeval limit{slice / 1000000, slice % 1000000};
        ready = ::select(socketOut + 1, &readSet, &writeSet, nullptr, &limit);
        if (ready != 0 && !(ready < 0 && errno == EINTR)) {
            break;
        }
    }

    if (ready == 0) {
        why = ETIMEDOUT;
        std::printf("Connection timeout\n");
        std::fflush(stdout);
        CloseTcp(socketOut);
        return 0;
    }
    if (ready > 0 && (FD_ISSET(socketOut, &readSet) || FD_ISSET(socketOut, &writeSet))) {
        int pending = 0;
        socklen_t len = sizeof pending;
        if (::getsockopt(socketOut, SOL_SOCKET, SO_ERROR, &pending, &len) == 0 && pending == 0) {
            return 1;
        }
        why = pending != 0 ? pending : errno;
        CloseTcp(socketOut);
        return 0;
    }
    why = errno;
    std::printf("Unknown err in connect\n");
    std::fflush(stdout);
    CloseTcp(socketOut);
    return 0;
}

}  // namespace

int ConnectTcp(int& socketOut, uint32_t addressHostOrder, int port, const platform::StopFlag* abort,
               int* why) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(addressHostOrder);
    return ConnectTcpAddress(socketOut, reinterpret_cast<const sockaddr*>(&addr), sizeof addr,
                             abort, why);
}

int ConnectTcpAddress(int& socketOut, const sockaddr* address, socklen_t length,
                      const platform::StopFlag* abort, int* why) {
    int reason = 0;
    const int result = Connect(socketOut, address, length, abort, reason);
    if (why != nullptr)
        *why = reason;
    return result;
}

bool ParseIPv4(const char* text, uint32_t& addressHostOrder) {
    in_addr a{};
    if (text == nullptr || ::inet_pton(AF_INET, text, &a) != 1) {
        return false;
    }
    addressHostOrder = ntohl(a.s_addr);
    return true;
}

}  // namespace devlink
