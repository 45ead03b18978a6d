// One plan, a timed source switch, as held in memory, and the four plan kinds.
#pragma once

#include <cstdint>
#include <string>

// The kinds of plan; the same numbers pick the add-plan dialog's mode and the kinds the
// scheduler runs.
enum PlanKind : int {
    PlanDay = 0,    // every day
    PlanWeek = 1,   // one weekday
    PlanMonth = 2,  // one day of the month
    PlanOnce = 3,   // one calendar date
};

struct PlanItem {
    // One-time plans: the calendar date (local midnight when read from the plan file); only its
    // local year, month and day count. 0 for the other kinds. Seconds since 1970-01-01 UTC.
    int64_t date = 0;
    // When the plan fires: only its local hour, minute and second count. Read from the plan
    // file it is that time of day on 1 January 2000. Seconds since 1970-01-01 UTC.
    int64_t time = 0;
    // Week plans: the weekday number as text, "0" (Sunday) to "6" (Saturday), as stored.
    std::string weekDay;
    // Month plans: the day of the month as text, "01" to "31", as stored.
    std::string monthDay;
    // Source code: 0 V1, 1 V2, 2 VGA1, 3 VGA2, 4 HDMI, 5 DVI, 6 DP, 7 EXT., 8 YPbPr.
    uint8_t source = 0;

    bool operator==(const PlanItem&) const = default;
};
