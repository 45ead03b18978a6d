#include "server/HttpServer.h"

#include <utility>  // before Asio, whose C++20 headers use std::exchange

#include <openssl/ssl.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

#include "link/Trace.h"
#include "platform/Clock.h"
#include "server/NetAddress.h"
#include "server/ShareServer.h"
#include "server/WebAssets.h"

namespace server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using asio::ip::tcp;
using nlohmann::json;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

namespace {

// The page may load only its own files: no inline script, nothing from elsewhere, never framed.
constexpr const char* kPagePolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

// Beast's views as the standard's.
std::string_view View(beast::string_view v) {
    return {v.data(), v.size()};
}

// Equal but for case.
bool SameText(std::string_view a, std::string_view b) {
    return beast::iequals(beast::string_view(a.data(), a.size()),
                          beast::string_view(b.data(), b.size()));
}

int64_t NowMs() {
    return platform::CurrentClock().NowMs();
}

// What a client sent, fit for one log line: printable ASCII, cut at max.
std::string Printable(std::string_view text, size_t max = 80) {
    std::string out;
    for (const char c : text.substr(0, max)) {
        out += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text.size() > max ? out + "..." : out;
}

std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The value of the session cookie in the Cookie header, or "".
std::string SessionCookie(const Request& req) {
    const std::string_view header = View(req[http::field::cookie]);
    const std::string_view name = HttpServer::kSessionCookie;
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string_view::npos) {
            end = header.size();
        }
        std::string_view pair = header.substr(at, end - at);
        while (!pair.empty() && pair.front() == ' ') {
            pair.remove_prefix(1);
        }
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
            pair[name.size()] == '=') {
            return std::string(pair.substr(name.size() + 1));
        }
        at = end + 1;
    }
    return "";
}

// The token of "Authorization: Bearer TOKEN", or "".
std::string BearerToken(const Request& req) {
    const std::string_view header = View(req[http::field::authorization]);
    constexpr std::string_view kScheme = "Bearer ";
    if (header.size() <= kScheme.size() ||
        !beast::iequals(beast::string_view(header.data(), kScheme.size()), "Bearer ")) {
        return "";
    }
    std::string_view token = header.substr(kScheme.size());
    while (!token.empty() && token.front() == ' ') {
        token.remove_prefix(1);
    }
    return std::string(token);
}

// Refusals, one line each up to kRefusalLinesPerSecond a second; beyond, the rest of the second
// in one line with their count by kind ("401", "dropped", ...), so that a flood cannot fill the
// disk that holds the log.
class RefusalLog {
public:
    explicit RefusalLog(SchedulerService::Log log) : m_log(std::move(log)) {}

    void Say(const std::string& kind, const std::string& text) {
        Tick(NowMs());
        if (m_lines < HttpServer::kRefusalLinesPerSecond) {
            ++m_lines;
            m_log(LogLevel::Warning, "HTTP " + text);
        } else {
            ++m_held[kind];
            m_lastHeld = text;
        }
    }
    void Tick(int64_t now) {
        if (now - m_periodMs < 1000) {
            return;
        }
        if (!m_held.empty()) {
            int64_t all = 0;
            std::string kinds;
            for (const auto& [kind, n] : m_held) {
                all += n;
                kinds += (kinds.empty() ? "" : ", ") + kind + ": " + devlink::GroupedNumber(n);
            }
            m_log(LogLevel::Warning, "HTTP " + devlink::GroupedNumber(all) +
                                         " more refusals in the last second (" + kinds +
                                         "), the last: " + m_lastHeld);
        }
        m_periodMs = now;
        m_lines = 0;
        m_held.clear();
    }

private:
    SchedulerService::Log m_log;
    int64_t m_periodMs = 0;
    int m_lines = 0;
    std::map<std::string, int64_t> m_held;
    std::string m_lastHeld;
};

}  // namespace

