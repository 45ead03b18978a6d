#include "resources/PlanTexts.h"

#include "resources/AddPlanIds.h"
#include "resources/ProgramIds.h"

namespace res {

namespace {

struct Pair {
    const char* zh;
    const char* en;
};

const char* Pick(const Pair& p, bool chinese) {
    return chinese ? p.zh : p.en;
}

const Pair kTabs[] = {
    {"日定时", "DayPlan"},
    {"周定时", "WeekPlan"},
    {"月定时", "MonthPlan"},
    {"一次定时", "One_time Plan"},
};

const Pair kButtons[] = {{"添加", "Add"}, {"修改", "Modify"}, {"删除", "Delete"}};

// The day column of week, month and one-time pages.
const Pair kDayHeadings[] = {{"", ""}, {"周日期", "WDay"}, {"月日期", "Day"}, {"日期", "Date"}};

const Pair kListNames[] = {
    {"日定时列表", "Day plans"},
    {"周定时列表", "Week plans"},
    {"月定时列表", "Month plans"},
    {"一次定时列表", "One-time plans"},
};

const PlanPageTexts kPageTexts[] = {
    {"System information", "System Information",
     "Are you Sure  want to delete the current timing settings? ", "System Information "},
    {"System information", "System information",
     "Are you Sure  want to delete the current timing settings?", "System information"},
    {"System Information", "System Information",
     "Are you Sure  want to delete the current timing settings? ", "System Information "},
    {"System Information", "System Information",
     "Are you sure  want to delete the current timing settings?", "System Information "},
};

}  // namespace

const Caption kProgramCaptions[] = {
    {kWindowTitle, "任务", "Program"},
    {progids::kExit, "退出", "Exit"},
};
const int kProgramCaptionCount = sizeof kProgramCaptions / sizeof kProgramCaptions[0];

const Caption kAddPlanCaptions[] = {
    {kWindowTitle, "任务参数", "Plan"},
    {addplanids::kQuestion, "添加一个新任务?", "Add a plan?"},
    {addplanids::kWeekDayLabel, "周日期", "Day of week"},
    {addplanids::kMonthDayLabel, "月日期", "Day of month"},
    {addplanids::kSourceGroup, "信号选择", "Source"},
};
const int kAddPlanCaptionCount = sizeof kAddPlanCaptions / sizeof kAddPlanCaptions[0];

const char* PlanTabCaption(int kind, bool chinese) {
    return kind >= 0 && kind < 4 ? Pick(kTabs[kind], chinese) : "";
}

const char* PlanTabsName(bool chinese) {
    return chinese ? "定时类型" : "Plan kinds";
}

const char* PlanButtonCaption(int button, bool chinese) {
    return button >= 0 && button < 3 ? Pick(kButtons[button], chinese) : "";
}

const char* PlanNameHeading(bool chinese) {
    return chinese ? "名称" : "Name";
}

const char* PlanDayHeading(int kind, bool chinese) {
    return kind >= 0 && kind < 4 ? Pick(kDayHeadings[kind], chinese) : "";
}

const char* PlanTimeHeading(bool chinese) {
    return chinese ? "时间" : "Time";
}

const char* PlanSignalHeading(bool chinese) {
    return chinese ? "信号" : "Signal";
}

const char* PlanListName(int kind, bool chinese) {
    return kind >= 0 && kind < 4 ? Pick(kListNames[kind], chinese) : "";
}

const PlanPageTexts& PageTexts(int kind) {
    return kPageTexts[kind >= 0 && kind < 4 ? kind : 0];
}

std::string RowLimitText(int limit) {
    return "The plan items of one day can not exceed " + std::to_string(limit) + ".";
}

const char* IntervalText(bool chinese) {
    return chinese ? "对不起，操作不成功，因新添加的定时器与已存定时器之间最小时间间隔为10秒"
                   : "Sorry, opertion is invalid due to that the minimal time interval between a "
                     "new plan and a exsisted one is 10 seconds";
}

const char* IntervalCaption(bool chinese) {
    return chinese ? "系统信息" : "System Information";
}

std::string PlanWriteFailedText(const std::string& path, bool chinese) {
    if (chinese)
        return "无法写入计划文件 " + path + "，此次修改未保存，列表显示文件中的计划。";
    return "The plan file " + path +
           " could not be written. The change was not saved; the list shows the plans the file "
           "holds.";
}

std::string PlanFileForeignText(const std::string& path, bool chinese) {
    if (chinese)
        return path +
               " 不是计划文件（大于 1 MB "
               "或不是文本），不会写入其中：此次修改未保存，文件保持原样。";
    return path +
           " is not a plan file (larger than 1 MB, or not text), and nothing is written into it: "
           "the change was not saved, and the file is left as it is.";
}

std::string PlanSectionDamagedText(const std::string& line, const std::string& path, bool chinese) {
    if (chinese)
        return "计划文件 " + path + " 中的一行无法读取：" + line +
               "。请在文件中改正或删除该行；在此之前，这一页的计划不能修改，以免丢失其后的计划。";
    return "A line of the plan file " + path + " cannot be read: " + line +
           ". Correct or remove that line in the file; until then the plans of this page cannot "
           "be changed here, so that none of the plans after it are lost.";
}

const char* PlanFileReloadedText(bool chinese) {
    return chinese ? "计划文件在读取后已被其他程序修改：已重新读取，列表显示文件中现有的计划。"
                   : "The plan file was changed by another program since it was read: it was "
                     "read again, and the list shows the plans it holds now.";
}

const char* PlanGoneText(bool chinese) {
    return chinese ? "所选的计划已不在计划文件中（文件已被其他程序修改）。未做任何修改；列表显示文"
                     "件中现有的计划。"
                   : "The plan you chose is no longer in the plan file (another program changed "
                     "it). Nothing was changed; the list shows the plans the file holds now.";
}

const char* SchedulerReloadedText(bool chinese) {
    return chinese ? "计划文件已被修改，定时器已重新读取计划。"
                   : "The plan file changed: the timer read the plans again.";
}

const char* SchedulerFileGoneText(bool chinese) {
    return chinese ? "计划文件已不存在，今天的定时保持原样。"
                   : "The plan file is gone: the plans of today stay as they were read.";
}

std::string PlanMissedText(const std::string& time, const std::string& source, bool noLink,
                           bool chinese) {
    if (chinese)
        return "定时 " + time + " " + source + " 未执行：" +
               (noLink ? "在其时间窗口内设备未连接。" : "轮到它时执行时间已过，不再补发。");
    return "Plan " + time + " " + source + " missed: " +
           (noLink ? "the device was not connected within its window."
                   : "its time had passed when its turn came; it is not sent late.");
}

std::string PlanMovedText(const std::string& time, const std::string& movedTo,
                          const std::string& source, bool chinese) {
    if (chinese)
        return "定时 " + time + " " + source + " 改在 " + movedTo + " 执行：今天时钟跳过了 " +
               time + "（夏令时开始）。";
    return "Plan " + time + " " + source + " runs at " + movedTo + ": the clocks skip " + time +
           " today (daylight saving time begins).";
}

const char* TimerExecutedText(bool chinese) {
    return chinese ? "已执行" : "Executed";
}

std::string TimerSentText(const std::string& clock, bool chinese) {
    return (chinese ? "已发送 " : "Sent ") + clock;
}

const char* TimerMissedText(bool chinese) {
    return chinese ? "已错过" : "Missed";
}

const char* TimerFailedText(bool chinese) {
    return chinese ? "失败：未发出" : "Failed: not sent";
}

}  // namespace res
