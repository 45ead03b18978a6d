// The service's HTTP side: the control page, the JSON API and its event stream, over HTTP/1.1 or
// HTTPS (Boost.Beast on Asio, OpenSSL). One thread serves every connection, each with a deadline
// on its reads and bounded requests; the slow checks of PINs and tokens run on a thread of their
// own. Sessions and tokens are the auth guard's; commands and state are the device API's. No Qt.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "schedule/SchedulerService.h"
#include "server/Auth.h"
#include "server/DeviceApi.h"

namespace server {

struct HttpSettings {
    std::string host = "127.0.0.1";
    int port = 0;          // 0: any free port
    std::string certFile;  // both or neither: HTTPS
    std::string keyFile;
    int headerTimeoutMs = 10000;  // a request's headers must be in this long after it began
};

// "ADDR:PORT" of --http into settings; false with a one-line reason.
bool ParseHttpAddress(const std::string& text, HttpSettings& settings, std::string& error);
// True when the address is a loopback address.
bool IsLoopbackHost(const std::string& host);

class HttpServer {
public:
    static constexpr int kMaxConnections = 256;
    static constexpr size_t kMaxBodyBytes = 65536;
    static constexpr size_t kMaxHeaderBytes = 16384;
    static constexpr int kWriteTimeoutMs = 30000;     // a reply or an event must be taken this fast
    static constexpr int kKeepAliveMs = 15000;        // a comment on the event stream this often
    static constexpr int kMaxEventsWaiting = 256;     // events a slow reader of the stream may owe
    static constexpr int kMaxSlowChecks = 64;         // logins and token checks waiting for a hash
    static constexpr int kRefusalLinesPerSecond = 5;  // beyond, refusals are summed up
    static constexpr const char* kSessionCookie = "orn312_session";

    HttpServer(DeviceApi& api, AuthGuard& guard, HttpSettings settings, SchedulerService::Log log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Loads the certificate and key (HTTPS), binds and listens, and says where in the log;
    // false with a one-line reason.
    bool Open(std::string& error);
    int Port() const;
    // Serves on a thread of its own until Stop, which closes every connection.
    void Start();
    void Stop();

    struct Impl;

private:
    std::shared_ptr<Impl> m;
};

}  // namespace server
