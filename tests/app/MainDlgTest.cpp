#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "app/MainDlg.h"
#include "controls/ControlRegistry.h"
#include "controls/Progress.h"
#include "platform/ProfileFile.h"
#include "resources/ControlIds.h"

namespace fs = std::filesystem;
using testutil::FakeUi;
using testutil::ProcessEvents;
using testutil::WaitUntil;
using testutil::Way;

namespace {

class MainDlgFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    void SetUp() override {
        dir = fs::path(testing::TempDir()) /
              ("orn312-main-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ini = (dir / "Planinfo.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void WriteIni(const std::string& text) { std::ofstream(ini) << text; }
    std::string ReadIni() const {
        std::ifstream in(ini);
        if (!in)
            return "<no file>";
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // All that the operator, the processor and the settings file can tell of the window: every
    // control's caption, checked, enabled and shown states, the connection and plan choices,
    // the command waiting for the processor, the message boxes and the file.
    std::string Snapshot(CORN302ControlDlg& d) {
        std::ostringstream s;
        s << d.windowTitle().toStdString() << "\n";
        for (QWidget* w : d.findChildren<QWidget*>()) {
            if (!w->property("controlId").isValid())
                continue;
            s << w->property("controlId").toInt() << " '" << ui::CaptionOf(w).toStdString()
              << "' enabled " << w->isEnabled() << " shown " << w->isVisibleTo(&d);
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                s << " checked " << b->isChecked();
            if (auto* c = qobject_cast<QComboBox*>(w))
                s << " '" << c->currentText().toStdString() << "'";
            s << "\n";
        }
        const SchedulerOptions o = static_cast<SchedulerSink&>(d).Options();
        s << "chinese " << d.m_bChinese << " serial " << d.m_bSerial << " auto " << d.m_bAutoConnect
          << " timer " << d.m_bStartTimer << " id " << int(d.m_conn.m_deviceId) << " pending "
          << d.m_conn.CommandPending() << " kinds";
        for (bool k : o.kinds)
            s << k;
        {
            std::lock_guard<std::mutex> lock(d.m_stateMutex);
            s << " transition " << d.m_state.m_transition;
        }
        s << " boxes " << ui.boxes.size() << "\n" << ReadIni();
        return s.str();
    }

    std::unique_ptr<CORN302ControlDlg> NewWindow() {
        auto dlg = std::make_unique<CORN302ControlDlg>();
        dlg->m_profilePath = ini;
        return dlg;
    }

    // A window through its start-up sequence.
    std::unique_ptr<CORN302ControlDlg> StartedWindow() {
        auto d = NewWindow();
        d->OnInitDialog();
        return d;
    }
    // A started window connected to sim over loopback TCP (Disconnect enabled once it is).
    std::unique_ptr<CORN302ControlDlg> ConnectedWindow(const testutil::SimProcess& sim) {
        auto d = StartedWindow();
        ConnectTcp(*d, sim.tcpPort);
        WaitUntil([&] { return Enabled(*d, ids::kDisconnect); });
        return d;
    }

    static bool Checked(CORN302ControlDlg& d, int id) {
        return d.ControlAs<QAbstractButton>(id)->isChecked();
    }
    static bool Enabled(CORN302ControlDlg& d, int id) { return d.Control(id)->isEnabled(); }
    static std::string Info(CORN302ControlDlg& d) {
        return d.ControlAs<QLineEdit>(ids::kInfo)->text().toStdString();
    }
    void ConnectTcp(CORN302ControlDlg& d, int port) {
        d.ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
        d.ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
        d.ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(port));
        d.ControlAs<QAbstractButton>(ids::kConnect)->click();
    }

    fs::path dir;
    std::string ini;
    FakeUi ui;
};

}  // namespace

TEST_F(MainDlgFlow, StartsIdleWithoutConnectSettings) {
    auto d = StartedWindow();
    EXPECT_TRUE(Checked(*d, ids::kNetworkRadio));
    EXPECT_FALSE(Checked(*d, ids::kSerialRadio));
    EXPECT_EQ(d->ControlAs<QLineEdit>(ids::kIpAddress)->text(), "");
    EXPECT_EQ(d->ControlAs<QLineEdit>(ids::kPortEdit)->text(), "");
    EXPECT_TRUE(Enabled(*d, ids::kIpAddress));
    EXPECT_FALSE(Enabled(*d, ids::kPortCombo));
    EXPECT_FALSE(Enabled(*d, ids::kStartTimer));
    EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
    EXPECT_FALSE(Enabled(*d, ids::kStop));
    for (int id : ids::kSwitchControls)
        EXPECT_FALSE(Enabled(*d, id)) << id;
    EXPECT_EQ(d->m_conn.m_deviceId, 1);
    EXPECT_TRUE(Checked(*d, ids::kDeviceIdRadios[0]));
    EXPECT_EQ(d->ControlAs<QComboBox>(ids::kDeviceIdCombo)->count(), 256);
    EXPECT_EQ(d->ControlAs<QComboBox>(ids::kDeviceIdCombo)->currentText(), "1");
    EXPECT_TRUE(Checked(*d, ids::kEnglishRadio));
    for (int id : {ids::kDay, ids::kWeek, ids::kMonth, ids::kOnce, ids::kAll})
        EXPECT_TRUE(Checked(*d, id));
    EXPECT_TRUE(ui.dialogs.empty());  // no connection attempt
    EXPECT_FALSE(fs::exists(ini));    // nothing written at start
}

TEST_F(MainDlgFlow, TheWindowHasTheProgramIcon) {
    auto d = StartedWindow();
    const QImage icon = d->windowIcon().pixmap(64, 64).toImage();
    ASSERT_EQ(icon.size(), QSize(64, 64));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);      // a rounded corner
    EXPECT_EQ(qAlpha(icon.pixel(32, 20)), 255);  // the wall
    EXPECT_GT(qGreen(icon.pixel(20, 51)), 150);  // a lit lamp
    // The program's dialogs show it too.
    EXPECT_EQ(d->findChild<CProgress*>()->windowIcon().cacheKey(), d->windowIcon().cacheKey());
}

