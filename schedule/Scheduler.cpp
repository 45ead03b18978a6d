#include "schedule/Scheduler.h"

#include <algorithm>
#include <ctime>
#include <iterator>
#include <utility>

#include "link/Commands.h"
#include "platform/ProfileFile.h"
#include "resources/Captions.h"
#include "resources/PlanTexts.h"
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
        if (plan.time <= nowMs / 1000 && m_done.count({plan.time, plan.source}) == 0) {
            m_sink.PlanMissed(plan, false);
            Done(plan);
        }
    }
    // Plans carried out days ago can no longer come back with a list.
    for (auto it = m_done.begin(); it != m_done.end();)
        it = it->first * 1000 < nowMs - kDoneKeepMs ? m_done.erase(it) : std::next(it);
    const SchedulerOptions options = m_sink.Options();
    for (int kind = PlanDay; kind <= PlanOnce; ++kind)
        m_plans.Plans(kind).clear();
    m_plans.m_todayPlans.clear();
    m_plans.m_movedToday.clear();
    // The counts as the file has them now: another program may have changed them.
    m_plans.LoadPlanCounts();
    std::string error;
    if (!m_plans.LoadAllPlans(options.chinese, &error))
        m_sink.PlanFileError(error);
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        if (options.kinds[kind])
            m_plans.AddTodayPlans(kind, options.v2IsYPbPr, std::min(sinceMs, nowMs));
    }
    // Plans already carried out (before a reload, or before the clock was set back) are not
    // listed again. Plans whose moment came after the file was last seen as it was (or after the
    // clock was last read before a step), and has passed, came in too late: told as missed, never
    // sent late.
    for (auto it = m_plans.m_todayPlans.begin(); it != m_plans.m_todayPlans.end();) {
        const bool done = m_done.count({it->second.time, it->second.source}) != 0;
        if (!done && it->second.time * 1000 > nowMs) {
            ++it;
            continue;
        }
        if (!done) {
            m_sink.PlanMissed(it->second, false);
            Done(it->second);
        }
        it = m_plans.m_todayPlans.erase(it);
    }
    for (const auto& [plan, moment] : m_plans.m_movedToday)
        m_sink.PlanMoved(plan, moment);
    m_sink.TodayPlansBuilt(m_plans.m_todayPlans);
}

bool PlanScheduler::Doze(int64_t untilMs) {
    for (;;) {
        const int64_t seenMs = platform::CurrentClock().NowMs();
        if (seenMs >= untilMs)
            return true;
        const bool told = m_fileWatch && m_fileWatch->Active();
        const int64_t wakeMs =
            m_watch ? std::min(untilMs, seenMs + (told ? kSlowWatchMs : kWatchMs)) : untilMs;
        switch (platform::SleepUntil(wakeMs, &m_wake, told ? m_fileWatch->Fd() : -1)) {
            case platform::Wake::Stopped:
                return false;
            case platform::Wake::ClockSet:
                // Plans skipped by a step forward are told as missed at once; after a step back
                // the list is built for the day the clock now reads, without the plans done.
                Reload(seenMs);
                return false;
            case platform::Wake::Ready:
                m_fileWatch->Drain();
                break;
            case platform::Wake::Reached:
                break;
        }
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
    }
}

void PlanScheduler::ShowWaiting(const PlanItem& plan) {
    const bool chinese = m_sink.Options().chinese;
    m_fields.current = ShowTimer(plan.time, plan.source, kImmediateExecution, chinese);
    PlanItem next;
    if (m_plans.TakeNextPlan(false, &next) != 0)
        m_fields.next = ShowTimer(next.time, next.source, kNoExecution, chinese);
    m_showingOutcome = false;
    m_sink.TimerFieldsChanged(m_fields);
}

void PlanScheduler::ShowOutcome(const PlanItem& plan, Outcome outcome, int64_t sentMs) {
    const bool chinese = m_sink.Options().chinese;
    TimerGroup& group = m_fields.current;
    group = ShowTimer(plan.time, plan.source, kNoExecution, chinese);
    switch (outcome) {
        case Outcome::Sent:
            group.status = res::TimerExecutedText(chinese);
            group.result = res::TimerSentText(SecondText(sentMs / 1000), chinese);
            m_sink.PlanOutcome(plan, PlanResult::Sent, sentMs);
            break;
        case Outcome::Missed:
            group.result = res::TimerMissedText(chinese);
            m_sink.PlanOutcome(plan, PlanResult::Missed, plan.time * 1000);
            break;
        case Outcome::Failed:
            group.result = res::TimerFailedText(chinese);
            m_sink.PlanOutcome(plan, PlanResult::Failed, plan.time * 1000);
            break;
        case Outcome::Interrupted:
            return;
    }
    m_showingOutcome = true;
    m_sink.TimerFieldsChanged(m_fields);
}

