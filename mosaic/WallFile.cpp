#include "mosaic/WallFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "platform/ProfileFile.h"

namespace mosaic {

using platform::FileFault;
using platform::FileProblem;

namespace {

constexpr const char* kMagic = "orn312-wall";
constexpr const char* kScreenForm =
    "screen NNN id=N width=W height=H [input-adjust=W,H,X,Y] [output-adjust=W,H,X,Y]";

std::string Three(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03d", n);
    return buf;
}

std::string AdjustText(const WindowValues& a) {
    return std::to_string(a.width) + "," + std::to_string(a.height) + "," +
           std::to_string(a.hStart) + "," + std::to_string(a.vStart);
}

// "AxB" (x or X) into two whole numbers.
bool SplitPair(const std::string& text, std::string& a, std::string& b) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        return false;
    }
    a = text.substr(0, x);
    b = text.substr(x + 1);
    return true;
}

// Reads lines into a plan, the first fault ending it.
class Reader {
public:
    std::variant<WallPlan, FileProblem> Read(std::string_view text);

private:
    bool Fail(FileProblem p) {
        m_problem = std::move(p);
        return false;
    }
    bool Number(int line, const std::string& what, const std::string& text, int low, int high,
                int& v) {
        int parsed = 0;
        if (!platform::ParseWholeNumber(text, INT32_MIN / 2, INT32_MAX / 2, parsed)) {
            return Fail({FileFault::kMalformed, line, what, text, 0, 0, "a whole number"});
        }
        if (parsed < low || parsed > high) {
            return Fail({FileFault::kOutOfRange, line, what, text, low, high, ""});
        }
        v = parsed;
        return true;
    }
    bool Pair(const platform::TextLine& l, const char* entry, const char* first, const char* second,
              int low1, int high1, int low2, int high2, int& a, int& b) {
        std::string ta, tb;
        if (l.words.size() != 2 || !SplitPair(l.words[1], ta, tb)) {
            return Fail({FileFault::kMalformed, l.number, entry, platform::JoinWords(l.words), 0, 0,
                         std::string(entry) + " AxB"});
        }
        return Number(l.number, first, ta, low1, high1, a) &&
               Number(l.number, second, tb, low2, high2, b);
    }
    bool Adjust(int line, const std::string& what, const std::string& text, WindowValues& v);
    bool Screen(const platform::TextLine& l);
    bool Once(const platform::TextLine& l, std::optional<int>& seen, const char* entry) {
        if (seen) {
            return Fail({FileFault::kTwice, l.number, entry, "", *seen, 0, ""});
        }
        seen = l.number;
        return true;
    }

    std::optional<FileProblem> m_problem;
    WallPlan m_plan;
    std::optional<int> m_specLine, m_outputLine;
};

bool Reader::Adjust(int line, const std::string& what, const std::string& text, WindowValues& v) {
    int values[4] = {};
    size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        const size_t comma = text.find(',', at);
        const bool last = k == 3;
        if (last != (comma == std::string::npos)) {
            return Fail({FileFault::kMalformed, line, what, text, 0, 0, "W,H,X,Y"});
        }
        const std::string part = text.substr(at, last ? std::string::npos : comma - at);
        if (!Number(line, what, part, -32768, 32767, values[k])) {
            return false;
        }
        at = comma + 1;
    }
    v = WindowValues{values[0], values[1], values[2], values[3]};
    return true;
}

