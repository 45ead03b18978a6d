// The TCP path to the processor: a bounded, non-blocking connect, and the close rule.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "platform/Clock.h"

namespace devlink {

// Connects to addressHostOrder:port within 3.003 s. On success stores the socket, left
// non-blocking, in socketOut and returns 1; otherwise the socket is closed, socketOut is -1 and
// the result 0. Prints "Connection timeout\n" or "Unknown err in connect\n" where it gives up.
// When abort is given and raised, the wait ends within about 100 ms and the connect fails.
// When why is given, a failure leaves its errno value there (ECONNREFUSED, EHOSTUNREACH,
// ENETUNREACH, ETIMEDOUT, ECANCELED for an abort, ...), 0 on success.
int ConnectTcp(int& socketOut, uint32_t addressHostOrder, int port,
               const platform::StopFlag* abort = nullptr, int* why = nullptr);

// ConnectTcp to an address of any family (an IPv6 one: sockaddr_in6), with the same limit and
// results.
int ConnectTcpAddress(int& socketOut, const sockaddr* address, socklen_t length,
                      const platform::StopFlag* abort = nullptr, int* why = nullptr);

// Closes the socket (if any) and sets it to -1. Returns 1 when the close succeeded.
int CloseTcp(int& socket);

// The service's shared line marks a client's connection with this one byte of TCP urgent data,
// sent once, right after the first identification answer it passes to that client. Urgent data
// is kept out of the stream: readers of the processor's protocol never see it, and a real
// processor never sends it. (The mark is readable until the stream is read past it; a question
// pauses 200 ms after its answer, long enough for the mark to arrive before the next read.)
constexpr uint8_t kSharedLineMark = 'S';
// True when the peer of the connected socket marked it as the service's shared line. Takes the
// urgent byte, never stream data; does not wait.
bool SharedLineMarked(int socket);

// Parses a dotted IPv4 address ("192.168.0.10") into host order; false when it is not one.
bool ParseIPv4(const char* text, uint32_t& addressHostOrder);

}  // namespace devlink