TEST_F(MainDlgFlow, EveryRadioAndBoxActsAlikeByMouseKeyboardAndAccessibility) {
    std::vector<int> checkables;
    {
        auto d = StartedWindow();
        for (QWidget* w : d->findChildren<QWidget*>()) {
            if (w->property("controlId").isValid() &&
                (qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w)))
                checkables.push_back(w->property("controlId").toInt());
        }
    }
    ASSERT_EQ(checkables.size(), 28u);  // 17 radios of the window, 5 EXT. input, 6 boxes
    for (int id : checkables) {
        SCOPED_TRACE(id);
        std::string after[3];
        for (Way way : {Way::Mouse, Way::Keyboard, Way::Accessibility}) {
            SCOPED_TRACE(testutil::WayName(way));
            fs::remove(ini);
            ui.boxes.clear();
            auto d = StartedWindow();
            // Everything a connected, idle window offers.
            d->EnableSwitchControls(true);
            d->Control(ids::kStartTimer)->setEnabled(true);
            auto* b = d->ControlAs<QAbstractButton>(id);
            // A radio that is checked already is first left by checking another of its set.
            if (b->isChecked() && qobject_cast<QRadioButton*>(b)) {
                for (QAbstractButton* other : b->group()->buttons()) {
                    if (other != b) {
                        other->click();
                        break;
                    }
                }
                ASSERT_FALSE(b->isChecked());
            }
            const std::string before = Snapshot(*d);
            const bool worked = testutil::Operate(b, way);
            // The EXT. input radios only show the processor's input: no way works them.
            EXPECT_EQ(worked, b->isEnabled());
            after[static_cast<int>(way)] = Snapshot(*d);
            if (worked) {
                EXPECT_NE(after[static_cast<int>(way)], before);
            }
        }
        EXPECT_EQ(after[1], after[0]);
        EXPECT_EQ(after[2], after[0]);
    }
}

TEST_F(MainDlgFlow, ConnectsAtStartWithTheSavedDeviceId) {
    testutil::SimProcess sim({"--tcp", "0", "--id", "3"});
    ASSERT_TRUE(sim.Started());
    WriteIni("[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" + std::to_string(sim.tcpPort) +
             "\nConnectFlag=1\nStartTimerFlag=0\nDeviceID=3\n");
    auto d = StartedWindow();
    EXPECT_EQ(ui.dialogs, std::vector<std::string>{"CProgress"});
    EXPECT_EQ(ui.hung, 0);
    EXPECT_TRUE(Checked(*d, ids::kDeviceIdRadios[2]));
    EXPECT_EQ(d->ControlAs<QComboBox>(ids::kDeviceIdCombo)->currentText(), "3");
    EXPECT_TRUE(Checked(*d, ids::kAutoConnect));
    EXPECT_TRUE(Enabled(*d, ids::kStartTimer));
    ASSERT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kDisconnect); }));
    EXPECT_EQ(d->m_conn.m_bConnected, 1);
    EXPECT_FALSE(Enabled(*d, ids::kConnect));
    // MOSAIC follows the processor's state (DVI on air, no PIP or TEXT), which the first status,
    // read at once, may already have applied; every other switching control is usable.
    for (int id : ids::kSwitchControls) {
        if (id != ids::kMosaicFn) {
            EXPECT_TRUE(Enabled(*d, id)) << id;
        }
    }
    EXPECT_EQ(Info(*d), "Communications equipment normal");
    EXPECT_TRUE(sim.WaitForOutput("05 03 fe fe 00", 1000));
}

