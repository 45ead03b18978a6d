#include "server/DeviceApi.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "device/StatusDecoder.h"
#include "device/SwitchRules.h"
#include "link/Commands.h"
#include "link/Replies.h"
#include "platform/Clock.h"
#include "schedule/PlanFile.h"

namespace server {

using nlohmann::json;

namespace {

constexpr const char* kKindNames[] = {"switch", "pre", "take", "overlay", "mode", "timer"};
constexpr const char* kTransitions[] = {"cut", "0.5", "1.0", "1.5"};

ApiResult Refused(int status, std::string error) {
    ApiResult r;
    r.status = status;
    r.error = std::move(error);
    return r;
}

// The source as the window's button names it: the V2 input is "YPbPr" while it carries YPbPr.
json ButtonName(int code, bool v2IsYPbPr) {
    if (code == devlink::kV2 && v2IsYPbPr) {
        code = devlink::kYPbPr;
    }
    const char* label = devlink::SourceLabel(code);
    return label ? json(label) : json(nullptr);
}

// A source name of a request: the button names, exactly.
int SourceCode(const json& v) {
    if (!v.is_string()) {
        return -1;
    }
    const std::string name = v.get<std::string>();
    for (int code = 0; code < devlink::kSourceCount; ++code) {
        if (name == devlink::SourceLabel(code)) {
            return code;
        }
    }
    return -1;
}

int TransitionCode(const json& v) {
    if (!v.is_string()) {
        return -1;
    }
    const std::string name = v.get<std::string>();
    for (int i = 0; i < 4; ++i) {
        if (name == kTransitions[i]) {
            return i;
        }
    }
    return -1;
}

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

}  // namespace

json ApiResult::Body() const {
    if (status != 200) {
        return json{{"error", error}};
    }
    return json{{"sent", sent}};
}

std::optional<Command::Kind> CommandKindFromName(std::string_view name) {
    for (int i = 0; i < 6; ++i) {
        if (name == kKindNames[i]) {
            return static_cast<Command::Kind>(i);
        }
    }
    return std::nullopt;
}

const char* CommandKindName(Command::Kind kind) {
    return kKindNames[static_cast<int>(kind)];
}

const char* TransitionName(int transition) {
    return transition >= 0 && transition < 4 ? kTransitions[transition] : "cut";
}

const char* LinkName(ServiceLink link) {
    switch (link) {
        case ServiceLink::Connected:
            return "connected";
        case ServiceLink::Connecting:
            return "connecting";
        case ServiceLink::Lost:
            return "lost";
        case ServiceLink::Closed:
            break;
    }
    return "closed";
}

std::string IsoTime(int64_t epochMs) {
    const time_t t = static_cast<time_t>(epochMs / 1000);
    struct tm local {};
    localtime_r(&t, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[40];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(text) + zone;
}

ApiResult ParseCommand(Command::Kind kind, std::string_view body, Command& out) {
    json j = json::object();
    if (!body.empty() || kind != Command::Kind::Take) {
        j = json::parse(body, nullptr, false);
        if (j.is_discarded()) {
            return Refused(400, "the body is not JSON");
        }
        if (!j.is_object()) {
            return Refused(400, "the body is not a JSON object");
        }
    }
    out = Command{};
    out.kind = kind;
    const auto source = [&]() -> std::optional<ApiResult> {
        if (!j.contains("source")) {
            return Refused(400, "\"source\" is missing");
        }
        out.source = SourceCode(j["source"]);
        if (out.source < 0) {
            return Refused(400, "unknown source " + j["source"].dump() +
                                    " (V1, V2, VGA1, VGA2, HDMI, DVI, DP, EXT., YPbPr)");
        }
        return std::nullopt;
    };
    const auto transition = [&]() -> std::optional<ApiResult> {
        if (!j.contains("transition")) {
            return std::nullopt;
        }
        const int t = TransitionCode(j["transition"]);
        if (t < 0) {
            return Refused(
                400, "unknown transition " + j["transition"].dump() + " (cut, 0.5, 1.0, 1.5)");
        }
        out.transition = t;
        return std::nullopt;
    };
    const auto flag = [&](const char* name, bool& value) -> std::optional<ApiResult> {
        if (!j.contains(name) || !j[name].is_boolean()) {
            return Refused(400, Quoted(name) + " must be true or false");
        }
        value = j[name].get<bool>();
        return std::nullopt;
    };
    std::optional<ApiResult> bad;
    switch (kind) {
        case Command::Kind::Switch:
            bad = source();
            if (!bad) {
                bad = transition();
            }
            break;
        case Command::Kind::Pre:
            bad = source();
            break;
        case Command::Kind::Take:
            bad = transition();
            break;
        case Command::Kind::Overlay: {
            const json name = j.value("name", json());
            if (name == "PIP") {
                out.overlay = Command::Overlay::Pip;
            } else if (name == "TEXT") {
                out.overlay = Command::Overlay::Text;
            } else if (name == "FREEZE") {
                out.overlay = Command::Overlay::Freeze;
            } else {
                return Refused(400, "unknown overlay " + name.dump() + " (PIP, TEXT, FREEZE)");
            }
            bad = flag("on", out.on);
            break;
        }
        case Command::Kind::Mode: {
            const json mode = j.value("mode", json());
            if (mode != "one key" && mode != "pre+take") {
                return Refused(400, "unknown mode " + mode.dump() + " (one key, pre+take)");
            }
            out.on = mode == "pre+take";
            break;
        }
        case Command::Kind::Timer:
            bad = flag("run", out.on);
            break;
    }
    return bad ? *bad : ApiResult{};
}

ApiResult ParseCommand(std::string_view body, Command& out) {
    const json j = json::parse(body, nullptr, false);
    if (j.is_discarded()) {
        return Refused(400, "the body is not JSON");
    }
    if (!j.is_object() || !j.contains("command") || !j["command"].is_string()) {
        return Refused(400, "\"command\" is missing (switch, pre, take, overlay, mode, timer)");
    }
    const auto kind = CommandKindFromName(j["command"].get<std::string>());
    if (!kind) {
        return Refused(400, "unknown command " + j["command"].dump() +
                                " (switch, pre, take, overlay, mode, timer)");
    }
    return ParseCommand(*kind, body, out);
}

DeviceApi::DeviceApi(SchedulerService& service, SharedLine& line, SchedulerService::Log log)
    : m_service(service), m_line(line), m_log(std::move(log)) {
    m_service.Watch(this);
}

DeviceApi::~DeviceApi() {
    Stop();
    m_service.Watch(nullptr);
}

void DeviceApi::Start() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stopped) {
            return;
        }
        m_stopped = false;
    }
    m_client = m_line.Queue().AddClient([](const devlink::Frame&) {});
    m_modelToken = m_line.Model().Subscribe([this](const DeviceSnapshot&) { StateMaybeChanged(); });
    {
        std::lock_guard<std::mutex> lock(m_timerMutex);
        m_timerQuit = false;
    }
    m_timerThread = std::thread(&DeviceApi::TimerWorker, this);
    std::lock_guard<std::mutex> tell(m_tellMutex);
    m_toldState = State();
}

