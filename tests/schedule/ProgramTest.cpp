// The Program window, its plan pages and the add-plan dialog, offscreen: start-up, tabs, the
// add-plan dialog's start state, and plans added, changed and deleted through the accessibility
// actions a screen reader uses, down to the plan file.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "FakeClock.h"
#include "FakeUi.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "resources/ControlIds.h"
#include "app/MainDlg.h"
#include "schedule/AddPlan.h"
#include "resources/AddPlanIds.h"
#include "schedule/InfoPlan.h"
#include "schedule/PlanFile.h"
#include "schedule/PlanPage.h"
#include "schedule/Program.h"
#include "resources/ProgramIds.h"

namespace {

using testutil::WaitUntil;

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

QAccessibleInterface* Accessible(QObject* o) {
    return QAccessible::queryAccessibleInterface(o);
}

QString AccessibleName(QObject* o) {
    QAccessibleInterface* iface = Accessible(o);
    return iface != nullptr ? iface->text(QAccessible::Name) : QString();
}

// What a screen reader does to a control: its accessibility action ("Press", "Toggle").
void Act(QWidget* w, const QString& action) {
    QAccessibleInterface* iface = Accessible(w);
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->actionInterface(), nullptr);
    ASSERT_TRUE(iface->actionInterface()->actionNames().contains(action))
        << w->objectName().toStdString() << " has no " << action.toStdString();
    iface->actionInterface()->doAction(action);
}

// Runs the real dialogs and, once one of them is open, what the test says a person does in it.
class DrivingUi : public testutil::FakeUi {
public:
    DrivingUi() {
        run = {"CProgress", "CProgram", "CAddPlan"};
        watchdogMs = 5000;
    }
    int RunModal(platform::ModalDialog& dialog) override {
        auto it = drivers.find(dialog.DialogName());
        auto* qd = dynamic_cast<QDialog*>(&dialog);
        if (it != drivers.end() && !it->second.empty() && qd != nullptr) {
            std::function<void(QDialog&)> act = it->second.front();
            it->second.erase(it->second.begin());
            QTimer::singleShot(0, qd, [qd, act] { act(*qd); });
        }
        return FakeUi::RunModal(dialog);
    }
    // By dialog name, one step per opening, in order.
    std::map<std::string, std::vector<std::function<void(QDialog&)>>> drivers;
};

// Fills the add-plan dialog as a person would and presses OK through its accessibility action.
// weekDay 0..6 and monthDay 1..31 choose in their boxes; an invalid date leaves the picker.
std::function<void(QDialog&)> Enter(QTime time, int source, int weekDay = -1, int monthDay = -1,
                                    QDate date = QDate()) {
    return [=](QDialog& d) {
        auto& dlg = dynamic_cast<CAddPlan&>(d);
        dlg.ControlAs<QTimeEdit>(addplanids::kTime)->setTime(time);
        if (weekDay >= 0)
            dlg.ControlAs<QComboBox>(addplanids::kWeekDay)->setCurrentIndex(weekDay);
        if (monthDay > 0)
            dlg.ControlAs<QComboBox>(addplanids::kMonthDay)->setCurrentIndex(monthDay - 1);
        if (date.isValid())
            dlg.ControlAs<QDateEdit>(addplanids::kDate)->setDate(date);
        Act(dlg.Control(addplanids::kSources[source]), QAccessibleActionInterface::toggleAction());
        Act(dlg.Control(addplanids::kOk), QAccessibleActionInterface::pressAction());
    };
}