TEST_F(MainDlgFlow, TheSavedSerialPortConnectsAtStart) {
    testutil::SimProcess sim({"--pty"});
    ASSERT_TRUE(sim.Started());
    WriteIni("[CONNECT]\nSerialTcp=1\nComPort=" + sim.ptyPath +
             "\nConnectFlag=1\nStartTimerFlag=0\nDeviceID=1\n");
    auto d = StartedWindow();
    EXPECT_EQ(d->ControlAs<QComboBox>(ids::kPortCombo)->currentText().toStdString(), sim.ptyPath);
    ASSERT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kDisconnect); }));
    EXPECT_EQ(d->m_conn.m_linkMode, 1);
    EXPECT_EQ(Info(*d), "Communications equipment normal");
}

TEST_F(MainDlgFlow, WithoutPortsOrAKeyTheSerialPortIsTtyS0) {
    const fs::path noPorts = dir / "sys-class-tty";
    fs::create_directories(noPorts);
    WriteIni("[CONNECT]\nSerialTcp=1\n");
    auto d = NewWindow();
    d->m_sysTtyRoot = noPorts.string();
    d->OnInitDialog();
    auto* combo = d->ControlAs<QComboBox>(ids::kPortCombo);
    EXPECT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->currentText(), "ttyS0");
    EXPECT_EQ(d->m_conn.m_portName, "ttyS0");
}

TEST_F(MainDlgFlow, DeviceIdRadiosFollowTheList) {
    auto d = StartedWindow();
    auto* combo = d->ControlAs<QComboBox>(ids::kDeviceIdCombo);
    struct Case {
        int index;
        int id;
        int radio;  // 0 none
    } cases[] = {{11, 12, 0}, {4, 5, 5}, {255, 0, 0}, {0, 1, 1}};
    for (const Case& c : cases) {
        combo->setCurrentIndex(c.index);
        d->OnDeviceIdCombo(c.index);
        EXPECT_EQ(d->m_conn.m_deviceId, c.id) << c.index;
        for (int n = 1; n <= 6; ++n)
            EXPECT_EQ(Checked(*d, ids::kDeviceIdRadios[n - 1]), n == c.radio) << c.index;
    }
    d->ControlAs<QAbstractButton>(ids::kDeviceIdRadios[3])->click();
    EXPECT_EQ(d->m_conn.m_deviceId, 4);
    EXPECT_EQ(combo->currentText(), "4");
}

TEST_F(MainDlgFlow, PortOutOfRangeShowsTheBoxAndOpensNothing) {
    for (bool chinese : {false, true}) {
        auto d = StartedWindow();
        if (chinese)
            d->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
        ui.boxes.clear();
        // The operator takes a moment to answer, while other events come and go; the progress
        // dialog is still up when they do.
        auto* progress = d->findChild<CProgress*>();
        bool progressUpAtAnswer = false;
        ui.whileBoxOpen = [&] {
            QMetaObject::invokeMethod(
                d.get(), [] {}, Qt::QueuedConnection);
            WaitUntil([] { return false; }, 300);
            progressUpAtAnswer = progress->isVisible();
        };
        ConnectTcp(*d, 70000);
        ASSERT_EQ(ui.boxes.size(), 1u);  // answered before Connect returned
        EXPECT_TRUE(progressUpAtAnswer);
        EXPECT_FALSE(progress->isVisible());
        EXPECT_EQ(ui.boxes[0].text,
                  chinese ? "端口号超出范围,范围是0~65535" : "Port out of range，range is 0~65535");
        EXPECT_EQ(ui.boxes[0].caption, chinese ? "系统消息" : "System information");
        EXPECT_EQ(ui.boxes[0].languageId, 1033);  // English buttons in both languages
        EXPECT_EQ(d->m_conn.m_linkMode, 0);
        EXPECT_EQ(Info(*d), "");
        EXPECT_TRUE(Enabled(*d, ids::kConnect));
        EXPECT_EQ(ui.hung, 0);
    }
    // A window that goes before its box was shown does not wait for the answer.
    ui.whileBoxOpen = nullptr;
    ui.run.clear();  // the progress dialog is only recorded: Connect returns at once
    {
        auto d = StartedWindow();
        ConnectTcp(*d, 70000);
        QElapsedTimer t;
        t.start();
        d.reset();
        EXPECT_LT(t.elapsed(), 1500);
    }
    // Connect saved the keys of the network mode; the Network radio, checked already, did not
    // change and wrote nothing.
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "Port", ""), "70000");
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "SerialTcp", "none"), "none");
}

