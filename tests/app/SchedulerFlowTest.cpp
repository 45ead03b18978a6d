// The scheduler in the main window against the simulator: Start, the timer fields, the switch at
// the plan's moment, Stop, and the automatic start.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "FakeUi.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "resources/ControlIds.h"
#include "app/MainDlg.h"

namespace fs = std::filesystem;
using testutil::ProcessEvents;
using testutil::WaitUntil;

namespace {

class SchedulerFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override {
        sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
        ASSERT_TRUE(sim->Started());
        dir = fs::path(testing::TempDir()) /
              ("orn312-sched-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        d.reset();
        fs::remove_all(dir);
    }
    // A plan file whose [CONNECT] points at the simulator, with the given plan sections.
    void WriteIni(bool autoStart, const std::string& plans) {
        std::ofstream(dir / "Planinfo.ini")
            << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << sim->tcpPort
            << "\nConnectFlag=1\nStartTimerFlag=" << (autoStart ? 1 : 0) << "\nDeviceID=1\n"
            << plans;
    }
    void Open() {
        d = std::make_unique<CORN302ControlDlg>();
        d->m_profilePath = (dir / "Planinfo.ini").string();
        d->OnInitDialog();
        ASSERT_TRUE(WaitUntil([&] { return d->m_conn.m_bConnected == 1; }));
    }
    // " h: m: s" of now + seconds, or empty when that is past midnight.
    static std::string ClockIn(int seconds) {
        const time_t t = ::time(nullptr) + seconds;
        struct tm now {
        }, then{};
        const time_t n = ::time(nullptr);
        localtime_r(&n, &now);
        localtime_r(&t, &then);
        if (then.tm_mday != now.tm_mday)
            return "";
        char buf[16];
        std::snprintf(buf, sizeof buf, "%2d:%2d:%2d", then.tm_hour, then.tm_min, then.tm_sec);
        return buf;
    }
    std::string Field(int id) { return d->ControlAs<QLineEdit>(id)->text().toStdString(); }
    bool Enabled(int id) { return d->Control(id)->isEnabled(); }

    testutil::FakeUi ui;
    std::unique_ptr<testutil::SimProcess> sim;
    std::unique_ptr<CORN302ControlDlg> d;
    fs::path dir;
};

}  // namespace

TEST_F(SchedulerFlow, StartRunsTheDayPlanAtItsMomentAndStopEndsAtOnce) {
    const std::string at = ClockIn(4);
    if (at.empty())
        GTEST_SKIP() << "too close to midnight";
    // The second line is broken: the box says so, and the plan before it still runs.
    WriteIni(false,
             "[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0=" + at + ",4\nTime1=25:00:00,5\n");
    Open();
    d->ControlAs<QAbstractButton>(ids::kStart)->click();
    EXPECT_EQ(d->m_bTimerRunning, 1);
    EXPECT_FALSE(Enabled(ids::kStart));
    EXPECT_TRUE(Enabled(ids::kStop));
    EXPECT_FALSE(Enabled(ids::kDisconnect));
    EXPECT_FALSE(Enabled(ids::kHdmi));
    ASSERT_TRUE(WaitUntil([&] { return !Field(ids::kCurrentValues[0]).empty(); }));
    EXPECT_EQ(Field(ids::kCurrentValues[0]), at);
    EXPECT_EQ(Field(ids::kCurrentValues[1]), "HDMI");
    EXPECT_EQ(Field(ids::kCurrentValues[2]), "Immediate Execution");
    ASSERT_TRUE(WaitUntil([&] { return !ui.boxes.empty(); }, 2000));
    EXPECT_NE(ui.boxes[0].text.find("DAYTIME"), std::string::npos) << ui.boxes[0].text;

    // The switch goes out within the plan's window, and the next status shows it.
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 00 00 04 00 00 00 00 00 00 00 00", 10000));
    EXPECT_TRUE(WaitUntil(
        [&] { return d->Control(ids::kSourceLamps[4])->accessibleDescription() == "on"; }, 10000));

    QElapsedTimer t;
    t.start();
    d->ControlAs<QAbstractButton>(ids::kStop)->click();
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_EQ(d->m_bTimerRunning, 0);
    EXPECT_TRUE(Enabled(ids::kStart));
    EXPECT_TRUE(Enabled(ids::kDisconnect));
    EXPECT_FALSE(Enabled(ids::kStop));
    ProcessEvents();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Field(ids::kCurrentValues[i]), "");
}

TEST_F(SchedulerFlow, StartNeedsAPlanKind) {
    WriteIni(false, "");
    Open();
    d->ControlAs<QAbstractButton>(ids::kAll)->click();  // clears the five boxes
    d->ControlAs<QAbstractButton>(ids::kStart)->click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Please select a timer to start");
    EXPECT_EQ(d->m_bTimerRunning, 0);
    EXPECT_TRUE(Enabled(ids::kStart));
}

TEST_F(SchedulerFlow, StartsByItselfWhenConnectedAtStartUp) {
    WriteIni(true, "[PLANCOUNT]\ndaytimecount=0\n");
    Open();
    EXPECT_EQ(d->m_bTimerRunning, 1);
    ProcessEvents(200);
    EXPECT_FALSE(Enabled(ids::kDisconnect));
    EXPECT_FALSE(Enabled(ids::kV1));
    EXPECT_TRUE(Enabled(ids::kStop));
}

// Plans added to the file by another program while the scheduler runs (an editor, a script, the
// file the service also uses) are taken in without a Stop and Start, and the Info line says so.
TEST_F(SchedulerFlow, ARunningSchedulerTakesInAChangedPlanFile) {
    const std::string at = ClockIn(8);
    const std::string later = ClockIn(90);
    if (at.empty() || later.empty())
        GTEST_SKIP() << "too close to midnight";
    WriteIni(false, "[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=" + later + ",4\n");
    Open();
    d->ControlAs<QAbstractButton>(ids::kStart)->click();
    ASSERT_EQ(d->m_bTimerRunning, 1);
    // The list of today is built; then another program adds a plan before it.
    ASSERT_TRUE(WaitUntil([&] { return Field(ids::kCurrentValues[0]) == later; }, 4000));
    WriteIni(false,
             "[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0=" + at + ",5\nTime1=" + later + ",4\n");
    EXPECT_TRUE(WaitUntil([&] { return Field(ids::kCurrentValues[0]) == at; }, 4000));
    EXPECT_EQ(Field(ids::kCurrentValues[1]), "DVI");
    EXPECT_EQ(Field(ids::kInfo), "The plan file changed: the timer read the plans again.");
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 00 00 05 00 00 00 00 00 00 00 01", 12000));
    d->ControlAs<QAbstractButton>(ids::kStop)->click();
}
