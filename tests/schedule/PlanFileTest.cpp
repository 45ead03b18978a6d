#include "schedule/PlanFile.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <chrono>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <tuple>
#include <vector>

#include "FakeClock.h"
#include "platform/UiSeam.h"
#include "schedule/InfoPlan.h"

namespace {

namespace fs = std::filesystem;

using testutil::ScopedZone;

bool HaveZone(const char* zone) {
    return fs::exists(fs::path("/usr/share/zoneinfo") / zone);
}

// Local time of value with a strftime format.
std::string Stamp(int64_t value, const char* format) {
    const time_t t = static_cast<time_t>(value);
    struct tm fields {};
    localtime_r(&t, &fields);
    char text[64];
    strftime(text, sizeof text, format, &fields);
    return text;
}

// weekDay|monthDay|date|time|source, the date only when set.
std::string Describe(const PlanItem& p) {
    return p.weekDay + "|" + p.monthDay + "|" + (p.date != 0 ? Stamp(p.date, "%Y-%m-%d") : "") +
           "|" + Stamp(p.time, "%H:%M:%S") + "|" + std::to_string(p.source);
}

struct Box {
    std::string text;
    std::string caption;
    int languageId;
};

class RecordingUi : public platform::UiSeam {
public:
    bool MessageBox(const std::string& text, const std::string& caption, int languageId) override {
        boxes.push_back({text, caption, languageId});
        return true;
    }
    int RunModal(platform::ModalDialog&) override { return 0; }
    std::vector<Box> boxes;
};

struct LineCase {
    int kind;
    std::string line;
    PlanLine result;
    const char* plan;  // Describe() of the plan read, for Ok
};

TEST(PlanLines, ReadsEachKindAndRefusesWhatIsOutOfRange) {
    ScopedZone zone("UTC");
    const LineCase cases[] = {
        // Both paddings of the time read alike; blanks around the line do not matter.
        {PlanDay, " 9: 5: 0,4", PlanLine::Ok, "|||09:05:00|4"},
        {PlanDay, "09:05:00,4", PlanLine::Ok, "|||09:05:00|4"},
        {PlanDay, "\t 9: 5: 0,4 \r\n", PlanLine::Ok, "|||09:05:00|4"},
        {PlanDay, "9:05,4", PlanLine::Ok, "|||09:05:00|4"},
        {PlanDay, "23:59:59,8,more", PlanLine::Ok, "|||23:59:59|8"},
        {PlanDay, " 0: 0: 0,HDMI", PlanLine::Ok, "|||00:00:00|0"},
        // Weekday and day of month are kept as text: "03" is not "3".
        {PlanWeek, "3,14:30: 0,4", PlanLine::Ok, "3|||14:30:00|4"},
        {PlanWeek, "03,14:30: 0,4", PlanLine::Ok, "03|||14:30:00|4"},
        {PlanMonth, "05, 9: 5: 0,4", PlanLine::Ok, "|05||09:05:00|4"},
        {PlanOnce, "2016-8-4,23:59:59,4", PlanLine::Ok, "||2016-08-04|23:59:59|4"},
        {PlanOnce, "2016-02-29,12:00:00,1", PlanLine::Ok, "||2016-02-29|12:00:00|1"},
        // Too few fields: a missing key reads as "00".
        {PlanDay, "00", PlanLine::TooFewFields, ""},
        {PlanDay, "", PlanLine::TooFewFields, ""},
        {PlanWeek, " 9: 5: 0,4", PlanLine::TooFewFields, ""},
        {PlanOnce, "2016-8-4,4", PlanLine::TooFewFields, ""},
        // Out of range, no such date, or no such source.
        {PlanDay, "24: 0: 0,4", PlanLine::Invalid, ""},
        {PlanDay, "23:60: 0,4", PlanLine::Invalid, ""},
        {PlanDay, "23:59:60,4", PlanLine::Invalid, ""},
        {PlanDay, "-1: 0: 0,4", PlanLine::Invalid, ""},
        {PlanDay, "4294967305: 0: 0,4", PlanLine::Invalid, ""},  // 9 once cut to 32 bits
        {PlanDay, "99999999999999999999999: 0: 0,4", PlanLine::Invalid, ""},
        {PlanWeek, "3,24: 0: 0,4", PlanLine::Invalid, ""},
        {PlanOnce, "2016-8-4,25:00:00,4", PlanLine::Invalid, ""},
        {PlanOnce, "1899-12-31, 9: 0: 0,4", PlanLine::Invalid, ""},
        {PlanOnce, "2016-13-1, 9: 0: 0,4", PlanLine::Invalid, ""},
        {PlanOnce, "2016-0-1, 9: 0: 0,4", PlanLine::Invalid, ""},
        {PlanOnce, "2016-8-32, 9: 0: 0,4", PlanLine::Invalid, ""},
        {PlanOnce, "2016-4-31, 9: 0: 0,4", PlanLine::Invalid, ""},
        {PlanOnce, "2015-2-29, 9: 0: 0,4", PlanLine::Invalid, ""},
        {PlanDay, " 9: 0: 0,9", PlanLine::Invalid, ""},
        {PlanDay, " 9: 0: 0,-1", PlanLine::Invalid, ""},
        {PlanDay, " 9: 0: 0,260", PlanLine::Invalid, ""},  // 4 once cut to a byte
        // Text that could not be written back as it was read.
        {PlanWeek, "3\r,14:30: 0,4", PlanLine::Invalid, ""},
        {PlanMonth, std::string("0\0" "5, 9: 5: 0,4", 14), PlanLine::Invalid, ""},
        {PlanWeek, "\x7f" "3,14:30: 0,4", PlanLine::Invalid, ""},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " line \"" << c.line << "\"");
        PlanItem item;
        ASSERT_EQ(ParsePlanLine(c.kind, c.line, &item), c.result);
        if (c.result == PlanLine::Ok) {
            EXPECT_EQ(Describe(item), c.plan);
        }
    }
}

