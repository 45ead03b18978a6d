// A keyboard-only walk through every window: Tab and Shift+Tab stop at the controls a person
// works (a set of radios once, at its checked radio; a pair of up/down arrows once; nothing
// disabled), the arrow keys move within a set of radios and select, Space works the control,
// Enter presses the focused button, Escape closes a dialog (the main window asks first). One table
// per window: each row a key, the control that has the focus after it, and what must hold then.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "app/MainDlg.h"
#include "controls/Focus.h"
#include "controls/Keyboard.h"
#include "resources/ControlIds.h"
#include "link/Frame.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"
#include "schedule/AddPlan.h"
#include "resources/AddPlanIds.h"
#include "schedule/InfoPlan.h"
#include "schedule/Program.h"
#include "screen/Advanced.h"
#include "screen/SetScreen.h"

namespace {

using testutil::Commit;
using testutil::FocusName;
using testutil::PressKey;

struct Step {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* focus;              // the control that has the focus afterwards ("" for any)
    std::function<bool()> holds{};  // what must hold afterwards
    const char* what = "";
};

constexpr auto kNone = Qt::NoModifier;
constexpr auto kShift = Qt::ShiftModifier;

const char* KeyName(int key) {
    switch (key) {
        case Qt::Key_Tab:
            return "Tab";
        case Qt::Key_Backtab:
            return "Shift+Tab";
        case Qt::Key_Up:
            return "Up";
        case Qt::Key_Down:
            return "Down";
        case Qt::Key_Left:
            return "Left";
        case Qt::Key_Right:
            return "Right";
        case Qt::Key_Space:
            return "Space";
        case Qt::Key_Return:
            return "Enter";
        case Qt::Key_Escape:
            return "Escape";
        default:
            return "key";
    }
}

// Shows window, puts the focus on start and walks the table.
void Walk(QWidget* window, QWidget* start, const std::vector<Step>& steps) {
    window->show();
    window->activateWindow();
    testutil::ProcessEvents();
    start->setFocus(Qt::TabFocusReason);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(std::string("step ") + std::to_string(i + 1) + " " + KeyName(s.key) + " " +
                     s.what);
        PressKey(window, s.key, s.modifiers);
        testutil::ProcessEvents(20);
        if (*s.focus != 0) {
            EXPECT_EQ(FocusName(window).toStdString(), s.focus);
        }
        if (s.holds) {
            EXPECT_TRUE(testutil::WaitUntil(s.holds, 3000));
        }
    }
}

ui::SequenceRunner::LinkFactory SimLinks() {
    return [](platform::StopFlag&) { return std::make_unique<testutil::SimSequenceLink>(); };
}

class KeyboardWalk : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    static bool Checked(QWidget* w) { return qobject_cast<QAbstractButton*>(w)->isChecked(); }
    static QString Text(QWidget* w) { return ui::CaptionOf(w); }

    testutil::FakeUi ui;
    QTemporaryDir dir;
};