TEST_F(MainDlgFlow, FailedConnectStillClosesTheProgressDialog) {
    int port;
    {
        testutil::Listener gone;
        port = gone.port;
    }
    auto d = StartedWindow();
    ConnectTcp(*d, port);  // fails within milliseconds, often before the dialog appears
    EXPECT_EQ(ui.hung, 0);
    ProcessEvents();
    // The Part's text, then why.
    EXPECT_EQ(Info(*d), "Open network failed: Connection refused");
    EXPECT_TRUE(Enabled(*d, ids::kConnect));
    EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
}

TEST_F(MainDlgFlow, ConnectPollDisconnectOverTcpAndPty) {
    testutil::SimProcess sim({"--tcp", "0", "--pty"});
    ASSERT_TRUE(sim.Started());
    for (bool serial : {false, true}) {
        auto d = StartedWindow();
        if (serial) {
            d->ControlAs<QAbstractButton>(ids::kSerialRadio)->click();
            d->ControlAs<QComboBox>(ids::kPortCombo)
                ->setEditText(QString::fromStdString(sim.ptyPath));
            d->ControlAs<QAbstractButton>(ids::kConnect)->click();
        } else {
            ConnectTcp(*d, sim.tcpPort);
        }
        ASSERT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kDisconnect); })) << serial;
        EXPECT_EQ(Info(*d), "Communications equipment normal");

        // Status queries about once a second.
        const std::string before = sim.Output();
        std::this_thread::sleep_for(std::chrono::milliseconds(3500));
        const std::string during = sim.Output().substr(before.size());
        int polls = 0;
        for (size_t at = during.find("(status)"); at != std::string::npos;
             at = during.find("(status)", at + 1))
            ++polls;
        EXPECT_GE(polls, 2) << during;
        EXPECT_LE(polls, 5) << during;

        QElapsedTimer t;
        t.start();
        d->ControlAs<QAbstractButton>(ids::kDisconnect)->click();
        EXPECT_LT(t.elapsed(), 1500);
        EXPECT_FALSE(d->m_conn.WorkersRunning());
        t.restart();
        d->m_conn.WithLink([](devlink::LinkConnection&) {});
        EXPECT_LT(t.elapsed(), 50);  // the lock is free
        EXPECT_TRUE(Enabled(*d, ids::kConnect));
        EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
        for (int id : ids::kSwitchControls)
            EXPECT_FALSE(Enabled(*d, id)) << id;
    }
}

TEST_F(MainDlgFlow, ExitAsksAndStopsTheWorkers) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    auto d = ConnectedWindow(sim);
    ASSERT_TRUE(Enabled(*d, ids::kDisconnect));

    ui.answer = false;
    d->close();  // the window's close button asks the same question
    EXPECT_EQ(ui.boxes.back().text, "Do you want to exit?");
    EXPECT_EQ(ui.boxes.back().caption, "System information");
    EXPECT_TRUE(d->m_conn.WorkersRunning());

    d->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
    ui.answer = true;
    QElapsedTimer t;
    t.start();
    d->ControlAs<QAbstractButton>(ids::kExit)->click();
    EXPECT_EQ(ui.boxes.back().text, "确认退出?");
    EXPECT_EQ(ui.boxes.back().languageId, 2052);
    EXPECT_FALSE(d->m_conn.WorkersRunning());
    EXPECT_LT(t.elapsed(), 1500);
}

TEST_F(MainDlgFlow, SubDialogsGuardPauseAndStop) {
    auto d = StartedWindow();
    // Not connected: Setup and Resolution refuse, Program and Mosaic open.
    d->OnSetup();
    d->OnResolution();
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Device is not connected");
    EXPECT_TRUE(ui.dialogs.empty());

    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    ConnectTcp(*d, sim.tcpPort);
    ASSERT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kDisconnect); }));
    d->OnSetup();
    d->OnResolution();
    d->OnProgram();
    EXPECT_TRUE(d->m_conn.WorkersRunning());  // paused and resumed around each
    d->OnMosaic();
    EXPECT_EQ(ui.dialogs, (std::vector<std::string>{"CProgress", "CSetScreen", "CCAdvanced",
                                                    "CProgram", "CSimpleMosaic"}));
    // After the fast mosaic the operator connects again.
    EXPECT_FALSE(d->m_conn.WorkersRunning());
    EXPECT_EQ(d->m_conn.m_linkMode, 0);
    EXPECT_TRUE(Enabled(*d, ids::kConnect));
    EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
    for (int id : ids::kSwitchControls)
        EXPECT_FALSE(Enabled(*d, id)) << id;
}

