// What the four plan pages do, without windows: the list rows of one plan kind, kept in step with
// the kind's plans in the store and with its section of the plan file. The page windows show the
// rows, pass on the button presses and the add-plan dialog's answers; this does the rest.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ProfileFile.h"
#include "schedule/InfoPlan.h"

// The add-plan dialog's values after OK.
struct PlanChoice {
    int64_t date = 0;          // one-time plans take its local year, month and day
    int64_t time = 0;          // every plan takes its local hour, minute and second
    std::string weekDayText;   // the weekday box: "3Wed" (or "3星期三")
    std::string monthDayText;  // the day-of-month box: "05"
    uint8_t source = 0;
};

// One row of a plan list: column 0 the name "Time<i>", then the kind's columns: day: time,
// signal; week: weekday ("3Wed"), time, signal; month: day ("05"), time, signal; one-time: date
// ("2016-8-4"), time, signal. Times as " 9: 5: 0".
using PlanRow = std::vector<std::string>;

// Rows a page takes from the file when it opens.
inline constexpr int kMaxPlanRows = 240;

// Removes the first plan in the kind's order from plans (not empty) and returns it. Day plans go
// by time of day, week plans by weekday number, month plans by day of month, one-time plans by
// date; on a tie the first in key order wins for day plans and the last for the others.
PlanItem TakeEarliestPlan(std::map<int, PlanItem>& plans, int kind);
// All plans in the order repeated TakeEarliestPlan takes them, in one sort.
std::vector<PlanItem> SortPlans(const std::map<int, PlanItem>& plans, int kind);

// The two plans' time difference the 10-second rule looks at, in seconds: the time of day alone
// for day, week and month plans (no wrap at midnight), the whole moment for one-time plans.
int64_t PlanDistance(int kind, const PlanItem& a, const PlanItem& b);

class PlanEditor {
public:
    // Shows the add-plan dialog for the editor's kind, pre-filled from prefill when it is given
    // (Modify); the values on OK, nothing on any other way of closing.
    using AskPlan = std::function<std::optional<PlanChoice>(const PlanItem* prefill)>;

    // Puts a text on the main window's Info line.
    using Notify = std::function<void(const std::string& text)>;

    // chinese: the language of the texts shown while the page is open.
    PlanEditor(CInfoPlan& plans, int kind, bool chinese, Notify notify = {});

    // Opening: the kind's count and counted lines as the file has them now, whatever the store
    // held before; their rows (one message past 240 rows), then, when the count is not 0,
    // SortAndRefresh, which writes only when that changes the file. A section with a line that
    // cannot be read is shown as the file holds it and is not rewritten: see Damaged.
    void FillListFromFile();
    // Appends the row of a plan line's fields; false, with the row-limit message, at 240 rows.
    bool InsertPlanRow(const std::string& name, const std::vector<std::string>& fields);
    // The 10-second rule against the kind's plans other than excludedKey (-1: none). On success
    // the new plan joins the kind's plans under the key after the largest; otherwise the message.
    bool CheckInterval(const PlanChoice& choice, int excludedKey);
    // Orders the plans, numbers them 0..n-1, rebuilds the rows and rewrites the section.
    void SortAndRefresh();
    // Deletes the section and writes one line per row, renaming the rows Time0, Time1, ...
    void RewriteSection();

    // The three buttons. selected: the indices of the selected rows. The file on disk is the
    // truth: when another program changed the kind's section or count since the page last read
    // or wrote them, the page reads them again (the Info line says so) once the user has
    // answered, and applies the action to what the file holds, finding the plan of a Modify or
    // Delete by what it is, not by its row. A plan no longer there is told and nothing changes.
    // Each action reaches the file in one atomic write; when that fails the user is told and the
    // plans, the count and the rows go back to what the file holds.
    void OnAdd(const AskPlan& ask);
    void OnModify(const std::vector<int>& selected, const AskPlan& ask);
    void OnDelete(const std::vector<int>& selected);

    int Kind() const { return m_kind; }
    const std::vector<PlanRow>& Rows() const { return m_rows; }
    // The section holds a line that cannot be read: changes are refused with a message, so that a
    // rewrite never drops it or the plans after it.
    bool Damaged() const { return !m_damagedLine.empty(); }

private:
    struct Snapshot {
        std::map<int, PlanItem> plans;
        int count;
    };
    // The kind's part of the file: its count and its counted lines (values as read, trimmed).
    struct FileView {
        int count = 0;
        std::map<int, std::string> lines;
        bool operator==(const FileView&) const = default;
    };

    std::map<int, PlanItem>& Plans() { return m_plans.Plans(m_kind); }
    int& Count() { return m_plans.Count(m_kind); }
    Snapshot Take() { return {Plans(), Count()}; }
    // Queues a write of the kind's section (no value: delete the key) or of its count.
    void Put(const std::string& key, std::optional<std::string> value);
    void PutCount();
    // Writes the queued changes at once; on failure restores before and says so.
    bool Commit(const Snapshot& before);
    // Rows of the plans in key order, named by their keys (no write).
    void RowsFromPlans();
    PlanRow RowOf(const std::string& name, const PlanItem& plan) const;
    PlanRow RowOf(const std::string& name, const PlanChoice& choice) const;
    std::string LineOf(const PlanRow& row) const;
    PlanItem ItemOf(const PlanChoice& choice) const;
    PlanItem ItemOfRow(const PlanRow& row) const;
    // True when the section is damaged, after the message. The file is read again first: a
    // section mended there meanwhile is shown (the action stops; the user acts on what it shows).
    bool RefuseWhenDamaged();
    FileView ReadFileView() const;
    // What the file holds after the last successful write of the rows.
    FileView WrittenView() const;
    // Rows, plans and count from the file's view; a line that cannot be read marks the section
    // damaged.
    void Load(const FileView& view);
    // Reads the kind's part of the file again when it changed since last seen; true when it had.
    bool FollowFile();
    // The plan of a row as it shows, without its name: what makes two plans the same.
    PlanRow Identity(int row) const;
    // The rows now showing the plans given by their identities, each row used once; -1 for a
    // plan no longer there.
    std::vector<int> FindRows(const std::vector<PlanRow>& identities) const;
    void TellGone() const;
    // The first selected row that exists, or -1 after the "Please select an item." message.
    int FirstSelected(const std::vector<int>& selected, const char* caption) const;

    CInfoPlan& m_plans;
    const int m_kind;
    const bool m_chinese;
    std::vector<PlanRow> m_rows;
    std::vector<int> m_rowKeys;  // the plan key of each row
    std::vector<platform::ProfileEdit> m_edits;
    std::string m_damagedLine;  // "[DAYTIME] Time1=24: 0: 0,4"
    Notify m_notify;
    FileView m_seen;  // the kind's part of the file as last read or written here
};
