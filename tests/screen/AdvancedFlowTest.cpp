// The output resolution dialog end to end: the main window connected to the simulator process,
// its "Resolution" button, the operator switching presets and setting a custom resolution.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "resources/ControlIds.h"
#include "app/MainDlg.h"
#include "controls/Progress.h"
#include "screen/Advanced.h"
#include "screen/ResolutionSequences.h"

namespace fs = std::filesystem;
using testutil::WaitUntil;

namespace {

// The system clock, except that the processor's ten-second wait after a resolution change lasts
// a fifth of a second, so that a whole session takes seconds. Installed before any worker starts.
class QuickWaitClock : public platform::Clock {
public:
    QuickWaitClock() : m_real(platform::CurrentClock()) { platform::SetClock(this); }
    ~QuickWaitClock() override { platform::SetClock(nullptr); }
    int64_t NowMs() override { return m_real.NowMs(); }
    platform::LocalTime Local() override { return m_real.Local(); }
    bool Sleep(int ms, platform::StopFlag* stop) override {
        return m_real.Sleep(ms == screen::kResolutionWaitMs ? 200 : ms, stop);
    }

private:
    platform::Clock& m_real;
};

// What the operator does while a modal dialog runs: each step waits until its condition holds,
// then acts (an act may run a modal loop of its own; the next step waits for it to return).
class Operator {
public:
    using Step = std::pair<std::function<bool()>, std::function<void()>>;
    explicit Operator(std::vector<Step> steps) : m_steps(std::move(steps)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_next < m_steps.size() && m_steps[m_next].first()) {
                m_steps[m_next++].second();
            }
        });
        m_timer.start(20);
    }
    bool Finished() const { return m_next == m_steps.size(); }

private:
    std::vector<Step> m_steps;
    size_t m_next = 0;
    QTimer m_timer;
};

void Press(QWidget* w) {
    QAccessible::queryAccessibleInterface(w)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    auto* button = qobject_cast<QAbstractButton*>(w);
    WaitUntil([&] { return !button->isDown(); }, 3000);
}

class AdvancedFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override {
        dir = fs::path(testing::TempDir()) / ("orn312-advanced-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        ui.run = {"CProgress", "CCAdvanced"};
        ui.watchdogMs = 30000;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::unique_ptr<CORN302ControlDlg> ConnectedWindow(int port) {
        auto d = std::make_unique<CORN302ControlDlg>();
        d->m_profilePath = (dir / "Planinfo.ini").string();
        d->OnInitDialog();
        d->ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
        d->ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
        d->ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(port));
        d->ControlAs<QAbstractButton>(ids::kConnect)->click();
        EXPECT_TRUE(WaitUntil([&] { return d->Control(ids::kDisconnect)->isEnabled(); }));
        return d;
    }

    QuickWaitClock clock;
    fs::path dir;
    testutil::FakeUi ui;
};

}  // namespace