TEST(PlanLines, SplitsAtEveryCommaAfterTrimming) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {" 5,12: 0: 0,8 ", {"5", "12: 0: 0", "8"}},
        {"a,b,", {"a", "b", ""}},
        {",,", {"", "", ""}},
        {"\t1 , 2\r\n", {"1 ", " 2"}},
        {"abc", {"abc"}},
        {"", {""}},
        {"   ", {""}},
    };
    for (const auto& [line, fields] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(SplitFields(line), fields);
    }
}

TEST(PlanLines, ClockAndDateReadUpToThreeNumbers) {
    struct Case {
        bool date;
        const char* text;
        int a, b, c;
    };
    // 7 marks an output that had no field and kept its value.
    const Case cases[] = {
        {false, " 9: 5: 0", 9, 5, 0}, {false, "09:05:00", 9, 5, 0}, {false, "12", 12, 7, 7},
        {false, "1:2:3:4", 1, 2, 3},  {false, "x: 5", 0, 5, 7},     {true, "2016-8-4", 2016, 8, 4},
        {true, "2016-8", 2016, 8, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int a = 7, b = 7, d = 7;
        if (c.date)
            ParseDate(c.text, a, b, d);
        else
            ParseClock(c.text, a, b, d);
        EXPECT_EQ(std::tie(a, b, d), std::tie(c.a, c.b, c.c));
    }
}

TEST(PlanNames, SourcesAndWeekdaysBothWaysAndUnknownNames) {
    const char* const sources[] = {"V1",  "V2", "VGA1", "VGA2", "HDMI",
                                   "DVI", "DP", "EXT.", "YPbPr"};
    for (int code = 0; code <= 8; ++code) {
        EXPECT_EQ(SourceName(code), sources[code]);
        EXPECT_EQ(SourceCode(sources[code]), code);
    }
    for (int code : {-1, 9, 255, 256 + 4})
        EXPECT_EQ(SourceName(code), "") << code;
    for (const char* name : {"VGA3", "hdmi", "HDMI ", ""})
        EXPECT_EQ(SourceCode(name), 255) << name;

    const char* const en[] = {"0Sun", "1Mon", "2Tue", "3Wed", "4Thu", "5Fri", "6Sat"};
    const char* const zh[] = {"0星期日", "1星期一", "2星期二", "3星期三",
                              "4星期四", "5星期五", "6星期六"};
    for (int day = 0; day <= 6; ++day) {
        EXPECT_EQ(WeekdayName(day, false), en[day]);
        EXPECT_EQ(WeekdayName(day, true), zh[day]);
        EXPECT_EQ(WeekdayNumber(en[day]), day);
        EXPECT_EQ(WeekdayNumber(zh[day]), day);
    }
    EXPECT_EQ(WeekdayName(7, false), "");
    EXPECT_EQ(WeekdayName(-1, true), "");
    for (const char* text : {"7Sun", "3", "3wed", "星期三", ""})
        EXPECT_EQ(WeekdayNumber(text), 255) << text;
}

// Times are local with daylight saving time not in effect; a plan must still read back as the
// hour and date it was written with wherever daylight saving is in effect on its date, including
// 1 January in Sydney and winter in Dublin, whose standard time is its summer time.
TEST(PlanLines, ReadsBackAsWrittenInZonesWithDaylightSaving) {
    const char* const lines[][2] = {
        {"0", " 9: 5: 0,4"},          {"0", "23:30: 0,1"},          {"0", " 0:30: 0,1"},
        {"3", "2016-1-4, 0: 0: 0,4"}, {"3", "2016-8-4, 0: 0: 0,4"}, {"3", "2016-1-4,23:30: 0,4"},
    };
    for (const char* name : {"UTC", "Europe/Berlin", "Australia/Sydney", "Europe/Dublin"}) {
        if (!HaveZone(name))
            GTEST_SKIP() << "no tzdata for " << name;
        ScopedZone zone(name);
        for (const auto& [kind, line] : lines) {
            SCOPED_TRACE(testing::Message() << name << " " << line);
            PlanItem item;
            ASSERT_EQ(ParsePlanLine(atoi(kind), line, &item), PlanLine::Ok);
            EXPECT_EQ(FormatPlanLine(atoi(kind), item), line);
        }
    }
    // Where daylight saving time is not in effect on 1 January, the described values hold exactly:
    // a summer date's midnight is taken as standard time (01:00 summer time).
    ScopedZone berlin("Europe/Berlin");
    int64_t value = 0;
    ASSERT_TRUE(MakePlanDate(2016, 8, 4, &value));
    EXPECT_EQ(value, 1470265200);  // 2016-08-03 23:00:00 UTC
    ASSERT_TRUE(MakePlanTime(9, 5, 0, &value));
    EXPECT_EQ(value, 946713900);  // 2000-01-01 08:05:00 UTC
}

class PlanStore : public testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = testing::TempDir() + "plansXXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        path = dir + "/Planinfo.ini";
        platform::SetUi(&ui);
    }
    void TearDown() override {
        platform::SetUi(nullptr);
        fs::remove_all(dir);
    }

    void Put(const std::string& content) const { std::ofstream(path, std::ios::binary) << content; }
    std::string Content() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    CInfoPlan Loaded() const {
        CInfoPlan store(path);
        store.LoadPlanCounts();
        EXPECT_TRUE(store.LoadAllPlans(false));
        return store;
    }

    ScopedZone zone{"UTC"};
    RecordingUi ui;
    std::string dir;
    std::string path;
};

