// The scheduler engine: a thread that carries out the plans of the day at their moments, switching
// the processor's source, and tells the window what to show in the timer fields. No Qt here: the
// window implements SchedulerSink and the send function.
#pragma once

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/Frame.h"
#include "platform/Clock.h"
#include "platform/FileWatch.h"
#include "schedule/InfoPlan.h"

// One group of timer fields: Time, Signal, Status, Result.
struct TimerGroup {
    std::string time;
    std::string signal;
    std::string status;
    std::string result;

    bool operator==(const TimerGroup&) const = default;
};

// The eight timer fields: "Current Timer" (1299..1302) and "Next Timer" (1307..1310).
struct TimerFields {
    TimerGroup current;
    TimerGroup next;

    bool operator==(const TimerFields&) const = default;
};

// Status numbers of a timer group.
enum TimerStatus : int {
    kNoExecution = 0,         // the plan after the one waited for
    kImmediateExecution = 2,  // the plan waited for
};

// The texts of one timer group: moment as " 9: 5: 0" (local), the source name, the status
// ("No Execution", "Immediate Execution"; another status gives ""), and "Unknown"; in Chinese
// when chinese is set.
TimerGroup ShowTimer(int64_t moment, int source, int status, bool chinese);

// What became of a plan the scheduler waited for, as the timer panel tells it.
enum class PlanResult {
    Sent,    // its switch went out in its window
    Missed,  // its window passed before the thread could send
    Failed,  // its window passed while the link refused the switch
};

// The window's state that the scheduler reads while it runs.
struct SchedulerOptions {
    std::array<bool, 4> kinds{};  // Day, Week, Month, Once ticked (by PlanKind)
    bool v2IsYPbPr = false;       // the second input is YPbPr: day plans to V2 are left out
    bool chinese = false;         // language of the timer texts and the plan file error
    uint8_t deviceId = 1;
};

// What the scheduler tells the window. Every call comes from the scheduler thread: read and post
// without blocking on the UI thread, which may be waiting in PlanScheduler::Stop.
class SchedulerSink {
public:
    virtual ~SchedulerSink() = default;
    // Read at each rebuild of the list of today (kinds, V2 as YPbPr, language), each time the
    // timer fields change (language) and before each send (device ID).
    virtual SchedulerOptions Options() = 0;
    // All eight texts, each time a group changed. A group keeps its texts until it is shown
    // again; the window empties the fields itself at Start and Stop.
    virtual void TimerFieldsChanged(const TimerFields& fields) = 0;
    // The plan file could not be read whole at a rebuild (text names the line, in the language
    // of the options). The plans read before the bad line run.
    virtual void PlanFileError(const std::string& text) = 0;
    // The list of today was built (at the start, at each new day and on a reload): the plans
    // still to run today, each with its moment.
    virtual void TodayPlansBuilt(const std::map<int, PlanItem>& today) { (void)today; }
    // A plan's time passed without its switch: it was taken from the list too late (the switch
    // before it was still under way, or the clock was set forward), its time came between two
    // looks at a changed plan file, or its window went by while the link could not carry the
    // switch (noLink). Such a plan is never sent late.
    virtual void PlanMissed(const PlanItem& plan, bool noLink) { (void)plan, (void)noLink; }
    // A plan's time of day does not exist today (the clocks go forward over it): it runs once, at
    // moment, the first second after the gap. plan is as the plan file has it.
    virtual void PlanMoved(const PlanItem& plan, int64_t moment) { (void)plan, (void)moment; }
    // What the timer panel tells: the plan the thread waits for now (nullptr: none left today),
    // and what became of a plan (atMs: when its frame left; its moment when it did not).
    virtual void PlanAwaited(const PlanItem* plan) { (void)plan; }
    virtual void PlanOutcome(const PlanItem& plan, PlanResult result, int64_t atMs) {
        (void)plan, (void)result, (void)atMs;
    }
    // Only when the scheduler watches its plan file: the plans in it changed (another program
    // edited it) and are read again now; or the file is gone (gone), and the list of today stays
    // as it was read.
    virtual void PlanFileChanged(bool gone) { (void)gone; }
};

// Looks at a plan file for edits by another program. A look compares the file's identity, size
// and modification time with the last look's and, when they differ, the plan sections ([PLANCOUNT]
// and the four kinds' sections): settings saved in [CONNECT] meanwhile are no change of plans.
class PlanFileWatch {
public:
    enum class Look {
        Same,     // no change of plans since the last look
        Changed,  // the plans changed, or the file came back with other plans
        Gone,     // the file was there at the last look and is gone now
    };

    explicit PlanFileWatch(std::string path);
    // Takes the file as it is now as seen.
    void Reset();
    Look Check();
    // When a look last found the plans as they were before (the clock in use, ms since the epoch):
    // a change found now was made after that.
    int64_t SameSinceMs() const { return m_sameMs; }

private:
    using Plans = std::vector<std::vector<std::pair<std::string, std::string>>>;
    Plans ReadPlans() const;

    std::string m_path;
    struct stat m_stat {};
    bool m_present = false;
    Plans m_plans;
    int64_t m_sameMs = 0;
};

// Puts frame, the switch of plan, on the link and pauses delayMs, holding the link lock through
// both, so that no other transaction comes between the switch and the end of its pause. The pause
// ends early when stop is raised; the frame itself always goes out whole. Returns false when the
// frame could not go out (no link): the scheduler tries again while the plan's window lasts.
using PlanSend = std::function<bool(const PlanItem& plan, const devlink::Frame& frame, int delayMs,
                                    platform::StopFlag& stop)>;

