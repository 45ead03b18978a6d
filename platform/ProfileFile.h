// A profile file ("./Planinfo.ini"): [Section] lines and key=value lines, as the settings and the
// plans are kept. Sections and keys match without regard to case; every other section, key and
// line is kept as it was when one value changes. Text is UTF-8. Every write replaces the whole
// file atomically (temporary file in the same folder, flushed, renamed over the old one), so an
// interrupted write leaves either the old or the new file, never a broken one.
//
// A file larger than kMaxProfileBytes, or one that is not text (a NUL byte, or bytes that are not
// UTF-8 after an optional byte order mark), is no profile file: it is not read (every value is
// its default, every section empty) and never written (every write fails and leaves it byte for
// byte as it was). A large file is refused from its size alone, unread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

constexpr size_t kMaxProfileBytes = 1024 * 1024;

// What the file at path is to the functions below.
enum class ProfileFileKind {
    kMissing,     // no such file: reads give defaults, the first write makes it
    kProfile,     // a profile file
    kTooLarge,    // larger than kMaxProfileBytes: not a profile file
    kNotText,     // not text: not a profile file
    kUnreadable,  // cannot be read (no permission, a folder)
};
ProfileFileKind CheckProfileFile(const std::string& path);
// The file is there but is no profile file: kTooLarge or kNotText.
inline bool IsForeignFile(ProfileFileKind kind) {
    return kind == ProfileFileKind::kTooLarge || kind == ProfileFileKind::kNotText;
}

// The value of key in section, or def when the file, the section or the key is missing. At most
// bufferChars - 1 characters are returned (a 260-character buffer holds 259 and the terminator),
// never cutting a UTF-8 character in two.
std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& def, int bufferChars = 260);

// Sets key in section to value, creating the file, the section or the key as needed.
// value == nullptr deletes the key; key == nullptr deletes the whole section.
// Returns false when the file could not be written (a file this user may not write, a folder
// in its place, a full disk) or the text would break it; the file is then left as it was, its
// permissions too. Deleting what is not there changes nothing and returns true. A replaced
// file keeps its permission bits, its owner and its group.
bool WriteProfileString(const std::string& path, const std::string& section, const char* key,
                        const char* value);

// The key lines of section as (key, value) pairs, in file order (duplicates included), each value
// clipped as GetProfileString clips it; empty when the file or the section is missing. One read
// of the file, however many keys the section holds.
std::vector<std::pair<std::string, std::string>> GetProfileSection(const std::string& path,
                                                                   const std::string& section,
                                                                   int bufferChars = 260);

// One change of a batch: key and value as for WriteProfileString (no value deletes the key, no key
// deletes the whole section).
struct ProfileEdit {
    std::string section;
    std::optional<std::string> key;
    std::optional<std::string> value;
};

// Applies edits in order and replaces the file once, atomically: afterwards the file holds all of
// them or, on failure, none. False when the file could not be written or an edit would break it
// (a line break or a NUL byte in a name or value); the file is then unchanged. A batch that leaves
// the content as it was does not touch the file.
bool WriteProfileStrings(const std::string& path, const std::vector<ProfileEdit>& edits);

// The same rules on a profile's text in memory, as the functions above apply them to the file's
// content: the value of key in section (or def), and the text with edits applied (nullopt when
// an edit would break it).
std::string ProfileTextValue(std::string_view content, const std::string& section,
                             const std::string& key, const std::string& def, int bufferChars = 260);
std::optional<std::string> ApplyProfileEdits(std::string_view content,
                                             const std::vector<ProfileEdit>& edits);

}  // namespace platform