TEST_F(PlanStore, CountsReadAsNumbersAndOnlyCountedLinesAreRead) {
    CInfoPlan missing(dir + "/none.ini");
    missing.m_dayCount = 5;
    missing.LoadPlanCounts();
    EXPECT_EQ(missing.m_dayCount, 0);
    EXPECT_TRUE(missing.LoadAllPlans(false));

    Put("[plancount]\nDAYTIMECOUNT=0\nweektimecount=1\noncetimecount=abc\n"
        "[DAYTIME]\nTime0= 9: 5: 0,4\n"
        "[WEEKTIME]\nTime0=3,14:30: 0,4\nTime1=4,14:30: 0,4\n"
        "[ONCETIME]\nTime0=2016-8-4,23:59:59,4\n");
    const CInfoPlan store = Loaded();
    EXPECT_EQ(std::tie(store.m_dayCount, store.m_weekCount, store.m_monthCount, store.m_onceCount),
              std::make_tuple(0, 1, 0, 0));
    EXPECT_TRUE(store.m_dayPlans.empty());
    ASSERT_EQ(store.m_weekPlans.size(), 1u);
    EXPECT_EQ(store.m_weekPlans.at(0).weekDay, "3");
    EXPECT_TRUE(store.m_oncePlans.empty());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(PlanStore, AHugeCountReadsOnlyTheKeysThatAreThere) {
    // A damaged count must not keep the program reading missing keys for hours.
    Put("[PLANCOUNT]\ndaytimecount=2147483647\n"
        "[DAYTIME]\ntime0= 8: 0: 0,0\nTime05= 9: 0: 0,1\nTIME7=20:30: 0,4\n");
    const auto start = std::chrono::steady_clock::now();
    const CInfoPlan store = Loaded();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // Keys match without regard to case; "Time05" is not the key of plan 5.
    ASSERT_EQ(store.m_dayPlans.size(), 2u);
    EXPECT_EQ(Describe(store.m_dayPlans.at(0)), "|||08:00:00|0");
    EXPECT_EQ(Describe(store.m_dayPlans.at(7)), "|||20:30:00|4");
}

TEST_F(PlanStore, LinesWithTooFewFieldsAreSkipped) {
    Put("[PLANCOUNT]\ndaytimecount=4\n"
        "[DAYTIME]\nTime0= 8: 0: 0,0\nTime2= 9: 0: 0\nTime3=20:30: 0,4\n");
    const CInfoPlan store = Loaded();
    ASSERT_EQ(store.m_dayPlans.size(), 2u);
    EXPECT_EQ(Describe(store.m_dayPlans.at(0)), "|||08:00:00|0");
    EXPECT_EQ(Describe(store.m_dayPlans.at(3)), "|||20:30:00|4");
    EXPECT_TRUE(ui.boxes.empty());
}

// Every kind has three lines; the middle line of one kind is bad. The kinds before it and the
// line before it stay loaded, nothing after it is read, and one box names the section and line.
TEST_F(PlanStore, FirstInvalidLineStopsTheLoadAndIsReported) {
    const char* const good[] = {" 9: 5: 0,4", "3,14:30: 0,4", "05, 9: 5: 0,4",
                                "2016-8-4,23:59:59,4"};
    const char* const bad[] = {"24: 0: 0,4", "3,14:60: 0,4", "05, 9: 5:60,4",
                               "2016-8-4,25:00:00,4"};
    const char* const sections[] = {"DAYTIME", "WEEKTIME", "MONTHTIME", "ONCETIME"};
    for (int badKind = PlanDay; badKind <= PlanOnce; ++badKind) {
        for (bool chinese : {false, true}) {
            SCOPED_TRACE(testing::Message() << sections[badKind] << (chinese ? " zh" : " en"));
            std::string file =
                "[PLANCOUNT]\ndaytimecount=3\nweektimecount=3\n"
                "monthtimecount=3\noncetimecount=3\n";
            for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
                file += std::string("[") + sections[kind] + "]\n";
                for (int n = 0; n < 3; ++n)
                    file += "Time" + std::to_string(n) + "=" +
                            (kind == badKind && n == 1 ? bad : good)[kind] + "\n";
            }
            Put(file);
            ui.boxes.clear();
            CInfoPlan store(path);
            store.LoadPlanCounts();
            EXPECT_FALSE(store.LoadAllPlans(chinese));
            for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
                const size_t expected = kind < badKind ? 3 : kind == badKind ? 1 : 0;
                EXPECT_EQ(store.Plans(kind).size(), expected) << sections[kind];
            }
            EXPECT_EQ(store.Plans(badKind).count(0), 1u);
            ASSERT_EQ(ui.boxes.size(), 1u);
            const Box& box = ui.boxes[0];
            EXPECT_NE(box.text.find(std::string("[") + sections[badKind] + "] Time1="),
                      std::string::npos)
                << box.text;
            EXPECT_NE(box.text.find(chinese ? "计划文件" : "plan file"), std::string::npos);
            EXPECT_EQ(box.caption, chinese ? "系统信息" : "System information");
            EXPECT_EQ(box.languageId, chinese ? 2052 : 1033);

            // Off the UI thread the caller gets the text to show instead of a box.
            CInfoPlan quiet(path);
            quiet.LoadPlanCounts();
            std::string text;
            EXPECT_FALSE(quiet.LoadAllPlans(chinese, &text));
            EXPECT_EQ(text, box.text);
            EXPECT_EQ(ui.boxes.size(), 1u);
        }
    }
}

