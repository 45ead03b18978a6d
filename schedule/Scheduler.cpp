#include "schedule/Scheduler.h"

#include <algorithm>
#include <utility>

#include "link/Commands.h"
#include "resources/Captions.h"
#include "schedule/PlanFile.h"

TimerGroup ShowTimer(int64_t moment, int source, int status, bool chinese) {
    TimerGroup group;
    group.time = FormatClock(moment);
    group.signal = SourceName(source);
    if (status == kNoExecution)
        group.status = res::Text(res::Msg::TimerNoExecution, chinese);
    if (status == kImmediateExecution)
        group.status = res::Text(res::Msg::TimerImmediateExecution, chinese);
    group.result = res::Text(res::Msg::TimerUnknown, chinese);
    return group;
}

PlanWait NextWaitStep(int64_t nowMs, int64_t moment) {
    const int64_t momentMs = moment * 1000;
    if (nowMs >= momentMs) {
        const bool inTime = (nowMs - momentMs) / 1000 <= PlanScheduler::kLateSeconds;
        return {inTime ? PlanWait::Send : PlanWait::GiveUp, 0};
    }
    const int64_t left = momentMs - nowMs;
    const int64_t lead = PlanScheduler::kLeadSeconds * 1000;
    const int64_t sleep =
        left > lead ? left - lead : std::min<int64_t>(left, PlanScheduler::kLookMs);
    return {PlanWait::Sleep, static_cast<int>(sleep)};
}

PlanScheduler::PlanScheduler(CInfoPlan& plans, SchedulerSink& sink, PlanSend send)
    : m_plans(plans), m_sink(sink), m_send(std::move(send)) {}

PlanScheduler::~PlanScheduler() {
    Stop();
}

void PlanScheduler::Start() {
    if (m_thread.joinable())
        return;
    m_stop.Reset();
    m_wake.Reset();
    m_reload = false;
    m_fields = {};
    m_thread = std::thread(&PlanScheduler::Run, this);
}

void PlanScheduler::Stop() {
    if (!m_thread.joinable())
        return;
    m_stop.Request();
    m_wake.Request();
    m_thread.join();
}

void PlanScheduler::Reload() {
    // The flag before the wake: a thread that sees the wake sees the flag.
    m_reload = true;
    m_wake.Request();
}

void PlanScheduler::RebuildTodayPlans() {
    // Plans of the old list that came due while a switch was under way are missed: the new list
    // holds only plans still to come.
    const int64_t now = platform::CurrentClock().NowMs() / 1000;
    for (const auto& [key, plan] : m_plans.m_todayPlans) {
        if (plan.time <= now)
            m_sink.PlanMissed(plan, false);
    }
    const SchedulerOptions options = m_sink.Options();
    for (int kind = PlanDay; kind <= PlanOnce; ++kind)
        m_plans.Plans(kind).clear();
    m_plans.m_todayPlans.clear();
    std::string error;
    if (!m_plans.LoadAllPlans(options.chinese, &error))
        m_sink.PlanFileError(error);
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        if (options.kinds[kind])
            m_plans.AddTodayPlans(kind, options.v2IsYPbPr);
    }
    m_sink.TodayPlansBuilt(m_plans.m_todayPlans);
}

void PlanScheduler::CarryOut(const PlanItem& plan) {
    bool refused = false;  // the link could not carry the switch at least once
    for (;;) {
        const PlanWait step = NextWaitStep(platform::CurrentClock().NowMs(), plan.time);
        if (m_stop.Requested())
            return;
        if (step.action == PlanWait::GiveUp) {
            m_sink.PlanMissed(plan, refused);
            return;
        }
        if (step.action == PlanWait::Send) {
            const uint8_t id = m_sink.Options().deviceId;
            if (m_send(plan, devlink::SourceSwitch(id, 0, plan.source), kSendPauseMs, m_stop))
                return;
            // Once the moment has come a reload waits: the plan is tried to the end of its window.
            refused = true;
            if (!platform::Sleep(kRetryMs, &m_stop))
                return;
            continue;
        }
        if (!platform::Sleep(step.sleepMs, &m_wake)) {
            if (m_stop.Requested())
                return;
            // A reload puts the plan back on the list if it is still due. Close to the moment
            // the reload waits for this plan instead, so that no plan falls between two lists.
            const int64_t leftMs = plan.time * 1000 - platform::CurrentClock().NowMs();
            if (m_reload && leftMs > kReloadMarginMs)
                return;
            m_wake.Reset();
            if (m_stop.Requested())
                return;  // a stop that came as the wake was reset
        }
    }
}

void PlanScheduler::Run() {
    platform::LocalTime built = platform::Now();
    RebuildTodayPlans();
    for (;;) {
        m_wake.Reset();
        if (m_stop.Requested())
            break;
        const platform::LocalTime now = platform::Now();
        if (m_reload.exchange(false)) {
            m_plans.LoadPlanCounts();
            RebuildTodayPlans();
            built = now;
        } else if (now.day != built.day || now.month != built.month || now.year != built.year) {
            RebuildTodayPlans();
            built = now;
        } else {
            // The nearest plan leaves the list whether or not it is sent: one already due is
            // dropped.
            const bool any = !m_plans.m_todayPlans.empty();
            PlanItem current, next;
            const int untilCurrent = m_plans.TakeNextPlan(true, &current);
            const int untilNext = m_plans.TakeNextPlan(false, &next);
            if (untilCurrent > 0 || untilNext != 0) {
                const bool chinese = m_sink.Options().chinese;
                if (untilCurrent > 0)
                    m_fields.current =
                        ShowTimer(current.time, current.source, kImmediateExecution, chinese);
                if (untilNext != 0)
                    m_fields.next = ShowTimer(next.time, next.source, kNoExecution, chinese);
                m_sink.TimerFieldsChanged(m_fields);
            }
            if (untilCurrent > 0)
                CarryOut(current);
            else if (any)
                m_sink.PlanMissed(current, false);
        }
        // A reload cuts this short too.
        platform::Sleep(kLookMs, &m_wake);
    }
}