void DeviceApi::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) {
            return;
        }
        m_stopped = true;
    }
    m_line.Model().Unsubscribe(m_modelToken);
    // Commands still waiting are told they did not leave.
    m_line.Queue().RemoveClient(m_client);
    {
        std::lock_guard<std::mutex> lock(m_timerMutex);
        m_timerQuit = true;
    }
    m_timerCv.notify_all();
    if (m_timerThread.joinable()) {
        m_timerThread.join();
    }
    // A call under way ends before this returns; none comes after.
    std::lock_guard<std::mutex> tell(m_tellMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stateListeners.clear();
    m_eventListeners.clear();
}

json DeviceApi::State() const {
    const DeviceSnapshot snap = m_line.Model().Current();
    const ServiceLink link = m_service.LinkState();
    json j;
    j["link"] = LinkName(link);
    j["device_id"] = snap.deviceId;
    const app::DeviceState& st = snap.state;
    const devlink::StatusReply& status = snap.status;
    const bool known = snap.connected && link == ServiceLink::Connected;
    json signals = json::object();
    if (known) {
        const bool yPbPr = st.m_bV2IsYPbPr;
        j["main"] = ButtonName(st.m_mainSource, yPbPr);
        j["pre"] = st.m_bPreviewSet ? ButtonName(status.secondSource, yPbPr) : json(nullptr);
        j["transition"] = TransitionName(status.transition);
        j["mode"] = st.m_bPreTakeMode ? "pre+take" : "one key";
        const json main = ButtonName(st.m_mainSource, yPbPr);
        if (main.is_string()) {
            signals[main.get<std::string>()] = status.mainSignal;
        }
        // The second source's signal counts where the window lights its lamp.
        if (st.m_bPipOn || st.m_bTextOn || st.m_bPreviewSet) {
            const json second = ButtonName(status.secondSource, yPbPr);
            if (second.is_string() && !signals.contains(second.get<std::string>())) {
                signals[second.get<std::string>()] = status.secondSignal;
            }
        }
    } else {
        j["main"] = nullptr;
        j["pre"] = nullptr;
        j["transition"] = nullptr;
        j["mode"] = nullptr;
    }
    j["overlay"] = {{"PIP", known && st.PipFlag()},
                    {"TEXT", known && st.TextFlag()},
                    {"FREEZE", known && st.m_bFreeze}};
    j["signals"] = signals;
    json timer;
    timer["running"] = m_service.TimerRunning();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_next) {
        timer["next"] = {{"time", IsoTime(m_next->time * 1000)},
                         {"source", SourceName(m_next->source)}};
    } else {
        timer["next"] = nullptr;
    }
    if (m_last) {
        static constexpr const char* kResults[] = {"sent", "missed", "failed"};
        timer["last"] = {{"time", IsoTime(m_last->plan.time * 1000)},
                         {"source", SourceName(m_last->plan.source)},
                         {"result", kResults[static_cast<int>(m_last->result)]}};
    } else {
        timer["last"] = nullptr;
    }
    j["timer"] = timer;
    return j;
}

