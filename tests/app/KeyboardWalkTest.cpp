// A keyboard-only walk through every window: Tab and Shift+Tab stop at the controls a person
// works (a set of radios once, at its checked radio; a pair of up/down arrows once; nothing
// disabled), the arrow keys move within a set of radios and select, Space works the control,
// Enter presses the focused button, Escape closes a dialog (the main window asks first). One table
// per window: each row a key, the control that has the focus after it, and what must hold then.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "app/MainDlg.h"
#include "resources/ControlIds.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"
#include "schedule/AddPlan.h"
#include "resources/AddPlanIds.h"
#include "schedule/InfoPlan.h"
#include "schedule/Program.h"
#include "screen/Advanced.h"
#include "screen/SetScreen.h"

namespace {

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

}  // namespace