TEST_F(KeyboardWalk, MainWindow) {
    ui.answer = false;  // "Do you want to exit?": No
    CORN302ControlDlg d;
    d.m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
    d.OnInitDialog();
    const auto at = [&d](int id) { return d.Control(id); };
    const std::vector<Step> walk = {
        // The language set: one stop, at the checked radio; the arrows switch the language.
        {Qt::Key_Up, kNone, "1124", [&] { return Checked(at(1124)) && Text(at(2)) == "退出"; },
         "Chinese"},
        {Qt::Key_Down, kNone, "1037", [&] { return Checked(at(1037)) && Text(at(2)) == "Exit"; },
         "English"},
        {Qt::Key_Tab, kNone, "1067", {}, "Day"},
        {Qt::Key_Space, kNone, "1067", [&] { return !Checked(at(1067)); }, "Day off"},
        {Qt::Key_Space, kNone, "1067", [&] { return Checked(at(1067)); }, "Day on"},
        {Qt::Key_Tab, kNone, "1068"},
        {Qt::Key_Tab, kNone, "1069"},
        {Qt::Key_Tab, kNone, "1070"},
        {Qt::Key_Tab, kNone, "1071"},
        {Qt::Key_Tab, kNone, "1000", {}, "Timer>>"},
        {Qt::Key_Return, kNone, "1000", [&] { return Text(at(1000)) == "Timer<<"; }, "unfolds"},
        {Qt::Key_Enter, kNone, "1000", [&] { return Text(at(1000)) == "Timer>>"; }, "folds"},
        {Qt::Key_Tab, kNone, "1035", {}, "Info"},
        {Qt::Key_Tab, kNone, "2", {}, "Exit"},
        // The transport set: Tab enters at Network (checked), never at Serial.
        {Qt::Key_Tab, kNone, "1304", {}, "Network"},
        {Qt::Key_Backtab, kShift, "2"},
        {Qt::Key_Tab, kNone, "1304"},
        {Qt::Key_Up, kNone, "1303", [&] { return Checked(at(1303)); }, "Serial"},
        {Qt::Key_Down, kNone, "1304", [&] { return Checked(at(1304)); }, "Network"},
        {Qt::Key_Tab, kNone, "1305", {}, "IP address"},
        {Qt::Key_Tab, kNone, "1306", {}, "Port"},
        {Qt::Key_Tab, kNone, "1290", {}, "AutoConnect"},
        {Qt::Key_Tab, kNone, "1066", {}, "Connect"},
        // The device ID set: one stop.
        {Qt::Key_Tab, kNone, "1111", {}, "Device_ID 1"},
        {Qt::Key_Right, kNone, "1024", [&] { return Checked(at(1024)); }, "Device_ID 2"},
        {Qt::Key_Tab, kNone, "1065"},
        {Qt::Key_Backtab, kShift, "1024"},
        {Qt::Key_Tab, kNone, "1065"},
        {Qt::Key_Tab, kNone, "1037", {}, "round to the language"},
        {Qt::Key_Escape, kNone, "1037", [&] { return ui.boxes.size() == 1 && d.isVisible(); },
         "asks, No"},
    };
    Walk(&d, at(ids::kEnglishRadio), walk);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Do you want to exit?");
}

