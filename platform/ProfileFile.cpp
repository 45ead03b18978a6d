#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileReplace.h"
#include "platform/TextFile.h"

namespace platform {

namespace {

// The scheduler thread and the UI both read and write the file; one lock keeps a whole
// read-modify-write cycle (and the one temporary file name per process) to one caller at a time.
std::mutex g_fileLock;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

struct Line {
    std::string text;  // without the line ending
    std::string eol;   // "\n", "\r\n", or "" for a last line that has none
    // The header of a section deleted in this batch: keys set later in the batch go back under
    // it, in its place. Written only when it has keys again, or when a later section of the same
    // name (a twin) follows, which would otherwise take its place on the next read.
    bool deleted = false;
};

struct Profile {
    std::string bom;          // a UTF-8 byte order mark found at the start, written back as it was
    std::vector<Line> lines;  // every line of the file, in order
    std::string eol = "\n";   // line ending for new lines: the file's own style
};

std::string_view Trim(std::string_view s) {
    const std::string_view blanks = " \t\r\n\v\f";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// ASCII case folding only: bytes of multi-byte UTF-8 characters compare exactly.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// "[name]" (blanks allowed around and inside the brackets). "[broken" has no closing bracket and
// is not a header: it stays an ordinary line of the section it is in.
bool HeaderName(std::string_view text, std::string_view* name) {
    const std::string_view t = Trim(text);
    const size_t close = t.find(']');
    if (t.empty() || t[0] != '[' || close == std::string_view::npos)
        return false;
    *name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value": only the first '=' splits, so the value may hold more of them. Lines starting with
// ';' or '#' are comments, even when they hold a '='; a line with an empty key is not a key line.
bool KeyLine(std::string_view text, std::string_view* key, std::string_view* value) {
    const std::string_view t = Trim(text);
    const size_t eq = t.find('=');
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[' || eq == std::string_view::npos)
        return false;
    *key = Trim(t.substr(0, eq));
    *value = Trim(t.substr(eq + 1));
    return !key->empty();
}

// Lines [begin, end) of the first section called name: its header and the lines up to the next
// header. A later section of the same name is not part of it. begin is lines.size() when the
// section is missing.
struct Range {
    size_t begin;
    size_t end;
};

Range FindSection(const Profile& p, std::string_view name) {
    const size_t n = p.lines.size();
    std::string_view found;
    size_t begin = 0;
    while (begin < n && !(HeaderName(p.lines[begin].text, &found) && SameName(found, name)))
        ++begin;
    if (begin == n)
        return {n, n};
    size_t end = begin + 1;
    while (end < n && !HeaderName(p.lines[end].text, &found))
        ++end;
    return {begin, end};
}

Profile Parse(std::string_view content) {
    Profile p;
    if (content.substr(0, kBom.size()) == kBom) {
        p.bom = kBom;
        content.remove_prefix(kBom.size());
    }
    bool styleSeen = false;
    while (!content.empty()) {
        const size_t nl = content.find('\n');
        Line line;
        line.text = content.substr(0, nl);
        if (nl == std::string_view::npos) {
            content = {};
        } else {
            line.eol = "\n";
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.eol = "\r\n";
            }
            content.remove_prefix(nl + 1);
            if (!styleSeen)
                p.eol = line.eol;
            styleSeen = true;
        }
        p.lines.push_back(std::move(line));
    }
    return p;
}

// A section header of the same name as line i's comes after it.
bool TwinFollows(const Profile& p, size_t i) {
    std::string_view name, other;
    if (!HeaderName(p.lines[i].text, &name))
        return false;
    for (size_t j = i + 1; j < p.lines.size(); ++j) {
        if (HeaderName(p.lines[j].text, &other) && SameName(name, other))
            return true;
    }
    return false;
}

std::string Serialise(const Profile& p) {
    std::string out = p.bom;
    for (size_t i = 0; i < p.lines.size(); ++i) {
        if (p.lines[i].deleted && !TwinFollows(p, i))
            continue;
        out += p.lines[i].text;
        // A last line without an ending gets one once something has been added after it.
        const bool needsEnd = p.lines[i].eol.empty() && i + 1 < p.lines.size();
        out += needsEnd ? p.eol : p.lines[i].eol;
    }
    return out;
}

// Keeps at most bufferChars - 1 characters, counted as the UTF-16 code units a wide buffer of
// bufferChars would hold: one per character, two for a character beyond U+FFFF. The cut always
// falls between whole UTF-8 sequences. Bytes that are not valid UTF-8 count one each.
std::string Clip(std::string s, int bufferChars) {
    if (bufferChars <= 1)
        return {};
    const size_t room = static_cast<size_t>(bufferChars) - 1;
    size_t units = 0, i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t len = (c < 0xC0 || c >= 0xF8) ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        const size_t need = len == 4 ? 2 : 1;
        if (units + need > room)
            break;
        units += need;
        i += len < s.size() - i ? len : s.size() - i;
    }
    s.resize(i);
    return s;
}

// Why a read found no profile file: larger than the limit, not text.
constexpr int kTooLargeError = EFBIG;
constexpr int kNotTextError = EILSEQ;

// 0 when the whole file was read and is a profile file, otherwise the errno (ENOENT: no such
// file; kTooLargeError, kNotTextError: no profile file). A file over the limit is not read at all;
// one that grows past it while it is read is given up there.
int ReadWhole(const std::string& path, std::string* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) > kMaxProfileBytes) {
        ::close(fd);
        return kTooLargeError;
    }
    int err = 0;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out->append(buf, static_cast<size_t>(n));
            if (out->size() > kMaxProfileBytes) {
                err = kTooLargeError;
                break;
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            err = errno;
            break;
        }
    }
    ::close(fd);
    if (err == 0) {
        std::string_view text = *out;
        if (text.substr(0, kBom.size()) == kBom)
            text.remove_prefix(kBom.size());
        if (!IsUtf8Text(text))
            err = kNotTextError;
    }
    if (err != 0)
        out->clear();  // nothing of a file that is not one is ever taken
    return err;
}

