// The TCP path to the processor: a bounded, non-blocking connect, and the close rule.
#pragma once

#include <cstdint>

namespace devlink {

// Connects to addressHostOrder:port within 3.003 s. On success stores the socket, left
// non-blocking, in socketOut and returns 1; otherwise the socket is closed, socketOut is -1 and
// the result 0. Prints "Connection timeout\n" or "Unknown err in connect\n" where it gives up.
int ConnectTcp(int& socketOut, uint32_t addressHostOrder, int port);

// Closes the socket (if any) and sets it to -1. Returns 1 when the close succeeded.
int CloseTcp(int& socket);

// Parses a dotted IPv4 address ("192.168.0.10") into host order; false when it is not one.
bool ParseIPv4(const char* text, uint32_t& addressHostOrder);

}  // namespace devlink
