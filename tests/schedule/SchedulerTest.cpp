#include "schedule/Scheduler.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "link/Frame.h"
#include "schedule/PlanFile.h"

namespace {

namespace fs = std::filesystem;
using testutil::FakeClock;
using testutil::ScopedZone;

// Milliseconds since the epoch of "YYYY-MM-DD hh:mm:ss[.mmm]" in the zone of TZ.
int64_t At(const char* text) {
    struct tm t {};
    int ms = 0;
    const int n = std::sscanf(text, "%d-%d-%d %d:%d:%d.%d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                              &t.tm_hour, &t.tm_min, &t.tm_sec, &ms);
    EXPECT_GE(n, 6) << text;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t)) * 1000 + ms;
}

// "hh:mm:ss.mmm" of ms in the zone of TZ.
std::string ClockText(int64_t ms) {
    const time_t secs = static_cast<time_t>(ms / 1000);
    struct tm t {};
    localtime_r(&secs, &t);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

// Installs a fake clock for the life of the object.
struct ClockScope {
    explicit ClockScope(int64_t startMs) : clock(startMs) { platform::SetClock(&clock); }
    ~ClockScope() { platform::SetClock(nullptr); }
    FakeClock clock;
};

PlanItem Plan(int kind, const char* line) {
    PlanItem item;
    EXPECT_EQ(ParsePlanLine(kind, line, &item), PlanLine::Ok) << line;
    return item;
}

TEST(TodayPlans, AddTodayPlansTakesThePlansThatApplyLaterToday) {
    ScopedZone zone("UTC");
    struct Case {
        const char* now;
        int kind;
        const char* line;
        bool v2IsYPbPr;
        bool added;
    };
    // 2024-07-03 is a Wednesday; April has 30 days.
    const Case cases[] = {
        {"2024-07-03 09:00:00", PlanWeek, "3,10: 0: 0,4", false, true},
        {"2024-07-02 09:00:00", PlanWeek, "3,10: 0: 0,4", false, false},
        {"2024-07-04 09:00:00", PlanWeek, "3,10: 0: 0,4", false, false},
        {"2024-07-03 09:00:00", PlanWeek, "03,10: 0: 0,4", false, false},
        {"2024-06-30 09:00:00", PlanWeek, "0,10: 0: 0,4", false, true},
        {"2024-07-05 09:00:00", PlanMonth, "05,10: 0: 0,4", false, true},
        {"2024-07-05 09:00:00", PlanMonth, "5,10: 0: 0,4", false, true},
        {"2024-07-15 09:00:00", PlanMonth, "05,10: 0: 0,4", false, false},
        {"2024-04-30 09:00:00", PlanMonth, "31,10: 0: 0,4", false, false},
        {"2024-05-01 09:00:00", PlanMonth, "31,10: 0: 0,4", false, false},
        {"2024-07-31 09:00:00", PlanMonth, "31,10: 0: 0,4", false, true},
        {"2024-07-03 09:00:00", PlanOnce, "2024-7-3,10: 0: 0,4", false, true},
        {"2024-07-04 09:00:00", PlanOnce, "2024-7-3,10: 0: 0,4", false, false},
        {"2024-07-03 09:00:00", PlanOnce, "2023-7-3,10: 0: 0,4", false, false},
        // Only plans later than now.
        {"2024-07-03 09:59:59", PlanDay, "10: 0: 0,4", false, true},
        {"2024-07-03 10:00:00", PlanDay, "10: 0: 0,4", false, false},
        {"2024-07-03 10:00:00.999", PlanDay, "10: 0: 0,4", false, false},
        {"2024-07-03 23:00:00", PlanDay, "10: 0: 0,4", false, false},
        // Day plans follow the V2/YPbPr setting; the other kinds are not filtered.
        {"2024-07-03 09:00:00", PlanDay, "10: 0: 0,1", true, false},
        {"2024-07-03 09:00:00", PlanDay, "10: 0: 0,1", false, true},
        {"2024-07-03 09:00:00", PlanDay, "10: 0: 0,8", false, false},
        {"2024-07-03 09:00:00", PlanDay, "10: 0: 0,8", true, true},
        {"2024-07-03 09:00:00", PlanWeek, "3,10: 0: 0,1", true, true},
        {"2024-07-03 09:00:00", PlanWeek, "3,10: 0: 0,8", false, true},
        {"2024-07-03 09:00:00", PlanMonth, "03,10: 0: 0,1", true, true},
        {"2024-07-03 09:00:00", PlanOnce, "2024-7-3,10: 0: 0,8", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.now << " kind " << c.kind << " \"" << c.line << "\""
                                        << (c.v2IsYPbPr ? " V2 is YPbPr" : ""));
        ClockScope scope(At(c.now));
        CInfoPlan store;
        store.Plans(c.kind).emplace(0, Plan(c.kind, c.line));
        store.AddTodayPlans(c.kind, c.v2IsYPbPr);
        EXPECT_EQ(store.m_todayPlans.size(), c.added ? 1u : 0u);
    }
}

// A plan at 10:00 fires at 10:00 by the wall clock, whether daylight saving time is in effect
// that day or not.
TEST(TodayPlans, EachPlanGetsItsMomentTodayUnderRunningKeys) {
    for (const char* name : {"UTC", "Europe/Berlin", "Australia/Sydney", "America/New_York"}) {
        if (!fs::exists(fs::path("/usr/share/zoneinfo") / name))
            GTEST_SKIP() << "no tzdata for " << name;
        ScopedZone zone(name);
        for (const char* day : {"2024-01-10", "2024-07-10"}) {  // Wednesdays
            SCOPED_TRACE(testing::Message() << name << " " << day);
            const std::string date = day;
            ClockScope scope(At((date + " 09:00:00").c_str()));
            CInfoPlan store;
            store.m_todayPlans.emplace(4, PlanItem{});
            store.m_dayPlans.emplace(0, Plan(PlanDay, "10: 0: 0,4"));
            store.m_dayPlans.emplace(1, Plan(PlanDay, "23:59:59,8"));
            store.m_weekPlans.emplace(0, Plan(PlanWeek, "3,12:30: 0,2"));
            store.AddTodayPlans(PlanDay, true);
            store.AddTodayPlans(PlanWeek, true);
            store.m_todayPlans.erase(4);

            ASSERT_EQ(store.m_todayPlans.size(), 3u);
            EXPECT_EQ(store.m_todayPlans.at(5).time, At((date + " 10:00:00").c_str()) / 1000);
            EXPECT_EQ(store.m_todayPlans.at(6).time, At((date + " 23:59:59").c_str()) / 1000);
            EXPECT_EQ(store.m_todayPlans.at(7).time, At((date + " 12:30:00").c_str()) / 1000);
            EXPECT_EQ(store.m_todayPlans.at(7).source, 2);
            PlanItem next;
            EXPECT_EQ(store.TakeNextPlan(false, &next), 3600);
            EXPECT_EQ(ShowTimer(next.time, next.source, kImmediateExecution, false).time,
                      "10: 0: 0");
        }
    }
}

TEST(TodayPlans, TakeNextPlanFindsTheNearestByTimeOfDay) {
    ScopedZone zone("UTC");
    struct Entry {
        int key;
        const char* time;  // a time of day, or a whole moment
        uint8_t source;
    };
    struct Case {
        const char* what;
        std::vector<Entry> list;
        int seconds;
        int key;  // the entry taken; -1 none
    };
    const Case cases[] = {
        {"empty", {}, 0, -1},
        {"nearest", {{0, "10:00:30", 1}, {1, "10:00:20", 2}, {2, "11:00:00", 3}}, 20, 1},
        {"tie to the lower key", {{3, "10:00:20", 1}, {5, "10:00:20", 2}}, 20, 3},
        {"passed comes first", {{0, "10:00:30", 1}, {1, "09:59:50", 2}}, -10, 1},
        {"time of day only", {{0, "2000-01-01 10:00:40", 1}, {1, "2024-07-02 10:00:50", 2}}, 40, 0},
        {"due now", {{0, "10:00:00", 1}, {1, "10:00:01", 2}}, 0, 0},
    };
    ClockScope scope(At("2024-07-03 10:00:00.400"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CInfoPlan store;
        for (const Entry& e : c.list) {
            const std::string text = e.time;
            PlanItem item;
            item.time = At(text.size() > 8 ? e.time : ("2024-07-03 " + text).c_str()) / 1000;
            item.source = e.source;
            store.m_todayPlans.emplace(e.key, item);
        }
        const auto before = store.m_todayPlans;
        for (bool remove : {false, true}) {
            PlanItem next;
            next.source = 99;
            EXPECT_EQ(store.TakeNextPlan(remove, &next), c.seconds);
            auto expected = before;
            if (c.key < 0) {
                EXPECT_EQ(next.source, 99);
            } else {
                const PlanItem& taken = before.at(c.key);
                EXPECT_EQ(next.source, taken.source);
                EXPECT_EQ(next.time, At("2024-07-03 10:00:00") / 1000 + c.seconds);
                if (remove)
                    expected.erase(c.key);
            }
            EXPECT_EQ(store.m_todayPlans, expected) << (remove ? "removed" : "kept");
        }
    }
}

TEST(PlanWaitSteps, SleepsToTheLeadThenLooksEachSecondAndSendsOnlyInTheWindow) {
    ScopedZone zone("UTC");
    const int64_t moment = At("2024-07-03 10:00:00") / 1000;
    const std::pair<const char*, PlanWait> cases[] = {
        {"2024-07-03 09:00:00", {PlanWait::Sleep, 3500000}},
        {"2024-07-03 09:58:19.500", {PlanWait::Sleep, 500}},
        {"2024-07-03 09:58:20", {PlanWait::Sleep, 1000}},
        {"2024-07-03 09:59:58.900", {PlanWait::Sleep, 1000}},
        {"2024-07-03 09:59:59.250", {PlanWait::Sleep, 750}},
        {"2024-07-03 09:59:59.999", {PlanWait::Sleep, 1}},
        {"2024-07-03 10:00:00", {PlanWait::Send, 0}},
        {"2024-07-03 10:00:05.999", {PlanWait::Send, 0}},
        {"2024-07-03 10:00:06", {PlanWait::GiveUp, 0}},
        {"2024-07-03 11:00:00", {PlanWait::GiveUp, 0}},
    };
    for (const auto& [now, step] : cases)
        EXPECT_EQ(NextWaitStep(At(now), moment), step) << now;
}

// A scheduler on a fake clock over a plan file of its own; the sink and the link are recorders.
class Rig : public SchedulerSink {
public:
    // watch: the scheduler watches its plan file, as the window's does.
    Rig(const std::string& planFile, const char* start, SchedulerOptions options,
        bool watch = false)
        : m_scope(At(start)), m_options(options), m_watch(watch) {
        Put(planFile);
        m_store.LoadPlanCounts();
        m_scheduler.Start();
    }
    ~Rig() override {
        m_scheduler.Stop();
        fs::remove_all(m_dir);
    }

    void Put(const std::string& content) const {
        std::ofstream(m_dir + "/Planinfo.ini", std::ios::binary) << content;
    }
    // Lets the scheduler run up to the local time "YYYY-MM-DD hh:mm:ss".
    void RunUntil(const char* when) { ASSERT_TRUE(m_scope.clock.RunUntil(At(when))) << when; }

    // "hh:mm:ss.mmm SS" for each switch: the moment it went out and its source.
    std::vector<std::string> Sends() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> log;
        for (const Sent& s : m_sent)
            log.push_back(ClockText(s.atMs) + " " + std::to_string(s.frame[4]));
        return log;
    }

    struct Sent {
        int64_t atMs;
        devlink::Frame frame;
        int delayMs;
        bool pauseRanOut;
    };
    std::vector<Sent> sent() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent;
    }
    std::vector<TimerFields> fields() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_fields;
    }
    std::vector<std::string> errors() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errors;
    }
    // "hh:mm:ss SS late" or "hh:mm:ss SS no link" for each missed plan.
    std::vector<std::string> misses() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_misses;
    }
    // "changed" or "gone" for each word of the watch.
    std::vector<std::string> changes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_changes;
    }
    // The size of the list of today at each build.
    std::vector<size_t> builds() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_builds;
    }
    // The link refuses every switch before this moment (ms since the epoch).
    void RefuseUntil(int64_t ms) { m_refuseUntil = ms; }

    FakeClock& Clock() { return m_scope.clock; }
    PlanScheduler& Scheduler() { return m_scheduler; }

    SchedulerOptions Options() override { return m_options; }
    void TimerFieldsChanged(const TimerFields& fields) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fields.push_back(fields);
    }
    void PlanFileError(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_errors.push_back(text);
    }
    void TodayPlansBuilt(const std::map<int, PlanItem>& today) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_builds.push_back(today.size());
    }
    void PlanMissed(const PlanItem& plan, bool noLink) override {
        const int64_t now = platform::CurrentClock().NowMs();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_misses.push_back(ClockText(plan.time * 1000).substr(0, 8) + " " +
                           std::to_string(plan.source) + (noLink ? " no link" : " late"));
        m_missesTold.push_back(ClockText(now));
    }
    void PlanMoved(const PlanItem& plan, int64_t moment) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_moves.push_back(ClockText(plan.time * 1000).substr(0, 8) + " to " +
                          ClockText(moment * 1000).substr(0, 8));
    }
    // When each missed plan was told: "hh:mm:ss.mmm".
    std::vector<std::string> missesTold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_missesTold;
    }
    // "02:30:00 to 03:00:00" for each plan moved past a skipped hour.
    std::vector<std::string> moves() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_moves;
    }
    // Sets the clock to the local time "YYYY-MM-DD hh:mm:ss", as an administrator or NTP does.
    void StepTo(const char* when) { Clock().Jump(At(when) - Clock().NowMs()); }
    void PlanFileChanged(bool gone) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_changes.push_back(gone ? "gone" : "changed");
    }
    std::string Path() const { return m_dir + "/Planinfo.ini"; }

