#include "platform/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/FileReplace.h"

namespace platform {

bool IsUtf8Text(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) {
            return false;
        }
        int more = 0;
        if (c < 0x80) {
            more = 0;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            more = 1;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            more = 3;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(more) >= text.size() + (more == 0 ? 1 : 0)) {
            return false;  // a character cut off at the end
        }
        for (int k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += static_cast<size_t>(more) + 1;
    }
    return true;
}

namespace {

std::string Reason(int err) {
    return std::strerror(err);
}

}  // namespace

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + Reason(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "cannot read " + path + ": not a file";
        return false;
    }
    std::string data;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            data.append(buf, static_cast<size_t>(n));
            if (data.size() > kMaxTextFileBytes) {
                ::close(fd);
                error = path + " is larger than " + std::to_string(kMaxTextFileBytes / 1024) +
                        " KiB: not a file of this program";
                return false;
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int err = errno;
            ::close(fd);
            error = "cannot read " + path + ": " + Reason(err);
            return false;
        }
    }
    ::close(fd);
    if (!IsUtf8Text(data)) {
        error = path + " is not text (it holds bytes that are not UTF-8): damaged";
        return false;
    }
    // An editor's byte order mark is no part of the first line.
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        data.erase(0, 3);
    }
    text = std::move(data);
    return true;
}

namespace {

std::string WriteError(const std::string& path, int err) {
    return "cannot write " + path + ": " +
           (err == EISDIR   ? std::string("not a file")
            : err == EACCES ? std::string("the file is read-only")
            : err == EPERM  ? std::string("its folder is read-only")
                            : Reason(err));
}

}  // namespace

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error) {
    const int err = ReplaceFileAtomically(path, text);
    if (err == 0) {
        return true;
    }
    error = WriteError(path, err);
    return false;
}

std::string WithExtension(const std::string& path, const std::string& extension) {
    const size_t slash = path.rfind('/');
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    // A leading dot makes a hidden file, not an extension (".settings" alone has none).
    if (name.empty() || name.find('.', 1) != std::string::npos) {
        return path;
    }
    return path + extension;
}

std::optional<FileProblem> CheckTextFileWritable(const std::string& path) {
    if (const int err = CheckReplaceable(path)) {
        return FileProblem{FileFault::kUnwritable, 0, "", "", 0, 0, WriteError(path, err)};
    }
    return std::nullopt;
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string s;
    for (const std::string& w : words) {
        s += (s.empty() ? "" : " ") + w;
    }
    return s;
}

std::optional<FileProblem> CheckFileHead(const std::vector<TextLine>& lines,
                                         const std::string& kind, int version) {
    if (lines.empty()) {
        return FileProblem{FileFault::kNotThisKind, 1, "", "", 0, 0, ""};
    }
    const TextLine& head = lines.front();
    if (head.words[0] != kind) {
        return FileProblem{
            FileFault::kNotThisKind, head.number, "", JoinWords(head.words), 0, 0, ""};
    }
    int given = 0;
    if (head.words.size() != 2 || !ParseWholeNumber(head.words[1], 0, 1 << 30, given)) {
        return FileProblem{FileFault::kMalformed,
                           head.number,
                           kind,
                           JoinWords(head.words),
                           0,
                           0,
                           kind + " " + std::to_string(version)};
    }
    if (given != version) {
        return FileProblem{FileFault::kOtherVersion, head.number, "", head.words[1], 0, 0, ""};
    }
    return std::nullopt;
}

std::optional<FileProblem> SaveTextFile(const std::string& path, const std::string& text) {
    std::string error;
    if (!WriteTextFile(path, text, error)) {
        return FileProblem{FileFault::kUnwritable, 0, "", "", 0, 0, error};
    }
    return std::nullopt;
}

std::vector<TextLine> SplitTextLines(std::string_view text) {
    std::vector<TextLine> lines;
    int number = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(at, end - at);
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        TextLine t{number, {}};
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
                ++i;
            }
            const size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
                ++i;
            }
            if (i > start) {
                t.words.emplace_back(line.substr(start, i - start));
            }
        }
        if (!t.words.empty()) {
            lines.push_back(std::move(t));
        }
        if (end == text.size()) {
            break;
        }
        at = end + 1;
    }
    return lines;
}

bool SplitField(const std::string& word, std::string& name, std::string& value) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) {
        return false;
    }
    name = word.substr(0, eq);
    value = word.substr(eq + 1);
    return true;
}

bool ParseWholeNumber(std::string_view text, int low, int high, int& v) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') {
            return false;
        }
    }
    if (text.empty()) {
        return false;
    }
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < low || n > high) {
        return false;
    }
    v = static_cast<int>(n);
    return true;
}

}  // namespace platform
