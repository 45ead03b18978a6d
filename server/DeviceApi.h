// The service's commands and state for its remote users (the HTTP API, its event stream, MQTT):
// one state JSON, one set of commands parsed from JSON, each command checked by the window's
// switching rules against the model and sent through the line queue, answered only once its
// frame has left. No networking, no Qt here.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "schedule/SchedulerService.h"
#include "server/SharedLine.h"

namespace server {

// A command's outcome: 200 (sent is true once its frame left; false when there was nothing to
// send), 400 (the command itself is wrong), 409 (refused now: not connected, a guard of the
// window, the queue full), 503 (the service is stopping). error says why in one line.
struct ApiResult {
    int status = 200;
    std::string error;
    bool sent = false;

    // {"sent": true} for 200, {"error": "..."} otherwise.
    nlohmann::json Body() const;
};

// What a remote user may ask of the processor and the timer.
struct Command {
    enum class Kind {
        Switch,   // the source button of the window: {"source", "transition"?}
        Pre,      // Pre + TAKE mode: pre-select {"source"}
        Take,     // Pre + TAKE mode: TAKE {"transition"?}
        Overlay,  // {"name": "PIP"|"TEXT"|"FREEZE", "on": bool}
        Mode,     // switch mode {"mode": "one key"|"pre+take"}
        Timer,    // {"run": bool}
    };
    enum class Overlay { Pip, Text, Freeze };

    Kind kind = Kind::Switch;
    int source = -1;                // Switch, Pre: the button's source code 0..8 (8 YPbPr)
    std::optional<int> transition;  // Switch, Take: 0 cut .. 3 1.5 s; none: the processor's
    Overlay overlay = Overlay::Pip;
    bool on = false;  // Overlay: on or off; Timer: run; Mode: Pre + TAKE
};

// "switch", "pre", "take", "overlay", "mode", "timer".
std::optional<Command::Kind> CommandKindFromName(std::string_view name);
const char* CommandKindName(Command::Kind kind);

// A command of kind from its JSON body ("" for Take reads as {}). 400 with the reason for bad
// JSON, a body that is not an object, an unknown or missing field value (source, transition,
// overlay name, mode, on/run not a boolean).
ApiResult ParseCommand(Command::Kind kind, std::string_view body, Command& out);
// The same with the kind in the body: {"command": "switch", "source": "HDMI", ...} (MQTT).
ApiResult ParseCommand(std::string_view body, Command& out);

// Names as the state JSON gives them: sources as the window's buttons ("V1" .. "EXT.",
// "YPbPr"), transitions "cut", "0.5", "1.0", "1.5", the link "connected", "connecting", "lost",
// "closed"; times as local ISO 8601 with the zone's offset ("2026-12-11T10:00:00+01:00").
const char* TransitionName(int transition);
const char* LinkName(ServiceLink link);
std::string IsoTime(int64_t epochMs);

class DeviceApi : public ServiceWatch {
public:
    // Called with the new state JSON on each change (and never twice with the same JSON), and
    // with each event. Calls come one at a time, in order, from the service's threads; they must
    // not block and must not call Unsubscribe.
    using Listener = std::function<void(const nlohmann::json&)>;
    using Done = std::function<void(const ApiResult&)>;

    // Watches service (its link, timer and plans) and line (its model; its queue carries the
    // commands). Build it before the service starts; Stop it before the line stops.
    DeviceApi(SchedulerService& service, SharedLine& line, SchedulerService::Log log);
    ~DeviceApi() override;
    DeviceApi(const DeviceApi&) = delete;
    DeviceApi& operator=(const DeviceApi&) = delete;

    void Start();
    // Commands still waiting are answered 503; no listener is called after this returns.
    void Stop();

    // {"link", "device_id", "main", "pre", "transition", "mode": "one key"|"pre+take",
    //  "overlay": {"PIP", "TEXT", "FREEZE"},
    //  "signals": {source: bool}, "timer": {"running", "next": {"time", "source"} | null,
    //  "last": {"time", "source", "result": "sent"|"missed"|"failed"} | null}}.
    // main, pre, transition and mode are null while nothing is known of the processor.
    nlohmann::json State() const;
    // {"plans": [{"kind": "day"|"week"|"month"|"once", "time": "10:00:00", "source",
    //  "weekday": 0..6 (week), "day": 1..31 (month), "date": "2026-12-24" (once)}],
    //  "error": line that could not be read (only when one could not)}.
    nlohmann::json Plans() const;

    // State changes; the listener is not called with the state at the time of subscribing.
    int SubscribeState(Listener listener);
    // Events: {"event": "plan_fired"|"plan_missed"|"processor_lost"|"processor_back",
    //  "time", "source" (plans), "result": "missed"|"failed" (plan_missed)}.
    int SubscribeEvents(Listener listener);
    // After it returns the listener is never called again.
    void Unsubscribe(int token);

    // Checks the command against the window's rules and the model now and queues its frame; done
    // is called once, when the frame left (200), or at once with the refusal, or when it could
    // not leave (409), from the calling thread or the queue's. A command that comes during the
    // previous one's pause waits its turn behind it.
    void Run(const Command& command, Done done);

    // ServiceWatch
    void LinkStateChanged(ServiceLink link) override;
    void TimerChanged(bool running) override;
    void PlanAwaited(const PlanItem* plan) override;
    void PlanOutcome(const PlanItem& plan, PlanResult result, int64_t atMs) override;

private:
    struct Last {
        PlanItem plan;
        PlanResult result = PlanResult::Sent;
    };
    // Tells the state's listeners when the state differs from the last told.
    void StateMaybeChanged();
    void TellEvent(const nlohmann::json& event);
    void RunTimer(bool run, Done done);
    // The timer's start and stop, off the caller's thread (a stop waits for a switch under way).
    void TimerWorker();

    SchedulerService& m_service;
    SharedLine& m_line;
    SchedulerService::Log m_log;
    ClientId m_client = 0;
    int m_modelToken = 0;

    mutable std::mutex m_mutex;  // the timer's plans, the listeners
    std::optional<PlanItem> m_next;
    std::optional<Last> m_last;
    bool m_wasConnected = false;  // processor_back is told only after processor_lost
    std::map<int, Listener> m_stateListeners;
    std::map<int, Listener> m_eventListeners;
    int m_nextToken = 1;
    bool m_stopped = true;

    // Held while listeners are called: one call at a time, and none after Unsubscribe.
    std::mutex m_tellMutex;
    nlohmann::json m_toldState;  // m_tellMutex

    std::mutex m_timerMutex;
    std::condition_variable m_timerCv;
    std::deque<std::pair<bool, Done>> m_timerJobs;
    bool m_timerQuit = false;
    std::thread m_timerThread;
};

}  // namespace server