TEST_F(MainDlgFlow, ConnectionKeysAreSavedAsTheControlsChange) {
    auto d = StartedWindow();
    d->ControlAs<QAbstractButton>(ids::kSerialRadio)->click();
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "SerialTcp", ""), "1");
    EXPECT_FALSE(Enabled(*d, ids::kIpAddress));
    EXPECT_TRUE(Enabled(*d, ids::kPortCombo));
    d->ControlAs<QComboBox>(ids::kPortCombo)->setEditText("ttyUSB1");
    d->ControlAs<QAbstractButton>(ids::kDeviceIdRadios[1])->click();
    d->ControlAs<QAbstractButton>(ids::kAutoConnect)->click();
    EXPECT_TRUE(Enabled(*d, ids::kStartTimer));
    d->ControlAs<QAbstractButton>(ids::kStartTimer)->click();
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "ConnectFlag", ""), "1");
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "StartTimerFlag", ""), "1");
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "DeviceID", ""), "2");
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "IP", "none"), "none");  // serial mode
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "ComPort", ""), "ttyUSB1");
    d->ControlAs<QAbstractButton>(ids::kAutoConnect)->click();
    EXPECT_FALSE(Enabled(*d, ids::kStartTimer));
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "ConnectFlag", ""), "0");
}

TEST_F(MainDlgFlow, AFailedSettingsWriteShowsOnTheInfoLineInTheLanguage) {
    auto d = StartedWindow();
    fs::create_directory(ini);  // a folder where the settings file belongs
    d->ControlAs<QAbstractButton>(ids::kSerialRadio)->click();
    EXPECT_EQ(Info(*d), "Settings not saved: Planinfo.ini cannot be written");
    EXPECT_EQ(d->m_bSerial, 1);  // the choice holds for this run
    d->ControlAs<QLineEdit>(ids::kInfo)->clear();
    d->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
    d->ControlAs<QAbstractButton>(ids::kAutoConnect)->click();
    EXPECT_EQ(Info(*d), "设置未保存：无法写入 Planinfo.ini");
    EXPECT_TRUE(fs::is_directory(ini));
    EXPECT_TRUE(ui.boxes.empty());
}

// With ORN312_SCREENSHOT_DIR set, saves the window connected to the simulator in both languages.
TEST_F(MainDlgFlow, ConnectedScreenshots) {
    const QString out = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (out.isEmpty())
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to save screenshots";
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    auto d = ConnectedWindow(sim);
    ASSERT_TRUE(Enabled(*d, ids::kDisconnect));
    d->show();
    WaitUntil([] { return false; }, 2500);  // a few polls and flashes
    d->grab().save(out + "/connected-en.png");
    d->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
    d->ControlAs<QAbstractButton>(ids::kTimerPanel)->click();
    WaitUntil([] { return false; }, 1500);
    d->grab().save(out + "/connected-zh.png");
    d->m_conn.Disconnect();
}

// The device dies mid-session: the window says so within a few seconds and stops looking live;
// with the device back, Connect brings everything back to normal.
TEST_F(MainDlgFlow, LostDeviceIsShownAndConnectRecovers) {
    for (bool serial : {false, true}) {
        auto sim =
            std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0", "--pty"});
        ASSERT_TRUE(sim->Started());
        auto d = StartedWindow();
        const auto connect = [&](testutil::SimProcess& s) {
            if (serial) {
                d->ControlAs<QAbstractButton>(ids::kSerialRadio)->click();
                d->ControlAs<QComboBox>(ids::kPortCombo)
                    ->setEditText(QString::fromStdString(s.ptyPath));
                d->ControlAs<QAbstractButton>(ids::kConnect)->click();
            } else {
                ConnectTcp(*d, s.tcpPort);
            }
        };
        connect(*sim);
        ASSERT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kDisconnect); })) << serial;
        ASSERT_TRUE(WaitUntil([&] { return !d->Control(ids::kSourceLamps[0])->isHidden(); }));

        sim.reset();  // killed
        const std::string expected = serial
                                         ? "Device not responding, check the device and the cable"
                                         : "The device closed the connection, please connect again";
        QElapsedTimer t;
        t.start();
        ASSERT_TRUE(WaitUntil([&] { return Info(*d) == expected; }, 10000)) << serial << Info(*d);
        EXPECT_LT(t.elapsed(), 3000);
        for (int id : ids::kSwitchControls)
            EXPECT_FALSE(Enabled(*d, id)) << id;
        for (int lamp : ids::kSourceLamps)
            EXPECT_TRUE(d->Control(lamp)->isHidden()) << lamp;
        // Over the serial line the far end closed, as when an adapter is pulled: the link is
        // gone, and on both transports Connect is offered again at once.
        EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
        EXPECT_TRUE(Enabled(*d, ids::kConnect));

        testutil::SimProcess again({"--tcp", "0", "--pty"});
        ASSERT_TRUE(again.Started());
        connect(again);
        ASSERT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kDisconnect); })) << serial;
        EXPECT_EQ(Info(*d), "Communications equipment normal");
        ASSERT_TRUE(WaitUntil([&] { return !d->Control(ids::kSourceLamps[0])->isHidden(); }));
        EXPECT_TRUE(Enabled(*d, ids::kHdmi));
        d->ControlAs<QAbstractButton>(ids::kDisconnect)->click();
    }
}

