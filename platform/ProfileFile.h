// A profile file ("./Planinfo.ini"): [Section] lines and key=value lines, as the settings and the
// plans are kept. Sections and keys match without regard to case; every other section, key and
// line is kept as it was when one value changes. Text is UTF-8. Every write replaces the whole
// file atomically (temporary file in the same folder, flushed, renamed over the old one), so an
// interrupted write leaves either the old or the new file, never a broken one.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The value of key in section, or def when the file, the section or the key is missing. At most
// bufferChars - 1 characters are returned (a 260-character buffer holds 259 and the terminator),
// never cutting a UTF-8 character in two.
std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& def, int bufferChars = 260);

// The keys of section in file order (duplicates included); empty when the file or the section
// is missing.
std::vector<std::string> GetProfileKeys(const std::string& path, const std::string& section);

// Sets key in section to value, creating the file, the section or the key as needed.
// value == nullptr deletes the key; key == nullptr deletes the whole section.
// Returns false when the file could not be written (a file this user may not write, a folder
// in its place, a full disk) or the text would break it; the file is then left as it was, its
// permissions too. Deleting what is not there changes nothing and returns true. A replaced
// file keeps its permission bits.
bool WriteProfileString(const std::string& path, const std::string& section, const char* key,
                        const char* value);

}  // namespace platform
