// The plan pages without windows: the 10-second rule, ordering and renumbering, the section
// rewrite, the row limit, and what a damaged or unwritable plan file does to them.
#include "schedule/PlanEditor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "FakeClock.h"
#include "FakeUi.h"
#include "schedule/PlanFile.h"

namespace {

namespace fs = std::filesystem;

int64_t Moment(int y, int mo, int d, int h, int mi, int s) {
    int64_t t = 0;
    EXPECT_TRUE(MakeLocalMoment(y, mo, d, h, mi, s, &t));
    return t;
}

// A dialog answer. The time's date is some other day: only its time of day counts.
PlanChoice At(int h, int m, int s, int source = 0) {
    PlanChoice c;
    c.time = Moment(2024, 3, 6, h, m, s);
    c.date = Moment(2024, 3, 6, 0, 0, 0);
    c.source = static_cast<uint8_t>(source);
    return c;
}
PlanChoice OnWeekday(const char* text, int h, int m, int s, int source = 0) {
    PlanChoice c = At(h, m, s, source);
    c.weekDayText = text;
    return c;
}
PlanChoice OnMonthDay(const char* text, int h, int m, int s, int source = 0) {
    PlanChoice c = At(h, m, s, source);
    c.monthDayText = text;
    return c;
}
PlanChoice OnDate(int y, int mo, int d, int h, int m, int s, int source = 0) {
    PlanChoice c = At(h, m, s, source);
    c.date = Moment(y, mo, d, 0, 0, 0);
    return c;
}

PlanEditor::AskPlan Answer(std::optional<PlanChoice> choice,
                           std::optional<PlanItem>* prefill = nullptr) {
    return [choice, prefill](const PlanItem* p) {
        if (prefill != nullptr)
            *prefill = p ? std::optional<PlanItem>(*p) : std::nullopt;
        return choice;
    };
}

class PlanEditorTest : public testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = testing::TempDir() + "editorXXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        path = dir + "/Planinfo.ini";
    }
    void TearDown() override { fs::remove_all(dir); }

    void Put(const std::string& content) const { std::ofstream(path, std::ios::binary) << content; }
    std::string Content() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The kind's lines, exactly as the file holds them, and its count: "Time0= 8: 0: 0,0|count=1".
    std::string Section(int kind) const {
        std::istringstream in(Content());
        const std::string header = "[" + std::string(PlanSection(kind)) + "]";
        std::string out, line;
        bool inside = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line[0] == '[')
                inside = line == header;
            else if (inside)
                out += line + "|";
        }
        return out + "count=" +
               platform::GetProfileString(path, kPlanCountSection, PlanCountKey(kind), "-");
    }
    // Opens the kind's page as the Program window does.
    PlanEditor& Open(int kind, bool chinese = false) {
        store = std::make_unique<CInfoPlan>(path);
        store->LoadPlanCounts();
        store->LoadAllPlans(chinese);
        editor = std::make_unique<PlanEditor>(*store, kind, chinese);
        editor->FillListFromFile();
        return *editor;
    }
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> out;
        for (const PlanRow& row : editor->Rows())
            out.push_back(row.at(column));
        return out;
    }

    testutil::ScopedZone zone{"UTC"};
    testutil::FakeUi ui;
    std::string dir;
    std::string path;
    std::unique_ptr<CInfoPlan> store;
    std::unique_ptr<PlanEditor> editor;
};

const char kInterval[] =
    "Sorry, opertion is invalid due to that the minimal time interval between a new plan and a "
    "exsisted one is 10 seconds";

