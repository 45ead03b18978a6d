// The profile text rules from any text and any edit. Input: section, key and value as three
// lines, then the file's text. Properties: an edit that is refused leaves nothing to write; one
// that is applied reads back as written (the value whole, less the blanks around it), and every
// other line of the text stays as it was and in its order (a set changes or adds at most its key
// line and its section header); applying the same set twice changes nothing more.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/ProfileFile.h"

namespace {

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        lines.push_back(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    }
    return lines;
}

// Lines of before that after does not keep: a set changes one line where it stands or inserts
// lines at one place, so what it keeps is a common beginning and a common end.
size_t Lost(const std::vector<std::string_view>& before,
            const std::vector<std::string_view>& after) {
    size_t head = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head]) {
        ++head;
    }
    size_t tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
        ++tail;
    }
    return before.size() - head - tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string parts[3];
    for (std::string& part : parts) {
        const size_t nl = in.find('\n');
        if (nl == std::string_view::npos) {
            return 0;
        }
        part = std::string(in.substr(0, nl));
        in.remove_prefix(nl + 1);
    }
    const std::string content(in);
    const auto& [section, key, value] = parts;
    const std::vector<platform::ProfileEdit> set = {{section, key, value}};
    const std::optional<std::string> after = platform::ApplyProfileEdits(content, set);
    if (!after) {
        return 0;
    }
    const int big = static_cast<int>(value.size()) * 2 + 2;
    // Values read back without the blanks around them, as a profile reader gives them.
    const size_t first = value.find_first_not_of(" \t\r\n\v\f");
    const std::string trimmed =
        first == std::string::npos
            ? ""
            : value.substr(first, value.find_last_not_of(" \t\r\n\v\f") - first + 1);
    fuzz::Check(platform::ProfileTextValue(*after, section, key, "\x01missing", big) == trimmed);
    const auto before = Lines(content);
    const auto now = Lines(*after);
    fuzz::Check(Lost(before, now) <= 1);
    fuzz::Check(now.size() <= before.size() + 2);
    fuzz::Check(platform::ApplyProfileEdits(*after, set) == after);
    return 0;
}
