// The plan pages without windows: the 10-second rule, ordering and renumbering, the section
// rewrite, the row limit, and what a damaged or unwritable plan file does to them.
#include "schedule/PlanEditor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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
        editor = std::make_unique<PlanEditor>(
            *store, kind, chinese, [this](const std::string& text) { notes.push_back(text); });
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
    std::vector<std::string> notes;  // what the pages put on the Info line
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

// A write that fails (its temporary file cannot be made; a file whose mode grants write to no
// one, which is locked for root too) is told, and the page goes back to what the file holds.
TEST_F(PlanEditorTest, AFailedWriteIsToldAndTheListFollowsTheFile) {
    const std::string blocker = path + ".tmp" + std::to_string(::getpid());
    struct Case {
        const char* what;
        std::function<void()> block, unblock;
    };
    const Case cases[] = {
        {"no temporary file", [&] { fs::create_directory(blocker); }, [&] { fs::remove(blocker); }},
        {"a locked file", [&] { ::chmod(path.c_str(), 0444); },
         [&] { ::chmod(path.c_str(), 0644); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n");
        PlanEditor& e = Open(PlanDay);
        const std::string before = Content();
        c.block();
        ui.boxes.clear();
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

        c.unblock();
        e.OnAdd(Answer(At(12, 0, 0, 5)));
        EXPECT_EQ(Section(PlanDay), "Time0= 8: 0: 0,0|Time1=12: 0: 0,5|Time2=20:30: 0,4|count=3");
        EXPECT_EQ(e.Rows().size(), 3u);
    }
}

// A plan section given twice (a hand merge, an old tool): the page reads the first, and whatever
// it does rewrites only that one; the second stays byte for byte. Opening writes nothing.
TEST_F(PlanEditorTest, ATwinSectionIsNeverTouched) {
    const std::string twin = "[DAYTIME]\nTime0=12: 0: 0,3\nTime1=13: 0: 0,4\n";
    const std::string counts = "[PLANCOUNT]\ndaytimecount=";
    struct Case {
        const char* what;
        std::function<void(PlanEditor&)> act;
        std::string after;  // the file before the twin
    };
    const Case cases[] = {
        {"opening", [](PlanEditor&) {},
         counts + "2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n"},
        {"add", [](PlanEditor& e) { e.OnAdd(Answer(At(9, 0, 0, 1))); },
         counts + "3\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1= 9: 0: 0,1\nTime2=20:30: 0,4\n"},
        {"modify", [](PlanEditor& e) { e.OnModify({1}, Answer(At(7, 0, 0, 5))); },
         counts + "2\n[DAYTIME]\nTime0= 7: 0: 0,5\nTime1= 8: 0: 0,0\n"},
        {"delete", [](PlanEditor& e) { e.OnDelete({0}); },
         counts + "1\n[DAYTIME]\nTime0=20:30: 0,4\n"},
        {"delete all",
         [](PlanEditor& e) {
             e.OnDelete({0, 1});
         },
         counts + "0\n[DAYTIME]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(counts + "2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n" + twin);
        struct stat opened {};
        ::stat(path.c_str(), &opened);
        PlanEditor& e = Open(PlanDay);
        EXPECT_EQ(Column(1), (std::vector<std::string>{" 8: 0: 0", "20:30: 0"}));
        struct stat now {};
        ::stat(path.c_str(), &now);
        EXPECT_EQ(now.st_ino, opened.st_ino) << "opening wrote the file";
        ui.answer = true;
        c.act(e);
        EXPECT_EQ(Content(), c.after + twin);
    }
}

// Opening the Program window writes the file only when its content changes: a file already in
// order is left alone, wherever its sections stand; one out of order is put in order (a section
// rewritten goes to the end of the file, as one written anew).
TEST_F(PlanEditorTest, OpeningWritesOnlyWhenTheContentChanges) {
    struct Case {
        const char* what;
        std::string file;
        std::string after;  // empty: as it was, not written at all
    };
    const Case cases[] = {
        {"in order", "[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n",
         ""},
        {"plans before the counts, [CONNECT] last",
         "[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n\n[PLANCOUNT]\ndaytimecount=2\n"
         "[CONNECT]\nPort=5000\n",
         ""},
        {"out of order",
         "[DAYTIME]\nTime0=20:30:00,4\nTime1=08:00:00,0\n[PLANCOUNT]\ndaytimecount=2\n",
         "[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(c.file);
        struct stat before {};
        ::stat(path.c_str(), &before);
        Open(PlanDay);
        struct stat after {};
        ::stat(path.c_str(), &after);
        EXPECT_EQ(Content(), c.after.empty() ? c.file : c.after);
        EXPECT_EQ(after.st_ino == before.st_ino, c.after.empty());
    }
}

// Another program (an editor, a script) changes the plan file while the page is open. The next
// Add, Modify or Delete reads the section again (the Info line says so) and acts on what the file
// holds: nothing it added is dropped, nothing it removed comes back. The plan acted on is found
// by what it is, not by its row; when it is gone the user is told and nothing changes.
TEST_F(PlanEditorTest, EditsByAnotherProgramAreTheTruth) {
    const std::string opened =
        "[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n";
    const std::string added =
        "[PLANCOUNT]\ndaytimecount=3\n"
        "[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=12: 0: 0,2\nTime2=20:30: 0,4\n";
    const std::string removed = "[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=20:30: 0,4\n";
    const std::string rewritten =  // the same plans, written otherwise and in another order
        "[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0=20:30:00,4\nTime1=08:00:00,0\n";
    struct Case {
        const char* what;
        std::string onDisk;  // what the other program left while the page was open
        std::function<void(PlanEditor&)> act;
        std::string section;  // the section and count afterwards
        const char* box;      // part of the message shown, or nullptr for none
    };
    const Case cases[] = {
        {"a plan added by a script survives Add", added,
         [](PlanEditor& e) { e.OnAdd(Answer(At(21, 0, 0, 5))); },
         "Time0= 8: 0: 0,0|Time1=12: 0: 0,2|Time2=20:30: 0,4|Time3=21: 0: 0,5|count=4", nullptr},
        {"... and Modify of the row after it", added,
         [](PlanEditor& e) { e.OnModify({1}, Answer(At(21, 0, 0, 5))); },
         "Time0= 8: 0: 0,0|Time1=12: 0: 0,2|Time2=21: 0: 0,5|count=3", nullptr},
        {"... and Delete of the row after it", added, [](PlanEditor& e) { e.OnDelete({1}); },
         "Time0= 8: 0: 0,0|Time1=12: 0: 0,2|count=2", nullptr},
        {"... and a Cancel", added, [](PlanEditor& e) { e.OnAdd(Answer(std::nullopt)); },
         "Time0= 8: 0: 0,0|Time1=12: 0: 0,2|Time2=20:30: 0,4|count=3", nullptr},
        {"the 10-second rule looks at the plans on disk", added,
         [](PlanEditor& e) { e.OnAdd(Answer(At(12, 0, 5, 1))); },
         "Time0= 8: 0: 0,0|Time1=12: 0: 0,2|Time2=20:30: 0,4|count=3", "minimal time interval"},
        {"a plan removed by hand does not come back with Add", removed,
         [](PlanEditor& e) { e.OnAdd(Answer(At(12, 0, 0, 2))); },
         "Time0=12: 0: 0,2|Time1=20:30: 0,4|count=2", nullptr},
        {"the plan to modify is gone", removed,
         [](PlanEditor& e) { e.OnModify({0}, Answer(At(9, 0, 0, 1))); }, "Time0=20:30: 0,4|count=1",
         "no longer in the plan file"},
        {"the plans to delete are gone", removed,
         [](PlanEditor& e) {
             e.OnDelete({0, 1});
         },
         "Time0=20:30: 0,4|count=1", "no longer in the plan file"},
        {"the same plans written otherwise: Modify finds its plan", rewritten,
         [](PlanEditor& e) { e.OnModify({1}, Answer(At(21, 0, 0, 5))); },
         "Time0= 8: 0: 0,0|Time1=21: 0: 0,5|count=2", nullptr},
        {"the file as the page left it: read, not noted", opened,
         [](PlanEditor& e) { e.OnModify({1}, Answer(At(21, 0, 0, 5))); },
         "Time0= 8: 0: 0,0|Time1=21: 0: 0,5|count=2", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(opened);
        PlanEditor& e = Open(PlanDay);
        Put(c.onDisk);
        notes.clear();
        ui.boxes.clear();
        ui.answer = true;
        c.act(e);
        EXPECT_EQ(Section(PlanDay), c.section);
        // The list shows what the file holds.
        std::string shown;
        for (const PlanRow& row : e.Rows())
            shown += row[0] + "=" + row[1] + "," + std::to_string(SourceCode(row[2])) + "|";
        EXPECT_EQ(shown + "count=" + std::to_string(store->m_dayCount), c.section);
        std::string boxes;
        for (const auto& box : ui.boxes)
            if (box.text.find("Are you Sure") == std::string::npos)
                boxes += box.text + "\n";
        if (c.box != nullptr) {
            EXPECT_NE(boxes.find(c.box), std::string::npos) << boxes;
        } else {
            EXPECT_EQ(boxes, "");
        }
        const std::vector<std::string> noted = {
            "The plan file was changed by another program since it was read: it was read again, "
            "and the list shows the plans it holds now."};
        EXPECT_EQ(notes, c.onDisk == opened ? std::vector<std::string>{} : noted);
    }
}

// The plan store outlives the Program window and keeps what it read; the file, changed by hand
// between two openings, is what the second opening shows and keeps.
TEST_F(PlanEditorTest, EachOpeningShowsTheFileAsItIsThen) {
    Put("[PLANCOUNT]\ndaytimecount=2\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n");
    CInfoPlan held(path);  // as the main window holds it from start-up
    held.LoadPlanCounts();
    held.LoadAllPlans(false);
    PlanEditor(held, PlanDay, false).FillListFromFile();
    const std::string edited = "[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=20:30: 0,4\n";
    Put(edited);
    held.LoadAllPlans(false);  // the second opening
    PlanEditor again(held, PlanDay, false);
    again.FillListFromFile();
    EXPECT_EQ(Content(), edited);
    ASSERT_EQ(again.Rows().size(), 1u);
    EXPECT_EQ(again.Rows()[0][1], "20:30: 0");
    EXPECT_EQ(held.m_dayCount, 1);
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

    // Mended in the file while the page is open: the next press shows the file as it is now,
    // and the one after it works.
    PlanEditor& mended = Open(PlanDay);
    const std::string fixedDay = "[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=21: 0: 0,1\n";
    Put("[PLANCOUNT]\ndaytimecount=2\n" + fixedDay);
    ui.boxes.clear();
    notes.clear();
    mended.OnAdd(Answer(At(12, 0, 0)));
    EXPECT_FALSE(mended.Damaged());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(notes.size(), 1u);
    EXPECT_EQ(Column(1), (std::vector<std::string>{"8: 0: 0", "21: 0: 0"}));  // as read
    mended.OnAdd(Answer(At(12, 0, 0)));
    EXPECT_EQ(Section(PlanDay), "Time0= 8: 0: 0,0|Time1=12: 0: 0,0|Time2=21: 0: 0,1|count=3");
}

TEST_F(PlanEditorTest, OddFilesNeitherHangNorLosePlans) {
    // A count near the int limit with a far key; control bytes inside stored day texts.
    Put(std::string("[PLANCOUNT]\ndaytimecount=2147483647\nmonthtimecount=3\nweektimecount=1\n"
                    "[DAYTIME]\nTime0=20: 0: 0,1\nTime2147483646= 8: 0: 0,4\n"
                    "[MONTHTIME]\nTime0=05\r, 9: 0: 0,4\nTime1=0") +
        '\x01' + "7,10: 0: 0,2\nTime2=12, 9: 0: 0,3\n[WEEKTIME]\nTime0=3\r,10: 0: 0,5\n");
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
    EXPECT_EQ(Section(PlanMonth), std::string("Time0=05\r, 9: 0: 0,4|Time1=0") + '\x01' +
                                      "7,10: 0: 0,2|Time2=12, 9: 0: 0,3|count=3");
    EXPECT_TRUE(Open(PlanWeek).Damaged());
    EXPECT_EQ(Section(PlanWeek), "Time0=3\r,10: 0: 0,5|count=1");
    EXPECT_FALSE(ui.boxes.empty());

    // A NUL byte makes the file no plan file: nothing of it is shown, nothing written into it,
    // and the page says why.
    const std::string withNul =
        std::string("[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=2") + '\0' + "0: 0: 0,1\n";
    Put(withNul);
    ui.boxes.clear();
    PlanEditor& none = Open(PlanDay);
    EXPECT_TRUE(none.Rows().empty());
    none.OnAdd(Answer(At(12, 0, 0)));
    EXPECT_EQ(Content(), withNul);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("is not a plan file (larger than 1 MB, or not text)"),
              std::string::npos)
        << ui.boxes[0].text;

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
