#include "resources/SetScreenTexts.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "resources/SetScreenIds.h"

namespace res {

namespace {

const Caption kCaptions[] = {
    {kWindowTitle, "屏幕参数", "Screen Program"},
    {sids::kGeometry[sids::kMainWindow].save, "保存", "Save"},
    {sids::kGeometry[sids::kInputWindow].save, "保存", "Save"},
    {sids::kGeometry[sids::kPipWindow].save, "保存", "Save"},
    {sids::kGeometry[sids::kOutputWindow].save, "保存", "Save"},
    {sids::kTextSave, "保存", "Save"},
    {sids::kBrightnessSave, "保存", "Save"},
    {sids::kColourRows[sids::kV1Row].save, "保存", "Save"},
    {sids::kBiasSave, "保存", "Save"},
    {sids::kColourRows[sids::kV2Row].save, "保存", "Save"},
    {sids::kColourRows[sids::kHdmiRow].save, "保存", "Save"},
    {sids::kColourRows[sids::kDviRow].save, "保存", "Save"},
    {sids::kColourRows[sids::kDpRow].save, "保存", "Save"},
    {sids::kAudioSave, "保存", "Save"},
    {sids::kHotSpareSave, "保存", "Save"},
    {sids::kColourRows[sids::kExtRow].save, "保存", "Save"},
    {sids::kColourRows[sids::kYPbPrRow].save, "保存", "Save"},
    {sids::kRefresh, "刷新", "Refresh"},
    {sids::kBrightnessReset, "重置", "Reset"},
    {sids::kColourRows[sids::kV1Row].reset, "重置", "Reset"},
    {sids::kBiasReset, "重置", "Reset"},
    {sids::kColourRows[sids::kV2Row].reset, "重置", "Reset"},
    {sids::kColourRows[sids::kHdmiRow].reset, "重置", "Reset"},
    {sids::kColourRows[sids::kDviRow].reset, "重置", "Reset"},
    {sids::kColourRows[sids::kDpRow].reset, "重置", "Reset"},
    {sids::kColourRows[sids::kExtRow].reset, "重置", "Reset"},
    {sids::kColourRows[sids::kYPbPrRow].reset, "重置", "Reset"},
    {sids::kExit, "退出", "Exit"},
    {sids::kGeometry[sids::kMainWindow].wLabel, "背景宽度:", "Main_Hori_Width:"},
    {sids::kGeometry[sids::kMainWindow].hsLabel, "背景水平起始:", "Main_Hori_Start:"},
    {sids::kGeometry[sids::kMainWindow].hLabel, "背景高度:", "Main_Vert_Height:"},
    {sids::kGeometry[sids::kMainWindow].vsLabel, "背景垂直起始:", "Main_Vert_Start:"},
    {sids::kGeometry[sids::kPipWindow].wLabel, "PIP宽度:", "PIP_Hori_Width:"},
    {sids::kGeometry[sids::kPipWindow].hsLabel, "PIP水平起始:", "PIP_Hori_Start:"},
    {sids::kGeometry[sids::kPipWindow].hLabel, "PIP高度:", "PIP_Vert_Height:"},
    {sids::kGeometry[sids::kPipWindow].vsLabel, "PIP垂直起始:", "PIP_Vert_Start:"},
    {sids::kKeyLabels[0], "红", "Red"},
    {sids::kKeyLabels[1], "绿", "Green"},
    {sids::kKeyLabels[2], "蓝", "Blue"},
    {sids::kGeometry[sids::kInputWindow].wLabel, "输入宽度:", "In_Hori_Width:"},
    {sids::kGeometry[sids::kInputWindow].hsLabel, "输入水平起始:", "In_Hori_Start:"},
    {sids::kGeometry[sids::kInputWindow].hLabel, "输入高度:", "In_Vert_Height:"},
    {sids::kGeometry[sids::kInputWindow].vsLabel, "输入垂直起始:", "In_Vert_Start:"},
    {sids::kBrightnessGroup, "亮度", "Brightness"},
    {sids::kColourGroup, "颜色", "Color"},
    {sids::kBiasGroup, "低灰偏置", "Bias"},
    {sids::kSharpnessGroup, "清晰度", "Sharpness"},
    {sids::kGeometry[sids::kOutputWindow].wLabel, "输出宽度:", "Out_Hori_Width:"},
    {sids::kGeometry[sids::kOutputWindow].hsLabel, "输出水平起始:", "Out_Hori_Start:"},
    {sids::kGeometry[sids::kOutputWindow].hLabel, "输出高度:", "Out_Vert_Height:"},
    {sids::kGeometry[sids::kOutputWindow].vsLabel, "输出垂直起始:", "Out_Vert_Start:"},
    {sids::kMosaicModeGroup, "拼接模式", "MosaicMode"},
    {sids::kAudioGroup, "音频设置", "Audio"},
    {sids::kLayoutGroup, "PIP模式", "PIP_Mode"},
    {sids::kPipSizeGroup, "PIP窗口位置大小", "PIP_Size_Position"},
    {sids::kHotSpareGroup, "热备份", "Hot_Spare"},
    {sids::kTextGroup, "字幕", "Text"},
    {sids::kGeometry[sids::kInputWindow].group, "输入窗口位置大小", "Input_Size_Position"},
    {sids::kGeometry[sids::kOutputWindow].group, "输出窗口位置大小", "Output_Size_Position"},
    {sids::kGeometry[sids::kMainWindow].group, "主窗口", "Main"},
    {sids::kGeometry[sids::kPipWindow].group, "PIP窗口", "PIP"},
    {sids::kInfoLabel, "信息", "Info"},
    {sids::kNormal, "平滑", "Normal"},
    {sids::kSharp, "清晰", "Sharp"},
    {sids::kThresholdRadios[0], "<阈值", "<Threshold"},
    {sids::kThresholdRadios[1], ">阈值", ">Threshold"},
    {sids::kNoSyncMosaic, "非同步拼接", "No Sync Mosaic"},
    {sids::kSyncMosaic, "同步拼接", "Sync Mosaic"},
    {sids::kPipHint, "PIP开启状态下可设置!!", "Only available for PIP/PBP open!!"},
};

const Caption kNames[] = {
    {sids::kGeometry[sids::kMainWindow].w, "主窗口 宽度", "Main Width"},
    {sids::kGeometry[sids::kMainWindow].hs, "主窗口 水平起始", "Main Horizontal Start"},
    {sids::kGeometry[sids::kMainWindow].h, "主窗口 高度", "Main Height"},
    {sids::kGeometry[sids::kMainWindow].vs, "主窗口 垂直起始", "Main Vertical Start"},
    {sids::kGeometry[sids::kPipWindow].w, "PIP窗口 宽度", "PIP Width"},
    {sids::kGeometry[sids::kPipWindow].hs, "PIP窗口 水平起始", "PIP Horizontal Start"},
    {sids::kGeometry[sids::kPipWindow].h, "PIP窗口 高度", "PIP Height"},
    {sids::kGeometry[sids::kPipWindow].vs, "PIP窗口 垂直起始", "PIP Vertical Start"},
    {sids::kGeometry[sids::kInputWindow].w, "输入窗口 宽度", "Input Width"},
    {sids::kGeometry[sids::kInputWindow].hs, "输入窗口 水平起始", "Input Horizontal Start"},
    {sids::kGeometry[sids::kInputWindow].h, "输入窗口 高度", "Input Height"},
    {sids::kGeometry[sids::kInputWindow].vs, "输入窗口 垂直起始", "Input Vertical Start"},
    {sids::kGeometry[sids::kOutputWindow].w, "输出窗口 宽度", "Output Width"},
    {sids::kGeometry[sids::kOutputWindow].hs, "输出窗口 水平起始", "Output Horizontal Start"},
    {sids::kGeometry[sids::kOutputWindow].h, "输出窗口 高度", "Output Height"},
    {sids::kGeometry[sids::kOutputWindow].vs, "输出窗口 垂直起始", "Output Vertical Start"},
    {sids::kBrightness, "亮度", "Brightness"},
    {sids::kBias, "低灰偏置", "Bias"},
    {sids::kColourRows[sids::kV1Row].edit, "颜色 V1", "Color V1"},
    {sids::kColourRows[sids::kV2Row].edit, "颜色 V2", "Color V2"},
    {sids::kColourRows[sids::kHdmiRow].edit, "颜色 HDMI", "Color HDMI"},
    {sids::kColourRows[sids::kDviRow].edit, "颜色 DVI", "Color DVI"},
    {sids::kColourRows[sids::kDpRow].edit, "颜色 DP", "Color DP"},
    {sids::kColourRows[sids::kExtRow].edit, "颜色 EXT", "Color EXT"},
    {sids::kColourRows[sids::kYPbPrRow].edit, "颜色 YPbPr", "Color YPbPr"},
    {sids::kKeyColours[0], "字幕 红", "Text Red"},
    {sids::kKeyColours[1], "字幕 绿", "Text Green"},
    {sids::kKeyColours[2], "字幕 蓝", "Text Blue"},
    {sids::kKeyArrows[0], "字幕 红 调节", "Text Red arrows"},
    {sids::kKeyArrows[1], "字幕 绿 调节", "Text Green arrows"},
    {sids::kKeyArrows[2], "字幕 蓝 调节", "Text Blue arrows"},
    {sids::kAudio1, "音频设置 AD1", "Audio AD1"},
    {sids::kAudio2, "音频设置 AD2", "Audio AD2"},
    {sids::kInfo, "信息", "Info"},
    {sids::kGeometry[sids::kMainWindow].rect, "MAIN 预览", "MAIN preview"},
    {sids::kGeometry[sids::kPipWindow].rect, "PBP 预览", "PBP preview"},
    {sids::kGeometry[sids::kInputWindow].rect, "输入窗口 预览", "Input preview"},
    {sids::kGeometry[sids::kOutputWindow].rect, "输出窗口 预览", "Output preview"},
    {sids::kGeometry[sids::kMainWindow].save, "主窗口 保存", "Main Save"},
    {sids::kGeometry[sids::kPipWindow].save, "PIP窗口 保存", "PIP Save"},
    {sids::kGeometry[sids::kInputWindow].save, "输入窗口 保存", "Input Save"},
    {sids::kGeometry[sids::kOutputWindow].save, "输出窗口 保存", "Output Save"},
    {sids::kTextSave, "字幕 保存", "Text Save"},
    {sids::kBrightnessSave, "亮度 保存", "Brightness Save"},
    {sids::kBrightnessReset, "亮度 重置", "Brightness Reset"},
    {sids::kBiasSave, "低灰偏置 保存", "Bias Save"},
    {sids::kBiasReset, "低灰偏置 重置", "Bias Reset"},
    {sids::kColourRows[sids::kV1Row].save, "颜色 V1 保存", "Color V1 Save"},
    {sids::kColourRows[sids::kV1Row].reset, "颜色 V1 重置", "Color V1 Reset"},
    {sids::kColourRows[sids::kV2Row].save, "颜色 V2 保存", "Color V2 Save"},
    {sids::kColourRows[sids::kV2Row].reset, "颜色 V2 重置", "Color V2 Reset"},
    {sids::kColourRows[sids::kHdmiRow].save, "颜色 HDMI 保存", "Color HDMI Save"},
    {sids::kColourRows[sids::kHdmiRow].reset, "颜色 HDMI 重置", "Color HDMI Reset"},
    {sids::kColourRows[sids::kDviRow].save, "颜色 DVI 保存", "Color DVI Save"},
    {sids::kColourRows[sids::kDviRow].reset, "颜色 DVI 重置", "Color DVI Reset"},
    {sids::kColourRows[sids::kDpRow].save, "颜色 DP 保存", "Color DP Save"},
    {sids::kColourRows[sids::kDpRow].reset, "颜色 DP 重置", "Color DP Reset"},
    {sids::kColourRows[sids::kExtRow].save, "颜色 EXT 保存", "Color EXT Save"},
    {sids::kColourRows[sids::kExtRow].reset, "颜色 EXT 重置", "Color EXT Reset"},
    {sids::kColourRows[sids::kYPbPrRow].save, "颜色 YPbPr 保存", "Color YPbPr Save"},
    {sids::kColourRows[sids::kYPbPrRow].reset, "颜色 YPbPr 重置", "Color YPbPr Reset"},
    {sids::kAudioSave, "音频设置 保存", "Audio Save"},
    {sids::kHotSpareSave, "热备份 保存", "Hot Spare Save"},
};

struct Pair {
    const char* zh;
    const char* en;
};

const Pair kMessages[] = {
    {"值越界", "Value out  of range"},
    {"系统信息", "System Information"},
    {"输入值必须是偶数，不能是奇数", "he input value must be even, and can not be odd"},
    {"系统信息", "System information"},
    {"数值无法再向上调节", "Value cannot be upward adjustment"},
    {"数值无法再向下调节", "Value cannot be downward adjustment"},
    {"对不起，音频1和音频2无法使用同一个通道",
     "Sorry, audio1 and audio2 can't use the same channel"},
    {"系统消息", "System information"},
    {"设置成功", "Set successfully"},
    {"正在读取设备参数，请等待", "Reading the settings from the device, please wait"},
    {"设置失败：命令未能发送到设备", "Set failed: the command did not reach the device"},
};

const FixedCaption kFixedCaptions[] = {
    {sids::kV2Group, "V2/YPbPr"},
    {sids::kV2Radio, "V2"},
    {sids::kYPbPrRadio, "YPbPr"},
    {sids::kOriginLabels[0], "(0,0)"},
    {sids::kOriginLabels[1], "(0,0)"},
    {sids::kOriginLabels[2], "(0,0)"},
    {sids::kGeometry[sids::kInputWindow].sizeLabel, "(1024,768)"},
    {sids::kGeometry[sids::kOutputWindow].sizeLabel, "(1024,768)"},
    {sids::kGeometry[sids::kMainWindow].sizeLabel, "(1024,768)"},
};

}  // namespace

const char* const kColourRange = "(0~100)";

std::span<const FixedCaption> SetScreenFixedCaptions() {
    return kFixedCaptions;
}

std::span<const Caption> SetScreenCaptions() {
    return kCaptions;
}

std::span<const Caption> SetScreenNames() {
    return kNames;
}

const char* ScreenText(ScreenMsg m, bool chinese) {
    const Pair& p = kMessages[static_cast<int>(m)];
    return chinese ? p.zh : p.en;
}

namespace {

// In the order of SettingsFileMsg.
const Pair kFileTexts[] = {
    {"保存到文件…", "Save to file…"},
    {"从文件载入…", "Load from file…"},
    {"设置文件 (*.settings);;所有文件 (*)", "Settings files (*.settings);;All files (*)"},
    {"正在读取全部设置，请等待", "Reading every setting, please wait"},
    {"正在恢复设置，请等待", "Restoring the settings, please wait"},
    {"设置已保存到 ", "Settings saved to "},
    {"已恢复：全部设置与文件一致", "Restored: every setting reads back as in the file"},
    {"处理器无应答，未保存任何内容", "The processor did not answer; nothing was saved"},
    {"处理器无应答，未发送任何设置", "The processor did not answer; nothing was sent"},
    {"有命令未能发送，恢复未完成", "A command could not be sent; the restore is incomplete"},
    {"恢复后以下设置与文件不一致：", "After the restore these settings differ from the file:"},
    {"恢复后有设置与文件不一致", "Some settings differ from the file after the restore"},
    {"系统信息", "System information"},
    {"处理器报告的值无法写入设置文件：",
     "The processor reports a value no settings file may hold: "},
    {"未发送：亮度超出本处理器的范围 0~64",
     "Not sent: the brightness is beyond this processor's range 0~64"},
    {"从文件恢复设置", "Restore settings from a file"},
    {"恢复所选设置", "Restore the settings ticked"},
    {"取消", "Cancel"},
    {"设置", "Setting"},
    {"当前值", "Now"},
    {"文件中的值", "In the file"},
    {"恢复以下各组：", "Restore these groups:"},
    {"所选设置均与文件一致，无需发送", "Every setting chosen is as in the file; nothing to send"},
    {"已取消，未发送任何设置", "Cancelled; nothing was sent"},
    {"有已输入但尚未发送的值（青色框）。读取处理器会用处理器的值替换它们。\n"
     "先发送这些值再保存，不包括这些值直接保存，还是取消？",
     "Some values are typed but not sent (the cyan boxes). Reading the processor replaces them "
     "with its own.\nSend them first and save them, leave them out, or cancel?"},
    {"发送后保存", "Send and save"},
    {"不包括这些值", "Leave them out"},
    {"取消", "Cancel"},
    {"文件已存在，是否替换？\n", "The file exists. Replace it?\n"},
};
static_assert(sizeof kFileTexts / sizeof kFileTexts[0] ==
              static_cast<size_t>(SettingsFileMsg::Count));

// English names and words of a restore's list, and their Chinese.
const Pair kWords[] = {
    {"输出分辨率", "output resolution"},
    {"自定义分辨率", "custom resolution"},
    {"输出窗口", "output window"},
    {"输入窗口", "input window"},
    {"拼接模式", "mosaic mode"},
    {"主窗口", "main window"},
    {"PIP窗口", "PIP window"},
    {"亮度范围", "brightness range"},
    {"亮度", "brightness"},
    {"低灰偏置", "bias"},
    {"清晰度", "sharpness"},
    {"音频", "audio"},
    {"热备份", "hot spare"},
    {"字幕", "text key"},
    {"颜色", "colour"},
    {"同步拼接", "sync"},
    {"非同步拼接", "no sync"},
    {"平滑", "Normal"},
    {"清晰", "Sharp"},
    {"开", "on"},
    {"关", "off"},
    {"位置", "at"},
};

// Replaces every English word or phrase of the table by its Chinese, longest first.
std::string Translate(std::string text) {
    std::vector<const Pair*> order;
    for (const Pair& p : kWords) {
        order.push_back(&p);
    }
    std::stable_sort(order.begin(), order.end(), [](const Pair* a, const Pair* b) {
        return std::string_view(a->en).size() > std::string_view(b->en).size();
    });
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        bool replaced = false;
        for (const Pair* p : order) {
            const std::string_view en = p->en;
            const bool wordStart = at == 0 || text[at - 1] == ' ';
            const size_t end = at + en.size();
            if (end > text.size()) {
                continue;  // longer than what is left
            }
            const bool wordEnd = end == text.size() || text[end] == ' ' || text[end] == ',';
            if (wordStart && wordEnd && text.compare(at, en.size(), en) == 0) {
                out += p->zh;
                at = end;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += text[at++];
        }
    }
    return out;
}

}  // namespace

const char* SettingGroupText(int group, bool chinese) {
    static const Pair groups[] = {
        {"输出分辨率", "Output resolution"},
        {"窗口与布局", "Windows and layouts"},
        {"图像（亮度、低灰偏置、清晰度、颜色）", "Picture (brightness, bias, sharpness, colours)"},
        {"音频", "Audio"},
        {"热备份", "Hot spare"},
        {"字幕", "Text key"},
    };
    if (group < 0 || group >= static_cast<int>(sizeof groups / sizeof groups[0])) {
        return "";
    }
    return chinese ? groups[group].zh : groups[group].en;
}

std::string RestorePlanHead(int deviceId, const std::string& file, int savedFrom, bool chinese) {
    const std::string id = std::to_string(deviceId);
    const std::string from =
        savedFrom > 0 ? (chinese ? "（保存自设备 " + std::to_string(savedFrom) + "）"
                                 : " (saved from device " + std::to_string(savedFrom) + ")")
                      : (chinese ? "（未注明保存自哪台设备）"
                                 : " (which device it was saved from is not said)");
    return chinese ? "设备 " + id + " 的当前值与 " + file + from + " 中的值："
                   : "Device " + id + " now, and " + file + from + ":";
}

std::string WindowsLeftOutText(int deviceId, int savedFrom, bool chinese) {
    const std::string id = std::to_string(deviceId);
    if (savedFrom <= 0) {
        return chinese ? "文件未注明保存自哪台设备：除非勾选，不恢复其窗口与布局。"
                       : "The file does not say which device it was saved from: its windows "
                         "and layouts are left out unless ticked.";
    }
    const std::string from = std::to_string(savedFrom);
    return chinese
               ? "文件保存自设备 " + from + "，而非设备 " + id + "：除非勾选，不恢复其窗口与布局。"
               : "The file was saved from device " + from + ", not from device " + id +
                     ": its windows and layouts are left out unless ticked.";
}

std::string RestoreDoneText(int deviceId, int settings, const std::string& file, bool chinese) {
    const std::string id = std::to_string(deviceId);
    const std::string n = std::to_string(settings);
    return chinese ? "设备 " + id + "：已按 " + file + " 更改 " + n + " 项设置"
                   : "Device " + id + ": " + n + (settings == 1 ? " setting" : " settings") +
                         " changed from " + file;
}

const char* SettingsFileText(SettingsFileMsg m, bool chinese) {
    const Pair& p = kFileTexts[static_cast<int>(m)];
    return chinese ? p.zh : p.en;
}

std::string SettingNameText(const std::string& name, bool chinese) {
    return chinese ? Translate(name) : name;
}

std::string SettingValueText(const std::string& value, bool chinese) {
    return chinese ? Translate(value) : value;
}

}  // namespace res