TEST_F(AdvancedFlow, PresetsAndCustomResolutionInBothLanguagesReadBack) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    auto main = ConnectedWindow(sim.tcpPort);

    CCAdvanced* dlg = nullptr;
    const auto list = [&] { return qobject_cast<QComboBox*>(dlg->Control(CCAdvanced::kList)); };
    const auto box = [&](int id) { return qobject_cast<QLineEdit*>(dlg->Control(id)); };
    const auto ready = [&](int listIndex) {
        return [&, listIndex] {
            dlg = main->findChild<CCAdvanced*>();
            return dlg != nullptr && dlg->isVisible() && !dlg->Busy() &&
                   list()->currentIndex() == listIndex;
        };
    };
    const auto setCustom = [&](const char* w, const char* h, const char* f) {
        box(CCAdvanced::kWidth)->setText(w);
        box(CCAdvanced::kHeight)->setText(h);
        box(CCAdvanced::kRate)->setText(f);
        Press(dlg->Control(CCAdvanced::kSave));
    };

    struct Session {
        bool chinese;
        int opensAt;            // the device's code when the dialog opens
        int preset;             // chosen first
        const char *w, *h, *f;  // then custom, saved after a refused try
        const char* state;      // the simulator's state afterwards
        const char* refusal;
        const char* customBefore;  // custom width the device had before
    } sessions[] = {
        {false, 6, 7, "1280", "720", "50",
         "state output resolution 16, output window 1280x720 at 0,0, custom 1280x720@50",
         "Dotlock out of range，range is 25999001~164998999", "1920"},
        {true, 16, 12, "1600", "900", "60",
         "state output resolution 16, output window 1600x900 at 0,0, custom 1600x900@60",
         "超出点频范围，点频范围是25999001~164998999", "1280"},
    };
    for (const Session& s : sessions) {
        main->ControlAs<QAbstractButton>(s.chinese ? ids::kChineseRadio : ids::kEnglishRadio)
            ->click();
        ui.boxes.clear();
        std::string widthAfterCustom;
        Operator op({
            {ready(s.opensAt), [&] { testutil::Choose(list(), s.preset); }},
            {ready(s.preset),
             [&] {
                 sim.Command("state");
                 EXPECT_FALSE(box(CCAdvanced::kWidth)->isEnabled());
                 testutil::Choose(list(), 16);
             }},
            {ready(16),
             [&] {
                 widthAfterCustom = box(CCAdvanced::kWidth)->text().toStdString();
                 setCustom("2560", "1600", "60");  // refused: the message, nothing sent
                 setCustom(s.w, s.h, s.f);
             }},
            {ready(16), [&] { Press(dlg->Control(CCAdvanced::kOk)); }},
        });
        // With ORN312_SCREENSHOT_DIR set (best under Xvfb), the screen during the first wait.
        QTimer shot;
        QObject::connect(&shot, &QTimer::timeout, [&] {
            if (dlg != nullptr && dlg->Progress().isVisible()) {
                shot.stop();
                WaitUntil([] { return false; }, 300);  // painted
                QGuiApplication::primaryScreen()->grabWindow(0).save(
                    QDir(qEnvironmentVariable("ORN312_SCREENSHOT_DIR"))
                        .filePath(s.chinese ? "advanced-wait-zh.png" : "advanced-wait-en.png"));
            }
        });
        if (qEnvironmentVariableIsSet("ORN312_SCREENSHOT_DIR")) {
            main->show();
            shot.start(10);
        }
        main->ControlAs<QAbstractButton>(ids::kResolution)->click();  // returns when it closes
        EXPECT_TRUE(op.Finished()) << s.chinese;
        EXPECT_EQ(ui.hung, 0);
        EXPECT_TRUE(
            sim.WaitForOutput("state output resolution " + std::to_string(s.preset) + ",", 3000));
        EXPECT_EQ(widthAfterCustom, s.customBefore);  // filled from the device
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, s.refusal);
        sim.Command("state");
        EXPECT_TRUE(sim.WaitForOutput(s.state, 3000)) << s.state;

        // Opened again, the dialog reads the custom resolution back from the device.
        std::string shown;
        Operator reopen({{ready(16), [&] {
                              shown = box(CCAdvanced::kWidth)->text().toStdString() + "x" +
                                      box(CCAdvanced::kHeight)->text().toStdString() + "@" +
                                      box(CCAdvanced::kRate)->text().toStdString();
                              dlg->close();
                          }}});
        main->ControlAs<QAbstractButton>(ids::kResolution)->click();
        EXPECT_EQ(shown, std::string(s.w) + "x" + s.h + "@" + s.f);
        EXPECT_TRUE(main->m_conn.WorkersRunning());
    }
    // The progress dialog ran for each preset, custom choice and Save.
    EXPECT_EQ(std::count(ui.dialogs.begin(), ui.dialogs.end(), "CProgress"), 1 + 2 * 3);
    main->m_conn.Disconnect();
}
