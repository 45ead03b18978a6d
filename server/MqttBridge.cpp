#include "server/MqttBridge.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "device/Backoff.h"
#include "link/Commands.h"
#include "platform/Worker.h"
#include "server/DeviceApi.h"

namespace server {

using nlohmann::json;

namespace {

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A topic (or a prefix of topics) the bridge may publish under: no wildcards, no empty level, no
// leading or trailing slash, not one of the broker's own ($SYS), UTF-8.
bool CheckTopic(const std::string& what, const std::string& topic, std::string& error) {
    const bool bad =
        topic.empty() || topic.size() > 200 || topic.front() == '/' || topic.back() == '/' ||
        topic.front() == '$' || topic.find_first_of(std::string("+#\0", 3)) != std::string::npos ||
        topic.find("//") != std::string::npos ||
        mosquitto_validate_utf8(topic.c_str(), static_cast<int>(topic.size())) != MOSQ_ERR_SUCCESS;
    if (bad) {
        error = what + " " + topic +
                " is no topic to publish under (1..200 characters, no + or #, no empty level, "
                "no leading or trailing /, not $)";
    }
    return !bad;
}

bool ParseUrl(const std::string& url, MqttSettings& s, std::string& error) {
    error = "give the broker as mqtt://HOST:PORT or mqtts://HOST:PORT, not " + url;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        s.tls = false;
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        s.tls = true;
        rest = url.substr(8);
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') {
        rest.pop_back();
    }
    if (rest.find('@') != std::string::npos) {
        error =
            "no user or password in the broker's address: --mqtt-user names the user, "
            "--set-mqtt-password keeps the password in the auth file";
        return false;
    }
    std::string port;
    if (!rest.empty() && rest.front() == '[') {  // [IPv6]:PORT
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            return false;
        }
        s.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') {
                return false;
            }
            port = rest.substr(close + 2);
        }
    } else {
        const size_t colon = rest.find(':');
        s.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
        }
    }
    if (s.host.empty() || s.host.find_first_of("/?# ") != std::string::npos) {
        return false;
    }
    s.port = s.tls ? 8883 : 1883;
    if (!port.empty() || rest.back() == ':') {
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) < 1 ||
            std::stoi(port) > 65535) {
            error = "the broker's port must be 1..65535, not " + port;
            return false;
        }
        s.port = std::stoi(port);
    }
    s.url = url;
    error.clear();
    return true;
}

// libmosquitto's texts end with a full stop; the log's lines go on after them.
std::string Plain(std::string text) {
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

std::string ErrorText(int rc) {
    return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : Plain(mosquitto_strerror(rc));
}

// Why a connection ended: libmosquitto's error, or the reason code of the broker's DISCONNECT.
std::string LostText(int reason) {
    return Plain(reason >= 0x80 ? mosquitto_reason_string(reason) : mosquitto_strerror(reason));
}

std::string ResultJson(const std::string& idJson, const std::string& error) {
    json result;
    result["id"] = json::parse(idJson);
    result["ok"] = error.empty();
    if (!error.empty()) {
        result["error"] = error;
    }
    return result.dump();
}

}  // namespace

int TakeMqttOption(int argc, char** argv, int i, MqttSettings& settings, std::string& error) {
    const std::string a = argv[i];
    if (a != "--mqtt" && a != "--mqtt-base" && a != "--mqtt-user" && a != "--mqtt-ca" &&
        a != "--mqtt-discovery" && a != "--mqtt-keepalive") {
        return 0;
    }
    if (i + 1 >= argc) {
        error = a + " takes a value (see --help)";
        return -1;
    }
    const std::string value = argv[i + 1];
    if (a == "--mqtt") {
        if (!ParseUrl(value, settings, error)) {
            return -1;
        }
    } else if (a == "--mqtt-base") {
        if (!CheckTopic("the base", value, error)) {
            return -1;
        }
        settings.base = value;
    } else if (a == "--mqtt-user") {
        if (value.empty() || value.size() > 256 ||
            mosquitto_validate_utf8(value.c_str(), static_cast<int>(value.size())) !=
                MOSQ_ERR_SUCCESS) {
            error = "the MQTT user name must be 1..256 characters of UTF-8";
            return -1;
        }
        settings.user = value;
    } else if (a == "--mqtt-ca") {
        settings.caFile = value;
    } else if (a == "--mqtt-discovery") {
        if (!CheckTopic("the discovery prefix", value, error)) {
            return -1;
        }
        settings.discovery = value;
    } else {
        const bool digits = !value.empty() && value.size() <= 5 &&
                            value.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(value) < 5 || std::stoi(value) > 65535) {
            error = "--mqtt-keepalive takes 5..65535 seconds, not " + value;
            return -1;
        }
        settings.keepaliveS = std::stoi(value);
    }
    return 2;
}