bool Reader::Screen(const platform::TextLine& l) {
    const int count = m_plan.Count();
    int n = 0;
    if (l.words.size() < 2 || !Number(l.number, "screen", l.words[1], 0, count - 1, n)) {
        if (!m_problem) {
            Fail({FileFault::kMalformed, l.number, "screen", platform::JoinWords(l.words), 0, 0,
                  kScreenForm});
        }
        return false;
    }
    const std::string name = "screen " + Three(n);
    WallScreen s;
    std::optional<int> id, width, height;
    bool inSeen = false, outSeen = false;
    for (size_t k = 2; k < l.words.size(); ++k) {
        std::string field, value;
        if (!platform::SplitField(l.words[k], field, value)) {
            return Fail({FileFault::kMalformed, l.number, name, platform::JoinWords(l.words), 0, 0,
                         kScreenForm});
        }
        int v = 0;
        if (field == "id" && !id) {
            if (!Number(l.number, name + " id", value, kMinDeviceId, kMaxDeviceId, v)) {
                return false;
            }
            id = v;
        } else if (field == "width" && !width) {
            if (!Number(l.number, name + " width", value, kMinSize, m_plan.outWidth, v)) {
                return false;
            }
            width = v;
        } else if (field == "height" && !height) {
            if (!Number(l.number, name + " height", value, kMinSize, m_plan.outHeight, v)) {
                return false;
            }
            height = v;
        } else if (field == "input-adjust" && !inSeen) {
            inSeen = true;
            if (!Adjust(l.number, name + " input-adjust", value, s.inputAdjust)) {
                return false;
            }
        } else if (field == "output-adjust" && !outSeen) {
            outSeen = true;
            if (!Adjust(l.number, name + " output-adjust", value, s.outputAdjust)) {
                return false;
            }
        } else {
            return Fail({FileFault::kMalformed, l.number, name, platform::JoinWords(l.words), 0, 0,
                         kScreenForm});
        }
    }
    if (!id || !width || !height) {
        return Fail({FileFault::kMalformed, l.number, name, platform::JoinWords(l.words), 0, 0,
                     kScreenForm});
    }
    s.deviceId = *id;
    s.width = *width;
    s.height = *height;
    m_plan.screens[static_cast<size_t>(n)] = s;
    return true;
}

std::variant<WallPlan, FileProblem> Reader::Read(std::string_view text) {
    const std::vector<platform::TextLine> lines = platform::SplitTextLines(text);
    if (auto problem = platform::CheckFileHead(lines, kMagic, kWallFileVersion)) {
        return *problem;
    }
    // The specification and the output come first in meaning: screens are read against them.
    std::vector<const platform::TextLine*> screenLines;
    for (size_t i = 1; i < lines.size() && !m_problem; ++i) {
        const platform::TextLine& l = lines[i];
        const std::string& entry = l.words[0];
        if (entry == "specification") {
            Once(l, m_specLine, "specification") &&
                Pair(l, "specification", "rows", "columns", 1, kMaxRows, 1, kMaxCols, m_plan.rows,
                     m_plan.cols);
        } else if (entry == "output") {
            Once(l, m_outputLine, "output") &&
                Pair(l, "output", "output width", "output height", kMinSize, 65535, kMinSize, 65535,
                     m_plan.outWidth, m_plan.outHeight);
        } else if (entry == "screen") {
            screenLines.push_back(&l);
        } else {
            Fail({FileFault::kUnknownEntry, l.number, "", entry, 0, 0, ""});
        }
    }
    const int lastLine = lines.back().number;
    if (!m_problem && !m_specLine) {
        Fail({FileFault::kMissing, lastLine, "specification", "", 0, 0, ""});
    }
    if (!m_problem && !m_outputLine) {
        Fail({FileFault::kMissing, lastLine, "output", "", 0, 0, ""});
    }
    if (!m_problem) {
        m_plan.screens.assign(static_cast<size_t>(m_plan.Count()), WallScreen{});
        std::map<int, int> lineOfScreen;
        std::map<int, std::pair<int, int>> byId;  // device ID -> (screen, line)
        for (const platform::TextLine* l : screenLines) {
            if (!Screen(*l)) {
                break;
            }
            int n = 0;
            platform::ParseWholeNumber(l->words[1], 0, 1 << 30, n);
            if (const auto [it, fresh] = lineOfScreen.emplace(n, l->number); !fresh) {
                Fail({FileFault::kTwice, l->number, "screen " + Three(n), "", it->second, 0, ""});
                break;
            }
            const int id = m_plan.screens[static_cast<size_t>(n)].deviceId;
            if (const auto [it, fresh] = byId.emplace(id, std::make_pair(n, l->number)); !fresh) {
                Fail({FileFault::kSameId, l->number, "screen " + Three(it->second.first),
                      std::to_string(id), it->second.second, 0, ""});
                break;
            }
        }
        for (int n = 0; n < m_plan.Count() && !m_problem; ++n) {
            if (lineOfScreen.count(n) == 0) {
                Fail({FileFault::kMissing, lastLine, "screen " + Three(n), "", 0, 0, ""});
            }
        }
    }
    if (m_problem) {
        return *m_problem;
    }
    return m_plan;
}

}  // namespace

