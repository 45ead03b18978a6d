#include "server/ShareServer.h"

#include <utility>  // before Asio, whose C++20 headers use std::exchange

#include <boost/asio.hpp>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "link/NetTcp.h"
#include "server/NetAddress.h"

namespace server {

namespace asio = boost::asio;
using asio::ip::tcp;
using devlink::Frame;

namespace {

// Reads "ADDR" or "ADDR/BITS" into a network address and prefix length.
bool ParseCidr(const std::string& text, asio::ip::address& net, int& bits, std::string& error) {
    const size_t slash = text.find('/');
    boost::system::error_code ec;
    net = asio::ip::make_address(text.substr(0, slash), ec);
    if (ec) {
        error = "--share-allow " + text + ": not an IP address or network (192.168.0.0/24)";
        return false;
    }
    const int most = net.is_v4() ? 32 : 128;
    bits = most;
    if (slash != std::string::npos) {
        const std::string b = text.substr(slash + 1);
        char* end = nullptr;
        const long v = std::strtol(b.c_str(), &end, 10);
        if (b.empty() || *end != '\0' || v < 0 || v > most) {
            error =
                "--share-allow " + text + ": the prefix length must be 0.." + std::to_string(most);
            return false;
        }
        bits = static_cast<int>(v);
    }
    return true;
}

bool Within(const asio::ip::address& a, const asio::ip::address& net, int bits) {
    if (a.is_v4() != net.is_v4()) {
        return false;
    }
    if (a.is_v4()) {
        return asio::ip::make_network_v4(a.to_v4(), bits).network() ==
               asio::ip::make_network_v4(net.to_v4(), bits).network();
    }
    return asio::ip::make_network_v6(a.to_v6(), bits).network() ==
           asio::ip::make_network_v6(net.to_v6(), bits).network();
}

}  // namespace

bool ParseShareAddress(const std::string& text, std::string& host, int& port, std::string& error,
                       const std::string& option) {
    size_t colon;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = option + " " + text + ": give ADDRESS:PORT ([::1]:5001 for IPv6)";
            return false;
        }
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) {
            error = option + " " + text + ": give ADDRESS:PORT (127.0.0.1:5001)";
            return false;
        }
        host = text.substr(0, colon);
    }
    const std::string p = text.substr(colon + 1);
    char* end = nullptr;
    const long v = std::strtol(p.c_str(), &end, 10);
    if (p.empty() || *end != '\0' || v < 0 || v > 65535) {
        error = option + " " + text + ": the port must be 0..65535";
        return false;
    }
    port = static_cast<int>(v);
    boost::system::error_code ec;
    asio::ip::make_address(host, ec);
    if (ec) {
        error = option + " " + text + ": " + host + " is not an IP address";
        return false;
    }
    return true;
}

bool CheckCidr(const std::string& cidr, std::string& error) {
    asio::ip::address net;
    int bits = 0;
    return ParseCidr(cidr, net, bits, error);
}

bool CheckShareSettings(const ShareSettings& s, std::string& error) {
    boost::system::error_code ec;
    const asio::ip::address a = asio::ip::make_address(s.host, ec);
    if (ec) {
        error = "--share: " + s.host + " is not an IP address";
        return false;
    }
    for (const std::string& cidr : s.allow) {
        if (!CheckCidr(cidr, error)) {
            return false;
        }
    }
    if (!a.is_loopback() && s.allow.empty()) {
        error = "--share " + s.host +
                ": not a loopback address; name the clients that may "
                "connect with --share-allow CIDR";
        return false;
    }
    return true;
}

bool AddressAllowed(const std::string& address, const std::vector<std::string>& allow) {
    boost::system::error_code ec;
    const asio::ip::address a = PlainAddress(asio::ip::make_address(address, ec));
    if (ec) {
        return false;
    }
    if (a.is_loopback()) {
        return true;
    }
    for (const std::string& cidr : allow) {
        asio::ip::address net;
        int bits = 0;
        std::string error;
        if (ParseCidr(cidr, net, bits, error) && Within(a, net, bits)) {
            return true;
        }
    }
    return false;
}

class Session;

struct ShareServer::Impl : std::enable_shared_from_this<ShareServer::Impl> {
    Impl(LineQueue& q, Log l) : queue(q), log(std::move(l)) {}

    void Accept();
    void Say(bool warning, const std::string& text) {
        if (log) {
            log(warning, text);
        }
    }

    LineQueue& queue;
    Log log;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    std::vector<std::string> allow;
    std::set<std::shared_ptr<Session>> sessions;  // the server's thread alone
    std::thread thread;
    bool stopping = false;
};