bool CheckMqttSettings(MqttSettings& s, std::string& error) {
    if (s.url.empty()) {
        if (!s.base.empty() || !s.user.empty() || !s.caFile.empty() || !s.discovery.empty() ||
            s.keepaliveS != 30) {
            error = "the --mqtt-... options need --mqtt";
            return false;
        }
        return true;
    }
    if (!s.caFile.empty()) {
        if (!s.tls) {
            error = "--mqtt-ca needs a broker at mqtts://";
            return false;
        }
        if (::access(s.caFile.c_str(), R_OK) != 0) {
            error = "cannot read the CA file " + s.caFile + ": " + std::strerror(errno);
            return false;
        }
    }
    if (s.base.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
            std::strcpy(host, "localhost");
        }
        s.base = std::string("orn312/") + host;
        if (!CheckTopic("the base", s.base, error)) {
            error += "; name one with --mqtt-base";
            return false;
        }
    }
    return true;
}

RecentCommands::Seen RecentCommands::Begin(const std::string& id, int64_t nowMs,
                                           std::string& answer) {
    Forget(nowMs);
    const auto it = m_ids.find(id);
    if (it != m_ids.end()) {
        if (!it->second.done) {
            ++it->second.owed;
            return Seen::Running;
        }
        answer = it->second.answer;
        return Seen::Answered;
    }
    if (m_ids.size() >= kMaxIds) {
        return Seen::Full;
    }
    m_ids[id].firstMs = nowMs;
    m_order.emplace_back(nowMs, id);
    return Seen::New;
}

int RecentCommands::Finish(const std::string& id, const std::string& answer) {
    const auto it = m_ids.find(id);
    if (it == m_ids.end() || it->second.done) {
        return 0;
    }
    it->second.done = true;
    it->second.answer = answer;
    return it->second.owed;
}

void RecentCommands::Forget(int64_t nowMs) {
    // Oldest first; one still under way is kept, and so is what came after it.
    while (!m_order.empty() && nowMs - m_order.front().first >= kKeepMs) {
        const auto it = m_ids.find(m_order.front().second);
        if (it != m_ids.end() && !it->second.done) {
            break;
        }
        if (it != m_ids.end()) {
            m_ids.erase(it);
        }
        m_order.pop_front();
    }
}

MqttDevice MqttDeviceOf(DeviceApi& api) {
    MqttDevice device;
    device.state = [&api] { return api.State().dump(); };
    device.subscribe = [&api](std::function<void()> changed,
                              std::function<void(const std::string&)> event) {
        const int state = api.SubscribeState([changed](const json&) { changed(); });
        const int events = api.SubscribeEvents([event](const json& e) { event(e.dump()); });
        return std::function<void()>([&api, state, events] {
            api.Unsubscribe(state);
            api.Unsubscribe(events);
        });
    };
    device.command = [&api](const std::string& body, std::function<void(const std::string&)> done) {
        const json j = json::parse(body, nullptr, false);
        const auto kind =
            j.is_object() && j.size() == 1 ? CommandKindFromName(j.begin().key()) : std::nullopt;
        if (!kind) {
            done("give one command: switch, pre, take, overlay, mode or timer");
            return;
        }
        Command command;
        const ApiResult parsed = ParseCommand(*kind, j.begin().value().dump(), command);
        if (parsed.status != 200) {
            done(parsed.error);
            return;
        }
        if (command.kind == Command::Kind::Switch && !command.transition) {
            command.transition = 0;  // a cut
        }
        api.Run(command, [done](const ApiResult& result) {
            done(result.status == 200 ? std::string() : result.error);
        });
    };
    return device;
}