TEST_F(PlanEditorTest, TenSecondRuleAsEachKindCompares) {
    struct Case {
        const char* what;
        int kind;
        const char* lines;  // the kind's section, count 1 or 2
        int modifyRow;      // -1: Add
        PlanChoice choice;
        bool accepted;
    };
    const Case cases[] = {
        {"day 10 s after", PlanDay, "Time0= 8: 0: 0,0", -1, At(8, 0, 10), false},
        {"day 10 s before", PlanDay, "Time0= 8: 0:10,0", -1, At(8, 0, 0), false},
        {"day 11 s after", PlanDay, "Time0= 8: 0: 0,0", -1, At(8, 0, 11), true},
        {"day same time", PlanDay, "Time0= 8: 0: 0,0", -1, At(8, 0, 0, 4), false},
        {"day no wrap at midnight", PlanDay, "Time0=23:59:55,0", -1, At(0, 0, 2), true},
        {"day modify only the source", PlanDay, "Time0= 8: 0: 0,0", 0, At(8, 0, 0, 4), true},
        {"day modify next to the other", PlanDay, "Time0= 8: 0: 0,0\nTime1= 9: 0: 0,1", 1,
         At(8, 0, 5), false},
        {"week other weekday 5 s apart", PlanWeek, "Time0=3,10: 0: 0,0", -1,
         OnWeekday("4Thu", 10, 0, 5), true},
        {"week same weekday 5 s apart", PlanWeek, "Time0=3,10: 0: 0,0", -1,
         OnWeekday("3Wed", 10, 0, 5), false},
        {"week Chinese weekday name", PlanWeek, "Time0=3,10: 0: 0,0", -1,
         OnWeekday("3星期三", 10, 0, 5), false},
        {"month same day 5 s apart", PlanMonth, "Time0=05,10: 0: 0,0", -1,
         OnMonthDay("05", 10, 0, 5), false},
        {"month other day", PlanMonth, "Time0=05,10: 0: 0,0", -1, OnMonthDay("06", 10, 0, 5), true},
        {"once across midnight 7 s", PlanOnce, "Time0=2016-8-4,23:59:55,0", -1,
         OnDate(2016, 8, 5, 0, 0, 2), false},
        {"once next day same time", PlanOnce, "Time0=2016-8-4,10: 0: 0,0", -1,
         OnDate(2016, 8, 5, 10, 0, 0), true},
        {"once 11 s across the year", PlanOnce, "Time0=2016-12-31,23:59:55,0", -1,
         OnDate(2017, 1, 1, 0, 0, 6), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int lines = std::string(c.lines).find('\n') == std::string::npos ? 1 : 2;
        Put("[PLANCOUNT]\n" + std::string(PlanCountKey(c.kind)) + "=" + std::to_string(lines) +
            "\n[" + PlanSection(c.kind) + "]\n" + c.lines + "\n");
        PlanEditor& e = Open(c.kind);
        const std::string before = Section(c.kind);
        ui.boxes.clear();
        if (c.modifyRow < 0)
            e.OnAdd(Answer(c.choice));
        else
            e.OnModify({c.modifyRow}, Answer(c.choice));
        if (c.accepted) {
            EXPECT_TRUE(ui.boxes.empty());
            EXPECT_NE(Section(c.kind), before);
            const int want = lines + (c.modifyRow < 0 ? 1 : 0);
            EXPECT_EQ(e.Rows().size(), static_cast<size_t>(want));
            EXPECT_EQ(store->Plans(c.kind).size(), static_cast<size_t>(want));
        } else {
            ASSERT_EQ(ui.boxes.size(), 1u);
            EXPECT_EQ(ui.boxes[0].text, kInterval);
            EXPECT_EQ(ui.boxes[0].caption, "System Information");
            EXPECT_EQ(ui.boxes[0].languageId, 1033);
            EXPECT_EQ(Section(c.kind), before);
            EXPECT_EQ(e.Rows().size(), static_cast<size_t>(lines));
        }
    }

    // In Chinese the text and caption change; the language identifier stays 1033.
    Put("[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0= 8: 0: 0,0\n");
    ui.boxes.clear();
    Open(PlanDay, true).OnAdd(Answer(At(8, 0, 3)));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "对不起，操作不成功，因新添加的定时器与已存定时器之间最小时间间隔为10秒");
    EXPECT_EQ(ui.boxes[0].caption, "系统信息");
    EXPECT_EQ(ui.boxes[0].languageId, 1033);
}

