// Small text files the operator keeps, reads and compares (a wall, a processor's settings): read
// whole with a size limit, written whole and atomically, and split into numbered lines of words.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

// Files larger than this are not what this program writes: they are refused unread.
constexpr size_t kMaxTextFileBytes = 256 * 1024;

// True when text is well-formed UTF-8 without NUL bytes: what this program takes for text.
bool IsUtf8Text(std::string_view text);

// Reads the whole file into text. False with a one-line reason (missing, unreadable, a folder,
// larger than the limit, not UTF-8 text) in error.
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);

// Replaces the file with text, atomically: a temporary file next to it, flushed, renamed over it.
// A symbolic link is written through (its target is replaced, the link stays), and a file that
// exists keeps its permission bits. A file this user may not write is left alone. False with a
// one-line reason in error; the old file is then as it was.
bool WriteTextFile(const std::string& path, const std::string& text, std::string& error);

// One line that says something: its number in the file (from 1) and its words, split at blanks
// and tabs. Blank lines and comments ('#' up to the end of the line) are left out.
struct TextLine {
    int number = 0;
    std::vector<std::string> words;
};
std::vector<TextLine> SplitTextLines(std::string_view text);

// Why a file of the operator's was refused (or could not be written), with the line it names.
enum class FileFault {
    kUnreadable,    // detail: why (missing, not text, too large)
    kUnwritable,    // detail: why
    kNotThisKind,   // value: what the first line holds
    kOtherVersion,  // value: the version the file gives
    kUnknownEntry,  // value: the first word of the line
    kMalformed,     // what: the entry; value: the line's text; detail: the form expected
    kTwice,         // what: the entry; low: the line that gave it first
    kMissing,       // what: the entry the file lacks (line: its last line)
    kOutOfRange,    // what: the value's name; value: as written; low..high: the range
    kSameId,        // value: the device ID; what: the screen that has it; low: its line
};
struct FileProblem {
    FileFault fault = FileFault::kUnreadable;
    int line = 0;  // the line named; 0 for the file as a whole
    std::string what;
    std::string value;
    int low = 0, high = 0;
    std::string detail;
};

// A file read and handed to parse (which returns T or a FileProblem); a file that cannot be read
// is a kUnreadable problem.
template <typename T, typename Parse>
std::variant<T, FileProblem> LoadTextFile(const std::string& path, Parse parse) {
    std::string text, error;
    if (!ReadTextFile(path, text, error)) {
        return FileProblem{FileFault::kUnreadable, 0, "", "", 0, 0, error};
    }
    return parse(text);
}
// WriteTextFile, a failure as a kUnwritable problem.
std::optional<FileProblem> SaveTextFile(const std::string& path, const std::string& text);
// What SaveTextFile would refuse before it writes (a read-only file or folder, no such folder,
// not a file), said as SaveTextFile says it; checked before a long read for the file.
std::optional<FileProblem> CheckTextFileWritable(const std::string& path);
// path with extension (".wall") added when its file name has none: a name typed in a save
// dialog without one would be hidden by the load dialog's filter.
std::string WithExtension(const std::string& path, const std::string& extension);

// The words of a line joined by single blanks, as a problem quotes the line.
std::string JoinWords(const std::vector<std::string>& words);

// The first line a file of this program starts with: its kind and its version ("orn312-wall 1").
// Nothing when lines start so; otherwise why not (no such line or another kind, a malformed line,
// another version), naming the line.
std::optional<FileProblem> CheckFileHead(const std::vector<TextLine>& lines,
                                         const std::string& kind, int version);

// A word of the form name=value: true with the two parts.
bool SplitField(const std::string& word, std::string& name, std::string& value);

// A whole decimal number in low..high (an optional '+' or '-' sign, nothing else): true with v.
bool ParseWholeNumber(std::string_view text, int low, int high, int& v);

}  // namespace platform
