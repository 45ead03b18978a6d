// The screen settings dialog opened from the main window's Setup, against the simulator.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <map>

#include "FakeUi.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "resources/ControlIds.h"
#include "app/MainDlg.h"
#include "screen/SetScreen.h"
#include "resources/SetScreenIds.h"

namespace fs = std::filesystem;
using testutil::FakeUi;
using testutil::WaitUntil;

namespace {

class SetScreenFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    void SetUp() override {
        dir = fs::path(testing::TempDir()) /
              ("orn312-setscreen-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ui.run.insert("CSetScreen");
    }
    void TearDown() override { fs::remove_all(dir); }

    // A main window connected to sim over loopback TCP.
    std::unique_ptr<CORN302ControlDlg> ConnectedWindow(const testutil::SimProcess& sim) {
        auto d = std::make_unique<CORN302ControlDlg>();
        d->m_profilePath = (dir / "Planinfo.ini").string();
        d->OnInitDialog();
        d->ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
        d->ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
        d->ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(sim.tcpPort));
        d->ControlAs<QAbstractButton>(ids::kConnect)->click();
        EXPECT_TRUE(WaitUntil([&] { return d->Control(ids::kDisconnect)->isEnabled(); }));
        return d;
    }

    // Presses Setup and runs script on the dialog once it shows; the script closes it.
    void Setup(CORN302ControlDlg& main, const std::function<void(CSetScreen&)>& script) {
        QTimer::singleShot(0, [&] {
            CSetScreen* s = nullptr;
            ASSERT_TRUE(WaitUntil([&] {
                s = main.findChild<CSetScreen*>();
                return s != nullptr && s->isVisible();
            }));
            script(*s);
        });
        main.ControlAs<QAbstractButton>(ids::kSetup)->click();
        EXPECT_EQ(ui.hung, 0);
    }

    static QString Text(const CSetScreen& s, int id) { return ui::CaptionOf(s.Control(id)); }
    static void Press(CSetScreen& s, int id) {
        s.ControlAs<QAbstractButton>(id)->click();
        EXPECT_TRUE(WaitUntil([&] { return !s.Busy(); }, 10000)) << id;
    }

    fs::path dir;
    FakeUi ui;
};

}  // namespace

TEST_F(SetScreenFlow, SetupReadsTheDeviceAndItsSavesReadBack) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    auto main = ConnectedWindow(sim);

    // First opening: every field from the device's fresh state.
    Setup(*main, [&](CSetScreen& s) {
        ASSERT_TRUE(WaitUntil([&] { return !s.Busy(); }, 30000));
        const std::map<int, int> fresh = {
            {1037, 1920}, {1038, 0},  {1039, 1080}, {1040, 0},   {1024, 1920}, {1025, 0},
            {1026, 1080}, {1027, 0},  {1033, 960},  {1034, 960}, {1158, 540},  {1159, 540},
            {1028, 1920}, {1029, 0},  {1030, 1080}, {1031, 0},   {1051, 64},   {1063, 50},
            {1055, 50},   {1060, 50}, {1066, 50},   {1068, 50},  {1070, 50},   {1076, 50},
            {1081, 50},   {1048, 0},  {1046, 0},    {1056, 0},
        };
        for (const auto& [id, value] : fresh) {
            EXPECT_EQ(Text(s, id), QString::number(value)) << id;
        }
        EXPECT_EQ(Text(s, 1169), "(1920,1080)");
        EXPECT_EQ(s.ControlAs<QComboBox>(sids::kAudio2)->currentText(), "HDMI");
        EXPECT_TRUE(s.ControlAs<QAbstractButton>(sids::kNoSyncMosaic)->isChecked());

        // Change and save.
        s.ControlAs<QLineEdit>(1037)->setText("1280");
        s.ControlAs<QLineEdit>(1039)->setText("720");
        Press(s, sids::kOutputSave);
        EXPECT_EQ(Text(s, sids::kInfo), "Set successfully");
        s.ControlAs<QLineEdit>(1051)->setText("32");
        Press(s, sids::kBrightnessSave);
        s.ControlAs<QLineEdit>(1070)->setText("70");
        Press(s, 1071);
        s.ControlAs<QAbstractButton>(sids::kThresholdRadios[1])->click();
        s.OnKeyArrow(0, -1);  // red up twice: 16
        s.OnKeyArrow(0, -1);
        Press(s, sids::kTextSave);
        s.ControlAs<QComboBox>(sids::kAudio2)->setCurrentIndex(5);  // DVI
        s.ControlAs<QComboBox>(sids::kAudio1)->setCurrentIndex(4);  // HDMI
        Press(s, sids::kAudioSave);
        s.ControlAs<QAbstractButton>(sids::kSyncMosaic)->click();
        EXPECT_TRUE(WaitUntil([&] { return !s.Busy(); }));
        EXPECT_TRUE(ui.boxes.empty());
        s.ControlAs<QAbstractButton>(sids::kExit)->click();
    });
    EXPECT_TRUE(main->m_conn.WorkersRunning());

    // Reopened: the device reads back what was saved.
    Setup(*main, [&](CSetScreen& s) {
        ASSERT_TRUE(WaitUntil([&] { return !s.Busy(); }, 30000));
        EXPECT_EQ(Text(s, 1037), "1280");
        EXPECT_EQ(Text(s, 1039), "720");
        EXPECT_EQ(Text(s, 1051), "32");
        EXPECT_EQ(Text(s, 1070), "70");
        EXPECT_EQ(Text(s, 1048), "16");
        EXPECT_TRUE(s.ControlAs<QAbstractButton>(sids::kThresholdRadios[1])->isChecked());
        EXPECT_EQ(s.ControlAs<QComboBox>(sids::kAudio1)->currentText(), "HDMI");
        EXPECT_EQ(s.ControlAs<QComboBox>(sids::kAudio2)->currentText(), "DVI");
        EXPECT_TRUE(s.ControlAs<QAbstractButton>(sids::kSyncMosaic)->isChecked());
        s.close();  // the window's close button
    });
    EXPECT_EQ(ui.dialogs.size(), 3u);  // the connect progress and two openings
}

