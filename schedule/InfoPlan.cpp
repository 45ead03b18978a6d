#include "schedule/InfoPlan.h"

#include <strings.h>
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <ctime>
#include <utility>

#include "link/Commands.h"
#include "platform/Clock.h"
#include "platform/ProfileFile.h"
#include "platform/UiSeam.h"
#include "resources/Captions.h"
#include "schedule/PlanFile.h"

namespace {

// Tells which line stopped the load; lines are numbered from 0, as their keys are.
std::string LoadErrorText(const char* section, int line, const std::string& value, bool chinese) {
    const std::string where = "[" + std::string(section) + "] " + PlanKey(line) + "=" + value;
    if (chinese)
        return "无法读取计划文件：第 " + std::to_string(line) + " 行无效（" + where +
               "）。只载入了此行之前的计划。";
    return "The plan file could not be read: line " + std::to_string(line) + " is invalid (" +
           where + "). Only the plans before this line are loaded.";
}

constexpr int kDaySeconds = 86400;

struct tm LocalFields(int64_t value) {
    const time_t t = static_cast<time_t>(value);
    struct tm fields {};
    localtime_r(&t, &fields);
    return fields;
}

// The moment of today at the time of day of time; a time the clocks skip today gives the first
// second after the gap, with moved set.
bool MomentToday(const platform::LocalTime& today, int64_t time, int64_t* moment,
                 bool* moved = nullptr) {
    const struct tm t = LocalFields(time);
    bool shifted = false;
    const bool ok = MakeLocalMomentOrAfterGap(today.year, today.month, today.day, t.tm_hour,
                                              t.tm_min, t.tm_sec, moment, &shifted);
    if (moved != nullptr)
        *moved = shifted;
    return ok;
}

bool AppliesOn(int kind, const PlanItem& plan, const platform::LocalTime& today) {
    switch (kind) {
        case PlanDay:
            return true;
        case PlanWeek:
            return plan.weekDay == std::to_string(today.weekday);
        case PlanMonth:
            return DecimalValue(plan.monthDay) == today.day;
        case PlanOnce: {
            const struct tm d = LocalFields(plan.date);
            return d.tm_year + 1900 == today.year && d.tm_mon + 1 == today.month &&
                   d.tm_mday == today.day;
        }
        default:
            return false;
    }
}

}  // namespace

CInfoPlan::CInfoPlan(std::string path) : m_path(std::move(path)) {}

std::map<int, PlanItem>& CInfoPlan::Plans(int kind) {
    const std::array<std::map<int, PlanItem>*, 4> maps = {&m_dayPlans, &m_weekPlans, &m_monthPlans,
                                                          &m_oncePlans};
    return *maps.at(kind);
}

int& CInfoPlan::Count(int kind) {
    const std::array<int*, 4> counts = {&m_dayCount, &m_weekCount, &m_monthCount, &m_onceCount};
    return *counts.at(kind);
}

int CInfoPlan::FileCount(int kind) const {
    return DecimalValue(
        platform::GetProfileString(m_path, kPlanCountSection, PlanCountKey(kind), "00"));
}

void CInfoPlan::LoadPlanCounts() {
    for (int kind = PlanDay; kind <= PlanOnce; ++kind)
        Count(kind) = FileCount(kind);
}

std::map<int, std::string> CInfoPlan::CountedLines(int kind) {
    return CountedLines(kind, Count(kind));
}

std::map<int, std::string> CInfoPlan::CountedLines(int kind, int count) const {
    std::map<int, std::string> lines;
    for (auto& [key, value] : platform::GetProfileSection(m_path, PlanSection(kind))) {
        const int n = key.size() > 4 ? DecimalValue(std::string_view(key).substr(4)) : -1;
        // Only the key's own spelling counts: "Time05" is not the key of line 5.
        if (n >= 0 && n < count && strcasecmp(PlanKey(n).c_str(), key.c_str()) == 0)
            lines.emplace(n, std::move(value));  // the first line of a key wins
    }
    return lines;
}

bool CInfoPlan::LoadAllPlans(bool chinese, std::string* errorText) {
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        // A counted key that is missing reads as "00", too few fields: skipped like the others.
        for (const auto& [n, line] : CountedLines(kind)) {
            PlanItem item;
            const PlanLine result = ParsePlanLine(kind, line, &item);
            if (result == PlanLine::TooFewFields)
                continue;
            if (result == PlanLine::Invalid) {
                const std::string text = LoadErrorText(PlanSection(kind), n, line, chinese);
                if (errorText != nullptr)
                    *errorText = text;
                else
                    platform::AskYesNo(text, res::Text(res::Msg::SystemInformation, chinese),
                                       res::LanguageId(chinese));
                return false;
            }
            Plans(kind).emplace(n, item);  // an index already there keeps its plan
        }
    }
    return true;
}

bool CInfoPlan::WritePlanEntry(const std::string& section, const char* key,
                               const char* value) const {
    return platform::WriteProfileString(m_path, section, key, value);
}

bool CInfoPlan::WritePlanEntries(const std::vector<platform::ProfileEdit>& edits) const {
    return platform::WriteProfileStrings(m_path, edits);
}

void CInfoPlan::AddTodayPlans(int kind, bool v2IsYPbPr, int64_t afterMs) {
    int key = m_todayPlans.empty() ? 0 : m_todayPlans.rbegin()->first + 1;
    const int64_t nowMs = platform::CurrentClock().NowMs();
    const platform::LocalTime today = platform::ToLocal(nowMs);
    const int64_t fromMs = afterMs < 0 ? nowMs : afterMs;
    const uint8_t leftOut = v2IsYPbPr ? devlink::kV2 : devlink::kYPbPr;
    for (const auto& [index, plan] : Plans(kind)) {
        int64_t moment = 0;
        bool moved = false;
        if (!AppliesOn(kind, plan, today) || !MomentToday(today, plan.time, &moment, &moved) ||
            moment * 1000 <= fromMs)
            continue;
        if (kind == PlanDay && plan.source == leftOut)
            continue;
        PlanItem due = plan;
        due.time = moment;
        m_todayPlans.emplace(key++, due);
        if (moved)
            m_movedToday.emplace_back(plan, moment);
    }
}

int CInfoPlan::TakeNextPlan(bool remove, PlanItem* next) {
    const int64_t now = platform::CurrentClock().NowMs() / 1000;
    const platform::LocalTime today = platform::ToLocal(now * 1000);
    int best = kDaySeconds;
    auto chosen = m_todayPlans.end();
    for (auto it = m_todayPlans.begin(); it != m_todayPlans.end(); ++it) {
        int64_t moment = 0;
        if (!MomentToday(today, it->second.time, &moment))
            continue;
        const int difference = static_cast<int>(moment - now);
        if (difference < best) {
            best = difference;
            chosen = it;
            *next = it->second;
            next->time = moment;
        }
    }
    if (remove && chosen != m_todayPlans.end())
        m_todayPlans.erase(chosen);
    return best == kDaySeconds ? 0 : best;
}