json DeviceApi::Plans() const {
    std::string error;
    static constexpr const char* kKinds[] = {"day", "week", "month", "once"};
    json list = json::array();
    for (const auto& [kind, plan] : m_service.FilePlans(&error)) {
        json p = {{"kind", kKinds[kind]},
                  {"time", SecondText(plan.time)},
                  {"source", SourceName(plan.source)}};
        if (kind == PlanWeek) {
            p["weekday"] = std::atoi(plan.weekDay.c_str());
        } else if (kind == PlanMonth) {
            p["day"] = std::atoi(plan.monthDay.c_str());
        } else if (kind == PlanOnce) {
            const platform::LocalTime d = platform::ToLocal(plan.date * 1000);
            char date[16];
            std::snprintf(date, sizeof date, "%04d-%02d-%02d", d.year, d.month, d.day);
            p["date"] = date;
        }
        list.push_back(std::move(p));
    }
    json j = {{"plans", std::move(list)}};
    if (!error.empty()) {
        j["error"] = error;
    }
    return j;
}

int DeviceApi::SubscribeState(Listener listener) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int token = m_nextToken++;
    m_stateListeners[token] = std::move(listener);
    return token;
}

int DeviceApi::SubscribeEvents(Listener listener) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int token = m_nextToken++;
    m_eventListeners[token] = std::move(listener);
    return token;
}

