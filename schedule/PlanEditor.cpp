#include "schedule/PlanEditor.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <utility>

#include "platform/ProfileFile.h"
#include "platform/UiSeam.h"
#include "resources/PlanTexts.h"
#include "schedule/PlanFile.h"

namespace {

struct tm LocalFields(int64_t value) {
    const time_t t = static_cast<time_t>(value);
    struct tm fields {};
    localtime_r(&t, &fields);
    return fields;
}

int64_t SecondsOfDay(int64_t time) {
    const struct tm t = LocalFields(time);
    return t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

// Days since 1970-01-01 of the local calendar date of value (proleptic Gregorian calendar).
int64_t DayNumber(int64_t value) {
    const struct tm t = LocalFields(value);
    int64_t y = t.tm_year + 1900;
    const int64_t m = t.tm_mon + 1;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.tm_mday - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The weekday number a week plan's text names, or -1 when it names none (a text that does not
// start with a digit, which a plain decimal reading would turn into Sunday).
int WeekdayOfText(const std::string& text) {
    const size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos || text[i] < '0' || text[i] > '9')
        return -1;
    return DecimalValue(text);
}

// The text up to the first control character. A carriage return or a NUL byte inside a stored day
// of month would make its line unwritable or cut it short; the part before it is what the
// scheduler reads as the day anyway.
std::string PrintableText(const std::string& text) {
    const auto cut = std::find_if(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    return std::string(text.begin(), cut);
}

int64_t OrderValue(int kind, const PlanItem& plan) {
    switch (kind) {
        case PlanWeek:
            return DecimalValue(plan.weekDay);
        case PlanMonth:
            return DecimalValue(plan.monthDay);
        case PlanOnce:
            return plan.date;
        default:
            return SecondsOfDay(plan.time);
    }
}

}  // namespace

PlanItem TakeEarliestPlan(std::map<int, PlanItem>& plans, int kind) {
    auto best = plans.begin();
    int64_t bestValue = OrderValue(kind, best->second);
    for (auto it = std::next(best); it != plans.end(); ++it) {
        const int64_t value = OrderValue(kind, it->second);
        if (value < bestValue || (kind != PlanDay && value == bestValue)) {
            best = it;
            bestValue = value;
        }
    }
    PlanItem plan = best->second;
    plans.erase(best);
    return plan;
}

std::vector<PlanItem> SortPlans(const std::map<int, PlanItem>& plans, int kind) {
    std::vector<std::pair<int64_t, const PlanItem*>> order;
    order.reserve(plans.size());
    for (const auto& [key, plan] : plans)
        order.emplace_back(OrderValue(kind, plan), &plan);
    // Ties: the first in key order for day plans, the last for the others.
    if (kind != PlanDay)
        std::reverse(order.begin(), order.end());
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PlanItem> sorted;
    sorted.reserve(order.size());
    for (const auto& entry : order)
        sorted.push_back(*entry.second);
    return sorted;
}

int64_t PlanDistance(int kind, const PlanItem& a, const PlanItem& b) {
    if (kind == PlanOnce)
        return (DayNumber(a.date) - DayNumber(b.date)) * 86400 + SecondsOfDay(a.time) -
               SecondsOfDay(b.time);
    return SecondsOfDay(a.time) - SecondsOfDay(b.time);
}

PlanEditor::PlanEditor(CInfoPlan& plans, int kind, bool chinese, Notify notify)
    : m_plans(plans), m_kind(kind), m_chinese(chinese), m_notify(std::move(notify)) {}

// ---- rows and lines ------------------------------------------------------------------------

PlanRow PlanEditor::RowOf(const std::string& name, const PlanItem& plan) const {
    const std::string clock = FormatClock(plan.time);
    const std::string signal = SourceName(plan.source);
    switch (m_kind) {
        case PlanWeek:
            return {name, WeekdayName(WeekdayOfText(plan.weekDay), m_chinese), clock, signal};
        case PlanMonth:
            return {name, PrintableText(plan.monthDay), clock, signal};
        case PlanOnce:
            return {name, FormatDate(plan.date), clock, signal};
        default:
            return {name, clock, signal};
    }
}

PlanItem PlanEditor::ItemOf(const PlanChoice& choice) const {
    PlanItem plan;
    plan.time = choice.time;
    plan.source = choice.source;
    if (m_kind == PlanWeek)
        plan.weekDay = std::to_string(WeekdayNumber(choice.weekDayText));
    if (m_kind == PlanMonth)
        plan.monthDay = choice.monthDayText;
    if (m_kind == PlanOnce)
        plan.date = choice.date;
    return plan;
}

PlanRow PlanEditor::RowOf(const std::string& name, const PlanChoice& choice) const {
    return RowOf(name, ItemOf(choice));
}

std::string PlanEditor::LineOf(const PlanRow& row) const {
    const std::string code = std::to_string(SourceCode(row.back()));
    if (m_kind == PlanDay)
        return row[1] + "," + code;
    const std::string day = m_kind == PlanWeek ? std::to_string(WeekdayNumber(row[1])) : row[1];
    return day + "," + row[2] + "," + code;
}

PlanItem PlanEditor::ItemOfRow(const PlanRow& row) const {
    PlanItem plan;
    int hour = 0, minute = 0, second = 0;
    ParseClock(row[row.size() - 2], hour, minute, second);
    MakePlanTime(hour, minute, second, &plan.time);
    plan.source = SourceCode(row.back());
    if (m_kind == PlanWeek)
        plan.weekDay = row[1];  // the weekday's name, as the weekday box shows it
    if (m_kind == PlanMonth)
        plan.monthDay = row[1];
    if (m_kind == PlanOnce) {
        int year = 0, month = 0, day = 0;
        ParseDate(row[1], year, month, day);
        MakePlanDate(year, month, day, &plan.date);
    }
    return plan;
}

void PlanEditor::RowsFromPlans() {
    m_rows.clear();
    m_rowKeys.clear();
    for (const auto& [key, plan] : Plans()) {
        m_rows.push_back(RowOf(PlanKey(key), plan));
        m_rowKeys.push_back(key);
    }
}

// ---- the file ------------------------------------------------------------------------------

void PlanEditor::Put(const std::string& key, std::optional<std::string> value) {
    m_edits.push_back({PlanSection(m_kind), key, std::move(value)});
}

void PlanEditor::PutCount() {
    m_edits.push_back({kPlanCountSection, PlanCountKey(m_kind), std::to_string(Count())});
}

bool PlanEditor::Commit(const Snapshot& before) {
    std::vector<platform::ProfileEdit> edits;
    edits.swap(m_edits);
    if (edits.empty())
        return true;
    if (m_plans.WritePlanEntries(edits)) {
        m_seen = WrittenView();
        return true;
    }
    Plans() = before.plans;
    Count() = before.count;
    RowsFromPlans();
    const bool foreign = platform::IsForeignFile(platform::CheckProfileFile(m_plans.Path()));
    platform::AskYesNo(foreign ? res::PlanFileForeignText(m_plans.Path(), m_chinese)
                               : res::PlanWriteFailedText(m_plans.Path(), m_chinese),
                       res::Text(res::Msg::SystemInformation, m_chinese),
                       res::LanguageId(m_chinese));
    return false;
}

PlanEditor::FileView PlanEditor::ReadFileView() const {
    FileView view;
    view.count = m_plans.FileCount(m_kind);
    view.lines = m_plans.CountedLines(m_kind, view.count);
    return view;
}

PlanEditor::FileView PlanEditor::WrittenView() const {
    // Every write rewrites the section from the rows: Time0, Time1, ... in row order. Values read
    // back without the blanks around them.
    FileView view;
    view.count = m_plans.Count(m_kind);
    for (size_t i = 0; i < m_rows.size() && static_cast<int64_t>(i) < view.count; ++i) {
        std::string line = LineOf(m_rows[i]);
        line.erase(0, line.find_first_not_of(" \t"));
        line.erase(line.find_last_not_of(" \t") + 1);
        view.lines.emplace(static_cast<int>(i), std::move(line));
    }
    return view;
}

// ---- the page's operations -----------------------------------------------------------------

void PlanEditor::Load(const FileView& view) {
    m_rows.clear();
    m_rowKeys.clear();
    m_damagedLine.clear();
    Count() = view.count;
    Plans().clear();
    const size_t needed = m_kind == PlanDay ? 2 : 3;
    bool limitShown = false;
    for (const auto& [n, line] : view.lines) {
        const std::vector<std::string> fields = SplitFields(line);
        if (fields.size() < needed)
            continue;  // as the store skips it
        PlanItem plan;
        if (ParsePlanLine(m_kind, line, &plan) == PlanLine::Ok)
            Plans().emplace(n, plan);
        else if (m_damagedLine.empty())
            m_damagedLine = "[" + std::string(PlanSection(m_kind)) + "] " + PlanKey(n) + "=" + line;
        // The limit message once, however many lines are past it.
        if (static_cast<int>(m_rows.size()) >= kMaxPlanRows && limitShown)
            continue;
        if (InsertPlanRow(PlanKey(n), fields))
            m_rowKeys.push_back(n);
        else
            limitShown = true;
    }
}

void PlanEditor::FillListFromFile() {
    // The file as it is now, not what the store kept from an earlier opening: plans removed by
    // hand meanwhile stay removed.
    m_seen = ReadFileView();
    Load(m_seen);
    if (Damaged() || Count() == 0)
        return;
    const Snapshot before = Take();
    SortAndRefresh();
    // Plans already in order, each line as its rewrite would write it: the file stays as it is,
    // its place in the file and anything past the count included.
    if (WrittenView() == m_seen) {
        m_edits.clear();
        return;
    }
    Commit(before);
}

bool PlanEditor::FollowFile() {
    FileView now = ReadFileView();
    if (now == m_seen)
        return false;
    m_seen = std::move(now);
    Load(m_seen);
    if (m_notify)
        m_notify(res::PlanFileReloadedText(m_chinese));
    return true;
}

PlanRow PlanEditor::Identity(int row) const {
    const auto plan = m_plans.Plans(m_kind).find(m_rowKeys.at(static_cast<size_t>(row)));
    PlanRow shown = plan == m_plans.Plans(m_kind).end() ? m_rows.at(static_cast<size_t>(row))
                                                        : RowOf("", plan->second);
    shown.erase(shown.begin());
    return shown;
}

std::vector<int> PlanEditor::FindRows(const std::vector<PlanRow>& identities) const {
    std::vector<bool> used(m_rows.size(), false);
    std::vector<int> found;
    for (const PlanRow& identity : identities) {
        int at = -1;
        for (size_t r = 0; r < m_rows.size() && at < 0; ++r) {
            if (!used[r] && Identity(static_cast<int>(r)) == identity)
                at = static_cast<int>(r);
        }
        if (at >= 0)
            used[static_cast<size_t>(at)] = true;
        found.push_back(at);
    }
    return found;
}

void PlanEditor::TellGone() const {
    platform::AskYesNo(res::PlanGoneText(m_chinese),
                       res::Text(res::Msg::SystemInformation, m_chinese),
                       res::LanguageId(m_chinese));
}

bool PlanEditor::InsertPlanRow(const std::string& name, const std::vector<std::string>& fields) {
    if (m_rows.size() >= static_cast<size_t>(kMaxPlanRows)) {
        platform::AskYesNo(res::RowLimitText(kMaxPlanRows), res::kRowLimitCaption,
                           platform::kLangEnglish);
        return false;
    }
    const auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    const std::string signal = SourceName(DecimalValue(field(m_kind == PlanDay ? 1 : 2)));
    switch (m_kind) {
        case PlanDay:
            m_rows.push_back({name, field(0), signal});
            break;
        case PlanWeek:
            m_rows.push_back(
                {name, WeekdayName(WeekdayOfText(field(0)), m_chinese), field(1), signal});
            break;
        default:
            m_rows.push_back({name, field(0), field(1), signal});
            break;
    }
    return true;
}

bool PlanEditor::CheckInterval(const PlanChoice& choice, int excludedKey) {
    const PlanItem fresh = ItemOf(choice);
    for (const auto& [key, plan] : Plans()) {
        if (key == excludedKey)
            continue;
        if (m_kind == PlanWeek && plan.weekDay != fresh.weekDay)
            continue;
        if (m_kind == PlanMonth && plan.monthDay != fresh.monthDay)
            continue;
        const int64_t d = PlanDistance(m_kind, plan, fresh);
        if (d >= -10 && d <= 10) {
            platform::AskYesNo(res::IntervalText(m_chinese), res::IntervalCaption(m_chinese),
                               platform::kLangEnglish);
            return false;
        }
    }
    const int key = Plans().empty() ? 0 : Plans().rbegin()->first + 1;
    Plans().emplace(key, fresh);
    return true;
}

void PlanEditor::SortAndRefresh() {
    const std::vector<PlanItem> sorted = SortPlans(Plans(), m_kind);
    Plans().clear();
    m_rows.clear();
    m_rowKeys.clear();
    for (size_t i = 0; i < sorted.size(); ++i) {
        const int key = static_cast<int>(i);
        PlanItem plan = sorted[i];
        PlanRow row = RowOf(PlanKey(key), plan);
        // The plan as its rewritten line will read back.
        if (m_kind == PlanWeek)
            plan.weekDay = std::to_string(WeekdayNumber(row[1]));
        if (m_kind == PlanMonth)
            plan.monthDay = row[1];
        Plans().emplace(key, plan);
        m_rows.push_back(std::move(row));
        m_rowKeys.push_back(key);
    }
    RewriteSection();
}

void PlanEditor::RewriteSection() {
    m_edits.push_back({PlanSection(m_kind), std::nullopt, std::nullopt});
    for (size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i][0] = PlanKey(static_cast<int>(i));
        Put(m_rows[i][0], LineOf(m_rows[i]));
    }
}

bool PlanEditor::RefuseWhenDamaged() {
    if (!Damaged())
        return false;
    // Mended in the file meanwhile: the list now shows it, and the user acts on what it shows.
    if (FollowFile() && !Damaged())
        return true;
    platform::AskYesNo(res::PlanSectionDamagedText(m_damagedLine, m_plans.Path(), m_chinese),
                       res::Text(res::Msg::SystemInformation, m_chinese),
                       res::LanguageId(m_chinese));
    return true;
}

int PlanEditor::FirstSelected(const std::vector<int>& selected, const char* caption) const {
    int first = -1;
    for (int row : selected) {
        if (row >= 0 && static_cast<size_t>(row) < m_rows.size() && (first < 0 || row < first))
            first = row;
    }
    if (first < 0)
        platform::AskYesNo(res::kSelectAnItem, caption, platform::kLangEnglish);
    return first;
}

void PlanEditor::OnAdd(const AskPlan& ask) {
    if (RefuseWhenDamaged())
        return;
    const std::optional<PlanChoice> choice = ask(nullptr);
    // The user may have taken a while: the plans on disk now are the ones the new plan joins.
    FollowFile();
    if (RefuseWhenDamaged())
        return;
    const Snapshot before = Take();
    if (choice && CheckInterval(*choice, -1)) {
        const int count = std::max(Count(), 0);  // a damaged negative count would hide the plan
        const PlanRow row = RowOf(PlanKey(count), *choice);
        m_rows.push_back(row);
        m_rowKeys.push_back(Plans().rbegin()->first);
        Put(row[0], LineOf(row));
        Count() = count == INT_MAX ? count : count + 1;
        PutCount();
    }
    SortAndRefresh();
    Commit(before);
}

void PlanEditor::OnModify(const std::vector<int>& selected, const AskPlan& ask) {
    if (RefuseWhenDamaged())
        return;
    int row = FirstSelected(selected, res::PageTexts(m_kind).selectCaptionModify);
    if (row < 0)
        return;
    const PlanRow picked = Identity(row);
    const PlanItem prefill = ItemOfRow(m_rows[row]);
    const std::optional<PlanChoice> choice = ask(&prefill);
    if (FollowFile()) {
        if (RefuseWhenDamaged())
            return;
        row = choice ? FindRows({picked})[0] : -1;
        if (choice && row < 0) {
            TellGone();
            return;
        }
    }
    const Snapshot before = Take();
    if (choice && CheckInterval(*choice, m_rowKeys[row])) {
        // The new version came in under the largest key; the old one goes.
        Plans().erase(m_rowKeys[row]);
        m_rows[row] = RowOf(m_rows[row][0], *choice);
        m_rowKeys[row] = Plans().rbegin()->first;
        Put(m_rows[row][0], LineOf(m_rows[row]));
    }
    SortAndRefresh();
    Commit(before);
}

void PlanEditor::OnDelete(const std::vector<int>& selected) {
    if (RefuseWhenDamaged())
        return;
    const res::PlanPageTexts& texts = res::PageTexts(m_kind);
    if (FirstSelected(selected, texts.selectCaptionDelete) < 0)
        return;
    if (!platform::AskYesNo(texts.deleteQuestion, texts.deleteCaption, platform::kLangEnglish))
        return;
    std::vector<int> rows;
    std::vector<PlanRow> picked;
    for (int row : selected) {
        if (row >= 0 && static_cast<size_t>(row) < m_rows.size() &&
            std::find(rows.begin(), rows.end(), row) == rows.end()) {
            rows.push_back(row);
            picked.push_back(Identity(row));
        }
    }
    if (FollowFile()) {
        if (RefuseWhenDamaged())
            return;
        rows = FindRows(picked);
        if (std::find(rows.begin(), rows.end(), -1) != rows.end()) {
            TellGone();
            return;
        }
    }
    const Snapshot before = Take();
    std::vector<bool> marked(m_rows.size(), false);
    for (int row : rows)
        marked[static_cast<size_t>(row)] = true;
    Count() -= static_cast<int>(rows.size());
    PutCount();
    for (size_t i = m_rows.size(); i-- > 0;) {
        if (!marked[i])
            continue;
        const std::string name = m_rows[i][0];
        Plans().erase(m_rowKeys[i]);
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(i));
        m_rowKeys.erase(m_rowKeys.begin() + static_cast<std::ptrdiff_t>(i));
        Put(name, std::nullopt);
    }
    RewriteSection();
    SortAndRefresh();
    Commit(before);
}