// A settings save is one replacement of the file, never several: a program killed in the middle
// leaves the old settings or the new, not a mix.
TEST_F(MainDlgFlow, ASettingsSaveReplacesTheFileOnce) {
    auto d = StartedWindow();
    d->ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
    d->ControlAs<QLineEdit>(ids::kIpAddress)->setText("10.1.2.3");
    d->ControlAs<QLineEdit>(ids::kPortEdit)->setText("5000");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
    d->ControlAs<QAbstractButton>(ids::kAutoConnect)->click();  // saves five keys
    int replaced = 0, written = 0;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;) {
        for (char* p = buf; p < buf + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            replaced += (e->mask & IN_MOVED_TO) != 0;
            written += (e->mask & IN_CLOSE_WRITE) != 0;
            p += sizeof(inotify_event) + e->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(replaced, 1);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "ConnectFlag", ""), "1");
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "IP", ""), "10.1.2.3");
    EXPECT_EQ(platform::GetProfileString(ini, "CONNECT", "Port", ""), "5000");
}

// Whenever the window is not connected (after Disconnect, after the fast mosaic closed the link,
// the device dead meanwhile or not), nothing in it says the device is normal or shows a lamp.
TEST_F(MainDlgFlow, AClosedLinkNeverLooksLive) {
    const struct {
        const char* how;
        bool chinese;
        bool killFirst;  // the device died while the window still showed it
        std::function<void(CORN302ControlDlg&)> close;
        const char* info;
    } cases[] = {
        {"Disconnect", false, false,
         [](CORN302ControlDlg& d) { d.ControlAs<QAbstractButton>(ids::kDisconnect)->click(); },
         "Disconnected from the device"},
        {"Disconnect in Chinese", true, false,
         [](CORN302ControlDlg& d) { d.ControlAs<QAbstractButton>(ids::kDisconnect)->click(); },
         "已断开与设备的连接"},
        {"the fast mosaic", false, true,
         [](CORN302ControlDlg& d) { d.ControlAs<QAbstractButton>(ids::kMosaicDlg)->click(); },
         "The connection was closed after the fast mosaic, please connect again"},
        {"the fast mosaic in Chinese", true, false,
         [](CORN302ControlDlg& d) { d.ControlAs<QAbstractButton>(ids::kMosaicDlg)->click(); },
         "快速拼接后连接已关闭，请重新连接"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        auto sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
        ASSERT_TRUE(sim->Started());
        auto d = ConnectedWindow(*sim);
        if (c.chinese) {
            d->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
        }
        ASSERT_TRUE(WaitUntil([&] { return !d->Control(ids::kSourceLamps[0])->isHidden(); }));
        if (c.killFirst) {
            sim.reset();
        }
        c.close(*d);
        EXPECT_EQ(Info(*d), c.info);
        EXPECT_TRUE(Enabled(*d, ids::kConnect));
        EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
        // Some time for anything still on its way to show.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 1500) {
            testutil::ProcessEvents(20);
        }
        EXPECT_EQ(Info(*d), c.info);
        for (int lamp : ids::kSourceLamps)
            EXPECT_TRUE(d->Control(lamp)->isHidden()) << lamp;
        for (int lamp : {ids::kPipLamp, ids::kTextLamp, ids::kBypassLamp, ids::kFreezeLamp,
                         ids::kMosaicLamp, ids::kM1Lamp, ids::kM2Lamp, ids::kM3Lamp})
            EXPECT_TRUE(d->Control(lamp)->isHidden()) << lamp;
        for (int id : ids::kSwitchControls)
            EXPECT_FALSE(Enabled(*d, id)) << id;
    }
}

