// The plan store: the plan counts and the plans of each kind, kept in memory and in the plan file.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/ProfileFile.h"
#include "schedule/PlanItem.h"

class CInfoPlan {
public:
    // path: the plan file, which also holds other sections ([CONNECT]) that are left alone.
    explicit CInfoPlan(std::string path = "./Planinfo.ini");
    virtual ~CInfoPlan() = default;

    // Reads the four counts of [PLANCOUNT]; a missing file or key gives 0.
    void LoadPlanCounts();

    // Reads Time0 .. Time<count-1> of each kind's section, in the order day, week, month,
    // one-time, into the kind's map under the key's index. The maps are not cleared first and an
    // index already in a map keeps its plan, so loading twice changes nothing. Lines with too few
    // fields (a missing key reads as "00") are skipped. The first invalid line stops the load:
    // the plans read before it stay, and the user is told which line could not be read, in a
    // message box (caption "System information", in the language of chinese) or, when errorText
    // is given, in that text instead, for a caller off the UI thread to show. Returns true when
    // every line was read.
    bool LoadAllPlans(bool chinese, std::string* errorText = nullptr);

    // Sets key in section to value; value nullptr deletes the key, key nullptr deletes the whole
    // section. The file is replaced atomically. True when it was written.
    bool WritePlanEntry(const std::string& section, const char* key, const char* value) const;
    // Several entries in one atomic replacement of the file: all of them or, when false, none.
    bool WritePlanEntries(const std::vector<platform::ProfileEdit>& edits) const;

    // The counted lines of a kind's section (indices 0 .. count-1 whose key "Time<N>" is in the
    // file; the first line of a key given twice; the first section of the name given twice), read
    // in one pass over the file, so that a damaged count or a far key such as Time2147483646
    // costs nothing. Without a count, the kind's count held here.
    std::map<int, std::string> CountedLines(int kind);
    std::map<int, std::string> CountedLines(int kind, int count) const;
    // The kind's count as the file has it now ([PLANCOUNT]; 0 when missing).
    int FileCount(int kind) const;

    const std::string& Path() const { return m_path; }

    // Appends the plans of kind that apply today (day plans always, week plans on their weekday
    // "0".."6", month plans on their day of the month, one-time plans on their date) and whose
    // moment today is later than now (or than afterMs, ms since the epoch, when given) to
    // m_todayPlans, under running keys after the largest one there, each with time set to that
    // moment. Day plans to V2 are left out when v2IsYPbPr is set and day plans to YPbPr when it
    // is not; the other kinds are taken whatever their source.
    // A plan whose time of day the clocks skip today (the hour lost when they go forward) runs at
    // the first second after the gap and is also listed in m_movedToday.
    void AddTodayPlans(int kind, bool v2IsYPbPr, int64_t afterMs = -1);

    // Finds the nearest plan of m_todayPlans, by its time of day today: next gets its moment
    // today and its source, and the result is the seconds from now until then (negative when it
    // has passed, so a passed plan is the nearest). Ties go to the lower key. Returns 0, leaving
    // next alone, when the list is empty. With remove the plan found leaves the list.
    int TakeNextPlan(bool remove, PlanItem* next);

    // The map and the count of a kind (PlanDay .. PlanOnce).
    std::map<int, PlanItem>& Plans(int kind);
    int& Count(int kind);

    // The counts mirror [PLANCOUNT]; the plan editor keeps them up to date.
    int m_dayCount = 0;
    int m_weekCount = 0;
    int m_monthCount = 0;
    int m_onceCount = 0;
    // Plans by index (the N of Time<N>).
    std::map<int, PlanItem> m_dayPlans;
    std::map<int, PlanItem> m_weekPlans;
    std::map<int, PlanItem> m_monthPlans;
    std::map<int, PlanItem> m_oncePlans;
    // The plans still due today, in the order they were added; the scheduler's alone.
    std::map<int, PlanItem> m_todayPlans;
    // The plans that AddTodayPlans moved past a skipped hour, as the plan file has them, each with
    // the moment it runs at instead. The scheduler's alone; it clears the list.
    std::vector<std::pair<PlanItem, int64_t>> m_movedToday;

private:
    std::string m_path;
};