TEST_F(SetScreenFlow, ClosingDuringASlowReadbackGivesTheLinkBack) {
    testutil::SimProcess sim({"--tcp", "0", "--fault", "slow=300"});
    ASSERT_TRUE(sim.Started());
    auto main = ConnectedWindow(sim);
    QElapsedTimer closing;
    Setup(*main, [&](CSetScreen& s) {
        EXPECT_TRUE(s.Busy());
        WaitUntil([] { return false; }, 700);  // a few questions into the readback
        EXPECT_TRUE(s.Busy());
        closing.start();
        s.ControlAs<QAbstractButton>(sids::kExit)->click();
    });
    EXPECT_LT(closing.elapsed(), 1000);
    // The workers read the status again.
    const size_t before = sim.Output().size();
    EXPECT_TRUE(WaitUntil(
        [&] { return sim.Output().find("(status)", before) != std::string::npos; }, 5000));
    EXPECT_TRUE(main->m_conn.WorkersRunning());
    main->m_conn.Disconnect();
}

// A Save whose frame never leaves (the device hung up or is gone) says so in the language shown
// and never "Set successfully".
TEST_F(SetScreenFlow, ASaveWhoseFrameNeverLeftSaysItFailed) {
    const struct {
        const char* fault;
        bool chinese;
        const char* text;
    } cases[] = {
        {"hangup", false, "Set failed: the command did not reach the device"},
        {"kill", true, "设置失败：命令未能发送到设备"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        auto sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
        ASSERT_TRUE(sim->Started());
        auto main = ConnectedWindow(*sim);
        if (c.chinese) {
            main->ControlAs<QAbstractButton>(ids::kChineseRadio)->click();
        }
        Setup(*main, [&](CSetScreen& s) {
            ASSERT_TRUE(WaitUntil([&] { return !s.Busy(); }, 30000));
            if (std::string(c.fault) == "hangup") {
                sim->Command("hangup");
                ASSERT_TRUE(sim->WaitForOutput("hangup", 3000));
            } else {
                sim.reset();
            }
            s.ControlAs<QLineEdit>(sids::kBrightness)->setText("32");
            Press(s, sids::kBrightnessSave);
            EXPECT_EQ(Text(s, sids::kInfo), QString::fromUtf8(c.text));
            s.ControlAs<QAbstractButton>(sids::kExit)->click();
        });
        main->m_conn.Disconnect();
    }
}
