#include "resources/FileTexts.h"

namespace res {

namespace {

std::string Line(int line, bool chinese) {
    if (line <= 0) {
        return "";
    }
    return chinese ? "第" + std::to_string(line) + "行：" : "line " + std::to_string(line) + ": ";
}

std::string Quoted(const std::string& s, bool chinese) {
    return chinese ? "“" + s + "”" : "'" + s + "'";
}

}  // namespace

std::string FileProblemText(const platform::FileProblem& p, FileKind kind, bool chinese) {
    using platform::FileFault;
    const std::string kindWord = kind == FileKind::kWall ? (chinese ? "拼接墙" : "wall")
                                                         : (chinese ? "处理器设置" : "settings");
    const std::string at = Line(p.line, chinese);
    switch (p.fault) {
        case FileFault::kUnreadable:
            return (chinese ? "无法读取文件：" : "") + p.detail;
        case FileFault::kUnwritable:
            return (chinese ? "无法写入文件：" : "") + p.detail;
        case FileFault::kNotThisKind:
            return at + (chinese ? "不是" + kindWord + "文件（开头为" + Quoted(p.value, true) + "）"
                                 : "not a " + kindWord + " file (it begins with " +
                                       Quoted(p.value, false) + ")");
        case FileFault::kOtherVersion:
            return at + (chinese ? kindWord + "文件的版本为" + p.value + "，本程序只读取版本1"
                                 : "a " + kindWord + " file of version " + p.value +
                                       "; this program reads version 1");
        case FileFault::kUnknownEntry:
            return at + (chinese ? "无法识别的条目" + Quoted(p.value, true)
                                 : "unknown entry " + Quoted(p.value, false));
        case FileFault::kMalformed:
            return at + (chinese ? p.what + "格式错误：" + Quoted(p.value, true) + "（应为：" +
                                       p.detail + "）"
                                 : p.what + " is not written as " + p.detail + ": " +
                                       Quoted(p.value, false));
        case FileFault::kTwice:
            return at + (chinese ? p.what + "重复出现（第" + std::to_string(p.low) + "行已有）"
                                 : p.what + " is given a second time (first on line " +
                                       std::to_string(p.low) + ")");
        case FileFault::kMissing:
            return at + (chinese ? "文件已结束，缺少" + p.what : "the file ends without " + p.what);
        case FileFault::kOutOfRange:
            return at + (chinese ? p.what + " " + p.value + " 超出范围 " + std::to_string(p.low) +
                                       ".." + std::to_string(p.high)
                                 : p.what + " " + p.value + " is out of range " +
                                       std::to_string(p.low) + ".." + std::to_string(p.high));
        case FileFault::kSameId:
            return at + (chinese ? "设备ID " + p.value + " 已用于" + p.what + "（第" +
                                       std::to_string(p.low) + "行）"
                                 : "device ID " + p.value + " is already " + p.what + "'s (line " +
                                       std::to_string(p.low) + ")");
    }
    return at;
}

}  // namespace res