// libmosquitto's callbacks, on the bridge's thread.
struct MqttCallbacks {
    static void Connect(mosquitto*, void* bridge, int reason, int, const mosquitto_property*) {
        static_cast<MqttBridge*>(bridge)->Connected(reason);
    }
    static void Disconnect(mosquitto*, void* bridge, int reason, const mosquitto_property*) {
        static_cast<MqttBridge*>(bridge)->Disconnected(reason);
    }
    static void Log(mosquitto*, void* bridge, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) != 0) {
            auto* b = static_cast<MqttBridge*>(bridge);
            std::lock_guard<std::mutex> lock(b->m_libraryMutex);
            b->m_libraryError = text;
        }
    }
    static void Message(mosquitto*, void* bridge, const mosquitto_message* message,
                        const mosquitto_property*) {
        static_cast<MqttBridge*>(bridge)->Received(*message);
    }
};

MqttBridge::MqttBridge(MqttDevice device, MqttSettings settings,
                       std::function<std::string()> password, SchedulerService::Log log)
    : m_device(std::move(device)),
      m_settings(std::move(settings)),
      m_password(std::move(password)),
      m_log(std::move(log)) {
    mosquitto_lib_init();
    m_mosq = mosquitto_new(m_settings.base.c_str(), true, this);
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_threaded_set(m_mosq, true);
    const std::string status = m_settings.base + "/status";
    mosquitto_will_set(m_mosq, status.c_str(), 7, "offline", 1, true);
    if (m_settings.tls) {
        if (m_settings.caFile.empty()) {
            mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            mosquitto_tls_set(m_mosq, m_settings.caFile.c_str(), nullptr, nullptr, nullptr,
                              nullptr);
        }
    }
    mosquitto_connect_v5_callback_set(m_mosq, &MqttCallbacks::Connect);
    mosquitto_disconnect_v5_callback_set(m_mosq, &MqttCallbacks::Disconnect);
    mosquitto_message_v5_callback_set(m_mosq, &MqttCallbacks::Message);
    mosquitto_log_callback_set(m_mosq, &MqttCallbacks::Log);
}

std::string MqttBridge::LibraryError() {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    return m_libraryError.empty() ? std::string() : ": " + m_libraryError;
}

MqttBridge::~MqttBridge() {
    Stop();
    mosquitto_destroy(m_mosq);
    // No mosquitto_lib_cleanup: other clients of the library may live on in this process.
}

void MqttBridge::Say(LogLevel level, const std::string& text) {
    m_log(level, "MQTT: " + text);
}

void MqttBridge::Start() {
    if (m_thread.joinable()) {
        return;
    }
    std::shared_ptr<Alive> alive = m_alive;
    m_unsubscribe = m_device.subscribe(
        [this, alive] {
            std::lock_guard<std::mutex> hold(alive->mutex);
            if (alive->alive) {
                PublishState(false);
            }
        },
        [this, alive](const std::string& event) {
            std::lock_guard<std::mutex> hold(alive->mutex);
            if (alive->alive) {
                PublishEvent(event);
            }
        });
    m_thread = std::thread([this] { Run(); });
}

void MqttBridge::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    if (m_unsubscribe) {
        m_unsubscribe();
        m_unsubscribe = nullptr;
    }
    {
        // The device's calls still under way end first; later ones find the bridge gone.
        std::lock_guard<std::mutex> hold(m_alive->mutex);
        m_alive->alive = false;
    }
    m_stop.Request();
    if (!m_ended.WaitFor(kStopMs)) {
        // Held in libmosquitto's connect by a broker that took the connection and does not go on
        // with the TLS handshake: its socket is shut so that the connect fails.
        const int fd = mosquitto_socket(m_mosq);
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    m_thread.join();
}