// A name or value that would change the shape of the file if written as it is: a line break
// would start a new line, '=' in a key or ']' in a section would be split off at the wrong place
// on reading, and a key starting like a header or a comment would not read back as a key.
bool Writable(std::string_view section, const char* key, const char* value) {
    const auto hasBreak = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    if (section.empty() || hasBreak(section) || section.find(']') != std::string_view::npos)
        return false;
    if (key != nullptr) {
        const std::string_view k = Trim(key);
        if (k.empty() || hasBreak(k) || k.find('=') != std::string_view::npos ||
            k.find_first_of("[;#") == 0)
            return false;
    }
    return value == nullptr || !hasBreak(value);
}

void SetKey(Profile* p, std::string_view section, std::string_view key, std::string_view value) {
    std::string text = std::string(key) + "=" + std::string(value);
    Range r = FindSection(*p, section);
    if (r.begin < p->lines.size() && p->lines[r.begin].deleted) {
        if (TwinFollows(*p, r.begin)) {
            // Refilled in its place, before the twin that was never read.
            p->lines[r.begin].deleted = false;
        } else {
            // As a section written anew: at the end of the file.
            p->lines.erase(p->lines.begin() + static_cast<std::ptrdiff_t>(r.begin));
            r = FindSection(*p, section);
        }
    }
    if (r.begin == p->lines.size()) {
        p->lines.push_back({"[" + std::string(section) + "]", p->eol});
        p->lines.push_back({std::move(text), p->eol});
        return;
    }
    // The first line of the key is replaced where it stands; a new key goes after the section's
    // last key line, so blank lines and comments that close the section stay after it.
    size_t insertAt = r.begin + 1;
    std::string_view k, v;
    for (size_t i = r.begin + 1; i < r.end; ++i) {
        if (!KeyLine(p->lines[i].text, &k, &v))
            continue;
        if (SameName(k, key)) {
            p->lines[i].text = std::move(text);
            return;
        }
        insertAt = i + 1;
    }
    p->lines.insert(p->lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                    Line{std::move(text), p->eol});
}

// Removes every line of the key in the section, not only the first: otherwise a duplicate line
// would come back as the value after the delete. True when a line was removed.
bool DeleteKey(Profile* p, std::string_view section, std::string_view key) {
    const Range r = FindSection(*p, section);
    size_t end = r.end;
    bool removed = false;
    std::string_view k, v;
    for (size_t i = r.begin + 1; i < end;) {
        if (KeyLine(p->lines[i].text, &k, &v) && SameName(k, key)) {
            p->lines.erase(p->lines.begin() + static_cast<std::ptrdiff_t>(i));
            --end;
            removed = true;
        } else {
            ++i;
        }
    }
    return removed;
}