bool ParseHttpAddress(const std::string& text, HttpSettings& settings, std::string& error) {
    return ParseShareAddress(text, settings.host, settings.port, error, "--http");
}

bool IsLoopbackHost(const std::string& host) {
    boost::system::error_code ec;
    const asio::ip::address a = asio::ip::make_address(host, ec);
    return !ec && PlainAddress(a).is_loopback();
}

// What the server keeps of a connection: closing it, and the event stream's writes.
class Connection {
public:
    virtual ~Connection() = default;
    virtual void Close() = 0;
    // A chunk of the event stream, when this connection is one.
    virtual void Push(const std::shared_ptr<const std::string>& chunk) = 0;
};

struct HttpServer::Impl : std::enable_shared_from_this<HttpServer::Impl> {
    Impl(DeviceApi& a, AuthGuard& g, HttpSettings s, SchedulerService::Log l)
        : api(a), guard(g), settings(std::move(s)), log(std::move(l)), refusals(log) {}

    void Accept();
    void Tick();
    // Posts a chunk to every event stream; any thread.
    void Broadcast(std::string chunk);
    void Say(const std::string& text) { log(LogLevel::Info, "HTTP " + text); }

    DeviceApi& api;
    AuthGuard& guard;
    HttpSettings settings;
    SchedulerService::Log log;
    RefusalLog refusals;  // the server's thread alone
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer ticker{io};
    std::optional<ssl::context> tls;
    asio::thread_pool slow{1};                          // the hashes of logins and new tokens
    int slowWaiting = 0;                                // the server's thread alone
    std::set<std::shared_ptr<Connection>> connections;  // the server's thread alone
    int64_t lastKeepAliveMs = 0;
    int stateToken = 0;
    int eventToken = 0;
    std::thread thread;
    bool stopping = false;
};

namespace {

template <class Stream>
constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

// One connection: requests read with deadlines, answered in turn; or, once it asked for it, the
// event stream.
template <class Stream>
class Session : public Connection, public std::enable_shared_from_this<Session<Stream>> {
public:
    Session(HttpServer::Impl& server, Stream stream, std::string who, std::string address)
        : m_server(server),
          m_stream(std::move(stream)),
          m_who(std::move(who)),
          m_address(std::move(address)) {}

    void Begin() {
        Lowest().expires_after(std::chrono::milliseconds(m_server.settings.headerTimeoutMs));
        if constexpr (kTls<Stream>) {
            m_stream.async_handshake(
                ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code ec) {
                    if (ec == beast::error::timeout) {
                        self->Dropped(ec, "in the TLS handshake");
                        return;
                    }
                    if (ec) {
                        self->m_server.refusals.Say("dropped", "dropped " + self->m_who +
                                                                   ": TLS handshake failed (" +
                                                                   Printable(ec.message()) + ")");
                        self->End();
                        return;
                    }
                    self->ReadHeader();
                });
        } else {
            ReadHeader();
        }
    }

    void Close() override { End(); }

    void Push(const std::shared_ptr<const std::string>& chunk) override {
        if (!m_streaming || m_ended) {
            return;
        }
        if (static_cast<int>(m_out.size()) >= HttpServer::kMaxEventsWaiting) {
            m_server.refusals.Say("dropped",
                                  "dropped " + m_who + ": it does not read its event stream");
            End();
            return;
        }
        m_out.push_back(chunk);
        if (!m_writing) {
            WriteNext();
        }
    }

private:
    beast::tcp_stream& Lowest() { return beast::get_lowest_layer(m_stream); }

    void End() {
        if (m_ended) {
            return;
        }
        m_ended = true;
        beast::error_code ec;
        Lowest().socket().shutdown(tcp::socket::shutdown_both, ec);
        Lowest().close();
        m_server.connections.erase(this->shared_from_this());
    }