TEST_F(PlanEditorTest, AddsAreOrderedAndNumberedInTheFile) {
    Put("[CONNECT]\nPort=5000\n");
    PlanEditor& e = Open(PlanDay);
    e.OnAdd(Answer(At(20, 30, 0, 4)));
    e.OnAdd(Answer(At(8, 0, 0, 0)));
    EXPECT_EQ(Section(PlanDay), "Time0= 8: 0: 0,0|Time1=20:30: 0,4|count=2");
    EXPECT_EQ(Column(0), (std::vector<std::string>{"Time0", "Time1"}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{" 8: 0: 0", "20:30: 0"}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"V1", "HDMI"}));
    EXPECT_EQ(platform::GetProfileString(path, "CONNECT", "Port", ""), "5000");

    // Each kind writes its own line format; a Cancel changes nothing.
    struct Case {
        int kind;
        PlanChoice choice;
        const char* section;
        std::vector<std::string> row;
    };
    const Case cases[] = {
        {PlanWeek,
         OnWeekday("3Wed", 14, 30, 0, 8),
         "Time0=3,14:30: 0,8|count=1",
         {"Time0", "3Wed", "14:30: 0", "YPbPr"}},
        {PlanMonth,
         OnMonthDay("05", 9, 5, 0, 7),
         "Time0=05, 9: 5: 0,7|count=1",
         {"Time0", "05", " 9: 5: 0", "EXT."}},
        {PlanOnce,
         OnDate(2016, 8, 4, 23, 59, 59, 4),
         "Time0=2016-8-4,23:59:59,4|count=1",
         {"Time0", "2016-8-4", "23:59:59", "HDMI"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PlanSection(c.kind));
        PlanEditor& page = Open(c.kind);
        page.OnAdd(Answer(std::nullopt));
        EXPECT_EQ(Section(c.kind), "count=-");
        page.OnAdd(Answer(c.choice));
        EXPECT_EQ(Section(c.kind), c.section);
        ASSERT_EQ(page.Rows().size(), 1u);
        EXPECT_EQ(page.Rows()[0], c.row);
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(PlanEditorTest, ModifyPreFillsFromTheRowAndKeepsTheOrder) {
    struct Case {
        int kind;
        std::string lines;
        PlanItem prefill;  // of row 1
        PlanChoice choice;
        const char* after;
    };
    int64_t t = 0, d = 0;
    MakePlanTime(10, 0, 0, &t);
    MakePlanDate(2016, 8, 5, &d);
    const Case cases[] = {
        {PlanDay,
         "Time0= 8: 0: 0,0\nTime1=10: 0: 0,8\n",
         {0, t, "", "", 8},
         At(7, 0, 0, 4),
         "Time0= 7: 0: 0,4|Time1= 8: 0: 0,0|count=2"},
        {PlanWeek,
         "Time0=2, 8: 0: 0,0\nTime1=3,10: 0: 0,8\n",
         {0, t, "3Wed", "", 8},
         OnWeekday("1Mon", 10, 0, 0, 8),
         "Time0=1,10: 0: 0,8|Time1=2, 8: 0: 0,0|count=2"},
        {PlanMonth,
         "Time0=04, 8: 0: 0,0\nTime1=05,10: 0: 0,8\n",
         {0, t, "", "05", 8},
         OnMonthDay("31", 10, 0, 0, 1),
         "Time0=04, 8: 0: 0,0|Time1=31,10: 0: 0,1|count=2"},
        {PlanOnce,
         "Time0=2016-8-4,10: 0: 0,0\nTime1=2016-8-5,10: 0: 0,8\n",
         {d, t, "", "", 8},
         OnDate(2015, 1, 1, 10, 0, 0, 8),
         "Time0=2015-1-1,10: 0: 0,8|Time1=2016-8-4,10: 0: 0,0|count=2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PlanSection(c.kind));
        Put(std::string("[PLANCOUNT]\n") + PlanCountKey(c.kind) + "=2\n[" + PlanSection(c.kind) +
            "]\n" + c.lines);
        PlanEditor& e = Open(c.kind);
        std::optional<PlanItem> prefill;
        const std::string before = Section(c.kind);
        e.OnModify({1}, Answer(std::nullopt, &prefill));  // Cancel
        ASSERT_TRUE(prefill.has_value());
        EXPECT_EQ(*prefill, c.prefill);
        EXPECT_EQ(Section(c.kind), before);
        e.OnModify({9, 1}, Answer(c.choice));  // rows that do not exist are passed over
        EXPECT_EQ(Section(c.kind), c.after);
        EXPECT_EQ(store->Plans(c.kind).size(), 2u);
        EXPECT_TRUE(ui.boxes.empty());
    }
}

TEST_F(PlanEditorTest, DeleteAsksThenRenumbers) {
    Put("[PLANCOUNT]\ndaytimecount=3\n"
        "[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=12: 0: 0,1\nTime2=20:30: 0,4\n");
    PlanEditor& e = Open(PlanDay);
    const std::string all = Section(PlanDay);

    e.OnDelete({});
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Please select an item.");
    EXPECT_EQ(ui.boxes[0].caption, "System Information");
    e.OnModify({7}, Answer(At(1, 0, 0)));  // no such row
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[1].caption, "System information");

    ui.answer = false;
    e.OnDelete({1});
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_EQ(ui.boxes[2].text, "Are you Sure  want to delete the current timing settings? ");
    EXPECT_EQ(ui.boxes[2].caption, "System Information ");
    EXPECT_EQ(Section(PlanDay), all);

    ui.answer = true;
    e.OnDelete({1});
    EXPECT_EQ(Section(PlanDay), "Time0= 8: 0: 0,0|Time1=20:30: 0,4|count=2");
    EXPECT_EQ(Column(0), (std::vector<std::string>{"Time0", "Time1"}));
    EXPECT_EQ(store->m_dayPlans.size(), 2u);

    e.OnDelete({1, 0});
    EXPECT_EQ(Section(PlanDay), "count=0");
    EXPECT_TRUE(e.Rows().empty());

    // The other pages' captions and questions.
    struct Texts {
        int kind;
        const char* modifyCaption;
        const char* deleteCaption;
        const char* question;
        const char* questionCaption;
    };
    const Texts texts[] = {
        {PlanWeek, "System information", "System information",
         "Are you Sure  want to delete the current timing settings?", "System information"},
        {PlanMonth, "System Information", "System Information",
         "Are you Sure  want to delete the current timing settings? ", "System Information "},
        {PlanOnce, "System Information", "System Information",
         "Are you sure  want to delete the current timing settings?", "System Information "},
    };
    Put("[PLANCOUNT]\nweektimecount=1\nmonthtimecount=1\noncetimecount=1\n"
        "[WEEKTIME]\nTime0=3,10: 0: 0,0\n[MONTHTIME]\nTime0=05,10: 0: 0,0\n"
        "[ONCETIME]\nTime0=2016-8-4,10: 0: 0,0\n");
    for (const Texts& t : texts) {
        SCOPED_TRACE(PlanSection(t.kind));
        PlanEditor& page = Open(t.kind);
        ui.boxes.clear();
        page.OnModify({}, Answer(std::nullopt));
        page.OnDelete({});
        ui.answer = false;
        page.OnDelete({0});
        ui.answer = true;
        ASSERT_EQ(ui.boxes.size(), 3u);
        EXPECT_EQ(ui.boxes[0].caption, t.modifyCaption);
        EXPECT_EQ(ui.boxes[1].caption, t.deleteCaption);
        EXPECT_EQ(ui.boxes[2].text, t.question);
        EXPECT_EQ(ui.boxes[2].caption, t.questionCaption);
        for (const auto& box : ui.boxes)
            EXPECT_EQ(box.languageId, 1033);
        EXPECT_EQ(page.Rows().size(), 1u);
    }
}

TEST_F(PlanEditorTest, RowLimitShowsOnceAndNoPlanIsDropped) {
    // Day lines written in reverse order of time; a damaged file has a bad first line.
    auto dayFile = [](int lines, bool damaged) {
        std::string file = "[PLANCOUNT]\ndaytimecount=" + std::to_string(lines) + "\n[DAYTIME]\n";
        for (int n = 0; n < lines; ++n) {
            const int at = (lines - 1 - n) * 20;
            char line[40];
            std::snprintf(line, sizeof line, "Time%d=%2d:%2d:%2d,4\n", n,
                          damaged && n == 0 ? 99 : at / 3600, at / 60 % 60, at % 60);
            file += line;
        }
        return file;
    };
    Put(dayFile(241, false));
    PlanEditor& e = Open(PlanDay);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "The plan items of one day can not exceed 240.");
    EXPECT_EQ(ui.boxes[0].caption, "System Information");
    EXPECT_EQ(ui.boxes[0].languageId, 1033);
    // The list is rebuilt from all 241 plans, and all 241 lines are written back in order.
    ASSERT_EQ(e.Rows().size(), 241u);
    EXPECT_EQ(e.Rows()[0][1], " 0: 0: 0");
    EXPECT_EQ(e.Rows()[240][1], " 1:20: 0");
    const std::string lines = Section(PlanDay);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '|'), 241);
    EXPECT_NE(lines.find("|Time240= 1:20: 0,4|count=241"), std::string::npos);

    // A section that is not rewritten shows 240 rows, with one message for all 400 lines.
    ui.boxes.clear();
    Put(dayFile(400, true));
    PlanEditor& damaged = Open(PlanDay);
    EXPECT_EQ(damaged.Rows().size(), 240u);
    ASSERT_EQ(ui.boxes.size(), 2u);  // the store's load error, then the row limit once
    EXPECT_EQ(ui.boxes[1].text, "The plan items of one day can not exceed 240.");
}

