// A Mosquitto broker of the test's own (Debian's /usr/sbin/mosquitto, started as a child process
// on a free loopback port, with its own configuration, password file and ACL), and a test's MQTT
// client on it (libmosquitto, MQTT 5).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;

namespace testutil {

class MqttBroker {
public:
    struct User {
        std::string name;
        std::string password;
        std::vector<std::string> readwrite;  // ACL topic patterns
    };

    // Writes the configuration, the password file (mosquitto_passwd) and the ACL into dir and
    // picks a free port; Start starts it.
    MqttBroker(const std::string& dir, const std::vector<User>& users);
    ~MqttBroker();
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    // A second listener, with TLS, on tlsPort: a CA and a certificate for 127.0.0.1 signed by it
    // are made in dir (ca.crt is the CA's). Before Start.
    bool AddTlsListener();
    // Starts (again, on the same port); true once it accepts connections.
    bool Start();
    // SIGTERM and the end waited for; Kill: SIGKILL.
    void Stop();
    void Kill();
    bool Running() const { return m_pid > 0; }
    // Everything the broker logged (every packet) since the fixture was made.
    std::string Log() const;
    bool WaitForLog(const std::string& text, int waitMs) const;

    int port = 0;
    int tlsPort = 0;

private:
    void End(int sig);
    std::string m_dir;
    int m_pid = -1;
};

class MqttClient {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retain = false;
        int qos = 0;
    };

    // Connects (clean start) as user and waits for the broker's answer.
    MqttClient(int port, const std::string& user, const std::string& password,
               const std::string& clientId = "");
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    bool Connected() const;
    // Subscribes at QoS 1 and waits for the broker's acknowledgement.
    bool Subscribe(const std::string& topic);
    // Publishes and, at QoS 1, waits for the broker's acknowledgement.
    bool Publish(const std::string& topic, const std::string& payload, int qos = 1,
                 bool retain = false);
    // Every message received so far, in order.
    std::vector<Message> Messages() const;
    // The first message received on topic (after the first `skip` of them) whose payload
    // contains text, within waitMs.
    std::optional<Message> WaitFor(const std::string& topic, const std::string& text, int waitMs,
                                   int skip = 0) const;
    // How many messages on topic contain text.
    int Count(const std::string& topic, const std::string& text) const;
    void Clear();

private:
    friend struct MqttClientCallbacks;
    bool WaitUntil(int waitMs, const std::function<bool()>& ready) const;

    mosquitto* m_mosq = nullptr;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    int m_connack = -1;
    std::vector<int> m_acked;  // message ids acknowledged (PUBACK, SUBACK)
    std::vector<Message> m_messages;
};

}  // namespace testutil