    // A connection that ended with ec: a deadline passed (logged, unless a kept-alive connection
    // merely stayed idle after its requests), or the client went away.
    void Dropped(beast::error_code ec, const std::string& where) {
        const bool idle = m_requests > 0 && m_buffer.size() == 0 && where == "headers";
        if (ec == beast::error::timeout && !idle) {
            const int ms = m_server.settings.headerTimeoutMs;
            char limit[32];
            std::snprintf(limit, sizeof limit, ms % 1000 == 0 ? "%.0f s" : "%.1f s", ms / 1000.0);
            m_server.refusals.Say("dropped", "dropped " + m_who +
                                                 ": its request was not in within " + limit + " (" +
                                                 where + ")");
        }
        End();
    }

    void ReadHeader() {
        m_parser.emplace();
        m_parser->header_limit(HttpServer::kMaxHeaderBytes);
        m_parser->body_limit(HttpServer::kMaxBodyBytes);
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                    self->OnHeader(ec);
                                });
    }

    void OnHeader(beast::error_code ec) {
        if (ec == http::error::header_limit) {
            Refuse(http::status::request_header_fields_too_large, "its headers are too large");
            return;
        }
        if (ec == http::error::body_limit) {  // its Content-Length says so
            Refuse(http::status::payload_too_large,
                   "a body over " + std::to_string(HttpServer::kMaxBodyBytes) + " bytes");
            return;
        }
        if (ec) {
            Dropped(ec, "headers");
            return;
        }
        if (m_parser->is_done()) {
            OnRequest();
            return;
        }
        Lowest().expires_after(std::chrono::milliseconds(m_server.settings.headerTimeoutMs));
        if (beast::iequals(m_parser->get()[http::field::expect], "100-continue")) {
            auto go =
                std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            http::async_write(m_stream, *go,
                              [self = this->shared_from_this(), go](beast::error_code ec, size_t) {
                                  if (ec) {
                                      self->End();
                                      return;
                                  }
                                  self->ReadBody();
                              });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = this->shared_from_this()](beast::error_code ec, size_t) {
                if (ec == http::error::body_limit) {
                    self->Refuse(
                        http::status::payload_too_large,
                        "a body over " + std::to_string(HttpServer::kMaxBodyBytes) + " bytes");
                    return;
                }
                if (ec) {
                    self->Dropped(ec, "body");
                    return;
                }
                self->OnRequest();
            });
    }

    // Refuses before the request was read whole; the connection closes after the answer.
    void Refuse(http::status status, const std::string& why) {
        m_server.refusals.Say(std::to_string(static_cast<int>(status)),
                              "refused " + m_who + ": " + why + " (" +
                                  std::to_string(static_cast<int>(status)) + ")");
        m_req = {};
        m_req.keep_alive(false);
        Reply(status, json{{"error", why}});
    }

    // The refusal of a request that was read, logged.
    void Deny(http::status status, const std::string& why,
              const std::function<void(Response&)>& extra = {}) {
        m_server.refusals.Say(std::to_string(static_cast<int>(status)),
                              "refused " + m_who + ": " + std::string(m_req.method_string()) + " " +
                                  Printable(View(m_req.target())) + ": " + why + " (" +
                                  std::to_string(static_cast<int>(status)) + ")");
        Reply(status, json{{"error", why}}, extra);
    }

    Response MakeResponse(http::status status) const {
        Response res{status, 11};
        res.keep_alive(m_req.keep_alive());
        res.set("X-Content-Type-Options", "nosniff");
        res.set("Referrer-Policy", "no-referrer");
        return res;
    }

    void Reply(http::status status, const json& body,
               const std::function<void(Response&)>& extra = {}) {
        Response res = MakeResponse(status);
        res.set(http::field::content_type, "application/json");
        res.set(http::field::cache_control, "no-store");
        res.body() = Dump(body) + "\n";
        if (extra) {
            extra(res);
        }
        Write(std::move(res));
    }

    void Write(Response res) {
        if (m_ended) {
            return;
        }
        res.prepare_payload();
        auto held = std::make_shared<Response>(std::move(res));
        Lowest().expires_after(std::chrono::milliseconds(HttpServer::kWriteTimeoutMs));
        http::async_write(
            m_stream, *held, [self = this->shared_from_this(), held](beast::error_code ec, size_t) {
                if (ec || held->need_eof()) {
                    self->Shutdown();
                    return;
                }
                // The next request's headers have their own deadline.
                self->Lowest().expires_after(
                    std::chrono::milliseconds(self->m_server.settings.headerTimeoutMs));
                self->ReadHeader();
            });
    }

    // Closes after the last answer. What the client may still be sending (a body refused
    // unread) is read and dropped for a while first: closing with it unread would reset the
    // connection, and the client could lose the answer.
    void Shutdown() {
        Lowest().expires_after(std::chrono::seconds(2));
        if constexpr (kTls<Stream>) {
            m_stream.async_shutdown(
                [self = this->shared_from_this()](beast::error_code) { self->End(); });
        } else {
            beast::error_code ec;
            Lowest().socket().shutdown(tcp::socket::shutdown_send, ec);
            Drain();
        }
    }

    void Drain() {
        m_buffer.consume(m_buffer.size());
        Lowest().async_read_some(m_buffer.prepare(4096),
                                 [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                     if (ec) {
                                         self->End();
                                         return;
                                     }
                                     self->Drain();
                                 });
    }

    // ---- requests ----------------------------------------------------------------------------

    void OnRequest() {
        ++m_requests;
        m_req = m_parser->release();
        const std::string_view target = View(m_req.target());
        const std::string path(target.substr(0, target.find('?')));
        try {
            Route(path);
        } catch (const std::exception& e) {
            m_server.log(LogLevel::Error, "HTTP " + m_who + ": " + Printable(path) +
                                              " failed: " + Printable(e.what(), 200));
            Reply(http::status::internal_server_error, json{{"error", "internal error"}});
        }
    }

    // The request comes from this server's own page: no Origin (not a browser's cross-origin
    // request), or an Origin whose host is the one asked for. Either scheme: behind a TLS
    // reverse proxy the browser's origin is https while this side is plain HTTP.
    bool SameOrigin() const {
        const std::string_view origin = View(m_req[http::field::origin]);
        const std::string_view host = View(m_req[http::field::host]);
        if (origin.empty()) {
            return true;
        }
        for (const std::string_view scheme : {"http://", "https://"}) {
            if (!host.empty() && origin.size() == scheme.size() + host.size() &&
                SameText(origin.substr(0, scheme.size()), scheme) &&
                SameText(origin.substr(scheme.size()), host)) {
                return true;
            }
        }
        return false;
    }

    void Route(const std::string& path) {
        const bool get = m_req.method() == http::verb::get;
        const bool post = m_req.method() == http::verb::post;
        if (path.rfind("/api/", 0) != 0) {
            ServeAsset(path, get);
            return;
        }
        if (post && !SameOrigin()) {
            Deny(http::status::forbidden, "cross-origin request (Origin " +
                                              Printable(View(m_req[http::field::origin])) + ")");
            return;
        }
        static const std::string kApi = "/api/v1/";
        const std::string name = path.rfind(kApi, 0) == 0 ? path.substr(kApi.size()) : "";
        if (name == "login" || name == "logout") {
            if (!post) {
                NotAllowed("POST");
            } else if (name == "login") {
                Login();
            } else {
                Logout();
            }
            return;
        }
        Authorize([self = this->shared_from_this(), name, get, post](Role role) {
            self->Authorized(role, name, get, post);
        });
    }

    void Authorized(Role role, const std::string& name, bool get, bool post) {
        if (role == Role::None) {
            Deny(http::status::unauthorized, "log in first, or give an API token",
                 [](Response& res) { res.set(http::field::www_authenticate, "Bearer"); });
            return;
        }
        const auto kind = CommandKindFromName(name);
        if (name == "session") {
            if (!get) {
                NotAllowed("GET");
            } else {
                Reply(http::status::ok, json{{"role", RoleName(role)}});
            }
        } else if (name == "state" || name == "plans" || name == "events") {
            if (!get) {
                NotAllowed("GET");
            } else if (name == "events") {
                StartStream();
            } else {
                Reply(http::status::ok,
                      name == "state" ? m_server.api.State() : m_server.api.Plans());
            }
        } else if (kind) {
            if (!post) {
                NotAllowed("POST");
            } else if (role != Role::Operator) {
                Deny(http::status::forbidden, "a viewer may not change anything");
            } else {
                RunCommand(*kind);
            }
        } else {
            Reply(http::status::not_found, json{{"error", "no such API path"}});
        }
    }

    void NotAllowed(const char* allow) {
        Reply(http::status::method_not_allowed,
              json{{"error", std::string("use ") + allow + " here"}},
              [allow](Response& res) { res.set(http::field::allow, allow); });
    }

    void ServeAsset(const std::string& path, bool get) {
        const WebAsset* asset = FindWebAsset(path);
        if (!get) {
            Response res = MakeResponse(http::status::method_not_allowed);
            res.set(http::field::allow, "GET");
            Write(std::move(res));
            return;
        }
        if (!asset) {
            Response res = MakeResponse(http::status::not_found);
            res.set(http::field::content_type, "text/plain; charset=utf-8");
            res.body() = "not found\n";
            Write(std::move(res));
            return;
        }
        Response res = MakeResponse(http::status::ok);
        res.set(http::field::content_type,
                beast::string_view(asset->contentType.data(), asset->contentType.size()));
        res.set(http::field::cache_control, "no-cache");
        res.set("Content-Security-Policy", kPagePolicy);
        res.set("X-Frame-Options", "DENY");
        res.body() = std::string(asset->body);
        Write(std::move(res));
    }

    // Runs check on the thread of the slow checks and then on this connection's; refuses when
    // too many wait already.
    template <class Result>
    void Slow(std::function<Result()> check, std::function<void(Result)> then) {
        if (m_server.slowWaiting >= HttpServer::kMaxSlowChecks) {
            m_server.refusals.Say("503", "refused " + m_who + ": too many logins waiting (503)");
            Reply(http::status::service_unavailable,
                  json{{"error", "too many logins at once; try again"}},
                  [](Response& res) { res.set(http::field::retry_after, "1"); });
            return;
        }
        ++m_server.slowWaiting;
        std::weak_ptr<HttpServer::Impl> server = m_server.weak_from_this();
        asio::post(m_server.slow, [server, self = this->shared_from_this(), check, then] {
            Result result = check();
            if (auto s = server.lock()) {
                asio::post(s->io, [s, self, then, result] {
                    --s->slowWaiting;
                    then(result);
                });
            }
        });
    }

    void Authorize(std::function<void(Role)> then) {
        const std::string cookie = SessionCookie(m_req);
        if (!cookie.empty()) {
            const Role role = m_server.guard.Session(cookie, NowMs());
            if (role != Role::None) {
                then(role);
                return;
            }
        }
        const std::string token = BearerToken(m_req);
        if (token.empty()) {
            then(Role::None);
            return;
        }
        if (const auto known = m_server.guard.BearerCached(token)) {
            then(*known);
            return;
        }
        AuthGuard& guard = m_server.guard;
        Slow<Role>([&guard, token] { return guard.Bearer(token); }, std::move(then));
    }

    void Login() {
        const json body = json::parse(m_req.body(), nullptr, false);
        if (!body.is_object() || !body.contains("pin") || !body["pin"].is_string()) {
            Reply(http::status::bad_request, json{{"error", "give {\"pin\": \"1234\"}"}});
            return;
        }
        AuthGuard& guard = m_server.guard;
        const std::string address = m_address;
        const std::string pin = body["pin"].get<std::string>();
        Slow<AuthGuard::Login>(
            [&guard, address, pin] { return guard.TryLogin(address, pin, NowMs()); },
            [self = this->shared_from_this()](AuthGuard::Login login) { self->LoggedIn(login); });
    }

    void LoggedIn(const AuthGuard::Login& login) {
        if (login.status == 200) {
            const std::string cookie =
                std::string(HttpServer::kSessionCookie) + "=" + login.sessionId +
                "; HttpOnly; SameSite=Strict; Path=/; " +
                "Max-Age=" + std::to_string(AuthGuard::kSessionIdleMs / 1000) +
                (kTls<Stream> ? "; Secure" : "");
            Reply(http::status::ok, json{{"role", RoleName(login.role)}},
                  [cookie](Response& res) { res.set(http::field::set_cookie, cookie); });
        } else if (login.status == 429) {
            const std::string after = std::to_string(login.retryAfterS);
            Deny(http::status::too_many_requests,
                 "too many wrong PINs from this address: try again in " + after + " s",
                 [after](Response& res) { res.set(http::field::retry_after, after); });
        } else {
            // The guard logs each failure with the address.
            Reply(http::status::unauthorized, json{{"error", "wrong PIN"}});
        }
    }

    void Logout() {
        const std::string cookie = SessionCookie(m_req);
        if (!cookie.empty()) {
            m_server.guard.Logout(cookie);
        }
        Reply(http::status::ok, json{{"role", nullptr}}, [](Response& res) {
            res.set(http::field::set_cookie, std::string(HttpServer::kSessionCookie) +
                                                 "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0");
        });
    }

    void RunCommand(Command::Kind kind) {
        Command command;
        const ApiResult parsed = ParseCommand(kind, m_req.body(), command);
        if (parsed.status != 200) {
            Reply(static_cast<http::status>(parsed.status), parsed.Body());
            return;
        }
        std::weak_ptr<HttpServer::Impl> server = m_server.weak_from_this();
        std::weak_ptr<Session> weak = this->shared_from_this();
        m_server.api.Run(command, [server, weak, command](const ApiResult& result) {
            auto s = server.lock();
            if (!s) {
                return;
            }
            asio::post(s->io, [weak, command, result] {
                if (auto self = weak.lock()) {
                    self->Ran(command, result);
                }
            });
        });
    }

    void Ran(const Command& command, const ApiResult& result) {
        if (result.status == 200 && command.kind == Command::Kind::Timer) {
            Reply(http::status::ok, json{{"running", command.on}});
            return;
        }
        if (result.sent) {
            m_server.Say(m_who + ": " + CommandKindName(command.kind) + " " +
                         Printable(m_req.body(), 120) + " sent");
        }
        Reply(static_cast<http::status>(result.status), result.Body());
    }

    // ---- the event stream ----------------------------------------------------------------------

    void StartStream() {
        m_streaming = true;
        http::response<http::empty_body> res{http::status::ok, 11};
        res.set(http::field::content_type, "text/event-stream");
        res.set(http::field::cache_control, "no-store");
        res.set("X-Content-Type-Options", "nosniff");
        res.set("X-Accel-Buffering", "no");  // a reverse proxy passes each event at once
        res.chunked(true);
        m_streamHead.emplace(std::move(res));
        m_streamSerializer.emplace(*m_streamHead);
        m_out.push_back(std::make_shared<const std::string>(
            "event: state\ndata: " + Dump(m_server.api.State()) + "\n\n"));
        m_writing = true;
        Lowest().expires_after(std::chrono::milliseconds(HttpServer::kWriteTimeoutMs));
        http::async_write_header(m_stream, *m_streamSerializer,
                                 [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                     self->m_writing = false;
                                     if (ec) {
                                         self->End();
                                         return;
                                     }
                                     self->WatchClose();
                                     self->WriteNext();
                                 });
    }

    // A reader of the stream sends nothing more: anything readable is its close (or a protocol
    // error). Ends the connection at once, so that a page gone frees its place.
    void WatchClose() {
        Lowest().socket().async_wait(
            tcp::socket::wait_read,
            [self = this->shared_from_this()](beast::error_code) { self->End(); });
    }

    void WriteNext() {
        if (m_out.empty() || m_ended) {
            return;
        }
        m_writing = true;
        Lowest().expires_after(std::chrono::milliseconds(HttpServer::kWriteTimeoutMs));
        const auto chunk = m_out.front();
        asio::async_write(m_stream, http::make_chunk(asio::buffer(*chunk)),
                          [self = this->shared_from_this(), chunk](beast::error_code ec, size_t) {
                              self->m_writing = false;
                              if (ec) {
                                  self->Dropped(ec, "event stream");
                                  return;
                              }
                              self->m_out.pop_front();
                              self->WriteNext();
                          });
    }

    HttpServer::Impl& m_server;
    Stream m_stream;
    std::string m_who;      // "192.168.0.10:50424"
    std::string m_address;  // "192.168.0.10"
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    Request m_req;
    int m_requests = 0;  // requests read whole on this connection
    bool m_ended = false;
    bool m_streaming = false;
    bool m_writing = false;
    std::optional<http::response<http::empty_body>> m_streamHead;
    std::optional<http::response_serializer<http::empty_body>> m_streamSerializer;
    std::deque<std::shared_ptr<const std::string>> m_out;
};

}  // namespace

