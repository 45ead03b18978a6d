#include "controls/SequenceRunner.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <atomic>

#include "FakeUi.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "device/Connection.h"
#include "link/Commands.h"

using testutil::ProcessEvents;
using testutil::WaitUntil;

namespace {

class QuietSink : public app::ConnectionSink {
public:
    void InfoText(app::LinkText) override {}
    void InfoRaw(const std::string&) override {}
    void PortOutOfRange() override {}
    void ConnectFinished(bool accepted) override {
        this->accepted = accepted;
        finished = true;  // last: the test reads accepted once it sees this
    }
    void SwitchControlsEnabled(bool on) override {
        if (!on)
            commandStarted = true;
    }
    void StatusReply(const devlink::Frame&) override {}
    void LampsVisible(const std::vector<int>&, bool) override {}
    std::atomic<bool> finished{false}, accepted{false}, commandStarted{false};
};

// A dialog with an edit, a Save and an Exit, connected to a simulator whose connection is busy
// with a long command when the dialog starts its sequence.
class SequenceRunnerFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override {
        ASSERT_TRUE(sim.Started());
        app::ConnectSettings s;
        s.ipText = "127.0.0.1";
        s.portText = std::to_string(sim.tcpPort);
        conn.StartConnect(s);
        ASSERT_TRUE(WaitUntil([&] { return sink.finished.load(); }));
        ASSERT_TRUE(sink.accepted);
        auto* column = new QVBoxLayout(&dialog);
        for (QWidget* w : {static_cast<QWidget*>(edit), static_cast<QWidget*>(save),
                           static_cast<QWidget*>(exit)})
            column->addWidget(w);
    }
    // The command worker takes the link for a command with a 3 s pause, then the dialog opens.
    void BusyLinkThenPause() {
        conn.QueueCommand(devlink::FreezeCommand(1, true), 3000);
        ASSERT_TRUE(WaitUntil([&] { return sink.commandStarted.load(); }));
        conn.PauseWorkers();
    }

    testutil::SimProcess sim{std::vector<std::string>{"--tcp", "0"}};
    QuietSink sink;
    app::Connection conn{sink};
    QDialog dialog;
    QLineEdit* edit = new QLineEdit;
    QPushButton* save = new QPushButton("Save");
    QPushButton* exit = new QPushButton("Exit");
};

}  // namespace

TEST_F(SequenceRunnerFlow, WaitsForTheRunningTransactionWithoutHoldingTheUiThread) {
    BusyLinkThenPause();
    ui::SequenceRunner runner(&dialog, conn, 1);
    runner.KeepEnabled(exit);
    std::atomic<int> got{0};
    bool done = false;
    const size_t before = sim.Output().size();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(runner.Start(
        [&](app::SequenceLink& link) {
            devlink::Frame reply{};
            got = link.Query(devlink::ResolutionQuery(link.DeviceId()), reply, 1000);
        },
        [&] { done = true; }));
    EXPECT_LT(t.elapsed(), 200);  // the UI thread did not wait for the link
    // Waiting: no input, the wait cursor, Exit still usable; a second sequence is refused.
    EXPECT_TRUE(runner.Busy());
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(exit->isEnabled());
    EXPECT_EQ(dialog.cursor().shape(), Qt::WaitCursor);
    EXPECT_FALSE(runner.Start([](app::SequenceLink&) {}));

    ASSERT_TRUE(WaitUntil([&] { return done; }, 10000));
    EXPECT_EQ(got, 13);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_TRUE(save->isEnabled());
    EXPECT_NE(dialog.cursor().shape(), Qt::WaitCursor);
    // Its query went out only after the command's pause and its status read.
    const std::string log = sim.Output().substr(before);
    const size_t query = log.find("05 01 fe 03");
    ASSERT_NE(query, std::string::npos) << log;
    EXPECT_LT(log.find("05 01 fe 00"), query) << log;
    conn.ResumeWorkers();
    conn.Disconnect();
}

TEST_F(SequenceRunnerFlow, ExitDuringTheWaitStopsAtOnceAndSendsNothing) {
    BusyLinkThenPause();
    bool done = false;
    std::atomic<bool> ran{false};
    {
        ui::SequenceRunner runner(&dialog, conn, 1);
        runner.KeepEnabled(exit);
        ASSERT_TRUE(runner.Start(
            [&](app::SequenceLink& link) {
                if (link.Send(devlink::ResolutionCommand(link.DeviceId(), 7), 10000))
                    ran = true;
            },
            [&] { done = true; }));
        ProcessEvents(100);
        QElapsedTimer t;
        t.start();
        runner.Stop();
        EXPECT_LT(t.elapsed(), 500);
        EXPECT_FALSE(runner.Busy());
        EXPECT_TRUE(edit->isEnabled());
    }
    ProcessEvents(200);
    EXPECT_FALSE(done);
    EXPECT_FALSE(ran);
    conn.ResumeWorkers();
    conn.Disconnect();
    EXPECT_EQ(sim.Output().find("05 01 0d 07"), std::string::npos);
}