// One client: its bytes assembled into frames, its whole frames handed to the queue, its
// answers written back in order.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(ShareServer::Impl& server, tcp::socket socket, std::string who)
        : m_server(server),
          m_socket(std::move(socket)),
          m_deadline(server.io),
          m_who(std::move(who)) {}

    const std::string& Who() const { return m_who; }

    void Begin() {
        std::weak_ptr<Session> weak = shared_from_this();
        std::weak_ptr<ShareServer::Impl> server = m_server.weak_from_this();
        m_id = m_server.queue.AddClient(
            [weak, server](const Frame& reply) {
                if (auto s = server.lock()) {
                    asio::post(s->io, [weak, reply] {
                        if (auto self = weak.lock()) {
                            self->Answer(reply);
                        }
                    });
                }
            },
            [weak, server] {
                if (auto s = server.lock()) {
                    asio::post(s->io, [weak] {
                        if (auto self = weak.lock()) {
                            self->Resume();
                        }
                    });
                }
            });
        Read();
    }

    // Ends the session; why is logged unless empty.
    void End(bool warning, const std::string& why) {
        if (m_ended) {
            return;
        }
        m_ended = true;
        m_server.queue.RemoveClient(m_id);
        boost::system::error_code ec;
        m_deadline.cancel();
        m_socket.shutdown(tcp::socket::shutdown_both, ec);
        m_socket.close(ec);
        if (!why.empty()) {
            std::string text = "client " + m_who + " " + why;
            if (m_badFrames > 0) {
                text += " (" + std::to_string(m_badFrames) +
                        " frames with a bad leader or checksum not forwarded)";
            }
            m_server.Say(warning, text);
        }
        m_server.sessions.erase(shared_from_this());
    }

private:
    void Read() {
        if (m_ended || m_paused) {
            return;
        }
        auto self = shared_from_this();
        m_socket.async_read_some(asio::buffer(m_in), [self](const boost::system::error_code& ec,
                                                            size_t n) { self->OnRead(ec, n); });
    }

    void OnRead(const boost::system::error_code& ec, size_t n) {
        if (m_ended) {
            return;
        }
        if (ec) {
            End(false, ec == asio::error::eof ? "left" : "left (" + ec.message() + ")");
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            Take(m_in[i]);
        }
        HandOver();
        if (!m_paused) {
            ArmDeadline();
            Read();
        }
    }

    // Frame assembly: a frame starts with the leader and is 13 bytes; bytes before a leader
    // and frames whose checksum is wrong are not forwarded.
    void Take(uint8_t byte) {
        if (m_partial.empty() && byte != devlink::kLeader) {
            if (!m_inNoise) {
                Bad("a byte that starts no frame");
            }
            m_inNoise = true;
            return;
        }
        m_inNoise = false;
        m_partial.push_back(byte);
        if (static_cast<int>(m_partial.size()) < devlink::kFrameSize) {
            return;
        }
        Frame f{};
        std::copy(m_partial.begin(), m_partial.end(), f.begin());
        m_partial.clear();
        if (devlink::Checksum(f.data()) != f[devlink::kFrameSize - 1]) {
            Bad("a frame with a bad checksum");
            return;
        }
        m_held.push_back(f);
    }

    void Bad(const char* what) {
        if (m_badFrames++ == 0) {
            m_server.Say(true, "client " + m_who + " sent " + what + "; not forwarded");
        }
    }

    // Whole frames to the queue, in order; a full queue stops the reading until it has room.
    void HandOver() {
        while (!m_held.empty()) {
            if (!m_server.queue.Submit(m_id, m_held.front())) {
                m_paused = true;
                m_deadline.cancel();
                return;
            }
            m_held.pop_front();
        }
        m_paused = false;
    }

    void Resume() {
        if (m_ended || !m_paused) {
            return;
        }
        HandOver();
        if (!m_paused) {
            ArmDeadline();
            Read();
        }
    }

    // A begun frame must be whole within kPartialFrameMs of its last byte.
    void ArmDeadline() {
        if (m_partial.empty()) {
            m_deadline.cancel();
            return;
        }
        m_deadline.expires_after(std::chrono::milliseconds(ShareServer::kPartialFrameMs));
        std::weak_ptr<Session> weak = shared_from_this();
        const uint64_t generation = ++m_deadlineGeneration;
        m_deadline.async_wait([weak, generation](const boost::system::error_code& ec) {
            auto self = weak.lock();
            if (ec || !self || generation != self->m_deadlineGeneration || self->m_paused ||
                self->m_partial.empty()) {
                return;
            }
            self->End(true, "dropped: " + std::to_string(self->m_partial.size()) +
                                " bytes of a frame and nothing more for " +
                                std::to_string(ShareServer::kPartialFrameMs / 1000) + " s");
        });
    }

    void Answer(const Frame& reply) {
        if (m_ended) {
            return;
        }
        if (static_cast<int>(m_out.size()) >= ShareServer::kMaxRepliesWaiting) {
            End(true, "dropped: it does not read its answers");
            return;
        }
        m_out.push_back(reply);
        if (!m_writing) {
            Write();
        }
    }

    void Write() {
        if (m_out.empty() || m_ended) {
            m_writing = false;
            return;
        }
        m_writing = true;
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(m_out.front()),
                          [self](const boost::system::error_code& ec, size_t) {
                              if (ec) {
                                  self->End(false, "left (" + ec.message() + ")");
                                  return;
                              }
                              self->Marked(self->m_out.front());
                              self->m_out.pop_front();
                              self->Write();
                          });
    }

    // After the first identification answer, the mark that tells a client it is on the
    // service's shared line (urgent data, outside the stream).
    void Marked(const Frame& sent) {
        if (m_markSent || sent[2] != devlink::kQueryCode || sent[3] != devlink::kQueryCode) {
            return;
        }
        m_markSent = true;
        const uint8_t mark = devlink::kSharedLineMark;
        boost::system::error_code ec;
        m_socket.send(asio::buffer(&mark, 1), tcp::socket::message_out_of_band, ec);
    }

    ShareServer::Impl& m_server;
    tcp::socket m_socket;
    asio::steady_timer m_deadline;
    uint64_t m_deadlineGeneration = 0;
    std::string m_who;
    ClientId m_id = 0;
    std::array<uint8_t, 512> m_in{};
    std::vector<uint8_t> m_partial;
    std::deque<Frame> m_held;  // whole frames the queue has not taken yet
    std::deque<Frame> m_out;   // answers to write
    bool m_writing = false;
    bool m_paused = false;
    bool m_ended = false;
    bool m_inNoise = false;
    bool m_markSent = false;
    int m_badFrames = 0;
};