void HttpServer::Impl::Accept() {
    auto self = shared_from_this();
    acceptor.async_accept([self](const boost::system::error_code& ec, tcp::socket socket) {
        if (self->stopping || !self->acceptor.is_open()) {
            return;
        }
        if (!ec) {
            boost::system::error_code peerEc;
            const tcp::endpoint peer = socket.remote_endpoint(peerEc);
            const std::string who = peerEc ? "(unknown address)" : DescribeEndpoint(peer);
            if (peerEc || static_cast<int>(self->connections.size()) >= kMaxConnections) {
                self->refusals.Say("connections", "refused " + who + ": " +
                                                      std::to_string(kMaxConnections) +
                                                      " connections are open already");
                boost::system::error_code closeEc;
                socket.close(closeEc);
            } else {
                const std::string address = PlainAddress(peer.address()).to_string();
                beast::error_code optEc;
                socket.set_option(tcp::no_delay(true), optEc);
                std::shared_ptr<Connection> c;
                if (self->tls) {
                    auto s = std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(
                        *self, beast::ssl_stream<beast::tcp_stream>(std::move(socket), *self->tls),
                        who, address);
                    self->connections.insert(s);
                    s->Begin();
                } else {
                    auto s = std::make_shared<Session<beast::tcp_stream>>(
                        *self, beast::tcp_stream(std::move(socket)), who, address);
                    self->connections.insert(s);
                    s->Begin();
                }
            }
        } else if (ec == asio::error::operation_aborted) {
            return;
        }
        self->Accept();
    });
}