private:
    static std::string TempDir() {
        std::string tmpl = testing::TempDir() + "schedXXXXXX";
        EXPECT_NE(::mkdtemp(tmpl.data()), nullptr);
        return tmpl;
    }
    // Stands for the window's send: the link lock would be held from here to the end of the pause.
    bool Send(const PlanItem& plan, const devlink::Frame& frame, int delayMs,
              platform::StopFlag& stop) {
        const int64_t at = platform::CurrentClock().NowMs();
        if (at < m_refuseUntil)
            return false;
        EXPECT_EQ(frame[4], plan.source);
        const bool ranOut = platform::Sleep(delayMs, &stop);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back({at, frame, delayMs, ranOut});
        return true;
    }

    ClockScope m_scope;
    const SchedulerOptions m_options;
    const bool m_watch;
    const std::string m_dir = TempDir();
    CInfoPlan m_store{m_dir + "/Planinfo.ini"};
    PlanScheduler m_scheduler{m_store, *this,
                              [this](const PlanItem& p, const devlink::Frame& f, int ms,
                                     platform::StopFlag& stop) { return Send(p, f, ms, stop); },
                              m_watch};
    std::atomic<int64_t> m_refuseUntil{0};
    std::mutex m_mutex;
    std::vector<Sent> m_sent;
    std::vector<TimerFields> m_fields;
    std::vector<std::string> m_errors;
    std::vector<std::string> m_misses;
    std::vector<std::string> m_missesTold;
    std::vector<std::string> m_moves;
    std::vector<std::string> m_changes;
    std::vector<size_t> m_builds;
};