TEST_F(PlanEditorTest, OneTimePlansGoByDateWhateverTheYear) {
    Put("[PLANCOUNT]\noncetimecount=5\n[ONCETIME]\n"
        "Time0=2017-1-1, 0: 0: 0,1\nTime1=2016-12-31,23: 0: 0,2\nTime2=2100-5-5, 9: 0: 0,3\n"
        "Time3=1999-1-1,12: 0: 0,4\nTime4=2016-2-29, 1: 0: 0,5\n");
    const PlanEditor& e = Open(PlanOnce);
    EXPECT_EQ(Column(1), (std::vector<std::string>{"1999-1-1", "2016-2-29", "2016-12-31",
                                                   "2017-1-1", "2100-5-5"}));
    EXPECT_EQ(platform::GetProfileString(path, "ONCETIME", "Time0", ""), "1999-1-1,12: 0: 0,4");
    EXPECT_EQ(platform::GetProfileString(path, "ONCETIME", "Time4", ""), "2100-5-5, 9: 0: 0,3");
    EXPECT_EQ(e.Rows().size(), 5u);
}

// Ordering is one sort; it must take plans in the order repeated TakeEarliestPlan takes them,
// ties included (first for day plans, last for the others).
TEST(PlanOrder, SortMatchesTakingTheEarliestOneByOne) {
    testutil::ScopedZone zone("UTC");
    std::mt19937 rng(7);
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        for (int round = 0; round < 20; ++round) {
            std::map<int, PlanItem> plans;
            for (int key = 0; key < 30; ++key) {
                PlanItem p;
                // Few distinct values, so that ties are common; source tells plans apart.
                MakePlanTime(static_cast<int>(rng() % 3), 0, 0, &p.time);
                p.weekDay = std::to_string(rng() % 3);
                p.monthDay = "0" + std::to_string(rng() % 3 + 1);
                MakePlanDate(2016 + static_cast<int>(rng() % 3), 1, 1, &p.date);
                p.source = static_cast<uint8_t>(key);
                plans.emplace(key * 2, p);  // keys with gaps
            }
            const std::vector<PlanItem> sorted = SortPlans(plans, kind);
            std::vector<PlanItem> taken;
            while (!plans.empty())
                taken.push_back(TakeEarliestPlan(plans, kind));
            ASSERT_EQ(sorted, taken) << "kind " << kind << " round " << round;
        }
    }
}