bool MqttBridge::Probe(std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(m_settings.port);
    const int rc = ::getaddrinfo(m_settings.host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
        why = gai_strerror(rc);
        return false;
    }
    bool reached = false;
    const int64_t end = SteadyMs() + kProbeMs;
    for (addrinfo* a = found; a != nullptr && !reached && !m_stop.Requested(); a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            reached = true;
        } else if (errno != EINPROGRESS) {
            why = std::strerror(errno);
        } else {
            pollfd p[2] = {{fd, POLLOUT, 0}, {m_stop.Fd(), POLLIN, 0}};
            const int left = static_cast<int>(std::max<int64_t>(0, end - SteadyMs()));
            if (::poll(p, m_stop.Fd() >= 0 ? 2 : 1, left) > 0 && (p[0].revents != 0)) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                reached = err == 0;
                why = std::strerror(err);
            } else if (!m_stop.Requested()) {
                why = "no answer within " + std::to_string(kProbeMs / 1000) + " s";
            }
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return reached;
}

MqttBridge::Attempt MqttBridge::Connect(std::string& why) {
    // The address is tried first without libmosquitto, whose connect blocks: a broker's address
    // that does not answer holds the bridge kProbeMs at most, and a stop not at all.
    if (!Probe(why)) {
        return Attempt::Unreachable;
    }
    if (!m_settings.user.empty()) {
        const std::string password = m_password ? m_password() : std::string();
        mosquitto_username_pw_set(m_mosq, m_settings.user.c_str(), password.c_str());
    }
    mosquitto_property* properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, kMaxPacketBytes);
    m_connack = -1;
    const int rc = mosquitto_connect_bind_v5(m_mosq, m_settings.host.c_str(), m_settings.port,
                                             m_settings.keepaliveS, nullptr, properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS) {
        why = ErrorText(rc) + LibraryError();
        return Attempt::Unreachable;
    }
    return Attempt::Connected;
}