TEST_F(PlanStore, LoadingAgainKeepsThePlansAlreadyHeld) {
    Put("[PLANCOUNT]\ndaytimecount=2\nweektimecount=1\n"
        "[DAYTIME]\nTime0= 8: 0: 0,0\nTime0= 9: 0: 0,1\nTime1=20:30: 0,4\n"
        "[WEEKTIME]\nTime0=3,14:30: 0,4\n");
    CInfoPlan store = Loaded();
    EXPECT_EQ(Describe(store.m_dayPlans.at(0)), "|||08:00:00|0");  // the first line of a key
    const CInfoPlan first = store;

    ASSERT_TRUE(store.WritePlanEntry("DAYTIME", "Time0", "10: 0: 0,5"));
    EXPECT_TRUE(store.LoadAllPlans(false));
    EXPECT_EQ(store.m_dayPlans, first.m_dayPlans);
    EXPECT_EQ(store.m_weekPlans, first.m_weekPlans);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(PlanStore, EveryKindRoundTripsThroughTheFile) {
    auto at = [](int h, int m, int s) {
        int64_t t = 0;
        EXPECT_TRUE(MakePlanTime(h, m, s, &t));
        return t;
    };
    auto on = [](int y, int m, int d) {
        int64_t t = 0;
        EXPECT_TRUE(MakePlanDate(y, m, d, &t));
        return t;
    };
    const std::vector<PlanItem> plans[] = {
        {{0, at(8, 0, 0), "", "", 0}, {0, at(20, 30, 0), "", "", 4}},
        {{0, at(14, 30, 0), "3", "", 4}, {0, at(0, 0, 0), "0", "", 8}},
        {{0, at(9, 5, 0), "", "05", 4}, {0, at(23, 59, 59), "", "31", 7}},
        {{on(2016, 8, 4), at(23, 59, 59), "", "", 4}, {on(1900, 1, 1), at(0, 0, 1), "", "", 2}},
    };
    CInfoPlan writer(path);
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        for (int n = 0; n < 2; ++n) {
            ASSERT_TRUE(writer.WritePlanEntry(PlanSection(kind), PlanKey(n).c_str(),
                                              FormatPlanLine(kind, plans[kind][n]).c_str()));
        }
    }
    for (int kind = PlanDay; kind <= PlanOnce; ++kind)
        ASSERT_TRUE(writer.WritePlanEntry(kPlanCountSection, PlanCountKey(kind), "2"));

    EXPECT_EQ(Content(),
              "[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n"
              "[WEEKTIME]\nTime0=3,14:30: 0,4\nTime1=0, 0: 0: 0,8\n"
              "[MONTHTIME]\nTime0=05, 9: 5: 0,4\nTime1=31,23:59:59,7\n"
              "[ONCETIME]\nTime0=2016-8-4,23:59:59,4\nTime1=1900-1-1, 0: 0: 1,2\n"
              "[PLANCOUNT]\ndaytimecount=2\nweektimecount=2\nmonthtimecount=2\noncetimecount=2\n");
    CInfoPlan reader = Loaded();
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        SCOPED_TRACE(PlanSection(kind));
        EXPECT_EQ(reader.Count(kind), 2);
        const auto& map = reader.Plans(kind);
        ASSERT_EQ(map.size(), 2u);
        EXPECT_EQ(map.at(0), plans[kind][0]) << Describe(map.at(0));
        EXPECT_EQ(map.at(1), plans[kind][1]) << Describe(map.at(1));
    }
}

