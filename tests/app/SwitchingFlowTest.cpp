// The main window against the simulator: presses reach the wire as whole frames, and the lamps,
// captions and labels follow what the processor reports back.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "resources/ControlIds.h"
#include "app/MainDlg.h"
#include "resources/Captions.h"

namespace fs = std::filesystem;
using testutil::ProcessEvents;
using testutil::WaitUntil;

namespace {

class SwitchingFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    void Connect(const std::vector<std::string>& simArgs) {
        std::vector<std::string> args = {"--tcp", "0"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        sim = std::make_unique<testutil::SimProcess>(args);
        ASSERT_TRUE(sim->Started());
        dir = fs::path(testing::TempDir()) / ("orn312-switch-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        d = std::make_unique<CORN302ControlDlg>();
        d->m_profilePath = (dir / "Planinfo.ini").string();
        d->OnInitDialog();
        Click(ids::kNetworkRadio);
        d->ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
        d->ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(sim->tcpPort));
        Click(ids::kConnect);
        ASSERT_TRUE(WaitUntil([&] { return Lamp(ids::kSourceLamps[0]) != "off"; }));
    }
    void TearDown() override {
        d.reset();
        fs::remove_all(dir);
    }

    void Click(int id) { d->ControlAs<QAbstractButton>(id)->click(); }
    std::string Lamp(int id) { return d->Control(id)->accessibleDescription().toStdString(); }
    std::string Text(int id) {
        if (auto* b = d->ControlAs<QAbstractButton>(id))
            return b->text().toStdString();
        if (auto* e = d->ControlAs<QLineEdit>(id))
            return e->text().toStdString();
        return d->ControlAs<QLabel>(id)->text().toStdString();
    }
    // Waits until the command worker is done (the switch controls are usable) and pred holds.
    template <typename P>
    bool Settled(P pred) {
        return WaitUntil(
            [&] {
                return !d->m_conn.CommandPending() && d->Control(ids::kV1)->isEnabled() && pred();
            },
            10000);
    }

    testutil::FakeUi ui;
    std::unique_ptr<testutil::SimProcess> sim;
    std::unique_ptr<CORN302ControlDlg> d;
    fs::path dir;
};

}  // namespace

TEST_F(SwitchingFlow, HdmiPressReachesTheWireAndTheLampsFollow) {
    Connect({});
    Click(ids::kTransitionRadios[2]);  // 1.0 s
    Click(ids::kHdmi);
    // 05 01 00 02 04 00 .. with the checksum 05^01^02^04 = 02.
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 00 02 04 00 00 00 00 00 00 00 02", 3000));
    EXPECT_TRUE(Settled([&] { return Lamp(ids::kSourceLamps[4]) == "on"; }));
    EXPECT_EQ(Lamp(ids::kSourceLamps[0]), "off");
    EXPECT_TRUE(d->Control(ids::kSourceLamps[4])->isVisible() ||
                !d->isVisible());  // shown (the window itself is not on screen)
}

TEST_F(SwitchingFlow, InputWithoutSignalFlashes) {
    Connect({"--fault", "nosignal=DVI"});
    EXPECT_EQ(Lamp(ids::kSourceLamps[0]), "on");
    sim->Command("signal V1 off");
    EXPECT_TRUE(WaitUntil([&] { return Lamp(ids::kSourceLamps[0]) == "flashing"; }));
    sim->Command("signal V1 on");
    EXPECT_TRUE(WaitUntil([&] { return Lamp(ids::kSourceLamps[0]) == "on"; }));
}

TEST_F(SwitchingFlow, PipOnPendingThenOnPresetThenOff) {
    Connect({});
    Click(ids::kPipPbp);
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 01 01", 3000));
    // The processor reports PIP pending first (flashing), then on (steady).
    EXPECT_TRUE(WaitUntil([&] { return Lamp(ids::kPipLamp) == "flashing"; }, 8000));
    EXPECT_TRUE(Settled([&] { return Lamp(ids::kPipLamp) == "on"; }));
    EXPECT_TRUE(d->Control(ids::kM2)->isEnabled());
    EXPECT_EQ(Lamp(ids::kM1Lamp), "on");
    EXPECT_EQ(Lamp(ids::kSourceLamps[4]), "on");  // the second picture, HDMI
    Click(ids::kM2);
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 24 01", 3000));
    EXPECT_TRUE(Settled([&] { return Lamp(ids::kM2Lamp) == "on"; }));
    EXPECT_EQ(Lamp(ids::kM1Lamp), "off");
    Click(ids::kPipPbp);
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 01 00", 3000));
    EXPECT_TRUE(Settled([&] { return Lamp(ids::kPipLamp) == "off"; }));
    EXPECT_FALSE(d->Control(ids::kM2)->isEnabled());
    EXPECT_EQ(Lamp(ids::kSourceLamps[4]), "off");
}