void MqttBridge::Run() {
    platform::NameThisThread("mqtt");
    app::ReconnectBackoff backoff;
    bool awayTold = false;  // this time without the broker has had its line
    while (!m_stop.Requested()) {
        std::string why;
        const Attempt attempt = Connect(why);
        if (attempt == Attempt::Connected) {
            // Until the connection ends; a stop asks the broker to publish the will ("offline")
            // and ends it, or gives up a second after.
            int64_t stopAt = 0;
            for (;;) {
                if (m_stop.Requested() && stopAt == 0) {
                    stopAt = SteadyMs();
                    m_online = false;
                    mosquitto_disconnect_v5(m_mosq, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
                }
                const int rc = mosquitto_loop(m_mosq, stopAt != 0 ? 100 : 1000, 1);
                if (rc != MOSQ_ERR_SUCCESS) {
                    if (m_lostReason == 0) {
                        m_lostReason = rc;
                    }
                    break;
                }
                if (stopAt != 0 && SteadyMs() - stopAt > 1000) {
                    break;
                }
            }
            m_online = false;
            if (m_stop.Requested()) {
                break;
            }
        }
        int waitMs = 0;
        if (m_connack == 0) {
            // It was connected: the first attempt a second after the loss, unless the connection
            // had lasted a few seconds only. A broker that closes it at once (two services with
            // one base take the client id from each other) is then tried less and less often.
            const int64_t upMs = SteadyMs() - m_connectedMs;
            if (upMs >= kSteadyMs && m_lostReason != MQTT_RC_SESSION_TAKEN_OVER) {
                backoff.Reset();
                waitMs = backoff.Next();
                Say(LogLevel::Warning, "connection to " + m_settings.url + " lost (" +
                                           LostText(m_lostReason) + LibraryError() +
                                           "); connecting again");
            } else {
                waitMs = backoff.Next();
                Say(LogLevel::Warning,
                    "connection to " + m_settings.url + " lost (" + LostText(m_lostReason) +
                        LibraryError() + ") " + std::to_string(upMs / 1000) +
                        " s after connecting; trying again in " + std::to_string(waitMs / 1000) +
                        " s (does another client connect as " + m_settings.base + "?)");
            }
            awayTold = true;
        } else if (m_connack > 0) {
            waitMs = backoff.Next();
            Say(LogLevel::Error, m_settings.url + " refused the connection as " + m_settings.base +
                                     (m_settings.user.empty() ? "" : ", user " + m_settings.user) +
                                     ": " + Plain(mosquitto_reason_string(m_connack)) +
                                     "; trying again in " + std::to_string(waitMs / 1000) + " s");
            awayTold = true;
        } else {
            waitMs = backoff.Next();
            if (attempt == Attempt::Connected) {
                why = LostText(m_lostReason) + LibraryError();  // ended before it answered
            }
            if (!awayTold && !m_stop.Requested()) {
                Say(LogLevel::Warning, "cannot connect to " + m_settings.url + ": " + why +
                                           "; trying again, at most every 30 s");
                awayTold = true;
            }
        }
        m_connack = -1;
        m_lostReason = 0;
        {
            std::lock_guard<std::mutex> lock(m_libraryMutex);
            m_libraryError.clear();
        }
        m_stop.WaitFor(waitMs);
    }
    m_ended.Request();
}

void MqttBridge::Connected(int reason) {
    m_connack = reason;
    if (reason != 0) {
        return;
    }
    m_connectedMs = SteadyMs();
    const std::string set = m_settings.base + "/set";
    // Commands only as they come: a retained one is never sent at subscription, and one
    // published retained keeps its flag, so that it is ignored as it comes too.
    mosquitto_subscribe_v5(m_mosq, nullptr, set.c_str(), 1,
                           MQTT_SUB_OPT_SEND_RETAIN_NEVER | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED,
                           nullptr);
    m_online = true;
    Publish(m_settings.base + "/status", "online", 1, true);
    PublishState(true);
    if (!m_settings.discovery.empty()) {
        PublishDiscovery();
    }
    Say(LogLevel::Info, "connected to " + m_settings.url + " as " + m_settings.base +
                            (m_settings.user.empty() ? "" : " (user " + m_settings.user + ")"));
}

void MqttBridge::Disconnected(int reason) {
    m_online = false;
    if (m_lostReason == 0 && reason != 0) {
        m_lostReason = reason;
    }
}

void MqttBridge::Received(const mosquitto_message& message) {
    const std::string set = m_settings.base + "/set";
    if (set != message.topic) {
        return;
    }
    if (message.retain) {
        Say(LogLevel::Warning, "a retained message on " + set + " ignored");
        return;
    }
    const size_t size = static_cast<size_t>(message.payloadlen);
    if (size > kMaxSetBytes) {
        Say(LogLevel::Warning, "a message of " + std::to_string(size) + " bytes on " + set +
                                   " refused (at most " + std::to_string(kMaxSetBytes) + ")");
        return;
    }
    const char* text = static_cast<const char*>(message.payload);
    json body = json::parse(text, text + size, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        Say(LogLevel::Warning, "a message on " + set + " that is no JSON object, not carried out");
        return;
    }
    const auto id = body.find("id");
    const bool usable =
        id != body.end() && ((id->is_string() && !id->get_ref<const std::string&>().empty() &&
                              id->get_ref<const std::string&>().size() <= 256) ||
                             id->is_number_integer() || id->is_number_unsigned());
    if (!usable) {
        Say(LogLevel::Warning, "a command on " + set +
                                   " without a usable id (a text of 1..256 bytes or a whole "
                                   "number), not carried out");
        return;
    }
    const std::string key = id->dump();
    std::string answer;
    RecentCommands::Seen seen;
    {
        std::lock_guard<std::mutex> lock(m_commandsMutex);
        seen = m_recent.Begin(key, SteadyMs(), answer);
    }
    switch (seen) {
        case RecentCommands::Seen::Running:
            return;  // answered with its first
        case RecentCommands::Seen::Answered:
            Publish(m_settings.base + "/result", answer, 1, false);
            return;
        case RecentCommands::Seen::Full:
            Say(LogLevel::Warning, "command " + key +
                                       " refused: " + std::to_string(RecentCommands::kMaxIds) +
                                       " commands in the last 10 minutes");
            Publish(
                m_settings.base + "/result",
                ResultJson(key, "too many commands: " + std::to_string(RecentCommands::kMaxIds) +
                                    " in the last 10 minutes"),
                1, false);
            return;
        case RecentCommands::Seen::New:
            break;
    }
    body.erase("id");
    std::shared_ptr<Alive> alive = m_alive;
    m_device.command(body.dump(), [this, alive, key](const std::string& error) {
        std::lock_guard<std::mutex> hold(alive->mutex);
        if (!alive->alive) {
            return;  // the bridge has stopped
        }
        const std::string answer = ResultJson(key, error);
        int times = 0;
        {
            std::lock_guard<std::mutex> lock(m_commandsMutex);
            times = m_recent.Finish(key, answer);
        }
        for (int i = 0; i < times; ++i) {
            Publish(m_settings.base + "/result", answer, 1, false);
        }
    });
}

void MqttBridge::PublishState(bool always) {
    // The state as it is when published, under one lock: the last publication is the newest.
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!m_online) {
        return;  // published on connecting
    }
    const std::string state = m_device.state();
    if (!always && state == m_lastState) {
        return;
    }
    // At QoS 0: nothing of it is kept for a later connection, which publishes the state anew.
    if (Publish(m_settings.base + "/state", state, 0, true)) {
        m_lastState = state;
    }
}