TEST_F(KeyboardWalk, ScreenSettings) {
    screen::OpeningValues v;
    CSetScreen d(nullptr, v, SimLinks());
    const auto at = [&d](int id) { return d.Control(id); };
    const std::vector<Step> walk = {
        // No threshold checked: the set's first radio is its stop.
        {Qt::Key_Tab, kNone, "1042", {}, "<Threshold"},
        {Qt::Key_Right, kNone, "1041", [&] { return Checked(at(1041)); }, ">Threshold"},
        // Each key colour's arrows: one stop, Up and Down step the (display only) box.
        {Qt::Key_Tab, kNone, "1283", {}, "red arrows"},
        {Qt::Key_Up, kNone, "1283", [&] { return Text(at(1048)) == "8"; }, "red up"},
        {Qt::Key_Down, kNone, "1283", [&] { return Text(at(1048)) == "0"; }, "red down"},
        {Qt::Key_Tab, kNone, "1284", {}, "green arrows"},
        {Qt::Key_Up, kNone, "1284", [&] { return Text(at(1046)) == "4"; }, "green up"},
        {Qt::Key_Tab, kNone, "1285", {}, "blue arrows"},
        {Qt::Key_Tab, kNone, "1043", {}, "text key Save"},
        {Qt::Key_Backtab, kShift, "1285"},
        {Qt::Key_Backtab, kShift, "1284"},
        {Qt::Key_Backtab, kShift, "1283"},
        {Qt::Key_Backtab, kShift, "1041", {}, "back into the set at its checked radio"},
        {Qt::Key_Tab, kNone, "1283"},
        {Qt::Key_Tab, kNone, "1284"},
        {Qt::Key_Tab, kNone, "1285"},
        {Qt::Key_Tab, kNone, "1043"},
        {Qt::Key_Tab, kNone, "1051", {}, "brightness"},
        {Qt::Key_Tab, kNone, "1044"},
        {Qt::Key_Tab, kNone, "1045", {}, "brightness Reset"},
        {Qt::Key_Return, kNone, "", [&] { return Text(at(1051)) == "64" && !d.Busy(); },
         "Enter resets"},
    };
    Walk(&d, at(2), walk);
    // V2/YPbPr: Tab enters at V2 (checked), not at YPbPr.
    const std::vector<Step> v2 = {
        {Qt::Key_Tab, kNone, "1125", {}, "V2"},
        {Qt::Key_Tab, kNone, "1291", {}, "mosaic mode: none checked, its first"},
        {Qt::Key_Backtab, kShift, "1125"},
        {Qt::Key_Escape, kNone, "", [&] { return !d.isVisible(); }, "closes"},
    };
    Walk(&d, at(1077), v2);
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST_F(KeyboardWalk, FastMosaic) {
    CSimpleMosaic d(nullptr, false, SimLinks());
    const auto at = [&d](int id) { return d.Control(id); };
    const std::vector<Step> walk = {
        {Qt::Key_Tab, kNone, "1020", {}, "1X1 (checked)"},
        {Qt::Key_Right, kNone, "1029", [&] { return d.m_rows == 1 && d.m_cols == 2; }, "1X2"},
        {Qt::Key_Tab, kNone, "1254", {}, "Row"},
        {Qt::Key_Tab, kNone, "1255", {}, "Column"},
        {Qt::Key_Tab, kNone, "1008", {}, "OK"},
        {Qt::Key_Tab, kNone, "2000", {}, "screen 000"},
        {Qt::Key_Tab, kNone, "2300"},
        {Qt::Key_Tab, kNone, "2200"},
        {Qt::Key_Tab, kNone, "2001", {}, "screen 001"},
        {Qt::Key_Return, kNone, "2001", [&] { return d.m_selected == 1; }, "Enter selects it"},
        {Qt::Key_Tab, kNone, "2301"},
        {Qt::Key_Tab, kNone, "2201"},
        {Qt::Key_Tab, kNone, "1021", {}, "device ID 1 (checked)"},
        {Qt::Key_Tab, kNone, "1018"},
        {Qt::Key_Tab, kNone, "1009", {}, "Connect"},
        {Qt::Key_Tab, kNone, "1003", {}, "Detect"},
        {Qt::Key_Tab, kNone, "1000", {}, "Auto Calculate"},
        {Qt::Key_Return, kNone, "1000", [&] { return at(mosaic::ids::kSetInput)->isEnabled(); },
         "Enter calculates"},
        // Each pair of arrows beside an Adjusted box is one stop.
        {Qt::Key_Tab, kNone, "1289", {}, "input width arrows"},
        {Qt::Key_Down, kNone, "1289", [&] { return Text(at(1260)) != "0"; }, "steps"},
        {Qt::Key_Tab, kNone, "1290"},
        {Qt::Key_Tab, kNone, "1291"},
        {Qt::Key_Tab, kNone, "1292"},
        {Qt::Key_Tab, kNone, "1001", {}, "input Set"},
        {Qt::Key_Backtab, kShift, "1292"},
    };
    Walk(&d, at(2), walk);
    // The whole wall row stands before Exit, in its order on the screen.
    const std::vector<Step> wallRow = {
        {Qt::Key_Backtab, kShift, "Wall screens", {}, "the wall window"},
        {Qt::Key_Backtab, kShift, "Set whole wall"},
        {Qt::Key_Backtab, kShift, "First ID"},
        {Qt::Key_Tab, kNone, "Set whole wall"},
        {Qt::Key_Tab, kNone, "Wall screens"},
        {Qt::Key_Tab, kNone, "2", {}, "Exit"},
        {Qt::Key_Escape, kNone, "", [&] { return !d.isVisible(); }, "closes"},
    };
    Walk(&d, at(2), wallRow);
}

TEST_F(KeyboardWalk, AddPlanProgramAndResolution) {
    {
        CAddPlan d(nullptr, false, false);
        d.OnInitDialog();
        const auto at = [&d](int id) { return d.Control(id); };
        const std::vector<Step> walk = {
            {Qt::Key_Backtab, kShift, "1157", {}, "the sources: one stop"},
            {Qt::Key_Down, kNone, "1158", [&] { return Checked(at(1158)); }, "V2"},
            {Qt::Key_Tab, kNone, "1", {}, "OK"},
            {Qt::Key_Backtab, kShift, "1158", {}, "back at the checked source"},
            {Qt::Key_Escape, kNone, "", [&] { return !d.isVisible(); }, "closes"},
        };
        Walk(&d, at(addplanids::kOk), walk);
        EXPECT_EQ(d.result(), QDialog::Rejected);
    }
    {
        CInfoPlan store(QDir(dir.path()).filePath("Planinfo.ini").toStdString());
        store.LoadPlanCounts();
        store.LoadAllPlans(false);
        CProgram d(nullptr, store, false, false);
        d.OnInitDialog();
        const std::vector<Step> walk = {
            {Qt::Key_Tab, kNone, "", [&] { return FocusName(&d) != "2"; }, "into the pages"},
            {Qt::Key_Backtab, kShift, "2", {}, "Exit"},
            {Qt::Key_Return, kNone, "", [&] { return !d.isVisible(); }, "Enter on Exit closes"},
        };
        Walk(&d, d.Control(2), walk);
    }
    {
        CCAdvanced d(nullptr, SimLinks(), false);
        d.OnInitDialog();
        const std::vector<Step> walk = {
            {Qt::Key_Tab, kNone, "1075", {}, "the resolution list"},
            {Qt::Key_Tab, kNone, "1", {}, "OK"},
            {Qt::Key_Escape, kNone, "", [&] { return !d.isVisible(); }, "closes"},
        };
        Walk(&d, d.Control(1), walk);
    }
}

// A status reply of device 1 (bytes 4..11): overlay, functions, sources (second high, main low),
// signals, PIP preset, EXT. input.
devlink::Frame Status(uint8_t overlay, uint8_t functions, uint8_t sources, uint8_t mainSignal = 1,
                      uint8_t secondSignal = 1, uint8_t preset = 0, uint8_t ext = 2) {
    devlink::Frame f = {0x05,    0x01,       0xFE,         0x00,   overlay, 0x00, functions,
                        sources, mainSignal, secondSignal, preset, ext,     0x00};
    for (int i = 0; i < 12; ++i) {
        f[12] ^= f[i];
    }
    return f;
}

// Where the focus goes when a command takes the switching controls away from under it: it waits
// in the control's own group (a Space meanwhile works nothing, least of all the Timer's Day box),
// and comes back to the control when the command is done; a control that the processor's new
// state leaves disabled hands it to its nearest usable neighbour in its group. Each row: the
// state before, the key that works the control, the state the processor reports after the command.
TEST_F(KeyboardWalk, TheFocusStaysWithTheControlOfEachCommand) {
    const devlink::Frame oneKeyDvi = Status(0, 0x00, 0x05);  // One Key Switch, DVI on air
    const devlink::Frame pipOn = Status(2, 0x00, 0x45);      // PIP on, HDMI in it
    const devlink::Frame preTake = Status(8, 0x10, 0x25);    // Pre+TAKE, VGA1 pre-selected
    struct Row {
        int control;
        devlink::Frame before;
        int key;
        devlink::Frame after;
        int focusAfter;  // 0: the control itself; -1: waits in the group
    } rows[] = {
        {ids::kV1, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x00), 0},
        {ids::kV2, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x01), 0},
        {ids::kVga1, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x02), 0},
        {ids::kVga2, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x03), 0},
        {ids::kHdmi, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x04), 0},
        {ids::kDvi, Status(0, 0x00, 0x04), Qt::Key_Space, oneKeyDvi, 0},
        {ids::kDp, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x06), 0},
        {ids::kExt, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x07), 0},
        {ids::kPipPbp, oneKeyDvi, Qt::Key_Space, pipOn, 0},
        {ids::kM1, pipOn, Qt::Key_Space, pipOn, 0},
        {ids::kM2, pipOn, Qt::Key_Space, Status(2, 0x00, 0x45, 1, 1, 1), 0},
        {ids::kM3, pipOn, Qt::Key_Space, Status(2, 0x00, 0x45, 1, 1, 2), 0},
        {ids::kText, oneKeyDvi, Qt::Key_Space, Status(4, 0x00, 0x45), 0},
        {ids::kBypass, oneKeyDvi, Qt::Key_Space, Status(0, 0x02, 0x05), 0},
        {ids::kFreeze, oneKeyDvi, Qt::Key_Space, Status(0, 0x01, 0x05), 0},
        {ids::kMosaicFn, oneKeyDvi, Qt::Key_Space, Status(0, 0x04, 0x05), 0},
        {ids::kTransitionRadios[1], oneKeyDvi, Qt::Key_Space, oneKeyDvi, 0},
        {ids::kTransitionRadios[2], oneKeyDvi, Qt::Key_Space, oneKeyDvi, 0},
        {ids::kTransitionRadios[3], oneKeyDvi, Qt::Key_Space, oneKeyDvi, 0},
        {ids::kTransitionRadios[0], oneKeyDvi, Qt::Key_Space, oneKeyDvi, 0},
        {ids::kPreTakeSwitch, oneKeyDvi, Qt::Key_Space, Status(7, 0x10, 0x05), 0},
        {ids::kOneKeySwitch, preTake, Qt::Key_Space, oneKeyDvi, 0},
        {ids::kAutoTake, preTake, Qt::Key_Space, Status(7, 0x10, 0x02), 0},
        {ids::kVga2, preTake, Qt::Key_Space, Status(8, 0x10, 0x35), 0},
        // The processor's new state leaves the control disabled.
        {ids::kMosaicFn, oneKeyDvi, Qt::Key_Space, Status(0, 0x00, 0x04), ids::kFreeze},
        {ids::kM1, pipOn, Qt::Key_Space, oneKeyDvi, ids::kPipPbp},
        {ids::kOneKeySwitch, oneKeyDvi, Qt::Key_Space, pipOn, -1},
    };
    ui.answer = true;
    CORN302ControlDlg d;
    d.m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
    d.OnInitDialog();
    d.show();
    d.activateWindow();
    testutil::ProcessEvents();
    auto& worker = static_cast<app::ConnectionSink&>(d);
    const auto report = [&](const devlink::Frame& status) {
        worker.StatusReply(status);
        testutil::ProcessEvents(20);
    };
    const auto commandRuns = [&](bool on) {
        worker.SwitchControlsEnabled(on);
        testutil::ProcessEvents(20);
    };
    const auto groupOf = [&](QWidget* w) {
        while (w != nullptr && qobject_cast<QGroupBox*>(w) == nullptr) {
            w = w->parentWidget();
        }
        return w;
    };
    auto* day = d.ControlAs<QAbstractButton>(ids::kDay);
    for (const Row& r : rows) {
        QWidget* control = d.Control(r.control);
        SCOPED_TRACE(control->accessibleName().isEmpty() ? Text(control).toStdString()
                                                         : control->accessibleName().toStdString());
        report(r.before);
        commandRuns(true);
        ASSERT_TRUE(control->isEnabled());
        control->setFocus(Qt::TabFocusReason);
        PressKey(&d, r.key);
        testutil::ProcessEvents(20);
        commandRuns(false);
        // Meanwhile: in the control's group, on no control; a Space works nothing.
        if (r.control != ids::kAutoTake) {
            EXPECT_EQ(ui::FocusWaitsFor(&d), control);
            EXPECT_EQ(groupOf(d.focusWidget()), groupOf(control));
            PressKey(&d, Qt::Key_Space);
            EXPECT_TRUE(day->isChecked());
        }
        report(r.after);
        commandRuns(true);
        if (r.focusAfter == -1) {
            EXPECT_EQ(ui::FocusWaitsFor(&d), control);
            EXPECT_EQ(groupOf(d.focusWidget()), groupOf(control));
        } else {
            EXPECT_EQ(FocusName(&d).toStdString(),
                      std::to_string(r.focusAfter == 0 ? r.control : r.focusAfter));
        }
        PressKey(&d, Qt::Key_Space);
        testutil::ProcessEvents(20);
        EXPECT_TRUE(day->isChecked());
    }
    // Focus waiting in a group goes on from there with Tab, to a usable control.
    report(oneKeyDvi);
    commandRuns(true);
    QWidget* oneKey = d.Control(ids::kOneKeySwitch);
    oneKey->setFocus(Qt::TabFocusReason);
    commandRuns(false);
    report(pipOn);
    commandRuns(true);
    ASSERT_EQ(ui::FocusWaitsFor(&d), oneKey);
    PressKey(&d, Qt::Key_Tab);
    EXPECT_EQ(ui::FocusWaitsFor(&d), nullptr);
    ASSERT_NE(d.focusWidget(), nullptr);
    EXPECT_TRUE(d.focusWidget()->isEnabled());
    EXPECT_NE(groupOf(d.focusWidget()), groupOf(oneKey));
    EXPECT_NE(d.focusWidget(), d.Control(ids::kDay));
    // Start and Stop of the timer hand the focus to each other.
    commandRuns(true);
    d.Control(ids::kStart)->setFocus(Qt::TabFocusReason);
    PressKey(&d, Qt::Key_Space);
    EXPECT_TRUE(testutil::WaitUntil([&] { return FocusName(&d) == "1017"; }, 2000)) << "Stop";
    PressKey(&d, Qt::Key_Space);
    EXPECT_TRUE(testutil::WaitUntil([&] { return FocusName(&d) == "1016"; }, 2000))
        << "Start, not " << FocusName(&d).toStdString();
    EXPECT_TRUE(day->isChecked());
}