class ProgramTest : public testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override { path = QDir(dir.path()).filePath("Planinfo.ini").toStdString(); }

    void Put(const std::string& content) const { std::ofstream(path, std::ios::binary) << content; }
    std::string Content() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The Program window as the main window opens it, started.
    std::unique_ptr<CProgram> Open(bool chinese, bool v2IsYPbPr = false) {
        store = std::make_unique<CInfoPlan>(path);
        store->LoadPlanCounts();
        store->LoadAllPlans(chinese);
        auto program = std::make_unique<CProgram>(nullptr, *store, chinese, v2IsYPbPr);
        program->OnInitDialog();
        program->show();
        return program;
    }
    static QTreeWidget* List(CPlanPage* page) {
        return qobject_cast<QTreeWidget*>(page->Control(progids::kPages[page->Kind()].list));
    }
    static QStringList Row(CPlanPage* page, int row) {
        QStringList texts;
        QTreeWidgetItem* item = List(page)->topLevelItem(row);
        for (int c = 0; item != nullptr && c < item->columnCount(); ++c)
            texts << item->text(c);
        return texts;
    }
    // Presses a page button through its accessibility action and waits for its click.
    void Press(QWidget* button) {
        int clicks = 0;
        auto c = QObject::connect(qobject_cast<QAbstractButton*>(button), &QAbstractButton::clicked,
                                  [&] { ++clicks; });
        Act(button, QAccessibleActionInterface::pressAction());
        EXPECT_TRUE(WaitUntil([&] { return clicks > 0; }, 3000));
        QObject::disconnect(c);
    }

    testutil::ScopedZone zone{"UTC"};
    DrivingUi ui;
    QTemporaryDir dir;
    std::string path;
    std::unique_ptr<CInfoPlan> store;
};

TEST_F(ProgramTest, TabsShowOnePageAtATimeUnderTheTabStrip) {
    const char* const tabs[2][4] = {{"DayPlan", "WeekPlan", "MonthPlan", "One_time Plan"},
                                    {"日定时", "周定时", "月定时", "一次定时"}};
    const char* const headings[2][4] = {{"Name|Time|Signal", "Name|WDay|Time|Signal",
                                         "Name|Day|Time|Signal", "Name|Date|Time|Signal"},
                                        {"名称|时间|信号", "名称|周日期|时间|信号",
                                         "名称|月日期|时间|信号", "名称|日期|时间|信号"}};
    const std::vector<int> parts[4] = {{1, 2, 1}, {1, 1, 2, 1}, {1, 1, 2, 1}, {1, 2, 2, 1}};
    for (bool zh : {false, true}) {
        SCOPED_TRACE(zh ? "zh" : "en");
        auto program = Open(zh);
        EXPECT_EQ(program->windowTitle(), Utf8(zh ? "任务" : "Program"));
        EXPECT_EQ(ui::CaptionOf(program->Control(progids::kExit)), Utf8(zh ? "退出" : "Exit"));
        auto* tabBar = qobject_cast<QTabBar*>(program->Control(progids::kTab));
        ASSERT_EQ(tabBar->count(), 4);

        // The pages fill the tab control under its strip: 20 pixels down, or the strip's own
        // height when the font makes it taller, so no tab caption is covered.
        const QRect pageRect = program->Page(0)->geometry();
        EXPECT_EQ(pageRect.top(), std::max(CProgram::kTabStripHeight, tabBar->sizeHint().height()));
        EXPECT_EQ(pageRect.top(), tabBar->geometry().bottom() + 1);
        EXPECT_EQ(pageRect.bottom(), tabBar->parentWidget()->rect().bottom());
        for (int i = 0; i < 4; ++i) {
            CPlanPage* page = program->Page(i);
            EXPECT_EQ(tabBar->tabText(i), Utf8(tabs[zh][i]));
            EXPECT_EQ(page->objectName(), QStringLiteral("dlg%1").arg(134 + i));
            EXPECT_EQ(page->geometry(), pageRect);
            EXPECT_EQ(page->parentWidget(), tabBar->parentWidget());
            // Buttons and columns of the page.
            const progids::PageIds& ids = progids::kPages[i];
            EXPECT_EQ(ui::CaptionOf(page->Control(ids.add)), Utf8(zh ? "添加" : "Add"));
            EXPECT_EQ(ui::CaptionOf(page->Control(ids.modify)), Utf8(zh ? "修改" : "Modify"));
            EXPECT_EQ(ui::CaptionOf(page->Control(ids.del)), Utf8(zh ? "删除" : "Delete"));
            QTreeWidget* list = List(page);
            QStringList shown;
            for (int c = 0; c < list->columnCount(); ++c)
                shown << list->headerItem()->text(c);
            EXPECT_EQ(shown.join(u'|'), Utf8(headings[zh][i]));
            EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
            EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
            int whole = 0;
            for (int p : parts[i])
                whole += p;
            const int width = list->width() - 2 * list->frameWidth();
            for (size_t c = 0; c < parts[i].size(); ++c)
                EXPECT_EQ(list->header()->sectionSize(static_cast<int>(c)),
                          width * parts[i][c] / whole);
        }

        // Exactly one page shows: the day page first, then the tab chosen, by mouse or by the
        // tab's accessibility action alike.
        auto shown = [&] {
            std::vector<int> visible;
            for (int i = 0; i < 4; ++i)
                if (program->Page(i)->isVisible())
                    visible.push_back(i);
            return visible;
        };
        EXPECT_EQ(shown(), std::vector<int>{0});
        for (int i : {2, 3, 1, 0}) {
            tabBar->setCurrentIndex(i);
            EXPECT_EQ(shown(), std::vector<int>{i});
            EXPECT_EQ(program->m_shownPage, i);
        }
        QAccessibleInterface* tabs = Accessible(tabBar);
        ASSERT_NE(tabs, nullptr);
        QAccessibleInterface* third = tabs->child(2);
        ASSERT_NE(third, nullptr);
        EXPECT_EQ(third->text(QAccessible::Name), Utf8(zh ? "月定时" : "MonthPlan"));
        third->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(shown(), std::vector<int>{2});
    }
}