void MqttBridge::PublishEvent(const std::string& event) {
    if (m_online) {
        Publish(m_settings.base + "/event", event, 1, false);
    }
}

void MqttBridge::PublishDiscovery() {
    std::string node;
    for (const char c : m_settings.base) {
        node += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    }
    const std::string& base = m_settings.base;
    json device = {{"identifiers", json::array({node})},
                   {"name", "ORN312 " + base},
                   {"manufacturer", "QUOLAN"},
                   {"model", "ORN312"}};
    json options = json::array();
    for (int code = 0; code <= 8; ++code) {
        options.push_back(devlink::SourceLabel(code));
    }
    const auto record = [&](const std::string& object, json config) {
        config["unique_id"] = node + "_" + object;
        config["object_id"] = node + "_" + object;
        config["device"] = device;
        config["availability_topic"] = base + "/status";
        config["payload_available"] = "online";
        config["payload_not_available"] = "offline";
        config["state_topic"] = base + "/state";
        return config;
    };
    const std::string prefix = m_settings.discovery + "/";
    Publish(prefix + "select/" + node + "/source/config",
            record("source", {{"name", "Source"},
                              {"options", options},
                              {"value_template", "{{ value_json.main }}"},
                              {"command_topic", base + "/set"},
                              {"command_template",
                               "{\"id\": \"{{ now().timestamp() }}\", \"switch\": {\"source\": "
                               "\"{{ value }}\"}}"}})
                .dump(),
            1, true);
    Publish(prefix + "binary_sensor/" + node + "/link/config",
            record("link",
                   {{"name", "Link"},
                    {"device_class", "connectivity"},
                    {"value_template", "{{ 'ON' if value_json.link == 'connected' else 'OFF' }}"}})
                .dump(),
            1, true);
    Publish(prefix + "binary_sensor/" + node + "/signal/config",
            record("signal", {{"name", "Signal on air"},
                              {"value_template",
                               "{{ 'ON' if value_json.main and "
                               "value_json.signals.get(value_json.main) else 'OFF' }}"}})
                .dump(),
            1, true);
}

bool MqttBridge::Publish(const std::string& topic, const std::string& payload, int qos,
                         bool retain) {
    return mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
}

}  // namespace server
