#include "schedule/PlanFile.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <tuple>

namespace {

const char* const kSections[] = {"DAYTIME", "WEEKTIME", "MONTHTIME", "ONCETIME"};
const char* const kCountKeys[] = {"daytimecount", "weektimecount", "monthtimecount",
                                  "oncetimecount"};
const char* const kSourceNames[] = {"V1",  "V2", "VGA1", "VGA2", "HDMI",
                                    "DVI", "DP", "EXT.", "YPbPr"};
const char* const kWeekdaysEn[] = {"0Sun", "1Mon", "2Tue", "3Wed", "4Thu", "5Fri", "6Sat"};
const char* const kWeekdaysZh[] = {"0星期日", "1星期一", "2星期二", "3星期三",
                                   "4星期四", "5星期五", "6星期六"};

constexpr std::string_view kBlanks = " \t\r\n\v\f";

bool ValidKind(int kind) {
    return kind >= PlanDay && kind <= PlanOnce;
}

// Cuts text at sep and reads up to three decimal values into a, b, c.
void ParseThree(std::string_view text, char sep, int& a, int& b, int& c) {
    int* const outs[] = {&a, &b, &c};
    for (int* out : outs) {
        const size_t cut = text.find(sep);
        *out = DecimalValue(text.substr(0, cut));
        if (cut == std::string_view::npos)
            return;
        text.remove_prefix(cut + 1);
    }
}

// The local moment of the fields, first read with daylight saving time not in effect. Where it is
// in effect at that moment (1 January south of the equator; winter in zones whose standard time
// is their summer time), that reading lands an hour off, on another hour or even another day, so
// the moment is built again with daylight saving in effect. asked tells whether a value reads back
// as the fields asked for.
// mktime of the fields with the daylight saving flag given; false when the system cannot
// represent them.
bool LocalFieldsMoment(int year, int month, int day, int hour, int minute, int second, int isdst,
                       time_t* value) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = isdst;
    t.tm_wday = -1;  // mktime sets it only when it succeeds
    *value = mktime(&t);
    return t.tm_wday >= 0;
}

template <typename Asked>
bool BuildLocal(int year, int month, int day, int hour, int minute, int second, Asked asked,
                int64_t* out) {
    for (int isdst : {0, 1}) {
        time_t value = 0;
        struct tm back {};
        if (!LocalFieldsMoment(year, month, day, hour, minute, second, isdst, &value) ||
            localtime_r(&value, &back) == nullptr)
            return false;  // the system cannot represent it
        if (asked(back)) {
            *out = value;
            return true;
        }
    }
    return false;
}

struct tm Local(int64_t value) {
    const time_t t = static_cast<time_t>(value);
    struct tm fields {};
    localtime_r(&t, &fields);
    return fields;
}

}  // namespace

const char* PlanSection(int kind) {
    return ValidKind(kind) ? kSections[kind] : nullptr;
}

const char* PlanCountKey(int kind) {
    return ValidKind(kind) ? kCountKeys[kind] : nullptr;
}

std::string PlanKey(int index) {
    return "Time" + std::to_string(index);
}

std::vector<std::string> SplitFields(std::string_view line) {
    const size_t first = line.find_first_not_of(kBlanks);
    line = first == std::string_view::npos
               ? std::string_view()
               : line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
    std::vector<std::string> fields;
    for (size_t comma = line.find(','); comma != std::string_view::npos; comma = line.find(',')) {
        fields.emplace_back(line.substr(0, comma));
        line.remove_prefix(comma + 1);
    }
    fields.emplace_back(line);
    return fields;
}

int DecimalValue(std::string_view text) {
    size_t i = text.find_first_not_of(kBlanks);
    if (i == std::string_view::npos)
        return 0;
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+')
        ++i;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= INT_MAX)  // stop growing once past the range; the sign is applied below
            value = value * 10 + (text[i] - '0');
    }
    if (negative)
        return value > -static_cast<long long>(INT_MIN) ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

void ParseClock(std::string_view text, int& hour, int& minute, int& second) {
    ParseThree(text, ':', hour, minute, second);
}

void ParseDate(std::string_view text, int& year, int& month, int& day) {
    ParseThree(text, '-', year, month, day);
}

bool MakePlanTime(int hour, int minute, int second, int64_t* out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    return BuildLocal(
        2000, 1, 1, hour, minute, second,
        [&](const tm& t) { return t.tm_hour == hour && t.tm_min == minute && t.tm_sec == second; },
        out);
}

bool MakePlanDate(int year, int month, int day, int64_t* out) {
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    return BuildLocal(
        year, month, day, 0, 0, 0,
        [&](const tm& t) {
            return t.tm_year == year - 1900 && t.tm_mon == month - 1 && t.tm_mday == day;
        },
        out);
}