void ShareServer::Impl::Accept() {
    auto self = shared_from_this();
    acceptor.async_accept([self](const boost::system::error_code& ec, tcp::socket socket) {
        if (self->stopping || !self->acceptor.is_open()) {
            return;
        }
        if (!ec) {
            boost::system::error_code peerEc;
            const tcp::endpoint peer = socket.remote_endpoint(peerEc);
            const std::string who = peerEc ? "(unknown address)" : DescribeEndpoint(peer);
            boost::system::error_code closeEc;
            if (peerEc || !AddressAllowed(PlainAddress(peer.address()).to_string(), self->allow)) {
                self->Say(true, "client " + who +
                                    " refused: its address is not allowed "
                                    "(--share-allow)");
                socket.close(closeEc);
            } else if (static_cast<int>(self->sessions.size()) >= kMaxClients) {
                self->Say(true, "client " + who + " refused: " + std::to_string(kMaxClients) +
                                    " clients are connected already");
                socket.close(closeEc);
            } else {
                socket.set_option(tcp::no_delay(true), closeEc);
                auto session = std::make_shared<Session>(*self, std::move(socket), who);
                self->sessions.insert(session);
                self->Say(false, "client " + who + " connected (" +
                                     std::to_string(self->sessions.size()) + " of " +
                                     std::to_string(kMaxClients) + ")");
                session->Begin();
            }
        } else if (ec == asio::error::operation_aborted) {
            return;
        }
        self->Accept();
    });
}

ShareServer::ShareServer(LineQueue& queue, Log log)
    : m(std::make_shared<Impl>(queue, std::move(log))) {}

ShareServer::~ShareServer() {
    Stop();
}

bool ShareServer::Open(const ShareSettings& settings, std::string& error) {
    if (!CheckShareSettings(settings, error)) {
        return false;
    }
    m->allow = settings.allow;
    const tcp::endpoint at(asio::ip::make_address(settings.host),
                           static_cast<unsigned short>(settings.port));
    return Listen(m->acceptor, at, error);
}

int ShareServer::Port() const {
    return BoundPort(m->acceptor);
}

void ShareServer::Start() {
    if (m->thread.joinable() || !m->acceptor.is_open()) {
        return;
    }
    m->Accept();
    auto impl = m;
    m->thread = std::thread([impl] { impl->io.run(); });
}

void ShareServer::Stop() {
    if (!m->thread.joinable()) {
        return;
    }
    auto impl = m;
    asio::post(m->io, [impl] {
        impl->stopping = true;
        boost::system::error_code ec;
        impl->acceptor.close(ec);
        const auto sessions = impl->sessions;
        for (const auto& s : sessions) {
            s->End(false, "");
        }
    });
    m->thread.join();
}

}  // namespace server