SchedulerOptions DayAndWeek() {
    SchedulerOptions options;
    options.kinds = {true, true, false, false};
    options.deviceId = 7;
    return options;
}

const char kTwoDayPlans[] =
    "[PLANCOUNT]\ndaytimecount=2\n"
    "[DAYTIME]\nTime0=10: 0: 0,4\nTime1=10: 0:20,5\n";

TEST(SchedulerThread, ShowsThePlanWaitedForAndTheNextAndSendsEachAtItsMoment) {
    ScopedZone zone("UTC");
    for (bool chinese : {false, true}) {
        SCOPED_TRACE(chinese ? "zh" : "en");
        SchedulerOptions options = DayAndWeek();
        options.chinese = chinese;
        // Started off the whole second: a plan goes out at its moment, not at the next look.
        Rig rig(kTwoDayPlans, "2024-07-03 09:59:00.300", options);
        const std::string waiting = chinese ? "即将执行" : "Immediate Execution";
        const std::string after = chinese ? "未执行" : "No Execution";
        const std::string unknown = chinese ? "未知" : "Unknown";
        const TimerGroup first{"10: 0: 0", "HDMI", waiting, unknown};
        const TimerGroup second{"10: 0:20", "DVI", waiting, unknown};
        const TimerGroup secondNext{"10: 0:20", "DVI", after, unknown};
        // Once a plan's switch has left, the current group says so until the next plan takes it.
        const std::string executed = chinese ? "已执行" : "Executed";
        const std::string sentAt = chinese ? "已发送 " : "Sent ";
        const TimerGroup firstSent{"10: 0: 0", "HDMI", executed, sentAt + "10:00:00"};
        const TimerGroup secondSent{"10: 0:20", "DVI", executed, sentAt + "10:00:20"};

        rig.RunUntil("2024-07-03 09:59:59");
        EXPECT_EQ(rig.fields(), (std::vector<TimerFields>{{first, secondNext}}));
        EXPECT_TRUE(rig.sent().empty());

        rig.RunUntil("2024-07-03 10:01:00");
        // With no plan after the second, "Next Timer" keeps what it showed.
        EXPECT_EQ(rig.fields(), (std::vector<TimerFields>{{first, secondNext},
                                                          {firstSent, secondNext},
                                                          {second, secondNext},
                                                          {secondSent, secondNext}}));
        EXPECT_EQ(rig.Sends(), (std::vector<std::string>{"10:00:00.000 4", "10:00:20.000 5"}));
        const std::vector<Rig::Sent> sent = rig.sent();
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(devlink::HexText(sent[0].frame.data(), 13),
                  "05 07 00 00 04 00 00 00 00 00 00 00 06");
        EXPECT_EQ(devlink::HexText(sent[1].frame.data(), 13),
                  "05 07 00 00 05 00 00 00 00 00 00 00 07");
        EXPECT_EQ(sent[0].delayMs, 5000);
        EXPECT_TRUE(sent[0].pauseRanOut);
    }
}