void HttpServer::Impl::Tick() {
    auto self = shared_from_this();
    ticker.expires_after(std::chrono::seconds(1));
    ticker.async_wait([self](const boost::system::error_code& ec) {
        if (ec || self->stopping) {
            return;
        }
        const int64_t now = NowMs();
        self->refusals.Tick(now);
        if (now - self->lastKeepAliveMs >= kKeepAliveMs) {
            self->lastKeepAliveMs = now;
            const auto chunk = std::make_shared<const std::string>(": keep-alive\n\n");
            const auto connections = self->connections;
            for (const auto& c : connections) {
                c->Push(chunk);
            }
        }
        self->Tick();
    });
}

void HttpServer::Impl::Broadcast(std::string text) {
    auto chunk = std::make_shared<const std::string>(std::move(text));
    asio::post(io, [self = shared_from_this(), chunk] {
        const auto connections = self->connections;
        for (const auto& c : connections) {
            c->Push(chunk);
        }
    });
}

HttpServer::HttpServer(DeviceApi& api, AuthGuard& guard, HttpSettings settings,
                       SchedulerService::Log log)
    : m(std::make_shared<Impl>(api, guard, std::move(settings), std::move(log))) {}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Open(std::string& error) {
    const HttpSettings& s = m->settings;
    if (s.certFile.empty() != s.keyFile.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    if (!s.certFile.empty()) {
        try {
            ssl::context ctx(ssl::context::tls_server);
            ctx.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                            ssl::context::no_sslv3 | ssl::context::single_dh_use);
            SSL_CTX_set_min_proto_version(ctx.native_handle(), TLS1_2_VERSION);
            ctx.use_certificate_chain_file(s.certFile);
            ctx.use_private_key_file(s.keyFile, ssl::context::pem);
            m->tls.emplace(std::move(ctx));
        } catch (const boost::system::system_error& e) {
            error = "cannot use the certificate " + s.certFile + " and key " + s.keyFile + ": " +
                    e.code().message();
            return false;
        }
    }
    boost::system::error_code ec;
    const tcp::endpoint at(asio::ip::make_address(s.host, ec), static_cast<unsigned short>(s.port));
    if (ec) {
        error = "--http: " + s.host + " is not an IP address";
        return false;
    }
    if (!Listen(m->acceptor, at, error)) {
        return false;
    }
    const tcp::endpoint bound(at.address(), static_cast<unsigned short>(Port()));
    m->Say(std::string("serving ") + (m->tls ? "HTTPS" : "HTTP") + " on " +
           DescribeEndpoint(bound) + " (at most " + std::to_string(kMaxConnections) +
           " connections)");
    if (!m->tls && !IsLoopbackHost(s.host)) {
        m->log(LogLevel::Warning,
               "HTTP on " + DescribeEndpoint(bound) +
                   " is not encrypted: PINs and sessions travel in clear; give --tls-cert and "
                   "--tls-key, or put a TLS reverse proxy in front");
    }
    return true;
}

