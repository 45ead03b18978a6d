// Captions and messages of the Program window, its four plan pages and the add-plan dialog, in
// both languages, exactly as the program shows them. Texts are UTF-8.
#pragma once

#include <string>

#include "resources/Captions.h"

namespace res {

// The Program window (dialog 138): title and Exit.
extern const Caption kProgramCaptions[];
extern const int kProgramCaptionCount;
// The tab of plan kind 0..3, and what a screen reader calls the tab strip.
const char* PlanTabCaption(int kind, bool chinese);
const char* PlanTabsName(bool chinese);

// The add-plan dialog (dialog 139): title, the statics and the source group box.
extern const Caption kAddPlanCaptions[];
extern const int kAddPlanCaptionCount;

// A plan page's buttons (Add, Modify, Delete of the page's identifiers).
const char* PlanButtonCaption(int button, bool chinese);  // button 0 Add, 1 Modify, 2 Delete
// The list's column headings: 0 Name, 1 the kind's day column (week, month, one-time only),
// then Time and Signal.
const char* PlanNameHeading(bool chinese);
const char* PlanDayHeading(int kind, bool chinese);
const char* PlanTimeHeading(bool chinese);
const char* PlanSignalHeading(bool chinese);
// What a screen reader calls a page's list: "Day plans", ...
const char* PlanListName(int kind, bool chinese);

// The messages of a plan page. Where a text has no Chinese form it is shown in English in both
// languages, with language identifier 1033.
struct PlanPageTexts {
    const char* selectCaptionModify;  // caption of "Please select an item." from Modify
    const char* selectCaptionDelete;  // ... and from Delete
    const char* deleteQuestion;
    const char* deleteCaption;
};
const PlanPageTexts& PageTexts(int kind);

inline constexpr const char* kSelectAnItem = "Please select an item.";
// With the row limit in place of %d.
std::string RowLimitText(int limit);
inline constexpr const char* kRowLimitCaption = "System Information";

// The 10-second rule; shown with language identifier 1033 in both languages.
const char* IntervalText(bool chinese);
const char* IntervalCaption(bool chinese);

// A change that did not reach the plan file; the window goes back to what the file holds.
std::string PlanWriteFailedText(const std::string& path, bool chinese);
// The same, when the file is no plan file (larger than 1 MB, or not text): nothing is ever
// written into it.
std::string PlanFileForeignText(const std::string& path, bool chinese);
// A page whose section holds a line that cannot be read refuses changes, so that rewriting the
// section never drops the lines after it. line is "[DAYTIME] Time1=24: 0: 0,4".
std::string PlanSectionDamagedText(const std::string& line, const std::string& path, bool chinese);

// Info line: the plan file changed on disk (another program) since a page read it; the page read
// it again before its change.
const char* PlanFileReloadedText(bool chinese);
// The plan a Modify or Delete was for is no longer in the file: nothing changes.
const char* PlanGoneText(bool chinese);

// Info line, while the scheduler runs: it read the changed plan file again; the file is gone
// (the plans of today stay as they were read); a plan's time passed without its switch, late
// (its time had passed when its turn came) or for want of a link. time as "10:00:00".
const char* SchedulerReloadedText(bool chinese);
const char* SchedulerFileGoneText(bool chinese);
std::string PlanMissedText(const std::string& time, const std::string& source, bool noLink,
                           bool chinese);
// Info line and log: a plan whose time of day the clocks skip today (they go forward over it)
// runs at the first second after the gap. Times as "02:30:00".
std::string PlanMovedText(const std::string& time, const std::string& movedTo,
                          const std::string& source, bool chinese);

// The timer panel once a plan's moment has passed: the status and result of a plan whose switch
// was sent (at clock, "10:00:06"), one that was missed, and one whose frame did not leave.
const char* TimerExecutedText(bool chinese);
std::string TimerSentText(const std::string& clock, bool chinese);
const char* TimerMissedText(bool chinese);
const char* TimerFailedText(bool chinese);

}  // namespace res
