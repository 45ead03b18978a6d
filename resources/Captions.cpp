#include "resources/Captions.h"

#include <cerrno>
#include <cstring>

#include "platform/UiSeam.h"
#include "resources/AdvancedIds.h"
#include "resources/ControlIds.h"

namespace res {

const Caption kMainCaptions[] = {
    {kWindowTitle, "QUOLANORN312控制软件(V1.13)", "QUOLAN ORN312 Processor Controller(V1.13)"},
    {ids::kDeviceIdLabel, "设备ID", "Device_ID"},
    {ids::kPortLabel, "Rs232串口:", "Rs232_Com_Port:"},
    {ids::kSourceGroup, "信号", "Source"},
    {ids::kInfoGroup, "信息", "Info"},
    {ids::kTimerGroup, "定时器", "Timer"},
    {ids::kFunctionGroup, "功能", "Function"},
    {ids::kPipGroup, "PIP模式", "PIP_Mode", "PIP"},
    {ids::kLanguageGroup, "中文/英文", "CH/EN"},
    {ids::kTransitionGroup, "切换效果", "Cut/Fade"},
    {ids::kSwitchModeGroup, "切换模式", "Switch Mode"},
    {ids::kConnect, "连接", "Connect"},
    {ids::kDisconnect, "断开连接", "Disconnect"},
    {ids::kDay, "日定时", "Day"},
    {ids::kWeek, "周定时", "Week"},
    {ids::kMonth, "月定时", "Month"},
    {ids::kOnce, "一次定时", "Once"},
    {ids::kAll, "所有定时", "All"},
    {ids::kStart, "启动定时", "Start"},
    {ids::kStop, "停止定时", "Stop"},
    {ids::kProgram, "设置定时", "Program"},
    {ids::kSetup, "屏幕设置", "Setup"},
    {ids::kMosaicDlg, "快速拼接", "Mosaic"},
    {ids::kResolution, "分辨率", "Resolution"},
    {ids::kExit, "退出", "Exit"},
    {ids::kCurrentTimerGroup, "当前定时", "Current Timer"},
    {ids::kNextTimerGroup, "下一个定时", "Next Timer"},
    {ids::kCurrentLabels[0], "时间:", "Time:"},
    {ids::kNextLabels[0], "时间:", "Time:"},
    {ids::kCurrentLabels[1], "信号:", "Signal:"},
    {ids::kNextLabels[1], "信号:", "Signal:"},
    {ids::kCurrentLabels[2], "状态:", "Status:"},
    {ids::kNextLabels[2], "状态:", "Status:"},
    {ids::kCurrentLabels[3], "结果:", "Result:"},
    {ids::kNextLabels[3], "结果:", "Result:"},
    {ids::kAutoConnect, "自动连接", "AutoConnect"},
    {ids::kStartTimer, "自动启动定时", "StartTimer"},
    {ids::kSerialNetworkGroup, "串口/网络", "Serial/Network"},
    {ids::kSerialRadio, "串口", "Serial"},
    {ids::kNetworkRadio, "网络", "Network"},
    {ids::kOneKeySwitch, "一键直接切换", "One Key Switch"},
    {ids::kPreTakeSwitch, "预选+TAKE切换", "Pre + TAKE Switch"},
};
const int kMainCaptionCount = sizeof kMainCaptions / sizeof kMainCaptions[0];

const Caption kAboutItem{0, "关于 ORN312Control(&A)...", "&About ORN312Control..."};

const FixedCaption kMainFixedCaptions[] = {
    {ids::kV1, "V1"},
    {ids::kV2, "V2"},
    {ids::kVga1, "VGA1"},
    {ids::kVga2, "VGA2"},
    {ids::kHdmi, "HDMI"},
    {ids::kDvi, "DVI"},
    {ids::kDp, "DP"},
    {ids::kExt, "EXT."},
    {ids::kPipPbp, "PIP/PBP"},
    {ids::kM1, "M1"},
    {ids::kM2, "M2"},
    {ids::kM3, "M3"},
    {ids::kText, "TEXT"},
    {ids::kBypass, "BYPASS"},
    {ids::kFreeze, "FREEZE"},
    {ids::kMosaicFn, "MOSAIC"},
    {ids::kExtGroup, "EXT."},
    {ids::kExtRadios[0], "NULL"},
    {ids::kExtRadios[1], "SDI"},
    {ids::kExtRadios[2], "VGA"},
    {ids::kExtRadios[3], "DVI"},
    {ids::kExtRadios[4], "VIDEO"},
    {ids::kTransitionRadios[0], "Cut"},
    {ids::kTransitionRadios[1], "0.5S"},
    {ids::kTransitionRadios[2], "1.0S"},
    {ids::kTransitionRadios[3], "1.5S"},
    {ids::kDeviceIdRadios[0], "1"},
    {ids::kDeviceIdRadios[1], "2"},
    {ids::kDeviceIdRadios[2], "3"},
    {ids::kDeviceIdRadios[3], "4"},
    {ids::kDeviceIdRadios[4], "5"},
    {ids::kDeviceIdRadios[5], "6"},
    {ids::kPreviewLabel, "Pre: V1"},
    {ids::kAutoTake, "AUTO"},
};
const int kMainFixedCaptionCount = std::size(kMainFixedCaptions);

const char* const kAboutTitle = "关于 ORN312Control";
const char* const kAboutLines[2] = {"ORN312  V1.13", "2016-08-04"};
const char* const kOkCaption = "OK";
const char* const kRateUnit = "Hz";

const char* FixedText(std::span<const FixedCaption> set, int id) {
    for (const FixedCaption& c : set) {
        if (c.id == id) {
            return c.text;
        }
    }
    return "";
}

const char* StartCaption(std::span<const Caption> set, int id) {
    for (const Caption& c : set) {
        if (c.id == id) {
            return c.start != nullptr ? c.start : c.en;
        }
    }
    return "";
}

const char* PanelButtonCaption(bool collapsed, bool chinese) {
    if (collapsed) {
        return chinese ? "定时器>>" : "Timer>>";
    }
    return chinese ? "定时器<<" : "Timer<<";
}

namespace {

struct Pair {
    const char* zh;
    const char* en;
};

const Pair kMessages[] = {
    {"打开串口成功", "Open com port successful"},
    {"打开串口失败", "Open com port fail"},
    {"打开网络通讯成功", "Open network successful"},
    {"打开网络通讯失败", "Open network failed"},
    {"设备连接成功", "Communications equipment normal"},
    {"设备连接失败，请检查设备地址", "Equipment connection failed"},
    {"设备无响应，请检查设备和连接", "Device not responding, check the device and the cable"},
    {"设备已断开连接，请重新连接", "The device closed the connection, please connect again"},
    {"端口号超出范围,范围是0~65535", "Port out of range，range is 0~65535"},
    {"系统消息", "System information"},
    {"设备未连接，无法进行设置", "Device is not connected"},
    {"确认退出?", "Do you want to exit?"},
    {"系统信息", "System information"},
    {"正在连接设备，请等侯", "Connecting device,please waiting"},
    {"正在修改分辨率", "Changing resolution"},
    {"正在修改点频", "Changing dotlock"},
    {"未执行", "No Execution"},
    {"即将执行", "Immediate Execution"},
    {"未知", "Unknown"},
    {"请选定要启动的定时器", "Please select a timer to start"},
    {"设置未保存：无法写入 Planinfo.ini", "Settings not saved: Planinfo.ini cannot be written"},
    {"串口正被其他程序使用", "The serial port is in use by another program"},
    {"已断开与设备的连接", "Disconnected from the device"},
    {"快速拼接后连接已关闭，请重新连接",
     "The connection was closed after the fast mosaic, please connect again"},
    {"经由服务的共享线路，定时任务在服务中运行",
     "through the service's shared line, the plans run in the service"},
    {"Planinfo.ini 不是计划文件（大于 1 MB）：显示默认设置，文件保持原样",
     "Planinfo.ini is not a plan file (larger than 1 MB): default settings are shown, the file "
     "is left as it is"},
    {"Planinfo.ini 不是计划文件（不是文本）：显示默认设置，文件保持原样",
     "Planinfo.ini is not a plan file (not text): default settings are shown, the file is left "
     "as it is"},
    {"设置未保存：Planinfo.ini 不是计划文件",
     "Settings not saved: Planinfo.ini is not a plan file"},
    {"连接已断开，正在重新连接", "Connection lost, connecting again"},
};

}  // namespace

const char* Text(Msg m, bool chinese) {
    const Pair& p = kMessages[static_cast<int>(m)];
    return chinese ? p.zh : p.en;
}

std::string ReconnectText(int seconds, int attempt, bool chinese) {
    const std::string s = std::to_string(seconds), n = std::to_string(attempt);
    if (chinese)
        return std::string(Text(Msg::Reconnecting, true)) + "：" + s + " 秒后第 " + n + " 次尝试";
    return std::string(Text(Msg::Reconnecting, false)) + " in " + s + " s (attempt " + n + ")";
}

std::string ConnectReason(int errnoValue, bool chinese) {
    static const struct {
        int errnoValue;
        const char* zh;
    } kReasons[] = {
        {ECONNREFUSED, "连接被拒绝"},
        {EHOSTUNREACH, "无法到达主机"},
        {ENETUNREACH, "网络不可达"},
        {ETIMEDOUT, "连接超时"},
    };
    if (chinese) {
        for (const auto& r : kReasons) {
            if (r.errnoValue == errnoValue)
                return r.zh;
        }
    }
    return std::strerror(errnoValue);
}

const char* ProgressText(int purpose, bool chinese) {
    switch (purpose) {
        case 1:
            return Text(Msg::ProgressConnecting, chinese);
        case 2:
            return Text(Msg::ProgressResolution, chinese);
        case 3:
            return Text(Msg::ProgressDotClock, chinese);
        default:
            return "Connecting device，please waiting.........";
    }
}

int LanguageId(bool chinese) {
    return chinese ? platform::kLangChinese : platform::kLangEnglish;
}

// ---- output resolution dialog (dialog 155) ----

const Caption kAdvancedCaptions[] = {
    {kWindowTitle, "分辨率", "Resolution", "高级设置"},
    {advids::kGroup, "输出分辨率", "Output_Resolution"},
    {advids::kWidthLabel, "宽", "Width"},
    {advids::kHeightLabel, "高", "Height"},
    {advids::kRateLabel, "场频", "Hz"},
    {advids::kSave, "保存", "Save"},
    {advids::kOk, "确定", "OK"},
};
const int kAdvancedCaptionCount = sizeof kAdvancedCaptions / sizeof kAdvancedCaptions[0];

const Caption kAdvancedNames[] = {
    {advids::kList, "输出分辨率", "Output resolution"},
    {advids::kWidth, "自定义宽", "Custom width"},
    {advids::kHeight, "自定义高", "Custom height"},
    {advids::kRate, "自定义场频", "Custom field rate"},
    {advids::kSave, "保存自定义分辨率", "Save custom resolution"},
};
const int kAdvancedNameCount = sizeof kAdvancedNames / sizeof kAdvancedNames[0];

const char* Text(AdvancedMsg m, bool chinese) {
    switch (m) {
        case AdvancedMsg::DotClockOutOfRange:
            return chinese ? "超出点频范围，点频范围是25999001~164998999"
                           : "Dotlock out of range，range is 25999001~164998999";
        case AdvancedMsg::DotClockCaption:
            return chinese ? "系统消息" : "System information";
        case AdvancedMsg::SendFailed:
            return chinese ? "设置失败：命令未能发送到设备"
                           : "Set failed: the command did not reach the device";
    }
    return "";
}

}  // namespace res