TEST_F(PlanEditorTest, AFailedWriteIsToldAndTheListFollowsTheFile) {
    Put("[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n");
    PlanEditor& e = Open(PlanDay);
    const std::string before = Content();
    // A folder where the writer puts its temporary file: every replacement fails.
    const std::string blocker = path + ".tmp" + std::to_string(::getpid());
    fs::create_directory(blocker);

    e.OnAdd(Answer(At(12, 0, 0, 5)));
    ui.answer = true;
    e.OnDelete({0});
    e.OnModify({1}, Answer(At(21, 0, 0, 5)));
    ASSERT_EQ(ui.boxes.size(), 4u);  // three failures and the delete question
    for (size_t i : {0u, 2u, 3u}) {
        EXPECT_NE(ui.boxes[i].text.find("could not be written"), std::string::npos);
        EXPECT_NE(ui.boxes[i].text.find(path), std::string::npos);
        EXPECT_EQ(ui.boxes[i].caption, "System information");
    }
    EXPECT_EQ(Content(), before);
    EXPECT_EQ(Column(1), (std::vector<std::string>{" 8: 0: 0", "20:30: 0"}));
    EXPECT_EQ(store->m_dayCount, 2);
    EXPECT_EQ(store->m_dayPlans.size(), 2u);

    fs::remove(blocker);
    e.OnAdd(Answer(At(12, 0, 0, 5)));
    EXPECT_EQ(Section(PlanDay), "Time0= 8: 0: 0,0|Time1=12: 0: 0,5|Time2=20:30: 0,4|count=3");
    EXPECT_EQ(e.Rows().size(), 3u);
}