// A plan file that is no plan file (50 MB of random bytes, or a small one with NUL bytes): the
// window starts as fast as without a file, with the default settings, says why on the Info line,
// writes nothing into it in either language, and leaves every byte as it was.
TEST_F(MainDlgFlow, APlanFileThatIsNoneIsNeitherReadNorWritten) {
    std::string random(50u << 20, '\0');
    std::mt19937_64 gen(312);
    for (size_t i = 0; i + 8 <= random.size(); i += 8) {
        const uint64_t v = gen();
        std::memcpy(&random[i], &v, 8);
    }
    const std::string binary =
        std::string("[CONNECT]\nSerialTcp=1\nConnectFlag=1\nIP=10.0.0.1\n\0\0", 50);
    const struct {
        const char* name;
        const std::string& content;
        const char* startInfo;
    } cases[] = {
        {"50 MB of random bytes", random,
         "Planinfo.ini is not a plan file (larger than 1 MB): default settings are shown, the "
         "file is left as it is"},
        {"NUL bytes", binary,
         "Planinfo.ini is not a plan file (not text): default settings are shown, the file is "
         "left as it is"},
    };
    const auto startMs = [&] {
        QElapsedTimer t;
        t.start();
        auto d = StartedWindow();
        return std::make_pair(std::move(d), t.elapsed());
    };
    fs::remove(ini);
    const qint64 withoutFile = startMs().second;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(ini, std::ios::binary) << c.content;
        auto [d, ms] = startMs();
        EXPECT_LT(ms, withoutFile + 1000);  // the file is not read
        EXPECT_EQ(Info(*d), c.startInfo);
        EXPECT_TRUE(Checked(*d, ids::kNetworkRadio));
        EXPECT_FALSE(Checked(*d, ids::kAutoConnect));
        EXPECT_EQ(d->ControlAs<QLineEdit>(ids::kIpAddress)->text(), "");
        EXPECT_FALSE(d->m_conn.m_bConnected);

        d->ControlAs<QAbstractButton>(ids::kAutoConnect)->click();
        EXPECT_EQ(Info(*d), "Settings not saved: Planinfo.ini is not a plan file");
        EXPECT_TRUE(Checked(*d, ids::kAutoConnect));  // the choice holds for this run
        d->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
        d->ControlAs<QAbstractButton>(ids::kSerialRadio)->click();
        EXPECT_EQ(Info(*d), "设置未保存：Planinfo.ini 不是计划文件");
        d->ControlAs<QAbstractButton>(ids::kConnect)->click();  // saves the keys too
        d.reset();
        std::ifstream in(ini, std::ios::binary);
        const std::string after(std::istreambuf_iterator<char>(in), {});
        EXPECT_TRUE(after == c.content) << "the file changed";
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    }
    EXPECT_TRUE(ui.boxes.empty());
}

