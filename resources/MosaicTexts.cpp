#include "resources/MosaicTexts.h"

#include <cstdio>

namespace res {

const Caption kMosaicCaptions[] = {
    {kWindowTitle, "快速拼接", "Fast Mosaic"},
    {1279, "规格", "Specification"},
    {1280, "行", "Row"},
    {1281, "列", "Column"},
    {1008, "确定", "OK"},
    {1274, "连接", "Connect"},
    {1009, "连接", "Connect"},
    {1275, "拼接", "Mosaic"},
    {1278, "分辨率", "Resolution"},
    {1209, "拼接模式", "MosaicMode"},
    {1297, "非同步拼接", "No Sync Mosaic"},
    {1298, "同步拼接", "Sync Mosaic"},
    {1000, "自动计算", "Auto Calculate"},
    {1185, "输入宽度", "InputWidth"},
    {1186, "输入高度", "InputHeight"},
    {1187, "水平起始", "HorizontalStart"},
    {1188, "垂直起始", "VerticalStart"},
    {1193, "输出宽度", "OutputWidth"},
    {1194, "输出高度", "OutputHeight"},
    {1195, "水平起始", "HorizontalStart"},
    {1196, "垂直起始", "VerticalStart"},
    {1189, "   计算值", "Calculated"},
    {1197, "   计算值", "Calculated"},
    {1190, "微调值", "Adjusted"},
    {1198, "微调值", "Adjusted"},
    {1001, "设置", "Set"},
    {1002, "设置", "Set"},
    {1003, "检测", "Detect"},
    {2, "退出", "Exit"},
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

}  // namespace res
