#include "MqttBroker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestUtil.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace testutil {

namespace {

int64_t NowMs() {
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

MqttBroker::MqttBroker(const std::string& dir, const std::vector<User>& users) : m_dir(dir) {
    fs::create_directories(m_dir);
    {
        Listener free;  // a free port, given back for the broker to take
        port = free.port;
    }
    const fs::path passwd = fs::path(m_dir) / "passwd";
    const fs::path acl = fs::path(m_dir) / "acl";
    fs::remove(passwd);
    std::ofstream aclOut(acl);
    for (const User& user : users) {
        const bool first = !fs::exists(passwd);
        std::vector<std::string> args = {"/usr/bin/mosquitto_passwd", "-b"};
        if (first)
            args.push_back("-c");
        args.insert(args.end(), {passwd.string(), user.name, user.password});
        if (Run(args, 10000).exitCode != 0)
            throw std::runtime_error("mosquitto_passwd failed");
        aclOut << "user " << user.name << "\n";
        for (const std::string& topic : user.readwrite)
            aclOut << "topic readwrite " << topic << "\n";
    }
    aclOut.close();
    fs::permissions(passwd, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(acl, fs::perms::owner_read | fs::perms::owner_write);
    // Started as root, Mosquitto would become the user "mosquitto", who cannot read the files.
    const struct passwd* me = ::getpwuid(::geteuid());
    std::ofstream conf(fs::path(m_dir) / "mosquitto.conf");
    conf << "listener " << port << " 127.0.0.1\n"
         << "allow_anonymous false\n"
         << "password_file " << passwd.string() << "\n"
         << "acl_file " << acl.string() << "\n"
         << "persistence false\n"
         << "log_dest stderr\nlog_type all\nlog_timestamp false\n"
         << "user " << (me != nullptr ? me->pw_name : "root") << "\n";
}

bool MqttBroker::AddTlsListener() {
    const fs::path d(m_dir);
    std::ofstream(d / "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    const std::string ec = "ec_paramgen_curve:prime256v1";
    const std::vector<std::vector<std::string>> steps = {
        {"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout",
         (d / "ca.key").string(), "-out", (d / "ca.crt").string(), "-days", "2", "-subj",
         "/CN=orn312 test CA"},
        {"/usr/bin/openssl", "req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout",
         (d / "server.key").string(), "-out", (d / "server.csr").string(), "-subj",
         "/CN=127.0.0.1"},
        {"/usr/bin/openssl", "x509", "-req", "-in", (d / "server.csr").string(), "-CA",
         (d / "ca.crt").string(), "-CAkey", (d / "ca.key").string(), "-CAcreateserial", "-out",
         (d / "server.crt").string(), "-days", "2", "-extfile", (d / "san.ext").string()},
    };
    for (const auto& step : steps) {
        if (Run(step, 20000).exitCode != 0)
            return false;
    }
    {
        Listener free;
        tlsPort = free.port;
    }
    std::ofstream conf(d / "mosquitto.conf", std::ios::app);
    conf << "listener " << tlsPort << " 127.0.0.1\n"
         << "certfile " << (d / "server.crt").string() << "\n"
         << "keyfile " << (d / "server.key").string() << "\n";
    return true;
}

MqttBroker::~MqttBroker() {
    Kill();
}

bool MqttBroker::Start() {
    if (m_pid > 0)
        return true;
    const std::string log = (fs::path(m_dir) / "broker.log").string();
    const std::string conf = (fs::path(m_dir) / "mosquitto.conf").string();
    m_pid = ::fork();
    if (m_pid == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        ::dup2(devnull, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", conf.c_str(), nullptr);
        ::_exit(127);
    }
    const int64_t end = NowMs() + 5000;
    while (NowMs() < end) {
        if (Accepts(port))
            return true;
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
}

void MqttBroker::End(int sig) {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, sig);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

void MqttBroker::Stop() {
    End(SIGTERM);
}

void MqttBroker::Kill() {
    End(SIGKILL);
}

std::string MqttBroker::Log() const {
    return ReadFile(fs::path(m_dir) / "broker.log");
}

bool MqttBroker::WaitForLog(const std::string& text, int waitMs) const {
    const int64_t end = NowMs() + waitMs;
    for (;;) {
        if (Log().find(text) != std::string::npos)
            return true;
        if (NowMs() >= end)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

struct MqttClientCallbacks {
    static void Connect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
        auto* c = static_cast<MqttClient*>(self);
        std::lock_guard<std::mutex> lock(c->m_mutex);
        c->m_connack = rc;
        c->m_cv.notify_all();
    }
    static void Acked(MqttClient* c, int mid) {
        std::lock_guard<std::mutex> lock(c->m_mutex);
        c->m_acked.push_back(mid);
        c->m_cv.notify_all();
    }
    static void Published(mosquitto*, void* self, int mid) {
        Acked(static_cast<MqttClient*>(self), mid);
    }
    static void Subscribed(mosquitto*, void* self, int mid, int, const int*) {
        Acked(static_cast<MqttClient*>(self), mid);
    }
    static void Message(mosquitto*, void* self, const mosquitto_message* m) {
        auto* c = static_cast<MqttClient*>(self);
        MqttClient::Message copy;
        copy.topic = m->topic;
        copy.payload.assign(static_cast<const char*>(m->payload),
                            static_cast<size_t>(m->payloadlen));
        copy.retain = m->retain;
        copy.qos = m->qos;
        std::lock_guard<std::mutex> lock(c->m_mutex);
        c->m_messages.push_back(std::move(copy));
        c->m_cv.notify_all();
    }
};

MqttClient::MqttClient(int port, const std::string& user, const std::string& password,
                       const std::string& clientId) {
    mosquitto_lib_init();
    m_mosq = mosquitto_new(clientId.empty() ? nullptr : clientId.c_str(), true, this);
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_username_pw_set(m_mosq, user.c_str(), password.c_str());
    mosquitto_connect_v5_callback_set(m_mosq, &MqttClientCallbacks::Connect);
    mosquitto_publish_callback_set(m_mosq, &MqttClientCallbacks::Published);
    mosquitto_subscribe_callback_set(m_mosq, &MqttClientCallbacks::Subscribed);
    mosquitto_message_callback_set(m_mosq, &MqttClientCallbacks::Message);
    if (mosquitto_connect(m_mosq, "127.0.0.1", port, 60) == MOSQ_ERR_SUCCESS) {
        mosquitto_loop_start(m_mosq);
        WaitUntil(5000, [this] { return m_connack >= 0; });
    }
}

MqttClient::~MqttClient() {
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
}

bool MqttClient::WaitUntil(int waitMs, const std::function<bool()>& ready) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, milliseconds(waitMs), ready);
}

bool MqttClient::Connected() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connack == 0;
}

bool MqttClient::Subscribe(const std::string& topic) {
    int mid = 0;
    if (mosquitto_subscribe(m_mosq, &mid, topic.c_str(), 1) != MOSQ_ERR_SUCCESS)
        return false;
    return WaitUntil(
        5000, [&] { return std::find(m_acked.begin(), m_acked.end(), mid) != m_acked.end(); });
}

bool MqttClient::Publish(const std::string& topic, const std::string& payload, int qos,
                         bool retain) {
    int mid = 0;
    if (mosquitto_publish(m_mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, retain) != MOSQ_ERR_SUCCESS)
        return false;
    return WaitUntil(
        5000, [&] { return std::find(m_acked.begin(), m_acked.end(), mid) != m_acked.end(); });
}

std::vector<MqttClient::Message> MqttClient::Messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::optional<MqttClient::Message> MqttClient::WaitFor(const std::string& topic,
                                                       const std::string& text, int waitMs,
                                                       int skip) const {
    std::optional<Message> found;
    WaitUntil(waitMs, [&] {
        int seen = 0;
        for (const Message& m : m_messages) {
            if (m.topic == topic && m.payload.find(text) != std::string::npos && seen++ >= skip) {
                found = m;
                return true;
            }
        }
        return false;
    });
    return found;
}

int MqttClient::Count(const std::string& topic, const std::string& text) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const Message& m : m_messages)
        n += m.topic == topic && m.payload.find(text) != std::string::npos;
    return n;
}

void MqttClient::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

}  // namespace testutil