PlanScheduler::Outcome PlanScheduler::CarryOut(const PlanItem& plan) {
    bool refused = false;  // the link could not carry the switch at least once
    for (;;) {
        const int64_t nowMs = platform::CurrentClock().NowMs();
        const PlanWait step = NextWaitStep(nowMs, plan.time);
        if (m_stop.Requested())
            return Outcome::Interrupted;
        if (step.action == PlanWait::GiveUp) {
            m_sink.PlanMissed(plan, refused);
            return refused ? Outcome::Failed : Outcome::Missed;
        }
        if (step.action == PlanWait::Send) {
            const uint8_t id = m_sink.Options().deviceId;
            const int64_t sentMs = nowMs;
            if (m_send(plan, devlink::SourceSwitch(id, 0, plan.source), kSendPauseMs, m_stop)) {
                // Shown once the frame has left: the pause after it may still run.
                ShowOutcome(plan, Outcome::Sent, sentMs);
                return Outcome::Sent;
            }
            // Once the moment has come a reload waits: the plan is tried to the end of its window.
            refused = true;
            if (!platform::Sleep(kRetryMs, &m_stop))
                return Outcome::Interrupted;
            continue;
        }
        // The panel shows the plan waited for once its close watch begins, where it showed what
        // became of the one before.
        if (m_showingOutcome && plan.time * 1000 - nowMs <= kLeadSeconds * 1000LL)
            ShowWaiting(plan);
        if (!Doze(nowMs + step.sleepMs)) {
            if (m_stop.Requested())
                return Outcome::Interrupted;
            // A reload puts the plan back on the list if it is still due. Close to the moment
            // the reload waits for this plan instead, so that no plan falls between two lists.
            const int64_t leftMs = plan.time * 1000 - platform::CurrentClock().NowMs();
            if (m_reload && leftMs > kReloadMarginMs)
                return Outcome::Interrupted;
            m_wake.Reset();
            if (m_stop.Requested())
                return Outcome::Interrupted;  // a stop that came as the wake was reset
        }
    }
}

// The first moment of the next calendar day, ms since the epoch. Worked out with localtime_r
// alone: mktime may read the zone anew, which the window's thread does too.
static int64_t NextMidnightMs(int64_t nowMs) {
    const platform::LocalTime now = platform::ToLocal(nowMs);
    const auto secondOfDay = [](const platform::LocalTime& t) {
        return t.hour * 3600 + t.minute * 60 + t.second;
    };
    int64_t candidate = nowMs / 1000 + (86400 - secondOfDay(now));
    // A day of 23 or 25 hours lands an hour off: step to the day's start (a few tries at most).
    for (int i = 0; i < 3; ++i) {
        const platform::LocalTime t = platform::ToLocal(candidate * 1000);
        const bool sameDay = t.year == now.year && t.month == now.month && t.day == now.day;
        if (sameDay)
            candidate += 86400 - secondOfDay(t);
        else if (secondOfDay(t) != 0)
            candidate -= secondOfDay(t);
        else
            break;
    }
    return std::max(candidate * 1000, nowMs + 1000);
}

void PlanScheduler::Run() {
    if (m_watch) {
        m_fileWatch = std::make_unique<platform::FileWatch>(m_plans.Path());
        m_watch->Reset();
    }
    m_done.clear();
    m_showingOutcome = false;
    platform::LocalTime built = platform::Now();
    RebuildTodayPlans(kNoSince);
    for (;;) {
        m_wake.Reset();
        if (m_stop.Requested())
            break;
        const platform::LocalTime now = platform::Now();
        const bool newDay =
            now.day != built.day || now.month != built.month || now.year != built.year;
        if (m_reload.exchange(false) || newDay) {
            RebuildTodayPlans(m_reloadSince.exchange(kNoSince));
            built = now;
            continue;
        }
        if (m_plans.m_todayPlans.empty()) {
            m_sink.PlanAwaited(nullptr);
            // Nothing more today: sleep to the new day (a reload or a step of the clock wakes it).
            Doze(NextMidnightMs(platform::CurrentClock().NowMs()));
            continue;
        }
        // The nearest plan leaves the list whether or not it is sent: one already due is dropped.
        PlanItem current, next;
        const int untilCurrent = m_plans.TakeNextPlan(true, &current);
        const int untilNext = m_plans.TakeNextPlan(false, &next);
        // While the panel shows what became of the last plan, the plan waited for is shown as the
        // next one until its close watch begins.
        const bool holdOutcome = m_showingOutcome && untilCurrent > kLeadSeconds;
        if (untilCurrent > 0 || untilNext != 0) {
            const bool chinese = m_sink.Options().chinese;
            if (holdOutcome) {
                m_fields.next = ShowTimer(current.time, current.source, kNoExecution, chinese);
            } else {
                if (untilCurrent > 0) {
                    m_fields.current =
                        ShowTimer(current.time, current.source, kImmediateExecution, chinese);
                    m_showingOutcome = false;
                }
                if (untilNext != 0)
                    m_fields.next = ShowTimer(next.time, next.source, kNoExecution, chinese);
            }
            m_sink.TimerFieldsChanged(m_fields);
        }
        if (untilCurrent > 0) {
            m_sink.PlanAwaited(&current);
            const Outcome outcome = CarryOut(current);
            if (outcome != Outcome::Interrupted)
                Done(current);
            if (outcome == Outcome::Missed || outcome == Outcome::Failed)
                ShowOutcome(current, outcome, 0);
        } else {
            Done(current);
            m_sink.PlanMissed(current, false);
            ShowOutcome(current, Outcome::Missed, 0);
        }
        // A reload (a step of the clock too) cuts this short, or is taken at once.
        if (!m_reload)
            Doze(platform::CurrentClock().NowMs() + kLookMs);
    }
}