void DeviceApi::Unsubscribe(int token) {
    std::lock_guard<std::mutex> tell(m_tellMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stateListeners.erase(token);
    m_eventListeners.erase(token);
}

void DeviceApi::StateMaybeChanged() {
    std::lock_guard<std::mutex> tell(m_tellMutex);
    std::vector<Listener> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) {
            return;
        }
    }
    json now = State();
    if (now == m_toldState) {
        return;
    }
    m_toldState = now;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& entry : m_stateListeners) {
            listeners.push_back(entry.second);
        }
    }
    for (const Listener& listener : listeners) {
        listener(now);
    }
}

void DeviceApi::TellEvent(const json& event) {
    std::lock_guard<std::mutex> tell(m_tellMutex);
    std::vector<Listener> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) {
            return;
        }
        for (const auto& entry : m_eventListeners) {
            listeners.push_back(entry.second);
        }
    }
    for (const Listener& listener : listeners) {
        listener(event);
    }
}

void DeviceApi::LinkStateChanged(ServiceLink link) {
    bool lost = false, back = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (link == ServiceLink::Lost && m_wasConnected) {
            lost = true;
        }
        if (link == ServiceLink::Connected) {
            back = m_wasConnected;
            m_wasConnected = true;
        }
    }
    const int64_t now = platform::CurrentClock().NowMs();
    if (lost) {
        TellEvent({{"event", "processor_lost"}, {"time", IsoTime(now)}});
    }
    if (back) {
        TellEvent({{"event", "processor_back"}, {"time", IsoTime(now)}});
    }
    StateMaybeChanged();
}

void DeviceApi::TimerChanged(bool) {
    StateMaybeChanged();
}

void DeviceApi::PlanAwaited(const PlanItem* plan) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = plan ? std::optional<PlanItem>(*plan) : std::nullopt;
    }
    StateMaybeChanged();
}

void DeviceApi::PlanOutcome(const PlanItem& plan, PlanResult result, int64_t atMs) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = Last{plan, result};
        m_next.reset();
    }
    if (result == PlanResult::Sent) {
        TellEvent({{"event", "plan_fired"},
                   {"time", IsoTime(atMs)},
                   {"source", SourceName(plan.source)}});
    } else {
        TellEvent({{"event", "plan_missed"},
                   {"time", IsoTime(atMs)},
                   {"source", SourceName(plan.source)},
                   {"result", result == PlanResult::Missed ? "missed" : "failed"}});
    }
    StateMaybeChanged();
}