// A list that acts on the entry chosen (the output resolution, the fast mosaic's and the main
// window's device ID) is browsed with the keys without acting; Enter, Space, a click on an entry
// and the accessibility action "select" commit, once; the focus is on the list again afterwards.
TEST_F(KeyboardWalk, ListsThatActAreBrowsedWithoutActing) {
    struct Window {
        const char* name;
        std::function<std::unique_ptr<QDialog>()> open;
        int list;
        // What the window acted on: the entry in force (the device IDs), or how many times it
        // acted (the resolution: each time is a switch of the output).
        std::function<int(QDialog&)> acted;
        bool counts;
    };
    int progress = 0;
    const Window windows[] = {
        {"resolution",
         [&] {
             auto a = std::make_unique<CCAdvanced>(nullptr, SimLinks(), false);
             a->OnInitDialog();
             return std::unique_ptr<QDialog>(std::move(a));
         },
         CCAdvanced::kList,
         [&](QDialog&) {
             return static_cast<int>(
                        std::count(ui.dialogs.begin(), ui.dialogs.end(), "CProgress")) -
                    progress;
         },
         true},
        {"fast mosaic device ID",
         [] { return std::unique_ptr<QDialog>(new CSimpleMosaic(nullptr, false, SimLinks())); },
         mosaic::ids::kIdList,
         [](QDialog& w) { return static_cast<CSimpleMosaic&>(w).m_mosaicId - 1; }, false},
        {"main device ID",
         [&] {
             auto m = std::make_unique<CORN302ControlDlg>();
             m->m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
             m->OnInitDialog();
             return std::unique_ptr<QDialog>(std::move(m));
         },
         ids::kDeviceIdCombo,
         [](QDialog& w) { return static_cast<CORN302ControlDlg&>(w).m_conn.m_deviceId - 1; },
         false},
    };
    ui.answer = false;
    for (const Window& win : windows) {
        for (Commit way : {Commit::Enter, Commit::Space, Commit::Click, Commit::Select}) {
            SCOPED_TRACE(std::string(win.name) + ", " + testutil::CommitName(way));
            progress =
                static_cast<int>(std::count(ui.dialogs.begin(), ui.dialogs.end(), "CProgress"));
            std::unique_ptr<QDialog> w = win.open();
            w->show();
            w->activateWindow();
            ASSERT_TRUE(testutil::WaitUntil([&] {
                return w->findChild<QComboBox*>(QStringLiteral("ctl%1").arg(win.list))->isEnabled();
            }));
            auto* list = w->findChild<QComboBox*>(QStringLiteral("ctl%1").arg(win.list));
            list->setFocus(Qt::TabFocusReason);
            const int start = list->currentIndex();
            const int acted = win.acted(*w);
            for (int key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_PageDown, Qt::Key_End, Qt::Key_Home,
                            Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) {
                PressKey(w.get(), key);
            }
            PressKey(w.get(), Qt::Key_1);  // typing: "1..." entries
            testutil::ProcessEvents(20);
            const int browsed = list->currentIndex();
            EXPECT_NE(browsed, start) << "the keys move the entry shown";
            EXPECT_EQ(win.acted(*w), acted) << "nothing acted while browsing";
            testutil::CommitEntry(list, way);
            const int expected = win.counts ? acted + 1 : browsed;
            EXPECT_TRUE(testutil::WaitUntil([&] { return win.acted(*w) == expected; }));
            EXPECT_TRUE(testutil::WaitUntil([&] { return list->isEnabled(); }));
            PressKey(w.get(), Qt::Key_Return);  // the entry is in force: nothing more
            testutil::ProcessEvents(20);
            EXPECT_EQ(win.acted(*w), expected) << "once";
            EXPECT_EQ(w->focusWidget(), list)
                << "focus back, not " << FocusName(w.get()).toStdString();
            // The wait box gone, the window manager makes the dialog active again.
            w->activateWindow();
            EXPECT_TRUE(testutil::WaitUntil([&] { return list->hasFocus(); }));
            // Browsed and left: the entry in force shows again.
            PressKey(w.get(), Qt::Key_Down);
            PressKey(w.get(), Qt::Key_Tab);
            EXPECT_EQ(list->currentIndex(), browsed);
        }
    }
}

}  // namespace