TEST_F(PlanStore, WritePlanEntrySetsAndDeletesKeysAndSections) {
    Put("[CONNECT]\nPort=COM3\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\n");
    CInfoPlan store(path);
    struct Step {
        const char* key;
        const char* value;
        const char* content;
    };
    const Step steps[] = {
        {"Time2", "21: 0: 0,5",
         "[CONNECT]\nPort=COM3\n[DAYTIME]\nTime0= 8: 0: 0,0\nTime1=20:30: 0,4\nTime2=21: 0: 0,5\n"},
        {"time0", "7: 0: 0,1",
         "[CONNECT]\nPort=COM3\n[DAYTIME]\ntime0=7: 0: 0,1\nTime1=20:30: 0,4\nTime2=21: 0: 0,5\n"},
        {"TIME1", nullptr, "[CONNECT]\nPort=COM3\n[DAYTIME]\ntime0=7: 0: 0,1\nTime2=21: 0: 0,5\n"},
        {nullptr, nullptr, "[CONNECT]\nPort=COM3\n"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.content);
        EXPECT_TRUE(store.WritePlanEntry("daytime", s.key, s.value));
        EXPECT_EQ(Content(), s.content);
    }
    EXPECT_FALSE(CInfoPlan(dir + "/no/such/folder/Planinfo.ini")
                     .WritePlanEntry("DAYTIME", "Time0", " 8: 0: 0,0"));
}

}  // namespace
