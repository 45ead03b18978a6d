#include "platform/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// True when text is well-formed UTF-8 without NUL bytes.
bool CleanUtf8(std::string_view text) {
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

std::string Reason(int err) {
    return std::strerror(err);
}

// The file a write of path replaces: the end of a chain of symbolic links, or path itself.
std::string WriteTarget(const std::string& path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buf, sizeof buf - 1);
        if (n < 0) {
            return target;  // not a link (or not there): write it here
        }
        std::string next(buf, static_cast<size_t>(n));
        if (next.empty() || next[0] != '/') {
            const size_t slash = target.rfind('/');
            next =
                (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + next;
        }
        target = next;
    }
    return target;
}

bool WriteAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
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
    if (!CleanUtf8(data)) {
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

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string target = WriteTarget(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        error = "cannot write " + path + ": not a file";
        return false;
    }
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        error = "cannot write " + path + ": " + Reason(errno);
        return false;
    }
    const std::string tmp = target + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        error = "cannot write " + path + ": " + Reason(errno);
        return false;
    }
    if (exists) {
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    int err = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
        err = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        error = "cannot write " + path + ": " + Reason(err != 0 ? err : EIO);
        return false;
    }
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
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