// The first plan's switch and its pause take until 10:00:05 and the thread looks again a second
// later: a plan due by then is dropped, the plans after it still run.
TEST(SchedulerThread, APlanDueWhileTheLastWasSentIsDropped) {
    ScopedZone zone("UTC");
    Rig rig(
        "[PLANCOUNT]\ndaytimecount=3\n"
        "[DAYTIME]\nTime0=10: 0: 0,4\nTime1=10: 0: 3,5\nTime2=10: 0:30,6\n",
        "2024-07-03 09:59:00", DayAndWeek());
    rig.RunUntil("2024-07-03 10:01:00");
    EXPECT_EQ(rig.Sends(), (std::vector<std::string>{"10:00:00.000 4", "10:00:30.000 6"}));
    EXPECT_EQ(rig.misses(), (std::vector<std::string>{"10:00:03 5 late"}));
}

// While the link cannot carry a switch (the device is away), the plan is tried again until its
// window ends at 5 whole seconds past its moment, then told as missed; it is never sent later.
TEST(SchedulerThread, ASwitchTheLinkRefusesIsTriedThroughThePlansWindowOnly) {
    ScopedZone zone("UTC");
    struct Case {
        const char* refuseUntil;
        std::vector<std::string> sends;
        std::vector<std::string> misses;
    };
    const Case cases[] = {
        {"2024-07-03 10:00:03.100", {"10:00:03.250 4", "10:30:00.000 5"}, {}},
        {"2024-07-03 10:00:05.700", {"10:00:05.750 4", "10:30:00.000 5"}, {}},
        {"2024-07-03 10:00:05.800", {"10:30:00.000 5"}, {"10:00:00 4 no link"}},  // next try 6.000
        {"2024-07-03 10:20:00", {"10:30:00.000 5"}, {"10:00:00 4 no link"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refuseUntil);
        Rig rig("[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0=10: 0: 0,4\nTime1=10:30: 0,5\n",
                "2024-07-03 09:59:00", DayAndWeek());
        rig.RefuseUntil(At(c.refuseUntil));
        rig.RunUntil("2024-07-03 10:31:00");
        EXPECT_EQ(rig.Sends(), c.sends);
        EXPECT_EQ(rig.misses(), c.misses);
    }
}

// An edited plan file is taken in at once, wherever the thread waits: the plans it no longer
// holds are not sent, new ones are. A switch under way keeps its whole pause, and a plan within
// two seconds of its moment is carried out before the reload. The plan that comes due in the
// pause after the 9:30 switch is told as missed once, whenever the reload comes.
TEST(SchedulerThread, AReloadReadsTheEditedPlanFileAtOnce) {
    ScopedZone zone("UTC");
    const std::string before =
        "[PLANCOUNT]\ndaytimecount=3\n[DAYTIME]\nTime0= 9:30: 0,4\nTime1=10: 0: 0,5\n"
        "Time2= 9:30: 3,2\n";
    const std::string after =
        "[PLANCOUNT]\ndaytimecount=3\n[DAYTIME]\nTime0= 9:30: 0,4\nTime1= 9:45: 0,6\n"
        "Time2= 9:30: 3,2\n";
    const std::vector<std::string> edited = {"09:30:00.000 4", "09:45:00.000 6"};
    struct Case {
        const char* where;
        const char* reloadAt;
        std::vector<std::string> sends;
        std::vector<size_t> builds;  // plans due at the start and after the reload
    };
    const Case cases[] = {
        {"long sleep", "2024-07-03 09:10:00", edited, {3, 3}},
        {"looking each second", "2024-07-03 09:29:30", edited, {3, 3}},
        {"last second", "2024-07-03 09:29:59", edited, {3, 1}},
        {"pause after the switch", "2024-07-03 09:30:02", edited, {3, 1}},
        {"no plan left", "2024-07-03 10:00:30", {"09:30:00.000 4", "10:00:00.000 5"}, {3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Rig rig(before, "2024-07-03 09:00:00", DayAndWeek());
        rig.RunUntil(c.reloadAt);
        rig.Put(after);
        rig.Scheduler().Reload();
        rig.RunUntil("2024-07-03 10:10:00");
        EXPECT_EQ(rig.Sends(), c.sends);
        ASSERT_FALSE(rig.sent().empty());
        EXPECT_TRUE(rig.sent()[0].pauseRanOut);
        EXPECT_EQ(rig.builds(), c.builds);
        EXPECT_EQ(rig.misses(), (std::vector<std::string>{"09:30:03 2 late"}));
    }
}

// The window's scheduler watches its plan file: another program's edit is taken in within a
// second, wherever the thread waits, and said; a plan added for later runs, a plan removed does
// not. A plan whose moment came between the last look at the old file and now (here during the
// pause after a switch) is told as missed, never sent late. Settings saved meanwhile are no change
// of plans; a file that is gone is said, and the list of today stays.
TEST(SchedulerThread, AWatchedPlanFileIsFollowed) {
    ScopedZone zone("UTC");
    const std::string counts = "[PLANCOUNT]\ndaytimecount=";
    const std::string before = counts + "2\n[DAYTIME]\nTime0=10: 0: 0,4\nTime1=11: 0: 0,5\n";
    struct Case {
        const char* what;
        const char* editAt;
        std::optional<std::string> file;  // nothing: the file is removed
        std::vector<std::string> sends;
        std::vector<std::string> misses;
        std::vector<std::string> changes;
    };
    const Case cases[] = {
        {"a plan added, one removed",
         "2024-07-03 09:40:00.500",
         counts + "2\n[DAYTIME]\nTime0=10:30: 0,6\nTime1=11: 0: 0,5\n",
         {"10:30:00.000 6", "11:00:00.000 5"},
         {},
         {"changed"}},
        {"a plan that came in after its moment",
         "2024-07-03 10:00:02",
         counts + "3\n[DAYTIME]\nTime0=10: 0: 0,4\nTime1=10: 0: 3,2\nTime2=11: 0: 0,5\n",
         {"10:00:00.000 4", "11:00:00.000 5"},
         {"10:00:03 2 late"},
         {"changed"}},
        {"settings saved",
         "2024-07-03 09:40:00.500",
         before + "[CONNECT]\nConnectFlag=1\n",
         {"10:00:00.000 4", "11:00:00.000 5"},
         {},
         {}},
        {"the file removed",
         "2024-07-03 09:40:00.500",
         std::nullopt,
         {"10:00:00.000 4", "11:00:00.000 5"},
         {},
         {"gone"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(before, "2024-07-03 09:00:00", DayAndWeek(), true);
        rig.RunUntil(c.editAt);
        if (c.file)
            rig.Put(*c.file);
        else
            fs::remove(rig.Path());
        rig.RunUntil("2024-07-03 11:10:00");
        EXPECT_EQ(rig.Sends(), c.sends);
        EXPECT_EQ(rig.misses(), c.misses);
        EXPECT_EQ(rig.changes(), c.changes);
    }
}

// The list of the new day is built from the plan file as it is at midnight.
TEST(SchedulerThread, CrossingMidnightRebuildsTheListFromThePlanFile) {
    ScopedZone zone("UTC");
    const std::string weekPart = "[WEEKTIME]\nTime0=3, 0: 0:10,6\n";
    const std::string counts = "[PLANCOUNT]\ndaytimecount=2\nweektimecount=1\n";
    Rig rig(counts + "[DAYTIME]\nTime0=23:59:30,4\nTime1= 0: 0:30,5\n" + weekPart,
            "2024-07-02 23:59:00.250", DayAndWeek());  // a Tuesday
    rig.RunUntil("2024-07-02 23:59:40");
    EXPECT_EQ(rig.Sends(), (std::vector<std::string>{"23:59:30.000 4"}));

    rig.Put(counts + "[DAYTIME]\nTime0=23:59:30,4\nTime1= 0: 0:40,2\n" + weekPart);
    rig.RunUntil("2024-07-03 00:01:00");
    EXPECT_EQ(rig.Sends(),
              (std::vector<std::string>{"23:59:30.000 4", "00:00:10.000 6", "00:00:40.000 2"}));
}

TEST(SchedulerThread, StopEndsTheThreadAtOnceWhereverItWaits) {
    ScopedZone zone("UTC");
    struct Case {
        const char* where;
        const char* until;
        size_t sent;
        bool pauseRanOut;
    };
    const Case cases[] = {
        {"long sleep", "2024-07-03 09:00:10", 0, false},
        {"looking each second", "2024-07-03 09:59:30", 0, false},
        {"pause after the switch", "2024-07-03 10:00:02", 1, false},
        {"no plan left", "2024-07-03 10:00:30", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Rig rig("[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=10: 0: 0,4\n", "2024-07-03 09:00:00",
                DayAndWeek());
        rig.RunUntil(c.until);
        const auto start = std::chrono::steady_clock::now();
        rig.Scheduler().Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_FALSE(rig.Scheduler().Running());
        const std::vector<Rig::Sent> sent = rig.sent();
        ASSERT_EQ(sent.size(), c.sent);
        if (!sent.empty()) {
            EXPECT_EQ(sent[0].pauseRanOut, c.pauseRanOut);
        }
    }
}

// The scheduler follows the time of day when the clock is set (a box without a real-time clock
// that learns the time from the network, an administrator, a laptop waking up): each row starts at
// 08:00, sets the clock at the times given, and says what went out when, and what was told as
// missed and when. Plans: 10:00:06 HDMI and 10:30:00 DVI, every day.
TEST(SchedulerThread, FollowsTheClockWhenItIsSet) {
    ScopedZone zone("UTC");
    struct Step {
        const char* at;  // by the clock before the step
        const char* to;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> sends;
        std::vector<std::string> misses;
        std::vector<std::string> told;  // when each miss was told
    };
    const std::vector<std::string> both = {"10:00:06.000 4", "10:30:00.000 5"};
    const Case cases[] = {
        {"an hour on, an hour before the plan",
         {{"2024-07-03 08:59:50", "2024-07-03 09:59:50"}},
         both,
         {},
         {}},
        {"eight minutes on, landing two minutes before it",
         {{"2024-07-03 09:50:05", "2024-07-03 09:58:05"}},
         both,
         {},
         {}},
        {"a minute on, landing in its window",
         {{"2024-07-03 09:59:10", "2024-07-03 10:00:08"}},
         {"10:00:08.000 4", "10:30:00.000 5"},
         {},
         {}},
        {"on past it: told at once, the next plan on time",
         {{"2024-07-03 09:59:00", "2024-07-03 10:09:00"}},
         {"10:30:00.000 5"},
         {"10:00:06 4 late"},
         {"10:09:00.000"}},
        {"a day on: yesterday's plan told, today's run",
         {{"2024-07-03 09:30:00", "2024-07-04 09:30:00"}},
         both,
         {"10:00:06 4 late", "10:30:00 5 late"},
         {"09:30:00.000", "09:30:00.000"}},
        {"back an hour after the first plan: no repeat, the second runs",
         {{"2024-07-03 10:00:15", "2024-07-03 09:00:15"}},
         both,
         {},
         {}},
        {"back, then forward again",
         {{"2024-07-03 10:00:15", "2024-07-03 09:00:15"},
          {"2024-07-03 09:00:20", "2024-07-03 10:00:20"}},
         both,
         {},
         {}},
        {"back from past both to yesterday evening: today's plans once",
         {{"2024-07-03 10:40:00", "2024-07-02 23:59:00"}},
         both,
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig("[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0=10: 0: 6,4\nTime1=10:30: 0,5\n",
                "2024-07-03 08:00:00", DayAndWeek());
        for (const Step& step : c.steps) {
            rig.RunUntil(step.at);
            rig.StepTo(step.to);
        }
        rig.RunUntil(c.steps.back().to[9] == '4' ? "2024-07-04 10:31:00" : "2024-07-03 10:31:00");
        EXPECT_EQ(rig.Sends(), c.sends);
        EXPECT_EQ(rig.misses(), c.misses);
        EXPECT_EQ(rig.missesTold(), c.told);
    }
}

// The nights the clocks change, in a zone that has them, for every kind of plan. In spring the
// hour from 02:00 goes missing: a plan at 02:30 runs once at 03:00:00 and is told as moved. In
// autumn the hour from 02:00 comes twice: a plan at 02:30 runs once.
TEST(SchedulerThread, PlansOnTheNightsTheClocksChangeRunOnce) {
    ScopedZone zone("Europe/Berlin");
    if (!fs::exists("/usr/share/zoneinfo/Europe/Berlin"))
        GTEST_SKIP() << "no tzdata for Europe/Berlin";
    struct Case {
        const char* night;  // a Sunday, the 28th or the 31st
        const char* start;
        const char* end;
        std::vector<std::string> sends;
        std::vector<std::string> moves;
    };
    const Case nights[] = {
        {"spring",
         "2027-03-28 01:00:00",
         "2027-03-28 04:00:00",
         {"03:00:00.000 4"},
         {"02:30:00 to 03:00:00"}},
        {"autumn", "2027-10-31 01:00:00", "2027-10-31 04:00:00", {"02:30:00.000 4"}, {}},
    };
    struct Kind {
        int kind;
        const char* section;  // with its one plan at 02:30:00 to HDMI
        const char* line;     // for the spring night; the autumn night's differs in its date
        const char* autumnLine;
    };
    const Kind kinds[] = {
        {PlanDay, "DAYTIME", " 2:30: 0,4", " 2:30: 0,4"},
        {PlanWeek, "WEEKTIME", "0, 2:30: 0,4", "0, 2:30: 0,4"},
        {PlanMonth, "MONTHTIME", "28, 2:30: 0,4", "31, 2:30: 0,4"},
        {PlanOnce, "ONCETIME", "2027-3-28, 2:30: 0,4", "2027-10-31, 2:30: 0,4"},
    };
    const char* const countKeys[] = {"daytimecount", "weektimecount", "monthtimecount",
                                     "oncetimecount"};
    for (const Case& night : nights) {
        for (const Kind& k : kinds) {
            SCOPED_TRACE(testing::Message() << night.night << " " << k.section);
            SchedulerOptions options;
            options.kinds = {true, true, true, true};
            const bool spring = std::string(night.night) == "spring";
            Rig rig(std::string("[PLANCOUNT]\n") + countKeys[k.kind] + "=1\n[" + k.section +
                        "]\nTime0=" + (spring ? k.line : k.autumnLine) + "\n",
                    night.start, options);
            rig.RunUntil(night.end);
            EXPECT_EQ(rig.Sends(), night.sends);
            EXPECT_EQ(rig.moves(), night.moves);
            EXPECT_TRUE(rig.misses().empty());
        }
    }
}

// After a plan's moment the timer panel says what became of it: sent at what time, missed, or
// failed because its frame could not leave.
TEST(SchedulerThread, TheTimerPanelTellsWhatBecameOfThePlan) {
    ScopedZone zone("UTC");
    struct Case {
        const char* what;
        const char* refuseUntil;
        const char* stepTo;  // at 09:59:59, or nothing
        TimerGroup current;
    };
    const Case cases[] = {
        {"sent", "2024-07-03 00:00:00", nullptr, {"10: 0: 0", "HDMI", "Executed", "Sent 10:00:00"}},
        {"sent late in its window",
         "2024-07-03 10:00:02.100",
         nullptr,
         {"10: 0: 0", "HDMI", "Executed", "Sent 10:00:02"}},
        {"failed: the link refused it all through its window",
         "2024-07-03 11:00:00",
         nullptr,
         {"10: 0: 0", "HDMI", "No Execution", "Failed: not sent"}},
        {"missed: the clock was set past it",
         "2024-07-03 00:00:00",
         "2024-07-03 10:05:00",
         {"10: 0: 0", "HDMI", "No Execution", "Missed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig("[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0=10: 0: 0,4\nTime1=12: 0: 0,5\n",
                "2024-07-03 09:59:00", DayAndWeek());
        rig.RefuseUntil(At(c.refuseUntil));
        if (c.stepTo != nullptr) {
            rig.RunUntil("2024-07-03 09:59:59");
            rig.StepTo(c.stepTo);
        }
        rig.RunUntil("2024-07-03 10:30:00");
        const std::vector<TimerFields> fields = rig.fields();
        ASSERT_FALSE(fields.empty());
        EXPECT_EQ(fields.back().current, c.current);
        // The plan waited for next shows as the next one meanwhile.
        EXPECT_EQ(fields.back().next, (TimerGroup{"12: 0: 0", "DVI", "No Execution", "Unknown"}));
        // Its close watch gives it the current group.
        rig.RunUntil("2024-07-03 11:58:30");
        EXPECT_EQ(rig.fields().back().current,
                  (TimerGroup{"12: 0: 0", "DVI", "Immediate Execution", "Unknown"}));
    }
}

TEST(SchedulerThread, APlanFileErrorIsReportedAndThePlansBeforeItRun) {
    ScopedZone zone("UTC");
    Rig rig(
        "[PLANCOUNT]\ndaytimecount=3\nweektimecount=1\n"
        "[DAYTIME]\nTime0=10: 0: 0,4\nTime1=25: 0: 0,4\nTime2=10: 0:30,5\n"
        "[WEEKTIME]\nTime0=3,10: 1: 0,6\n",
        "2024-07-03 09:59:00", DayAndWeek());
    rig.RunUntil("2024-07-03 10:02:00");
    const std::vector<std::string> errors = rig.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("[DAYTIME] Time1=25: 0: 0,4"), std::string::npos) << errors[0];
    EXPECT_EQ(rig.Sends(), (std::vector<std::string>{"10:00:00.000 4"}));
    EXPECT_TRUE(rig.Scheduler().Running());
}

}  // namespace