std::string WallFileText(const WallPlan& plan) {
    std::string t =
        "# ORN312 wall: screens row by row from the top left; adjustments are\n"
        "# width,height,horizontal start,vertical start added to the calculated windows\n";
    t += std::string(kMagic) + " " + std::to_string(kWallFileVersion) + "\n";
    t += "specification " + std::to_string(plan.rows) + "x" + std::to_string(plan.cols) + "\n";
    t += "output " + std::to_string(plan.outWidth) + "x" + std::to_string(plan.outHeight) + "\n";
    for (size_t n = 0; n < plan.screens.size(); ++n) {
        const WallScreen& s = plan.screens[n];
        t += "screen " + Three(static_cast<int>(n)) + " id=" + std::to_string(s.deviceId) +
             " width=" + std::to_string(s.width) + " height=" + std::to_string(s.height);
        if (s.inputAdjust != WindowValues{}) {
            t += " input-adjust=" + AdjustText(s.inputAdjust);
        }
        if (s.outputAdjust != WindowValues{}) {
            t += " output-adjust=" + AdjustText(s.outputAdjust);
        }
        t += "\n";
    }
    return t;
}

std::variant<WallPlan, FileProblem> ParseWallFile(std::string_view text) {
    Reader reader;
    return reader.Read(text);
}

std::variant<WallPlan, FileProblem> LoadWallFile(const std::string& path) {
    return platform::LoadTextFile<WallPlan>(path, ParseWallFile);
}

std::optional<FileProblem> SaveWallFile(const std::string& path, const WallPlan& plan) {
    return platform::SaveTextFile(path, WallFileText(plan));
}

namespace {

constexpr const char* kProcessorKey = "Processor";
constexpr const char* kFirstIdKey = "FirstID";

// A wall file entry and the plan file key it is kept under: "specification" is Specification,
// "screen 003" is Screen003.
struct Entry {
    const char* word;
    const char* key;
};
constexpr Entry kEntries[] = {{"specification", "Specification"}, {"output", "Output"}};

// Keys match without regard to case, as the plan file's keys do.
bool SameKey(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::optional<KeptWall> LoadKeptWall(const std::string& planFile, const std::string& processor) {
    const auto keys = platform::GetProfileSection(planFile, kKeptWallSection);
    std::optional<std::string> kept, first;
    // The wall file the keys make, read by the wall file's reader.
    std::string text = std::string(kMagic) + " " + std::to_string(kWallFileVersion) + "\n";
    for (const auto& [key, value] : keys) {
        if (SameKey(key, kProcessorKey)) {
            kept = kept ? kept : value;
        } else if (SameKey(key, kFirstIdKey)) {
            first = first ? first : value;
        } else if (key.size() > 6 && SameKey(key.substr(0, 6), "Screen")) {
            text += "screen " + key.substr(6) + " " + value + "\n";
        } else {
            for (const Entry& e : kEntries) {
                if (SameKey(key, e.key)) {
                    text += std::string(e.word) + " " + value + "\n";
                }
            }
        }
    }
    int firstId = 0;
    if (!kept || *kept != processor || !first ||
        !platform::ParseWholeNumber(*first, kMinDeviceId, kMaxDeviceId, firstId)) {
        return std::nullopt;
    }
    auto read = ParseWallFile(text);
    if (!std::holds_alternative<WallPlan>(read)) {
        return std::nullopt;
    }
    return KeptWall{processor, firstId, std::get<WallPlan>(std::move(read))};
}

bool KeepWall(const std::string& planFile, const KeptWall& kept) {
    std::vector<platform::ProfileEdit> edits{
        {kKeptWallSection, std::nullopt, std::nullopt},
        {kKeptWallSection, kProcessorKey, kept.processor},
        {kKeptWallSection, kFirstIdKey, std::to_string(kept.firstId)},
    };
    // The wall file's lines after its head, each kept under the key of its entry.
    for (const platform::TextLine& l : platform::SplitTextLines(WallFileText(kept.plan))) {
        if (l.words.size() < 2 || l.words[0] == kMagic) {
            continue;
        }
        if (l.words[0] == "screen") {
            std::vector<std::string> rest(l.words.begin() + 2, l.words.end());
            edits.push_back({kKeptWallSection, "Screen" + l.words[1], platform::JoinWords(rest)});
        }
        for (const Entry& e : kEntries) {
            if (l.words[0] == e.word) {
                edits.push_back({kKeptWallSection, e.key, l.words[1]});
            }
        }
    }
    return platform::WriteProfileStrings(planFile, edits);
}

}  // namespace mosaic
