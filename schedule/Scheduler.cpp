#include "schedule/Scheduler.h"

#include <algorithm>
#include <utility>

#include "link/Commands.h"
#include "platform/ProfileFile.h"
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

PlanFileWatch::PlanFileWatch(std::string path) : m_path(std::move(path)) {}

PlanFileWatch::Plans PlanFileWatch::ReadPlans() const {
    Plans plans = {platform::GetProfileSection(m_path, kPlanCountSection)};
    for (int kind = PlanDay; kind <= PlanOnce; ++kind)
        plans.push_back(platform::GetProfileSection(m_path, PlanSection(kind)));
    return plans;
}

void PlanFileWatch::Reset() {
    m_present = ::stat(m_path.c_str(), &m_stat) == 0;
    m_plans = ReadPlans();
    m_sameMs = platform::CurrentClock().NowMs();
}

PlanFileWatch::Look PlanFileWatch::Check() {
    const int64_t nowMs = platform::CurrentClock().NowMs();
    struct stat now {};
    if (::stat(m_path.c_str(), &now) != 0) {
        const bool was = m_present;
        m_present = false;
        if (was)
            return Look::Gone;
        m_sameMs = nowMs;
        return Look::Same;
    }
    const bool same = m_present && now.st_dev == m_stat.st_dev && now.st_ino == m_stat.st_ino &&
                      now.st_size == m_stat.st_size &&
                      now.st_mtim.tv_sec == m_stat.st_mtim.tv_sec &&
                      now.st_mtim.tv_nsec == m_stat.st_mtim.tv_nsec;
    m_present = true;
    m_stat = now;
    if (!same) {
        Plans plans = ReadPlans();
        if (plans != m_plans) {
            m_plans = std::move(plans);
            return Look::Changed;
        }
    }
    m_sameMs = nowMs;
    return Look::Same;
}

PlanScheduler::PlanScheduler(CInfoPlan& plans, SchedulerSink& sink, PlanSend send, bool watchFile)
    : m_plans(plans),
      m_sink(sink),
      m_send(std::move(send)),
      m_watch(watchFile ? std::make_unique<PlanFileWatch>(plans.Path()) : nullptr) {}

PlanScheduler::~PlanScheduler() {
    Stop();
}

void PlanScheduler::Start() {
    if (m_thread.joinable())
        return;
    m_stop.Reset();
    m_wake.Reset();
    m_reload = false;
    m_reloadSince = kNoSince;
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

void PlanScheduler::Reload(int64_t sinceMs) {
    const int64_t since = sinceMs < 0 ? kNoSince : sinceMs;
    for (int64_t held = m_reloadSince; since < held;) {
        if (m_reloadSince.compare_exchange_weak(held, since))
            break;
    }
    // The flag before the wake: a thread that sees the wake sees the flag.
    m_reload = true;
    m_wake.Request();
}

void PlanScheduler::Done(const PlanItem& plan) {
    m_done.emplace(plan.time, plan.source);
}

void PlanScheduler::RebuildTodayPlans(int64_t sinceMs) {
    // Plans of the old list that came due while a switch was under way are missed: the new list
    // holds only plans still to come.
    const int64_t nowMs = platform::CurrentClock().NowMs();
    for (const auto& [key, plan] : m_plans.m_todayPlans) {
        if (plan.time <= nowMs / 1000) {
            m_sink.PlanMissed(plan, false);
            Done(plan);
        }
    }
    const SchedulerOptions options = m_sink.Options();
    for (int kind = PlanDay; kind <= PlanOnce; ++kind)
        m_plans.Plans(kind).clear();
    m_plans.m_todayPlans.clear();
    // The counts as the file has them now: another program may have changed them.
    m_plans.LoadPlanCounts();
    std::string error;
    if (!m_plans.LoadAllPlans(options.chinese, &error))
        m_sink.PlanFileError(error);
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        if (options.kinds[kind])
            m_plans.AddTodayPlans(kind, options.v2IsYPbPr, std::min(sinceMs, nowMs));
    }
    // Plans whose moment came after the file was last seen as it was, and has passed, came in
    // too late: told as missed (unless already carried out), never sent late.
    for (auto it = m_plans.m_todayPlans.begin(); it != m_plans.m_todayPlans.end();) {
        if (it->second.time * 1000 > nowMs) {
            ++it;
            continue;
        }
        if (m_done.count({it->second.time, it->second.source}) == 0) {
            m_sink.PlanMissed(it->second, false);
            Done(it->second);
        }
        it = m_plans.m_todayPlans.erase(it);
    }
    m_sink.TodayPlansBuilt(m_plans.m_todayPlans);
}

bool PlanScheduler::Doze(int ms) {
    for (;;) {
        const int slice = m_watch ? std::min(ms, kWatchMs) : ms;
        if (!platform::Sleep(slice, &m_wake))
            return false;
        ms -= slice;
        if (m_watch) {
            switch (m_watch->Check()) {
                case PlanFileWatch::Look::Changed:
                    m_sink.PlanFileChanged(false);
                    Reload(m_watch->SameSinceMs());
                    return false;
                case PlanFileWatch::Look::Gone:
                    m_sink.PlanFileChanged(true);
                    break;
                case PlanFileWatch::Look::Same:
                    break;
            }
        }
        if (ms <= 0)
            return true;
    }
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
        if (!Doze(step.sleepMs)) {
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
    if (m_watch)
        m_watch->Reset();
    m_done.clear();
    platform::LocalTime built = platform::Now();
    RebuildTodayPlans(kNoSince);
    for (;;) {
        m_wake.Reset();
        if (m_stop.Requested())
            break;
        const platform::LocalTime now = platform::Now();
        if (m_reload.exchange(false)) {
            RebuildTodayPlans(m_reloadSince.exchange(kNoSince));
            built = now;
        } else if (now.day != built.day || now.month != built.month || now.year != built.year) {
            m_done.clear();
            RebuildTodayPlans(kNoSince);
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
            if (any)
                Done(current);
            if (untilCurrent > 0)
                CarryOut(current);
            else if (any)
                m_sink.PlanMissed(current, false);
        }
        // A reload cuts this short too.
        Doze(kLookMs);
    }
}