// Wednesday, 6 March 2024, 14:25:36 (UTC).
constexpr int64_t kWednesdayMs = 1709735136000;

TEST_F(ProgramTest, AddPlanStartsWithTodayAndTheModesSelector) {
    testutil::FakeClock clock(kWednesdayMs);
    platform::SetClock(&clock);
    struct Case {
        int mode;
        bool date, week, month;
    };
    const Case cases[] = {
        {PlanDay, false, false, false},  {PlanWeek, false, true, false},
        {PlanMonth, false, false, true}, {PlanOnce, true, false, false},
        {255, true, true, true},  // any other mode leaves them as they are
    };
    for (bool zh : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "mode " << c.mode << (zh ? " zh" : " en"));
            CAddPlan dlg(nullptr, zh, false);
            dlg.m_mode = static_cast<uint8_t>(c.mode);
            dlg.OnInitDialog();
            EXPECT_EQ(dlg.Control(addplanids::kDate)->isEnabled(), c.date);
            EXPECT_EQ(dlg.Control(addplanids::kWeekDay)->isEnabled(), c.week);
            EXPECT_EQ(dlg.Control(addplanids::kMonthDay)->isEnabled(), c.month);
            EXPECT_TRUE(dlg.Control(addplanids::kTime)->isEnabled());

            auto* weekDay = dlg.ControlAs<QComboBox>(addplanids::kWeekDay);
            ASSERT_EQ(weekDay->count(), 7);
            EXPECT_EQ(weekDay->itemText(0), Utf8(zh ? "0星期日" : "0Sun"));
            EXPECT_EQ(weekDay->currentText(), Utf8(zh ? "3星期三" : "3Wed"));
            auto* monthDay = dlg.ControlAs<QComboBox>(addplanids::kMonthDay);
            ASSERT_EQ(monthDay->count(), 31);
            EXPECT_EQ(monthDay->currentText(), "06");
            EXPECT_EQ(dlg.ControlAs<QTimeEdit>(addplanids::kTime)->text(), "14:25:36");
            EXPECT_EQ(dlg.ControlAs<QDateEdit>(addplanids::kDate)->text(), "2024-3-6");
            EXPECT_TRUE(dlg.ControlAs<QRadioButton>(addplanids::kSources[0])->isChecked());
            EXPECT_EQ(dlg.m_source, 0);

            EXPECT_EQ(dlg.windowTitle(), Utf8(zh ? "任务参数" : "Plan"));
            EXPECT_EQ(ui::CaptionOf(dlg.Control(addplanids::kQuestion)),
                      Utf8(zh ? "添加一个新任务?" : "Add a plan?"));
            EXPECT_EQ(ui::CaptionOf(dlg.Control(addplanids::kWeekDayLabel)),
                      Utf8(zh ? "周日期" : "Day of week"));
            EXPECT_EQ(ui::CaptionOf(dlg.Control(addplanids::kMonthDayLabel)),
                      Utf8(zh ? "月日期" : "Day of month"));
            EXPECT_EQ(ui::CaptionOf(dlg.Control(addplanids::kSourceGroup)),
                      Utf8(zh ? "信号选择" : "Source"));
        }
    }
    platform::SetClock(nullptr);
}