int HttpServer::Port() const {
    return BoundPort(m->acceptor);
}

void HttpServer::Start() {
    if (m->thread.joinable() || !m->acceptor.is_open()) {
        return;
    }
    std::weak_ptr<Impl> weak = m;
    m->stateToken = m->api.SubscribeState([weak](const json& state) {
        if (auto s = weak.lock()) {
            s->Broadcast("event: state\ndata: " + Dump(state) + "\n\n");
        }
    });
    m->eventToken = m->api.SubscribeEvents([weak](const json& event) {
        if (auto s = weak.lock()) {
            s->Broadcast("event: " + event.value("event", std::string("event")) +
                         "\ndata: " + Dump(event) + "\n\n");
        }
    });
    m->lastKeepAliveMs = NowMs();
    m->Accept();
    m->Tick();
    auto impl = m;
    m->thread = std::thread([impl] { impl->io.run(); });
}

void HttpServer::Stop() {
    if (!m->thread.joinable()) {
        return;
    }
    m->api.Unsubscribe(m->stateToken);
    m->api.Unsubscribe(m->eventToken);
    auto impl = m;
    asio::post(m->io, [impl] {
        impl->stopping = true;
        boost::system::error_code ec;
        impl->acceptor.close(ec);
        impl->ticker.cancel();
        const auto connections = impl->connections;
        for (const auto& c : connections) {
            c->Close();
        }
    });
    // The hashes under way end first; what they post back finds the connections closed.
    m->slow.join();
    m->thread.join();
}

}  // namespace server
