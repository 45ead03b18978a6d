#include "schedule/InfoPlan.h"

#include <array>
#include <utility>

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

void CInfoPlan::LoadPlanCounts() {
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        Count(kind) = DecimalValue(
            platform::GetProfileString(m_path, kPlanCountSection, PlanCountKey(kind), "00"));
    }
}

bool CInfoPlan::LoadAllPlans(bool chinese, std::string* errorText) {
    for (int kind = PlanDay; kind <= PlanOnce; ++kind) {
        for (int n = 0; n < Count(kind); ++n) {
            const std::string line =
                platform::GetProfileString(m_path, PlanSection(kind), PlanKey(n), "00");
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
