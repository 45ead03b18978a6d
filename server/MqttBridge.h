// The service on an MQTT broker, for fleets: under one base topic per processor it publishes its
// status (with a retained last will), its state as the HTTP API gives it (retained, on change),
// its events, and carries out the API's commands sent to BASE/set, answering on BASE/result.
// libmosquitto speaks MQTT 5 on a thread of the bridge's own; nothing of the service waits on the
// broker. No Qt here.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "schedule/SchedulerService.h"

struct mosquitto;
struct mosquitto_message;

namespace server {

struct MqttSettings {
    std::string url;  // as given, for the log
    std::string host;
    int port = 0;
    bool tls = false;
    std::string caFile;     // mqtts: the CA of the broker's certificate (else the system's CAs)
    std::string base;       // the topics' base, and the client id
    std::string user;       // empty: none
    std::string discovery;  // the prefix of the dashboards' discovery records; empty: none
    int keepaliveS = 30;
};

// Takes the MQTT option at argv[i] and its value: the number of arguments taken, 0 when argv[i]
// is none of them, -1 with a one-line reason in error.
int TakeMqttOption(int argc, char** argv, int i, MqttSettings& settings, std::string& error);
// After every option: the default base (orn312/<hostname>), and the whole checked. False with a
// one-line reason.
bool CheckMqttSettings(MqttSettings& settings, std::string& error);

// The answers to the commands of the last 10 minutes by their id. QoS 1 delivers at least once:
// a command seen again is answered again with its first answer, never carried out again.
class RecentCommands {
public:
    static constexpr int64_t kKeepMs = 10 * 60 * 1000;
    static constexpr size_t kMaxIds = 4096;

    enum class Seen {
        New,       // remembered, under way: carry it out
        Running,   // its first is under way: answered when that one is
        Answered,  // answer holds the first answer
        Full,      // kMaxIds ids in the last 10 minutes: refuse it
    };
    Seen Begin(const std::string& id, int64_t nowMs, std::string& answer);
    // The answer of the command id: how many times it is owed (1 and once per repeat that came
    // while it was under way).
    int Finish(const std::string& id, const std::string& answer);
    size_t Size() const { return m_ids.size(); }

private:
    struct Entry {
        int64_t firstMs = 0;
        bool done = false;
        int owed = 1;
        std::string answer;
    };
    void Forget(int64_t nowMs);

    std::map<std::string, Entry> m_ids;
    std::deque<std::pair<int64_t, std::string>> m_order;  // first seen, oldest first
};

// What the bridge publishes and carries out: the device API's state, events and commands.
struct MqttDevice {
    // The state JSON, as the HTTP API serves it.
    std::function<std::string()> state;
    // Calls changed after each change of the state and event with each event's JSON (any
    // thread; neither may block). Returns what ends the subscription.
    std::function<std::function<void()>(std::function<void()> changed,
                                        std::function<void(const std::string& event)> event)>
        subscribe;
    // Carries out a command (the JSON object of the API, without "id") and calls done once with
    // an empty error when it was carried out (the frame left), else with the reason. Never
    // blocks; done may be called on any thread, before command returns too.
    std::function<void(const std::string& command,
                       std::function<void(const std::string& error)> done)>
        command;
};

class DeviceApi;
// The device API as the bridge uses it. A command is one member named by its kind, whose value is
// the API's body: {"switch": {"source": "HDMI", "transition": "cut"}} (a switch without a
// transition cuts), {"pre": {...}}, {"take": {}}, {"overlay": {...}}, {"mode": {...}},
// {"timer": {"run": true}}.
MqttDevice MqttDeviceOf(DeviceApi& api);

class MqttBridge {
public:
    static constexpr size_t kMaxSetBytes = 65536;  // larger messages on BASE/set are refused
    // Asked of the broker (MQTT 5's maximum packet size): no packet bigger reaches the bridge.
    static constexpr uint32_t kMaxPacketBytes = kMaxSetBytes + 4096;
    static constexpr int kProbeMs = 10000;   // a broker's address that does not answer: given up
    static constexpr int kStopMs = 2000;     // Stop's wait before it cuts a connect short
    static constexpr int kSteadyMs = 10000;  // a connection lost sooner: no fresh back-off

    // password is read at each connection attempt (it may change while the service runs).
    MqttBridge(MqttDevice device, MqttSettings settings, std::function<std::string()> password,
               SchedulerService::Log log);
    ~MqttBridge();
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Connects on the bridge's thread and keeps connecting; returns at once.
    void Start();
    // Publishes "offline" when connected, disconnects and ends the thread, within about a second.
    void Stop();

    const MqttSettings& Settings() const { return m_settings; }

private:
    friend struct MqttCallbacks;
    enum class Attempt { Connected, Unreachable };

    void Run();
    // One connection attempt: the broker's address probed, then libmosquitto's connect.
    Attempt Connect(std::string& why);
    // Waits up to kProbeMs for a TCP connection to the broker (cut short by Stop).
    bool Probe(std::string& why);
    // On the bridge's thread, from libmosquitto's callbacks.
    void Connected(int reason);
    void Disconnected(int reason);
    void Received(const mosquitto_message& message);

    void PublishState(bool always);
    void PublishEvent(const std::string& event);
    void PublishDiscovery();
    bool Publish(const std::string& topic, const std::string& payload, int qos, bool retain);
    void Say(LogLevel level, const std::string& text);
    // libmosquitto's last error line of this attempt (a TLS failure says why), ": ..." or "".
    std::string LibraryError();

    MqttDevice m_device;
    MqttSettings m_settings;
    std::function<std::string()> m_password;
    SchedulerService::Log m_log;
    std::function<void()> m_unsubscribe;
    // Whether the bridge still takes the device's calls (state, events, answers), which may come
    // from the device's threads after Stop.
    struct Alive {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<Alive> m_alive = std::make_shared<Alive>();

    mosquitto* m_mosq = nullptr;
    std::thread m_thread;
    platform::StopFlag m_stop;
    platform::StopFlag m_ended;         // raised by the thread as it ends
    std::atomic<bool> m_online{false};  // CONNACK accepted, not yet lost
    int m_connack = -1;                 // the last attempt's answer; the thread's
    int m_lostReason = 0;
    int64_t m_connectedMs = 0;  // steady clock; the thread's

    std::mutex m_libraryMutex;
    std::string m_libraryError;

    std::mutex m_stateMutex;  // one state publication at a time, the newest last
    std::string m_lastState;

    std::mutex m_commandsMutex;
    RecentCommands m_recent;
};

}  // namespace server