TEST_F(SwitchingFlow, PreselectAndTake) {
    Connect({});
    Click(ids::kPreTakeSwitch);
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 09 01", 3000));
    EXPECT_TRUE(Settled([&] {
        return d->Control(ids::kPreviewLabel)->isVisibleTo(d.get()) &&
               Text(ids::kPreviewLabel) == "Pre: NULL";
    }));
    EXPECT_EQ(Text(ids::kAutoTake), "TAKE");
    // The same group as the main picture is refused at once, on the Info line.
    Click(ids::kV2);
    EXPECT_EQ(Text(ids::kInfo), "Invalid operate incorrect source");
    Click(ids::kVga1);
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 0a 02", 3000));
    EXPECT_TRUE(Settled([&] { return Text(ids::kPreviewLabel) == "Pre: VGA1"; }));
    Click(ids::kAutoTake);
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 0c 00", 3000));
    // VGA1 goes on the main output; the preview is empty again.
    EXPECT_TRUE(Settled([&] {
        return Lamp(ids::kSourceLamps[0]) == "off" && Text(ids::kPreviewLabel) == "Pre: NULL";
    }));
    EXPECT_EQ(Lamp(ids::kSourceLamps[2]), "on");
}

TEST_F(SwitchingFlow, RefusalsFollowTheLanguage) {
    Connect({});
    sim->Command("ext NULL");
    ASSERT_TRUE(
        WaitUntil([&] { return d->ControlAs<QAbstractButton>(ids::kExtRadios[0])->isChecked(); }));
    Click(ids::kChineseRadio);
    Click(ids::kExt);
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().text, "Ext为空，不能切换");
    EXPECT_EQ(ui.boxes.back().caption, "系统信息");
    EXPECT_EQ(ui.boxes.back().languageId, 2052);
    EXPECT_FALSE(d->m_conn.CommandPending());
}

// The operator's report: with the focus on HDMI, Space switches, and the focus is on HDMI again
// once the command is done (not on the Timer's Day box, which the next Space would untick).
TEST_F(SwitchingFlow, SpaceOnASourceSwitchesAndTheFocusStaysOnIt) {
    Connect({});
    d->show();
    d->activateWindow();
    ProcessEvents();
    d->Control(ids::kHdmi)->setFocus(Qt::TabFocusReason);
    testutil::PressKey(d.get(), Qt::Key_Space);
    EXPECT_TRUE(sim->WaitForOutput("<- 05 01 00 ", 3000));
    EXPECT_TRUE(Settled([&] { return Lamp(ids::kSourceLamps[4]) == "on"; }));
    EXPECT_EQ(testutil::FocusName(d.get()).toStdString(), "1119");
    d->Control(ids::kVga1)->setFocus(Qt::TabFocusReason);
    testutil::PressKey(d.get(), Qt::Key_Space);
    EXPECT_TRUE(Settled([&] { return Lamp(ids::kSourceLamps[2]) == "on"; }));
    EXPECT_EQ(testutil::FocusName(d.get()).toStdString(), "1120");
    EXPECT_TRUE(d->ControlAs<QAbstractButton>(ids::kDay)->isChecked());
}

// A source on air that loses its signal is said on the Info line until the signal is back, in
// the alarm colours, in both switch modes and both languages; so is the pre-selected source.
TEST_F(SwitchingFlow, ALostSignalIsSaidUntilItIsBack) {
    Connect({});
    const auto alarm = [&] { return d->Control(ids::kInfo)->accessibleDescription(); };
    sim->Command("signal V1 off");
    EXPECT_TRUE(WaitUntil([&] { return Text(ids::kInfo) == "No signal on V1, which is on air"; }));
    EXPECT_EQ(alarm(), "Alarm");
    Click(ids::kChineseRadio);
    EXPECT_EQ(Text(ids::kInfo), "当前输出的 V1 无信号");
    EXPECT_EQ(alarm(), QString::fromUtf8("警报"));
    sim->Command("signal V1 on");
    EXPECT_TRUE(
        WaitUntil([&] { return Text(ids::kInfo) == res::Text(res::Msg::DeviceNormal, true); }));
    EXPECT_EQ(alarm(), "");
    Click(ids::kEnglishRadio);

    Click(ids::kPreTakeSwitch);
    EXPECT_TRUE(Settled([&] { return Text(ids::kPreviewLabel) == "Pre: NULL"; }));
    Click(ids::kVga1);
    EXPECT_TRUE(Settled([&] { return Text(ids::kPreviewLabel) == "Pre: VGA1"; }));
    sim->Command("signal VGA1 off");
    EXPECT_TRUE(
        WaitUntil([&] { return Text(ids::kInfo) == "No signal on VGA1, which is pre-selected"; }));
    EXPECT_EQ(alarm(), "Alarm");
    sim->Command("signal V1 off");  // on air comes first
    EXPECT_TRUE(WaitUntil([&] { return Text(ids::kInfo) == "No signal on V1, which is on air"; }));
    sim->Command("signal V1 on");
    sim->Command("signal VGA1 on");
    EXPECT_TRUE(WaitUntil([&] { return alarm().isEmpty(); }));
    EXPECT_EQ(Text(ids::kInfo), "Communications equipment normal");
}