// A line that cannot be read stops the store's load. Rewriting its section from what was read
// would drop it and every line after it, and the kinds after it were not read at all.
TEST_F(PlanEditorTest, ADamagedSectionIsShownAndKeptAndTheOthersStillWork) {
    Put("[PLANCOUNT]\ndaytimecount=3\nweektimecount=2\n"
        "[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=25: 0: 0,1\nTime2=20:30: 0,4\n"
        "[WEEKTIME]\nTime0=4,10: 0: 0,0\nTime1=3,10: 0: 0,1\n");
    const std::string before = Content();
    PlanEditor& day = Open(PlanDay);
    EXPECT_TRUE(day.Damaged());
    EXPECT_EQ(Column(1), (std::vector<std::string>{"8: 0: 0", "25: 0: 0", "20:30: 0"}));
    ui.boxes.clear();
    day.OnAdd(Answer(At(12, 0, 0)));
    day.OnDelete({0});
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_NE(ui.boxes[0].text.find("[DAYTIME] Time1=25: 0: 0,1"), std::string::npos)
        << ui.boxes[0].text;
    EXPECT_EQ(Content(), before);

    // The week page reads its own plans although the load stopped before them.
    PlanEditor& week = Open(PlanWeek);
    EXPECT_FALSE(week.Damaged());
    EXPECT_EQ(Column(1), (std::vector<std::string>{"3Wed", "4Thu"}));
    week.OnAdd(Answer(OnWeekday("0Sun", 9, 0, 0, 2)));
    EXPECT_EQ(Section(PlanWeek),
              "Time0=0, 9: 0: 0,2|Time1=3,10: 0: 0,1|Time2=4,10: 0: 0,0|count=3");
    EXPECT_EQ(Section(PlanDay), "Time0= 8: 0: 0,0|Time1=25: 0: 0,1|Time2=20:30: 0,4|count=3");
}

