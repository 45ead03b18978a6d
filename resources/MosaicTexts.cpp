#include "resources/MosaicTexts.h"

#include <cstdio>

#include "resources/MosaicIds.h"

namespace res {

const Caption kMosaicCaptions[] = {
    {kWindowTitle, "快速拼接", "Fast Mosaic"},
    {mosaic::ids::kSpecGroup, "规格", "Specification"},
    {mosaic::ids::kRowLabel, "行", "Row"},
    {mosaic::ids::kColumnLabel, "列", "Column"},
    {mosaic::ids::kSpecOk, "确定", "OK"},
    {mosaic::ids::kConnectGroup, "连接", "Connect"},
    {mosaic::ids::kConnect, "连接", "Connect"},
    {mosaic::ids::kMosaicGroup, "拼接", "Mosaic"},
    {mosaic::ids::kResolutionGroup, "分辨率", "Resolution"},
    {mosaic::ids::kModeGroup, "拼接模式", "MosaicMode"},
    {mosaic::ids::kNoSyncMosaic, "非同步拼接", "No Sync Mosaic"},
    {mosaic::ids::kSyncMosaic, "同步拼接", "Sync Mosaic"},
    {mosaic::ids::kAutoCalculate, "自动计算", "Auto Calculate"},
    {mosaic::ids::kInputLabels[0], "输入宽度", "InputWidth"},
    {mosaic::ids::kInputLabels[1], "输入高度", "InputHeight"},
    {mosaic::ids::kInputLabels[2], "水平起始", "HorizontalStart"},
    {mosaic::ids::kInputLabels[3], "垂直起始", "VerticalStart"},
    {mosaic::ids::kOutputLabels[0], "输出宽度", "OutputWidth"},
    {mosaic::ids::kOutputLabels[1], "输出高度", "OutputHeight"},
    {mosaic::ids::kOutputLabels[2], "水平起始", "HorizontalStart"},
    {mosaic::ids::kOutputLabels[3], "垂直起始", "VerticalStart"},
    {mosaic::ids::kInputCalculatedHead, "   计算值", "Calculated"},
    {mosaic::ids::kOutputCalculatedHead, "   计算值", "Calculated"},
    {mosaic::ids::kInputAdjustedHead, "微调值", "Adjusted"},
    {mosaic::ids::kOutputAdjustedHead, "微调值", "Adjusted"},
    {mosaic::ids::kSetInput, "设置", "Set"},
    {mosaic::ids::kSetOutput, "设置", "Set"},
    {mosaic::ids::kDetect, "检测", "Detect"},
    {mosaic::ids::kExit, "退出", "Exit"},
};
const int kMosaicCaptionCount = sizeof kMosaicCaptions / sizeof kMosaicCaptions[0];

namespace {

struct Box {
    MessageBoxText zh, en;
};

// In the order of MosaicMsg.
const Box kMessages[] = {
    {{"对不起，不支持超过(6 X 8)的拼接规格", "系统消息"},
     {"Sorry, Does not support the splicing Specifications (6 X 8)", "System information"}},
    {{"对不起，不支持小于(1 X 1)的拼接规格", "系统消磁"},
     {"Sorry, does not support the splice specifications of less than (1 X 1)",
      "System information"}},
    {{"对不起，请将横向数据填写完整,否则无法进行拼接计算", "系统消息"},
     {"Sorry, please complete horizontal data, or can not be calculated", "System Information"}},
    {{"对不起，请将纵向数据填写完整,否则无法进行拼接计算", "系统消息"},
     {"Sorry, please complete Vertical data, or can not be calculated", "System Information"}},
    {{"对不起，数据超出预定范围", "系统消息"}, {"Sorry, data out of range", "System Information"}},
    {{"值越界", "系统信息"}, {"Data out of range", "System information"}},
    {{"输入值必须是偶数，不能是奇数", "系统信息"},
     {"The input value must be even, and can not be odd", "System information"}},
    {{"请连接好串口", "系统提示 "}, {"Please connect the serial port", "System infomation"}},
    {{"无法连接到设备，请检测设备地址", "系统消息"},
     {"Can not connect to the device, detection device address", "System infomation"}},
    {{"请检测DVI通道是否有信号", "系统消磁"},
     {"Please detection DVI channel signal", "System infomation"}},
    {{"请检测DVI通道是否有信号", "系统信息"},
     {"Please detection DVI channel signal", "System information"}},
    {{"设置成功", "系统信息"}, {"Set up successfully", "System information"}},
    {{"设置失败：命令未能发送到设备", "系统信息"},
     {"Set failed: the command did not reach the device", "System information"}},
};

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

}  // namespace

MessageBoxText MosaicMessage(MosaicMsg m, bool chinese) {
    const Box& b = kMessages[static_cast<int>(m)];
    return chinese ? b.zh : b.en;
}

std::string EffectsShowCaption(int width, int height, bool chinese) {
    return Format(chinese ? "效果展示（请输入每块显示屏的宽度和高度数值：宽度<=%d，高度<=%d）"
                          : "Effects show（Please enter each screen width and height "
                            "values：Width<=%d，Height<=%d）",
                  width, height);
}

std::string WindowGroupCaption(bool output, int screen, bool chinese) {
    if (output) {
        return Format(chinese ? "输出（窗口号：%.3d）" : "Output（WindowID：%.3d）", screen);
    }
    return Format(chinese ? "输入（窗口号：%.3d）" : "Input（WindowID：%.3d）", screen);
}

std::string CustomResolutionText(int width, int height, int rate, bool chinese) {
    return Format(chinese ? "%dx%d@%dHz(自定义)" : "%dx%d@%dHz(Custom)", width, height, rate);
}

const char* ScreenBoxLabel(bool height, bool chinese) {
    if (height) {
        return chinese ? "高" : "Height";
    }
    return chinese ? "宽" : "Width";
}

const char* ScreenWord(bool chinese) {
    return chinese ? "屏幕" : "Screen";
}

const char* SelectedWord(bool chinese) {
    return chinese ? "已选中" : "selected";
}

const char* SideWord(bool output, bool chinese) {
    if (output) {
        return chinese ? "输出" : "Output";
    }
    return chinese ? "输入" : "Input";
}

const char* ArrowWord(bool up, bool chinese) {
    if (up) {
        return chinese ? "增加" : "up";
    }
    return chinese ? "减少" : "down";
}

const char* DeviceIdWord(bool chinese) {
    return chinese ? "设备ID" : "Device ID";
}

// ---- the whole wall ----------------------------------------------------------------------------

namespace {

// In the order of WallWord.
const Box kWallWords[] = {
    {{"整墙设置", ""}, {"Set whole wall", ""}},
    {{"停止", ""}, {"Stop", ""}},
    {{"起始ID", ""}, {"First ID", ""}},
    {{"整墙设置", ""}, {"Whole wall", ""}},
    {{"保存拼接墙…", ""}, {"Save wall…", ""}},
    {{"载入拼接墙…", ""}, {"Load wall…", ""}},
    {{"重试失败的屏幕", ""}, {"Retry failed screens", ""}},
    {{"关闭", ""}, {"Close", ""}},
    {{"屏幕", ""}, {"Screen", ""}},
    {{"设备ID", ""}, {"Device ID", ""}},
    {{"宽", ""}, {"Width", ""}},
    {{"高", ""}, {"Height", ""}},
    {{"输入微调(宽,高,水平,垂直)", ""}, {"Input adjust (W,H,X,Y)", ""}},
    {{"输出微调(宽,高,水平,垂直)", ""}, {"Output adjust (W,H,X,Y)", ""}},
    {{"结果", ""}, {"Result", ""}},
    {{"拼接墙文件 (*.wall);;所有文件 (*)", ""}, {"Wall files (*.wall);;All files (*)", ""}},
    {{"整墙设置进度", ""}, {"Whole wall progress", ""}},
    {{"无法设置整墙，未发送任何数据：", ""}, {"The wall cannot be set; nothing was sent:", ""}},
    {{"系统信息", ""}, {"System information", ""}},
    {{"起始ID太大：最后一块屏幕的ID将超过255", ""},
     {"The first ID is too high: the last screen's ID would pass 255", ""}},
    {{"各屏设置…", ""}, {"Wall screens…", ""}},
    {{"微调值应为四个整数：宽,高,水平起始,垂直起始（-32768..32767）", ""},
     {"An adjustment is four whole numbers: width,height,horizontal start,vertical start "
      "(-32768..32767)",
      ""}},
    {{"结果汇总", ""}, {"Summary", ""}},
    {{"正在设置…", ""}, {"Setting…", ""}},
    {{"文件已存在，是否替换？\n", ""}, {"The file exists. Replace it?\n", ""}},
    {{"尚未布置拼接墙（自动计算、各屏设置表或拼接墙文件）。将按以下内容设置：", ""},
     {"The wall has not been laid out (by Auto Calculate, the wall screens table or a wall "
      "file). This is what would be set:",
      ""}},
    {{"拼接墙未保存，下次打开时不会显示：", ""},
     {"The wall is not kept for the next opening:", ""}},
    {{"拼接墙无法保存到计划文件，下次打开时不会显示", ""},
     {"The wall could not be kept in the plan file; the next opening will not show it", ""}},
};
static_assert(sizeof kWallWords / sizeof kWallWords[0] == static_cast<size_t>(WallWord::Count));

std::string Three(int n) {
    return Format("%.3d", n);
}

}  // namespace

const char* WallText(WallWord w, bool chinese) {
    const Box& b = kWallWords[static_cast<int>(w)];
    return chinese ? b.zh.text : b.en.text;
}

std::string WallProgressText(int position, int count, int screen, int secondsLeft, bool chinese) {
    return Format(
        chinese ? "第 %d/%d 块屏幕（%.3d），约剩 %d 秒" : "Screen %d of %d (%.3d), about %d s left",
        position, count, screen, secondsLeft);
}

const char* WallResultShort(WallResultWord result, bool chinese) {
    switch (result) {
        case WallResultWord::NotDone:
            return chinese ? "未设置" : "not set";
        case WallResultWord::Verified:
            return chinese ? "已设置并核对" : "set and verified";
        case WallResultWord::NotAnswering:
            return chinese ? "无应答" : "not answering";
        case WallResultWord::Different:
            return chinese ? "回读不一致" : "read back different";
        case WallResultWord::NotSent:
            return chinese ? "未发送：连接失败" : "not sent: the link failed";
        case WallResultWord::Stopped:
            return chinese ? "设置途中已停止" : "stopped while being set";
    }
    return "";
}

std::string WallScreenLine(int screen, int deviceId, WallResultWord result,
                           const std::string& details, bool chinese) {
    std::string line = chinese ? "屏幕 " + Three(screen) + "（ID " + std::to_string(deviceId) +
                                     "）：" + WallResultShort(result, true)
                               : "Screen " + Three(screen) + " (ID " + std::to_string(deviceId) +
                                     "): " + WallResultShort(result, false);
    if (!details.empty()) {
        line += (chinese ? "：" : ": ") + details;
    }
    return line;
}

std::string WallWindowDifference(bool output, const std::string& read, const std::string& sent,
                                 bool chinese) {
    if (chinese) {
        return std::string(output ? "输出窗口 " : "输入窗口 ") + read + "（发送的是 " + sent + "）";
    }
    return std::string(output ? "output window " : "input window ") + read + " (sent " + sent + ")";
}

std::string WallSizeDifference(int width, int height, int wallWidth, int wallHeight, bool chinese) {
    return Format(chinese ? "输出分辨率 %dx%d（拼接墙按 %dx%d 计算）"
                          : "output %dx%d (the wall is laid out for %dx%d)",
                  width, height, wallWidth, wallHeight);
}

std::string WallSummaryHead(int verified, int count, bool chinese) {
    if (chinese) {
        return Format("%d 块屏幕中 %d 块已设置并核对。", count, verified);
    }
    return Format("%d of %d screens set and verified.", verified, count);
}

std::string WallRetryQuestion(int failed, bool chinese) {
    if (chinese) {
        return Format("重试未通过核对的 %d 块屏幕吗？", failed);
    }
    return Format(failed == 1 ? "Retry the %d screen that did not verify?"
                              : "Retry the %d screens that did not verify?",
                  failed);
}

std::string WallProblemLine(WallProblemWord problem, int screen, int deviceId, int otherScreen,
                            bool chinese) {
    const std::string s = Three(screen);
    switch (problem) {
        case WallProblemWord::DeviceId:
            return chinese ? "屏幕 " + s + "：设备ID " + std::to_string(deviceId) + " 超出 1..255"
                           : "Screen " + s + ": device ID " + std::to_string(deviceId) +
                                 " is outside 1..255";
        case WallProblemWord::SameId:
            return chinese ? "屏幕 " + s + " 与屏幕 " + Three(otherScreen) + " 的设备ID相同（" +
                                 std::to_string(deviceId) + "）"
                           : "Screen " + s + " has the same device ID as screen " +
                                 Three(otherScreen) + " (" + std::to_string(deviceId) + ")";
    }
    return "";
}

std::string WallWindowFault(int screen, bool output, bool vertical, int quantity, WindowFault fault,
                            WindowNumbers w, long long value, long long limit, bool chinese) {
    const auto n = [](long long v) { return std::to_string(v); };
    const std::string window =
        chinese ? std::string(output ? "输出窗口 " : "输入窗口 ") + n(w.width) + " x " +
                      n(w.height) + " 位置 " + n(w.hStart) + "," + n(w.vStart)
                : std::string(output ? "output window " : "input window ") + n(w.width) + " x " +
                      n(w.height) + " at " + n(w.hStart) + "," + n(w.vStart);
    const std::string side = output ? (chinese ? "输出" : "output") : (chinese ? "输入" : "input");
    const std::string extent = chinese
                                   ? side + (vertical ? "高度 " : "宽度 ") + n(limit)
                                   : "the " + side + (vertical ? " height " : " width ") + n(limit);
    static const char* const zhNames[4] = {"宽度", "水平起始", "高度", "垂直起始"};
    static const char* const enNames[4] = {"width", "horizontal start", "height", "vertical start"};
    const int q = quantity >= 0 && quantity < 4 ? quantity : 0;
    std::string what;
    switch (fault) {
        case WindowFault::kTooLarge:
            what = chinese ? "的" + std::string(zhNames[q]) + " " + n(value) + " 大于" + extent
                           : " is " + n(value) + (vertical ? " high" : " wide") + ", larger than " +
                                 extent;
            break;
        case WindowFault::kTooSmall:
            what = chinese ? "的" + std::string(zhNames[q]) + " " + n(value) + " 小于 64"
                           : " is " + n(value) + (vertical ? " high" : " wide") +
                                 ", below the least 64";
            break;
        case WindowFault::kEndsPast:
            what = chinese ? " 结束于 " + n(value) + "，超出" + extent
                           : " ends at " + n(value) + ", past " + extent;
            break;
        case WindowFault::kStartsBefore:
            what = chinese ? " 起始于 " + n(value) + "，小于 0"
                           : " starts at " + n(value) + ", before 0";
            break;
        case WindowFault::kStartsPast:
            what = chinese ? " 起始于 " + n(value) + "，超出" + extent
                           : " starts at " + n(value) + ", past " + extent;
            break;
        case WindowFault::kOdd:
            what = chinese ? "的" + std::string(zhNames[q]) + " " + n(value) + " 为奇数，必须为偶数"
                           : ": its " + std::string(enNames[q]) + " " + n(value) +
                                 " is odd; every value must be even";
            break;
    }
    return chinese ? "屏幕 " + Three(screen) + "：" + window + what
                   : "Screen " + Three(screen) + ": " + window + what;
}

std::string WallSizeFault(int screen, int other, bool vertical, int value, int limit,
                          bool chinese) {
    const std::string range = "64.." + std::to_string(limit);
    if (chinese) {
        return "屏幕 " + Three(screen) + "：屏幕 " + Three(other) + " 的" +
               (vertical ? "高度 " : "宽度 ") + std::to_string(value) + " 超出 " + range +
               "（输出" + (vertical ? "高度" : "宽度") + "）";
    }
    return "Screen " + Three(screen) + ": the " + (vertical ? "height " : "width ") +
           std::to_string(value) + " of screen " + Three(other) + " is outside " + range +
           " (the output " + (vertical ? "height" : "width") + ")";
}

std::string WallPlanText(int rows, int cols, int outWidth, int outHeight,
                         const std::vector<WallScreenSize>& screens, bool chinese) {
    const auto size = [](int w, int h) { return std::to_string(w) + " x " + std::to_string(h); };
    std::string t =
        chinese ? "规格 " + size(rows, cols) + "，输出 " + size(outWidth, outHeight)
                : "Specification " + size(rows, cols) + ", output " + size(outWidth, outHeight);
    bool oneSize = true, inOrder = true;
    for (size_t n = 0; n < screens.size(); ++n) {
        oneSize = oneSize && screens[n].width == screens[0].width &&
                  screens[n].height == screens[0].height;
        inOrder = inOrder && screens[n].deviceId == screens[0].deviceId + static_cast<int>(n);
    }
    if (!screens.empty() && oneSize && inOrder) {
        const std::string last = Three(static_cast<int>(screens.size()) - 1);
        const std::string ids =
            std::to_string(screens[0].deviceId) + ".." + std::to_string(screens.back().deviceId);
        t += chinese ? "\n屏幕 000.." + last + "（ID " + ids + "）：每块 " +
                           size(screens[0].width, screens[0].height)
                     : "\nScreens 000.." + last + " (IDs " + ids + "): each " +
                           size(screens[0].width, screens[0].height);
    } else {
        for (size_t n = 0; n < screens.size(); ++n) {
            const std::string id = std::to_string(screens[n].deviceId);
            t += chinese ? "\n屏幕 " + Three(static_cast<int>(n)) + "（ID " + id + "）：" +
                               size(screens[n].width, screens[n].height)
                         : "\nScreen " + Three(static_cast<int>(n)) + " (ID " + id +
                               "): " + size(screens[n].width, screens[n].height);
        }
    }
    return t + (chinese ? "\n是否设置？" : "\nSet it?");
}

}  // namespace res
