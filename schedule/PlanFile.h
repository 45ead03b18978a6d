// The plan file's text form: section and key names, plan lines to and from PlanItem, and the
// conversions of plan fields (clock and date texts, source names, weekday names).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "schedule/PlanItem.h"

// [PLANCOUNT] holds one count key per kind; each kind's section holds Time0, Time1, ...
inline constexpr const char* kPlanCountSection = "PLANCOUNT";
// "DAYTIME", "WEEKTIME", "MONTHTIME", "ONCETIME"; nullptr for any other kind.
const char* PlanSection(int kind);
// "daytimecount", "weektimecount", "monthtimecount", "oncetimecount"; nullptr for any other kind.
const char* PlanCountKey(int kind);
// "Time<index>", no padding.
std::string PlanKey(int index);

// The fields of a plan line: blanks at both ends are trimmed, then the line is cut at every
// comma. Fields keep their inner blanks; "a,b," gives "a", "b" and "", and "" gives one field.
std::vector<std::string> SplitFields(std::string_view line);

// The decimal value at the start of text, after leading blanks and an optional sign; 0 when there
// is none. Values beyond the int range give INT_MIN or INT_MAX.
int DecimalValue(std::string_view text);

// Cut text at ':' (ParseClock) or '-' (ParseDate) and read up to three decimal values into the
// outputs in order; an output without a field keeps its value. Both " 9: 5: 0" and "09:05:00"
// give 9, 5, 0.
void ParseClock(std::string_view text, int& hour, int& minute, int& second);
void ParseDate(std::string_view text, int& year, int& month, int& day);

// The time value of a plan's time of day (1 January 2000 at that time, local) or of a one-time
// plan's date (local midnight), built with daylight saving time not in effect. False when a field
// is out of range (hour 0..23, minute and second 0..59; year from 1900, month 1..12, day 1..31) or
// the fields name no local time (31 April, 29 February 2015).
bool MakePlanTime(int hour, int minute, int second, int64_t* out);
bool MakePlanDate(int year, int month, int day, int64_t* out);

// The moment that reads back in local time as the date and time of day given (a plan's moment on
// a given day), taken first with daylight saving time not in effect. False when no local time
// reads back so (an hour skipped when the clocks go forward) or the system cannot represent it.
bool MakeLocalMoment(int year, int month, int day, int hour, int minute, int second, int64_t* out);

// As MakeLocalMoment, but a time of day that the clocks skip that day (the hour lost when they go
// forward) gives the first second after the gap, with moved set: 02:30 on a night that goes from
// 01:59:59 to 03:00:00 runs at 03:00:00. False only when the day itself cannot be represented.
bool MakeLocalMomentOrAfterGap(int year, int month, int day, int hour, int minute, int second,
                               int64_t* out, bool* moved);

// Local time of day as logs and results give it, "10:00:06" (seconds since the epoch).
std::string SecondText(int64_t time);
// Local time of day as logs and results give it: "10:00:06" (seconds since the epoch).
std::string SecondText(int64_t time);
// Local time of day with "%2d:%2d:%2d" (" 9: 5: 0"), and local date with "%d-%d-%d" ("2016-8-4").
std::string FormatClock(int64_t time);
std::string FormatDate(int64_t date);

enum class PlanLine {
    Ok,
    TooFewFields,  // day lines need 2 fields, the others 3; such a line is skipped
    Invalid,       // out of range, no such local time, or a source other than 0..8
};

// Reads one plan line of a kind (the value of a Time<N> key):
//   day:      time,source                  " 9: 5: 0,4"
//   week:     weekday,time,source          "3,14:30: 0,4"    weekday kept as text
//   month:    day of month,time,source     "05, 9: 5: 0,4"   day kept as text
//   one-time: date,time,source             "2016-8-4,23:59:59,4"
// Fields beyond those are ignored. item is set only when the result is Ok.
PlanLine ParsePlanLine(int kind, std::string_view line, PlanItem* item);
// The line of item as the plan file holds it (the forms above); the writer adds no blanks of its
// own. Weekday and day of month are written as the text they hold.
std::string FormatPlanLine(int kind, const PlanItem& item);

// "V1", "V2", "VGA1", "VGA2", "HDMI", "DVI", "DP", "EXT.", "YPbPr" for 0..8; "" otherwise.
std::string SourceName(int code);
// The code of a source name, compared exactly; 255 for any other text.
uint8_t SourceCode(std::string_view name);
// "0Sun" .. "6Sat", or "0星期日" .. "6星期六" in Chinese, for 0..6; "" otherwise.
std::string WeekdayName(int number, bool chinese);
// 0..6 for any of the fourteen weekday names, whichever the language; 255 for any other text.
int WeekdayNumber(std::string_view text);