// One step of the wait for a plan's moment: sleep sleepMs and look again, send now, or give up.
struct PlanWait {
    enum Action { Sleep, Send, GiveUp };
    Action action = Sleep;
    int sleepMs = 0;

    bool operator==(const PlanWait&) const = default;
};

// The wait for moment (seconds since the epoch) at nowMs: sleeps until 100 s before it, then looks
// once a second and wakes at the moment itself. It sends while the clock reads 0..5 whole seconds
// past the moment and gives up later than that (a clock set forward, a late wake), so one missed
// plan never holds up the rest of the day. The sleeps follow the time of day: a step of the clock
// wakes them, and the wait is worked out again.
PlanWait NextWaitStep(int64_t nowMs, int64_t moment);

// Runs the plans of the ticked kinds, from the plan file of plans, on a thread of its own.
// Start, Stop and Running belong to one thread (the UI thread).
class PlanScheduler {
public:
    static constexpr int kSendPauseMs = 5000;     // pause after a switch, link lock held
    static constexpr int kLeadSeconds = 100;      // the long sleep ends this long before a plan
    static constexpr int kLookMs = 1000;          // between looks near a plan and between passes
    static constexpr int kLateSeconds = 5;        // a plan is still sent this late
    static constexpr int kRetryMs = 250;          // between tries of a switch the link refused
    static constexpr int kReloadMarginMs = 2000;  // a reload this close to a plan waits for it
    static constexpr int kWatchMs = 1000;         // between looks at a watched plan file
    // ... where the kernel tells of changes to it (a look still catches what it does not report)
    static constexpr int kSlowWatchMs = 30000;
    // Plans carried out are remembered this long, so that a clock set back, even over midnight,
    // never sends one again.
    static constexpr int64_t kDoneKeepMs = 2 * 86400 * 1000LL;

    // plans: the plan store; the thread reads its counts, clears and reloads its kind maps and
    // owns m_todayPlans while it runs. watchFile: the thread itself looks at the plan file
    // between its waits and reloads when another program changed the plans (the window; the
    // service watches from its supervisor and calls Reload).
    PlanScheduler(CInfoPlan& plans, SchedulerSink& sink, PlanSend send, bool watchFile = false);
    ~PlanScheduler();
    PlanScheduler(const PlanScheduler&) = delete;
    PlanScheduler& operator=(const PlanScheduler&) = delete;

    // Starts the thread; does nothing while it runs.
    void Start();
    // Ends the thread wherever it waits and joins it. The send under way, if any, has put its
    // frame out whole and cut its pause short, so the link lock is free when this returns.
    void Stop();
    bool Running() const { return m_thread.joinable(); }
    // The plan file changed: the thread reads its counts and plans again and builds the list of
    // today anew before it waits for another plan. A switch under way finishes first. Any thread.
    // sinceMs: when the file was last seen as it was before (-1: now); plans of the new file whose
    // moment came after that and has passed are told as missed, not sent late.
    void Reload(int64_t sinceMs = -1);

private:
    // What became of a plan the thread waited for.
    enum class Outcome {
        Sent,         // its switch went out in its window
        Missed,       // its window passed before the thread could send (told to the sink)
        Failed,       // its window passed while the link refused the switch (told to the sink)
        Interrupted,  // a stop, or a reload before its moment: it may come back with the list
    };

    void Run();
    // Reads the counts and plans of the plan file and builds the list of today from the ticked
    // kinds, leaving out plans already carried out. Plans of today whose moment is later than
    // sinceMs (ms) but has passed were missed.
    void RebuildTodayPlans(int64_t sinceMs);
    // Sleeps until the clock reads untilMs, looking at a watched plan file every kWatchMs
    // meanwhile. False when cut short by a stop or a reload; a step of the clock asks for a
    // reload, so that plans it skipped are told as missed and the list fits the new day.
    bool Doze(int64_t untilMs);
    // Takes the plan taken from the list as done today: sent, given up or told as missed.
    void Done(const PlanItem& plan);
    // Waits for the plan's moment and sends its switch within the plan's window, or tells the
    // sink it was missed. Returns early on a stop or a reload before the moment.
    Outcome CarryOut(const PlanItem& plan);
    // The timer panel: plan as the one waited for, and the plan after it, if any, as the next.
    void ShowWaiting(const PlanItem& plan);
    // The timer panel: what became of plan, in the current group.
    void ShowOutcome(const PlanItem& plan, Outcome outcome, int64_t sentMs);

    CInfoPlan& m_plans;
    SchedulerSink& m_sink;
    PlanSend m_send;
    TimerFields m_fields;  // the scheduler thread's
    // The current group shows what became of the last plan; it stays until the thread starts the
    // close watch of the next one (kLeadSeconds before it), which then takes the group.
    bool m_showingOutcome = false;
    platform::StopFlag m_stop;
    // Wakes the waits before a plan's moment: raised by Stop and by Reload.
    platform::StopFlag m_wake;
    std::atomic<bool> m_reload{false};
    // The earliest sinceMs of the reloads asked for since the last one ran; kNoSince for none.
    static constexpr int64_t kNoSince = INT64_MAX;
    std::atomic<int64_t> m_reloadSince{kNoSince};
    std::unique_ptr<PlanFileWatch> m_watch;  // when the thread watches the file; its alone
    std::unique_ptr<platform::FileWatch> m_fileWatch;  // the kernel's word of a change, with it
    // The plans carried out (moment, source), those of the last days too: a reload never tells
    // them missed, and a rebuild never lists them again.
    std::set<std::pair<int64_t, uint8_t>> m_done;
    std::thread m_thread;
};