bool MakeLocalMoment(int year, int month, int day, int hour, int minute, int second, int64_t* out) {
    return BuildLocal(
        year, month, day, hour, minute, second,
        [&](const tm& t) {
            return t.tm_year == year - 1900 && t.tm_mon == month - 1 && t.tm_mday == day &&
                   t.tm_hour == hour && t.tm_min == minute && t.tm_sec == second;
        },
        out);
}

bool MakeLocalMomentOrAfterGap(int year, int month, int day, int hour, int minute, int second,
                               int64_t* out, bool* moved) {
    *moved = false;
    if (MakeLocalMoment(year, month, day, hour, minute, second, out))
        return true;
    // The fields read with daylight saving not in effect land past the gap; local time runs
    // forward around a gap, so the first second reading later than the fields is searched for in
    // the hours before that.
    time_t past = 0;
    if (!LocalFieldsMoment(year, month, day, hour, minute, second, 0, &past))
        return false;
    const auto asked = std::make_tuple(year, month, day, hour, minute, second);
    auto later = [&](time_t value) {
        const struct tm l = Local(value);
        return std::make_tuple(l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min,
                               l.tm_sec) > asked;
    };
    time_t low = past - 3 * 3600;  // reads earlier than the fields
    time_t high = past;            // reads later
    if (later(low) || !later(high))
        return false;
    while (high - low > 1) {
        const time_t mid = low + (high - low) / 2;
        (later(mid) ? high : low) = mid;
    }
    const struct tm found = Local(high);
    if (found.tm_year + 1900 != year || found.tm_mon + 1 != month || found.tm_mday != day)
        return false;  // the whole rest of the day is skipped
    *out = high;
    *moved = true;
    return true;
}

std::string FormatClock(int64_t time) {
    const struct tm t = Local(time);
    char text[40];
    std::snprintf(text, sizeof text, "%2d:%2d:%2d", t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string SecondText(int64_t time) {
    const struct tm t = Local(time);
    char text[40];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string FormatDate(int64_t date) {
    const struct tm t = Local(date);
    char text[40];
    std::snprintf(text, sizeof text, "%d-%d-%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return text;
}

PlanLine ParsePlanLine(int kind, std::string_view line, PlanItem* item) {
    if (!ValidKind(kind))
        return PlanLine::Invalid;
    const std::vector<std::string> fields = SplitFields(line);
    const size_t count = kind == PlanDay ? 2 : 3;
    if (fields.size() < count)
        return PlanLine::TooFewFields;

    PlanItem plan;
    int hour = 0, minute = 0, second = 0;
    ParseClock(fields[count - 2], hour, minute, second);
    if (!MakePlanTime(hour, minute, second, &plan.time))
        return PlanLine::Invalid;
    // Weekday and day of month are kept as text and written back as they are: a control
    // character (a carriage return, a NUL) could not be, so such a line is no plan.
    const auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    if ((kind == PlanWeek || kind == PlanMonth) &&
        std::any_of(fields[0].begin(), fields[0].end(), control))
        return PlanLine::Invalid;
    if (kind == PlanWeek)
        plan.weekDay = fields[0];
    if (kind == PlanMonth)
        plan.monthDay = fields[0];
    if (kind == PlanOnce) {
        int year = 0, month = 0, day = 0;
        ParseDate(fields[0], year, month, day);
        if (!MakePlanDate(year, month, day, &plan.date))
            return PlanLine::Invalid;
    }
    // A source the processor does not know would go out in a switch command as it is; a text
    // that is no number reads as 0 (V1).
    const int source = DecimalValue(fields[count - 1]);
    if (SourceName(source).empty())
        return PlanLine::Invalid;
    plan.source = static_cast<uint8_t>(source);
    *item = plan;
    return PlanLine::Ok;
}

std::string FormatPlanLine(int kind, const PlanItem& item) {
    const std::string tail = FormatClock(item.time) + "," + std::to_string(item.source);
    switch (kind) {
        case PlanDay:
            return tail;
        case PlanWeek:
            return item.weekDay + "," + tail;
        case PlanMonth:
            return item.monthDay + "," + tail;
        case PlanOnce:
            return FormatDate(item.date) + "," + tail;
        default:
            return {};
    }
}

std::string SourceName(int code) {
    return code >= 0 && code <= 8 ? kSourceNames[code] : "";
}

uint8_t SourceCode(std::string_view name) {
    for (int code = 0; code <= 8; ++code) {
        if (name == kSourceNames[code])
            return static_cast<uint8_t>(code);
    }
    return 255;
}

std::string WeekdayName(int number, bool chinese) {
    if (number < 0 || number > 6)
        return {};
    return chinese ? kWeekdaysZh[number] : kWeekdaysEn[number];
}

int WeekdayNumber(std::string_view text) {
    for (int number = 0; number <= 6; ++number) {
        if (text == kWeekdaysEn[number] || text == kWeekdaysZh[number])
            return number;
    }
    return 255;
}
