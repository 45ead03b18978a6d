// The shared line: clients connect over TCP and speak the processor's own protocol, as to a
// network processor; their whole frames go through the line queue and each question's answer
// comes back to the client that asked. One thread serves every client (Boost.Asio), each with a
// deadline on a frame it has begun, at most kMaxClients at once, only the addresses allowed.
// No Qt here.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "server/LineQueue.h"

namespace server {

struct ShareSettings {
    std::string host;                // the address to listen on: an IPv4 or IPv6 address
    int port = 0;                    // 0: any free port
    std::vector<std::string> allow;  // CIDRs of the clients that may connect besides loopback
};

// "127.0.0.1:5001" or "[::1]:5001" into host and port. False with a one-line reason that names
// the option.
bool ParseShareAddress(const std::string& text, std::string& host, int& port, std::string& error,
                       const std::string& option = "--share");
// Checks a CIDR ("192.168.0.0/24", "10.1.2.3", "fd00::/8"). False with a one-line reason.
bool CheckCidr(const std::string& cidr, std::string& error);
// The settings as a whole: a valid address and CIDRs, and an address other than loopback only
// with an allow list. False with a one-line reason.
bool CheckShareSettings(const ShareSettings& settings, std::string& error);
// A client's address may connect: loopback always, others when a CIDR of allow holds them.
bool AddressAllowed(const std::string& address, const std::vector<std::string>& allow);

class ShareServer {
public:
    static constexpr int kMaxClients = 16;
    static constexpr int kPartialFrameMs = 2000;   // a begun frame must be whole by then
    static constexpr int kMaxRepliesWaiting = 64;  // answers a client has not read yet

    // One line per client connecting, leaving, refused or dropped; warning for refusals and
    // drops. Called on the server's thread.
    using Log = std::function<void(bool warning, const std::string& text)>;
    ShareServer(LineQueue& queue, Log log);
    ~ShareServer();
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    // Binds and listens; false with a one-line reason.
    bool Open(const ShareSettings& settings, std::string& error);
    // The port listened on (the one chosen when 0 was asked for).
    int Port() const;
    // Serves on a thread of its own until Stop, which closes every client and the listener.
    void Start();
    void Stop();

    struct Impl;  // the server thread's state, with the client sessions

private:
    std::shared_ptr<Impl> m;
};

}  // namespace server