TEST_F(PlanEditorTest, OddFilesNeitherHangNorLosePlans) {
    // A count near the int limit with a far key; control bytes inside stored day texts.
    Put(std::string("[PLANCOUNT]\ndaytimecount=2147483647\nmonthtimecount=3\nweektimecount=1\n"
                    "[DAYTIME]\nTime0=20: 0: 0,1\nTime2147483646= 8: 0: 0,4\n"
                    "[MONTHTIME]\nTime0=05\r, 9: 0: 0,4\nTime1=0") +
        '\0' + "7,10: 0: 0,2\nTime2=12, 9: 0: 0,3\n[WEEKTIME]\nTime0=3\r,10: 0: 0,5\n");
    const auto start = std::chrono::steady_clock::now();
    PlanEditor& day = Open(PlanDay);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(Section(PlanDay), "Time0= 8: 0: 0,4|Time1=20: 0: 0,1|count=2147483647");
    day.OnAdd(Answer(At(12, 0, 0, 0)));
    EXPECT_EQ(Section(PlanDay),
              "Time0= 8: 0: 0,4|Time1=12: 0: 0,0|Time2=20: 0: 0,1|count=2147483647");

    // A day text holding a control byte could not be written back as it was read: the line is
    // no plan, the page says so and keeps its section as the file has it.
    ui.boxes.clear();
    EXPECT_TRUE(Open(PlanMonth).Damaged());
    EXPECT_EQ(Section(PlanMonth), std::string("Time0=05\r, 9: 0: 0,4|Time1=0") + '\0' +
                                      "7,10: 0: 0,2|Time2=12, 9: 0: 0,3|count=3");
    EXPECT_TRUE(Open(PlanWeek).Damaged());
    EXPECT_EQ(Section(PlanWeek), "Time0=3\r,10: 0: 0,5|count=1");
    EXPECT_FALSE(ui.boxes.empty());

    // A negative count would hide an added plan at the next opening.
    Put("[PLANCOUNT]\noncetimecount=-3\n");
    Open(PlanOnce).OnAdd(Answer(OnDate(2016, 8, 4, 10, 0, 0)));
    EXPECT_EQ(Open(PlanOnce).Rows().size(), 1u);
}

}  // namespace

// A plan section given twice (a hand merge, an old tool): the page shows and edits the first,
// the one every read takes; opening it, adding and deleting never touch the twin's plans.
TEST_F(PlanEditorTest, ATwinSectionIsNeverDeleted) {
    const std::string twin = "[DAYTIME]\nTime0=21: 0: 0,5\nTime1=22: 0: 0,6\n";
    Put("[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0=20:30: 0,4\nTime1= 8: 0: 0,0\n" + twin);
    PlanEditor& e = Open(PlanDay);
    EXPECT_EQ(Column(1), (std::vector<std::string>{" 8: 0: 0", "20:30: 0"}));
    e.OnAdd(Answer(At(9, 0, 0, 1)));
    std::string content = Content();
    ASSERT_GE(content.size(), twin.size());
    EXPECT_EQ(content.substr(content.size() - twin.size()), twin) << content;
    EXPECT_EQ(platform::GetProfileString(path, "DAYTIME", "Time1", ""), "9: 0: 0,1");

    ui.answer = true;
    Open(PlanDay).OnDelete({0, 1, 2});
    content = Content();
    EXPECT_EQ(content.substr(content.size() - twin.size()), twin) << content;
    EXPECT_EQ(platform::GetProfileString(path, "DAYTIME", "Time0", "none"), "none");
}