void DeviceApi::Run(const Command& command, Done done) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) {
            done(Refused(503, "the service is stopping"));
            return;
        }
    }
    if (command.kind == Command::Kind::Timer) {
        RunTimer(command.on, std::move(done));
        return;
    }
    const DeviceSnapshot snap = m_line.Model().Current();
    if (!m_service.LinkUp() || !snap.connected) {
        done(Refused(409, "the processor is not connected"));
        return;
    }
    const uint8_t id = snap.deviceId;
    app::DeviceState st = snap.state;
    st.m_transition = snap.status.transition;
    if (command.transition) {
        app::PickTransition(st, *command.transition);
    }
    // The buttons the window enables in this state, as its status decoder sets them.
    app::DeviceState scratch = snap.state;
    std::map<int, bool> blinks;
    const devlink::Frame reply = snap.status.Encode();
    const auto display = app::DecodeStatus(reply.data(), id, false, false, scratch, blinks);
    const app::FunctionButtons buttons =
        display && display->functionButtons ? *display->functionButtons : app::FunctionButtons{};
    const auto disabled = [&](const char* button) {
        return Refused(409, Quoted(button) + " is not available in the processor's present state");
    };

    app::SwitchOutcome outcome;
    switch (command.kind) {
        case Command::Kind::Pre:
            if (!st.PreviewFlag()) {
                done(Refused(409, "the processor is not in Pre + TAKE mode"));
                return;
            }
            [[fallthrough]];
        case Command::Kind::Switch: {
            int code = command.source;
            if (code == devlink::kYPbPr) {
                if (!st.m_bV2IsYPbPr) {
                    done(Refused(409, "the V2 input is not YPbPr now: switch to \"V2\""));
                    return;
                }
                code = devlink::kV2;  // the "V2" button, captioned "YPbPr"
            } else if (code == devlink::kV2 && st.m_bV2IsYPbPr) {
                done(Refused(409, "the V2 input carries YPbPr now: switch to \"YPbPr\""));
                return;
            }
            outcome = app::PressSource(st, id, false, code);
            break;
        }
        case Command::Kind::Take:
            if (!st.m_bPreTakeMode) {
                done(Refused(409, "the processor is not in Pre + TAKE mode"));
                return;
            }
            if (!display || !display->autoTakeEnabled) {
                done(disabled("TAKE"));
                return;
            }
            outcome = app::PressAutoTake(st, id);
            break;
        case Command::Kind::Overlay:
            switch (command.overlay) {
                case Command::Overlay::Pip:
                    if (!buttons.pip) {
                        done(disabled("PIP/PBP"));
                        return;
                    }
                    // The button turns PIP on while it is off and off while it is pending or on.
                    st.m_bPipPending = false;
                    st.m_bPipOn = !command.on;
                    outcome = app::PressPip(st, id, false);
                    break;
                case Command::Overlay::Text:
                    if (!buttons.text) {
                        done(disabled("TEXT"));
                        return;
                    }
                    st.m_bTextPending = false;
                    st.m_bTextOn = !command.on;
                    outcome = app::PressText(st, id, false);
                    break;
                case Command::Overlay::Freeze:
                    if (!buttons.freeze) {
                        done(disabled("FREEZE"));
                        return;
                    }
                    st.m_bFreeze = !command.on;  // the button flips it
                    outcome = app::PressFreeze(st, id);
                    break;
            }
            break;
        case Command::Kind::Mode:
            if (!buttons.switchMode) {
                done(disabled(command.on ? "Pre + TAKE Switch" : "One Key Switch"));
                return;
            }
            outcome = app::PickSwitchMode(id, command.on);
            break;
        case Command::Kind::Timer:
            break;
    }
    if (outcome.refusal) {
        done(Refused(409, outcome.refusal->text));
        return;
    }
    if (!outcome.command) {
        done(ApiResult{});
        return;
    }
    const std::string what = CommandKindName(command.kind);
    auto shared = std::make_shared<Done>(std::move(done));
    const bool taken =
        m_line.Queue().Submit(m_client, outcome.command->frame, [shared, what](bool left) {
            if (left) {
                ApiResult r;
                r.sent = true;
                (*shared)(r);
            } else {
                (*shared)(
                    Refused(409, "the " + what + " did not leave: the processor is not connected"));
            }
        });
    if (!taken) {
        (*shared)(Refused(409, "too many commands are waiting for the processor; try again"));
    }
}

void DeviceApi::RunTimer(bool run, Done done) {
    {
        std::lock_guard<std::mutex> lock(m_timerMutex);
        m_timerJobs.emplace_back(run, std::move(done));
    }
    m_timerCv.notify_all();
}

void DeviceApi::TimerWorker() {
    std::unique_lock<std::mutex> lock(m_timerMutex);
    for (;;) {
        m_timerCv.wait(lock, [this] { return m_timerQuit || !m_timerJobs.empty(); });
        if (m_timerJobs.empty()) {
            return;
        }
        auto [run, done] = std::move(m_timerJobs.front());
        m_timerJobs.pop_front();
        const bool quitting = m_timerQuit;
        lock.unlock();
        if (quitting) {
            done(Refused(503, "the service is stopping"));
        } else {
            m_service.RunTimer(run);
            ApiResult r;
            r.sent = false;
            done(r);
        }
        lock.lock();
    }
}

}  // namespace server