// Removes the first section of the name, the one every read takes: its lines go, its header
// stays in place as deleted (see Line). A later section of the same name (a twin, from a hand
// merge) was never read and is left as it is, byte for byte.
bool DeleteSection(Profile* p, std::string_view section) {
    const Range r = FindSection(*p, section);
    if (r.begin == p->lines.size())
        return false;
    p->lines.erase(p->lines.begin() + static_cast<std::ptrdiff_t>(r.begin + 1),
                   p->lines.begin() + static_cast<std::ptrdiff_t>(r.end));
    p->lines[r.begin].deleted = true;
    return true;
}

}  // namespace

ProfileFileKind CheckProfileFile(const std::string& path) {
    std::string content;
    int err = 0;
    {
        std::lock_guard<std::mutex> lock(g_fileLock);
        err = ReadWhole(path, &content);
    }
    switch (err) {
        case 0:
            return ProfileFileKind::kProfile;
        case ENOENT:
            return ProfileFileKind::kMissing;
        case kTooLargeError:
            return ProfileFileKind::kTooLarge;
        case kNotTextError:
            return ProfileFileKind::kNotText;
        default:
            return ProfileFileKind::kUnreadable;
    }
}

std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& def, int bufferChars) {
    std::string content;
    {
        std::lock_guard<std::mutex> lock(g_fileLock);
        if (ReadWhole(path, &content) != 0)
            return Clip(def, bufferChars);
    }
    return ProfileTextValue(content, section, key, def, bufferChars);
}

std::string ProfileTextValue(std::string_view content, const std::string& section,
                             const std::string& key, const std::string& def, int bufferChars) {
    const Profile p = Parse(content);
    const Range r = FindSection(p, Trim(section));
    std::string_view k, v;
    for (size_t i = r.begin + 1; i < r.end; ++i) {
        if (KeyLine(p.lines[i].text, &k, &v) && SameName(k, Trim(key)))
            return Clip(std::string(v), bufferChars);  // the first line of the key wins
    }
    return Clip(def, bufferChars);
}

bool WriteProfileString(const std::string& path, const std::string& section, const char* key,
                        const char* value) {
    ProfileEdit edit{section, std::nullopt, std::nullopt};
    if (key != nullptr)
        edit.key = key;
    if (key != nullptr && value != nullptr)
        edit.value = value;
    return WriteProfileStrings(path, {edit});
}

}  // namespace platform

namespace platform {

std::vector<std::pair<std::string, std::string>> GetProfileSection(const std::string& path,
                                                                   const std::string& section,
                                                                   int bufferChars) {
    std::string content;
    {
        std::lock_guard<std::mutex> lock(g_fileLock);
        if (ReadWhole(path, &content) != 0)
            return {};
    }
    const Profile p = Parse(content);
    const Range r = FindSection(p, Trim(section));
    std::vector<std::pair<std::string, std::string>> entries;
    std::string_view k, v;
    for (size_t i = r.begin + 1; i < r.end; ++i) {
        if (KeyLine(p.lines[i].text, &k, &v))
            entries.emplace_back(std::string(k), Clip(std::string(v), bufferChars));
    }
    return entries;
}

std::optional<std::string> ApplyProfileEdits(std::string_view content,
                                             const std::vector<ProfileEdit>& edits) {
    // A NUL byte would cut the text short wherever it is read as a C string.
    const auto hasNul = [](const std::optional<std::string>& s) {
        return s && s->find('\0') != std::string::npos;
    };
    for (const ProfileEdit& e : edits) {
        if (hasNul(e.key) || hasNul(e.value) || e.section.find('\0') != std::string::npos ||
            !Writable(Trim(e.section), e.key ? e.key->c_str() : nullptr,
                      e.value ? e.value->c_str() : nullptr))
            return std::nullopt;
    }
    Profile p = Parse(content);
    for (const ProfileEdit& e : edits) {
        const std::string_view name = Trim(e.section);
        if (!e.key)
            DeleteSection(&p, name);
        else if (!e.value)
            DeleteKey(&p, name, Trim(*e.key));
        else
            SetKey(&p, name, Trim(*e.key), *e.value);
    }
    return Serialise(p);
}

bool WriteProfileStrings(const std::string& path, const std::vector<ProfileEdit>& edits) {
    std::lock_guard<std::mutex> lock(g_fileLock);
    std::string content;
    const int err = ReadWhole(path, &content);
    if (err != 0 && err != ENOENT)
        return false;
    const std::optional<std::string> updated = ApplyProfileEdits(content, edits);
    if (!updated)
        return false;
    if (*updated == content)
        return true;
    return ReplaceFileAtomically(path, *updated) == 0;
}

}  // namespace platform
