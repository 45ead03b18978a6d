#include "resources/SwitchTexts.h"

#include "link/Commands.h"

namespace res {

namespace {

struct Pair {
    const char* zh;
    const char* en;
};

// In the order of SwitchMsg.
const Pair kSwitchTexts[] = {
    {"无效操作，仅在mosaic关有效", "Invalid operate only valid in mosaic off"},
    {"无效操作，错误通道", "Invalid operate incorrect source"},
    {"请关闭PIP/Text 或者Take", "Please close PIP/Text Or Take"},
    {"Ext为空，不能切换", "Ext is null,can't switch"},
    {"当前信号是YPbPr,不能打开PIP/Text", "Main signal is YPbPr, can't open PIP/Text"},
    {"预选: 空", "Pre: NULL"},
};

// Before the source name: a blank in English, a tab in Chinese.
const Pair kPreviewPrefix = {"预选:\t", "Pre: "};

// Around the source name: on air, pre-selected.
const Pair kNoSignalOnAir[2] = {{"当前输出的 ", "No signal on "}, {" 无信号", ", which is on air"}};
const Pair kNoSignalPreselected[2] = {{"预选的 ", "No signal on "},
                                      {" 无信号", ", which is pre-selected"}};
const Pair kAlarm = {"警报", "Alarm"};

}  // namespace

const char* SwitchText(SwitchMsg m, bool chinese) {
    const Pair& p = kSwitchTexts[static_cast<int>(m)];
    return chinese ? p.zh : p.en;
}

std::string PreviewLabel(int code, bool chinese) {
    const char* name = code >= 0 && code < devlink::kYPbPr ? devlink::SourceLabel(code) : "NULL";
    return std::string(chinese ? kPreviewPrefix.zh : kPreviewPrefix.en) + name;
}

}  // namespace res

namespace res {

std::string NoSignalText(int code, bool onAir, bool chinese) {
    const char* name = devlink::SourceLabel(code);
    const Pair* around = onAir ? kNoSignalOnAir : kNoSignalPreselected;
    return std::string(chinese ? around[0].zh : around[0].en) + (name != nullptr ? name : "?") +
           (chinese ? around[1].zh : around[1].en);
}

const char* AlarmDescription(bool chinese) {
    return chinese ? kAlarm.zh : kAlarm.en;
}

}  // namespace res