// With AutoConnect ticked, a link that is lost by itself (the device hung up, the simulator was
// killed) is made again as the service makes it: after 1 s, then twice as long each time, the
// Info line saying so, until the processor answers or the operator presses Disconnect. A link the
// operator closed, or the fast mosaic closed, is never made again by itself, nor one lost
// without AutoConnect.
TEST_F(MainDlgFlow, ReconnectsAfterALossOnlyWithAutoConnect) {
    const char* kNormal = "Communications equipment normal";
    enum class Then { Back, TriesUntilDisconnect, StaysIdle };
    struct Env {
        std::unique_ptr<testutil::SimProcess> sim;
        CORN302ControlDlg* d;
    };
    const struct {
        const char* name;
        bool serial, autoConnect;
        std::function<void(Env&)> lose;
        Then then;
        const char* idleInfo;  // StaysIdle: what the Info line says
    } rows[] = {
        {"hang-up", false, true, [](Env& e) { e.sim->Command("hangup"); }, Then::Back, nullptr},
        {"simulator killed and started again", false, true,
         [](Env& e) {
             const int port = e.sim->tcpPort;
             e.sim.reset();
             std::this_thread::sleep_for(std::chrono::milliseconds(1500));
             e.sim = std::make_unique<testutil::SimProcess>(
                 std::vector<std::string>{"--tcp", std::to_string(port)});
         },
         Then::Back, nullptr},
        {"simulator killed for good, serial", true, true, [](Env& e) { e.sim.reset(); },
         Then::TriesUntilDisconnect, nullptr},
        {"hang-up without AutoConnect", false, false, [](Env& e) { e.sim->Command("hangup"); },
         Then::StaysIdle, "The device closed the connection, please connect again"},
        {"Disconnect", false, true,
         [](Env& e) { e.d->ControlAs<QAbstractButton>(ids::kDisconnect)->click(); },
         Then::StaysIdle, "Disconnected from the device"},
        {"the fast mosaic", false, true,
         [](Env& e) { e.d->ControlAs<QAbstractButton>(ids::kMosaicDlg)->click(); }, Then::StaysIdle,
         "The connection was closed after the fast mosaic, please connect again"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(ini);  // each row starts without the AutoConnect of the one before
        Env e;
        e.sim =
            std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0", "--pty"});
        ASSERT_TRUE(e.sim->Started());
        auto d = StartedWindow();
        e.d = d.get();
        if (row.autoConnect)
            d->ControlAs<QAbstractButton>(ids::kAutoConnect)->click();
        if (row.serial) {
            d->ControlAs<QAbstractButton>(ids::kSerialRadio)->click();
            d->ControlAs<QComboBox>(ids::kPortCombo)
                ->setEditText(QString::fromStdString(e.sim->ptyPath));
            d->ControlAs<QAbstractButton>(ids::kConnect)->click();
        } else {
            ConnectTcp(*d, e.sim->tcpPort);
        }
        ASSERT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kDisconnect); }));
        ASSERT_TRUE(WaitUntil([&] { return !d->Control(ids::kSourceLamps[0])->isHidden(); }));

        // What the Info line says meanwhile.
        std::vector<std::string> said;
        QMetaObject::Connection watch =
            QObject::connect(d->ControlAs<QLineEdit>(ids::kInfo), &QLineEdit::textChanged,
                             [&](const QString& t) { said.push_back(t.toStdString()); });
        row.lose(e);
        const auto saidTrying = [&](int attempt, int seconds) {
            const std::string text = "Connection lost, connecting again in " +
                                     std::to_string(seconds) + " s (attempt " +
                                     std::to_string(attempt) + ")";
            return std::find(said.begin(), said.end(), text) != said.end();
        };
        switch (row.then) {
            case Then::Back:
                EXPECT_TRUE(WaitUntil([&] { return saidTrying(1, 1); }, 5000));
                EXPECT_TRUE(WaitUntil(
                    [&] { return !d->m_reconnecting && Enabled(*d, ids::kDisconnect); }, 15000));
                EXPECT_GE(d->m_reconnectAttempts, 1);
                EXPECT_EQ(Info(*d), kNormal);
                EXPECT_FALSE(Enabled(*d, ids::kConnect));
                EXPECT_TRUE(WaitUntil([&] { return Enabled(*d, ids::kHdmi); }, 3000));
                EXPECT_TRUE(
                    WaitUntil([&] { return !d->Control(ids::kSourceLamps[0])->isHidden(); }));
                break;
            case Then::TriesUntilDisconnect: {
                EXPECT_TRUE(WaitUntil([&] { return saidTrying(2, 2); }, 8000));
                EXPECT_TRUE(d->m_reconnecting);
                EXPECT_TRUE(Enabled(*d, ids::kConnect));
                for (int id : ids::kSwitchControls)
                    EXPECT_FALSE(Enabled(*d, id)) << id;
                d->ControlAs<QAbstractButton>(ids::kDisconnect)->click();
                const int attempts = d->m_reconnectAttempts;
                WaitUntil([] { return false; }, 4500);  // the next attempt's time passes
                EXPECT_FALSE(d->m_reconnecting);
                EXPECT_EQ(d->m_reconnectAttempts, attempts);
                EXPECT_EQ(Info(*d), "Disconnected from the device");
                EXPECT_TRUE(Enabled(*d, ids::kConnect));
                EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
                break;
            }
            case Then::StaysIdle:
                WaitUntil([] { return false; }, 3000);  // past a first attempt's time
                EXPECT_FALSE(d->m_reconnecting);
                EXPECT_EQ(d->m_reconnectAttempts, 0);
                EXPECT_FALSE(saidTrying(1, 1));
                EXPECT_EQ(Info(*d), row.idleInfo);
                EXPECT_TRUE(Enabled(*d, ids::kConnect));
                EXPECT_FALSE(Enabled(*d, ids::kDisconnect));
                EXPECT_FALSE(d->m_conn.m_bConnected);
                break;
        }
        QObject::disconnect(watch);
        d->ControlAs<QAbstractButton>(ids::kDisconnect)->click();
    }
}