TEST_F(ProgramTest, SecondSourceFollowsTheInputAndModifyChecksOnlyThePlansSource) {
    for (bool ypbpr : {false, true}) {
        SCOPED_TRACE(ypbpr ? "YPbPr" : "V2");
        CAddPlan dlg(nullptr, false, ypbpr);
        dlg.m_mode = PlanDay;
        dlg.OnInitDialog();
        QWidget* second = dlg.Control(addplanids::kSources[1]);
        EXPECT_EQ(ui::CaptionOf(second), ypbpr ? "YPbPr" : "V2");
        // The accessibility action, the mouse and the keyboard choose alike.
        Act(second, QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(dlg.m_source, ypbpr ? 8 : 1);
        dlg.ControlAs<QRadioButton>(addplanids::kSources[4])->click();
        EXPECT_EQ(dlg.m_source, 4);
        second->setFocus();
        dlg.ControlAs<QRadioButton>(addplanids::kSources[1])->animateClick();
        EXPECT_TRUE(WaitUntil([&] { return dlg.m_source != 4; }, 2000));
        EXPECT_EQ(dlg.m_source, ypbpr ? 8 : 1);
    }

    // A week plan to YPbPr, modified while the input reads V2: only the second button is
    // checked, and the plan keeps its code until another source is chosen.
    int64_t time = 0;
    ASSERT_TRUE(MakePlanTime(10, 0, 5, &time));
    CAddPlan dlg(nullptr, false, false);
    dlg.m_mode = PlanWeek;
    dlg.m_bEdit = true;
    dlg.m_plan = {0, time, "3Wed", "", 8};
    dlg.OnInitDialog();
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(dlg.ControlAs<QRadioButton>(addplanids::kSources[n])->isChecked(), n == 1) << n;
    EXPECT_EQ(dlg.ControlAs<QComboBox>(addplanids::kWeekDay)->currentText(), "3Wed");
    EXPECT_EQ(dlg.ControlAs<QTimeEdit>(addplanids::kTime)->text(), "10:00:05");
    QTimer::singleShot(0, &dlg, [&] {
        Act(dlg.Control(addplanids::kOk), QAccessibleActionInterface::pressAction());
    });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    const PlanChoice choice = dlg.Choice();
    EXPECT_EQ(choice.source, 8);
    EXPECT_EQ(choice.weekDayText, "3Wed");
    EXPECT_EQ(FormatClock(choice.time), "10: 0: 5");

    // Closing any other way is Cancel.
    CAddPlan other(nullptr, false, false);
    other.m_mode = PlanDay;
    QTimer::singleShot(0, &other, [&] { other.close(); });
    EXPECT_EQ(other.ExecModal(), QDialog::Rejected);
}

TEST_F(ProgramTest, AScreenReaderAddsModifiesAndDeletesPlans) {
    Put("[CONNECT]\nSerialTcp=0\n");
    auto program = Open(false);
    CPlanPage* day = program->Page(0);
    const progids::PageIds& ids = progids::kPages[0];

    ui.drivers["CAddPlan"] = {Enter(QTime(20, 30, 0), 4), Enter(QTime(8, 0, 0), 0)};
    Press(day->Control(ids.add));
    Press(day->Control(ids.add));
    EXPECT_EQ(Row(day, 0), (QStringList{"Time0", " 8: 0: 0", "V1"}));
    EXPECT_EQ(Row(day, 1), (QStringList{"Time1", "20:30: 0", "HDMI"}));
    EXPECT_NE(Content().find("[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n"), std::string::npos)
        << Content();
    EXPECT_NE(Content().find("daytimecount=2"), std::string::npos);

    // Modify the row a screen reader selected: the dialog shows the plan; a new time moves it.
    testutil::ProcessEvents();
    QAccessibleInterface* list = Accessible(day->Control(ids.list));
    ASSERT_NE(list->tableInterface(), nullptr);
    EXPECT_EQ(list->text(QAccessible::Name), "Day plans");
    EXPECT_TRUE(list->tableInterface()->selectRow(1));
    QString shownTime;
    bool hdmiChecked = false;
    ui.drivers["CAddPlan"] = {[&](QDialog& d) {
        auto& dlg = dynamic_cast<CAddPlan&>(d);
        shownTime = dlg.ControlAs<QTimeEdit>(addplanids::kTime)->text();
        hdmiChecked = dlg.ControlAs<QRadioButton>(addplanids::kSources[4])->isChecked();
        // A press on the page behind the dialog waits for no one: it is dropped.
        Act(day->Control(ids.del), QAccessibleActionInterface::pressAction());
        WaitUntil([] { return false; }, 300);
        Enter(QTime(7, 0, 0), 5)(d);
    }};
    ui.boxes.clear();
    Press(day->Control(ids.modify));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(shownTime, "20:30:00");
    EXPECT_TRUE(hdmiChecked);
    EXPECT_EQ(Row(day, 0), (QStringList{"Time0", " 7: 0: 0", "DVI"}));
    EXPECT_NE(Content().find("Time0= 7: 0: 0,5\nTime1= 8: 0: 0,0\n"), std::string::npos);

    // A one-time plan, then the day plans deleted after the question.
    program->Control(progids::kTab)->setFocus();
    qobject_cast<QTabBar*>(program->Control(progids::kTab))->setCurrentIndex(3);
    CPlanPage* once = program->Page(3);
    ui.drivers["CAddPlan"] = {Enter(QTime(23, 59, 59), 7, -1, -1, QDate(2016, 8, 4))};
    Press(once->Control(progids::kPages[3].add));
    EXPECT_EQ(Row(once, 0), (QStringList{"Time0", "2016-8-4", "23:59:59", "EXT."}));
    EXPECT_NE(Content().find("[ONCETIME]\nTime0=2016-8-4,23:59:59,7\n"), std::string::npos);

    testutil::ProcessEvents();
    EXPECT_TRUE(list->tableInterface()->selectRow(0));
    EXPECT_TRUE(list->tableInterface()->selectRow(1));
    ui.answer = true;
    ui.boxes.clear();
    Press(day->Control(ids.del));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Are you Sure  want to delete the current timing settings? ");
    EXPECT_EQ(List(day)->topLevelItemCount(), 0);
    EXPECT_NE(Content().find("daytimecount=0"), std::string::npos);
    EXPECT_EQ(Content().find("[DAYTIME]"), std::string::npos);
    EXPECT_NE(Content().find("[CONNECT]\nSerialTcp=0\n"), std::string::npos);
    EXPECT_EQ(ui.hung, 0);
}

// Every kind's section given twice (a hand merge): opening the Program window shows the first of
// each and does not write the file, so the second ones stay as they are.
TEST_F(ProgramTest, OpeningKeepsTwinSectionsOfEveryKind) {
    const std::string file =
        "[PLANCOUNT]\ndaytimecount=1\nweektimecount=1\nmonthtimecount=1\noncetimecount=1\n"
        "[DAYTIME]\nTime0= 8: 0: 0,0\n[WEEKTIME]\nTime0=1, 9: 0: 0,2\n"
        "[MONTHTIME]\nTime0=05, 9: 5: 0,4\n[ONCETIME]\nTime0=2016-8-4,23:59:59,4\n"
        "[DAYTIME]\nTime0=12: 0: 0,3\nTime1=13: 0: 0,4\n[WEEKTIME]\nTime0=2,10: 0: 0,1\n"
        "[MONTHTIME]\nTime0=06,10: 0: 0,1\n[ONCETIME]\nTime0=2017-1-1,10: 0: 0,1\n";
    Put(file);
    const QDateTime written = QFileInfo(QString::fromStdString(path)).lastModified();
    auto program = Open(false);
    for (int kind = 0; kind < 4; ++kind)
        EXPECT_EQ(List(program->Page(kind))->topLevelItemCount(), 1) << kind;
    EXPECT_EQ(Row(program->Page(0), 0), (QStringList{"Time0", " 8: 0: 0", "V1"}));
    EXPECT_EQ(Content(), file);
    EXPECT_EQ(QFileInfo(QString::fromStdString(path)).lastModified(), written);
}

TEST_F(ProgramTest, EveryControlHasANameAPersonWouldSay) {
    for (bool zh : {false, true}) {
        auto program = Open(zh);
        std::vector<QWidget*> controls = {program->Control(progids::kTab),
                                          program->Control(progids::kExit)};
        for (int i = 0; i < 4; ++i) {
            const progids::PageIds& ids = progids::kPages[i];
            for (int id : {ids.list, ids.add, ids.modify, ids.del})
                controls.push_back(program->Page(i)->Control(id));
        }
        CAddPlan dlg(nullptr, zh, false);
        dlg.m_mode = PlanOnce;
        dlg.OnInitDialog();
        for (int id : {addplanids::kOk, addplanids::kDate, addplanids::kTime, addplanids::kWeekDay,
                       addplanids::kMonthDay, addplanids::kQuestion, addplanids::kWeekDayLabel,
                       addplanids::kMonthDayLabel, addplanids::kSourceGroup})
            controls.push_back(dlg.Control(id));
        for (int id : addplanids::kSources)
            controls.push_back(dlg.Control(id));
        for (QWidget* w : controls) {
            ASSERT_NE(w, nullptr);
            EXPECT_FALSE(AccessibleName(w).isEmpty()) << w->objectName().toStdString();
        }
        // The day boxes are labelled by the captions before them (on Linux a list box's name is
        // its value, and its label comes as a relation).
        for (auto [box, label] : {std::pair{addplanids::kWeekDay, addplanids::kWeekDayLabel},
                                  {addplanids::kMonthDay, addplanids::kMonthDayLabel}}) {
            const auto labels = Accessible(dlg.Control(box))->relations(QAccessible::Label);
            ASSERT_EQ(labels.size(), 1);
            EXPECT_EQ(labels[0].first->object(), dlg.Control(label));
        }
        EXPECT_EQ(AccessibleName(dlg.Control(addplanids::kDate)), Utf8(zh ? "日期" : "Date"));
        EXPECT_EQ(AccessibleName(dlg.Control(addplanids::kTime)), Utf8(zh ? "时间" : "Time"));
        EXPECT_EQ(AccessibleName(dlg.Control(addplanids::kSources[4])), "HDMI");
    }
}

// With ORN312_SCREENSHOT_DIR set, writes every page with plans and the add-plan dialog, in both
// languages.
TEST_F(ProgramTest, Screenshots) {
    const QString out = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (out.isEmpty())
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to write the pictures";
    QDir().mkpath(out);
    Put("[PLANCOUNT]\ndaytimecount=3\nweektimecount=2\nmonthtimecount=2\noncetimecount=2\n"
        "[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=12:30: 0,8\nTime2=20:30: 0,4\n"
        "[WEEKTIME]\nTime0=1, 9: 0: 0,2\nTime1=3,14:30: 0,4\n"
        "[MONTHTIME]\nTime0=05, 9: 5: 0,4\nTime1=31,23:59:59,7\n"
        "[ONCETIME]\nTime0=2016-8-4,23:59:59,4\nTime1=2030-12-24,18: 0: 0,6\n");
    for (bool zh : {false, true}) {
        const QString lang = zh ? "zh" : "en";
        auto program = Open(zh);
        auto* tabBar = qobject_cast<QTabBar*>(program->Control(progids::kTab));
        const char* const names[] = {"day", "week", "month", "once"};
        for (int i = 0; i < 4; ++i) {
            tabBar->setCurrentIndex(i);
            QCoreApplication::processEvents();
            EXPECT_TRUE(program->grab().save(
                out + QStringLiteral("/program-%1-%2.png").arg(names[i], lang)));
        }
        for (int mode : {PlanWeek, PlanOnce}) {
            CAddPlan dlg(nullptr, zh, mode == PlanOnce);
            dlg.m_mode = static_cast<uint8_t>(mode);
            dlg.OnInitDialog();
            dlg.show();
            QCoreApplication::processEvents();
            EXPECT_TRUE(
                dlg.grab().save(out + QStringLiteral("/addplan-%1-%2.png").arg(names[mode], lang)));
        }
    }
}

// End to end: the main window connected to the simulator, plans of every kind added through the
// Program window as a screen reader would, the file as they leave it, and the scheduler, started
// afterwards, switching the processor at the day plan's moment.
TEST_F(ProgramTest, PlansAddedInTheWindowReachTheFileAndTheSchedulerRunsThem) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    const time_t now = ::time(nullptr);
    const time_t then = now + 8;
    struct tm today {
    }, at{};
    localtime_r(&now, &today);
    localtime_r(&then, &at);
    if (at.tm_mday != today.tm_mday)
        GTEST_SKIP() << "too close to midnight";
    char clock[16];
    std::snprintf(clock, sizeof clock, "%2d:%2d:%2d", at.tm_hour, at.tm_min, at.tm_sec);
    Put("[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" + std::to_string(sim.tcpPort) +
        "\nConnectFlag=1\nStartTimerFlag=0\nDeviceID=1\n");

    CORN302ControlDlg main;
    main.m_profilePath = path;
    main.OnInitDialog();
    ASSERT_TRUE(WaitUntil([&] { return main.Control(ids::kProgram)->isEnabled(); }));

    const int tomorrow = (today.tm_wday + 1) % 7;
    ui.watchdogMs = 20000;
    ui.drivers["CAddPlan"] = {
        Enter(QTime(at.tm_hour, at.tm_min, at.tm_sec), 4),
        Enter(QTime(10, 0, 0), 5, tomorrow),
        Enter(QTime(9, 5, 0), 7, -1, 28),
        Enter(QTime(23, 59, 59), 6, -1, -1, QDate(2030, 1, 1)),
    };
    std::string whileOpen;
    ui.drivers["CProgram"] = {[&](QDialog& d) {
        auto& program = dynamic_cast<CProgram&>(d);
        auto* tabs = qobject_cast<QTabBar*>(program.Control(progids::kTab));
        for (int kind = 0; kind < 4; ++kind) {
            Accessible(tabs)->child(kind)->actionInterface()->doAction(
                QAccessibleActionInterface::pressAction());
            Press(program.Page(kind)->Control(progids::kPages[kind].add));
        }
        whileOpen = Content();  // acknowledged plans are in the file before the window closes
        Press(program.Control(progids::kExit));
    }};
    Press(main.Control(ids::kProgram));
    ASSERT_TRUE(WaitUntil([&] { return ui.dialogs.size() >= 6; }, 15000));
    EXPECT_EQ(ui.hung, 0);

    char week[40];
    std::snprintf(week, sizeof week, "[WEEKTIME]\nTime0=%d,10: 0: 0,5\n", tomorrow);
    const std::string file = Content();
    EXPECT_EQ(whileOpen, file);
    for (const std::string& part :
         {"[DAYTIME]\nTime0=" + std::string(clock) + ",4\n", std::string(week),
          std::string("[MONTHTIME]\nTime0=28, 9: 5: 0,7\n"),
          std::string("[ONCETIME]\nTime0=2030-1-1,23:59:59,6\n"),
          std::string("[PLANCOUNT]\ndaytimecount=1\nweektimecount=1\nmonthtimecount=1\n"
                      "oncetimecount=1\n")})
        EXPECT_NE(file.find(part), std::string::npos) << part << " not in\n" << file;
    EXPECT_TRUE(main.m_conn.WorkersRunning());

    // Started afterwards, the scheduler reads the file and switches to HDMI at the plan's time.
    Press(main.Control(ids::kStart));
    EXPECT_EQ(main.m_bTimerRunning, 1);
    EXPECT_TRUE(sim.WaitForOutput("<- 05 01 00 00 04 00 00 00 00 00 00 00 00", 15000));
    main.ControlAs<QAbstractButton>(ids::kStop)->click();
    main.m_conn.Disconnect();
}

}  // namespace
