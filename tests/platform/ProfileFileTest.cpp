#include "platform/ProfileFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::GetProfileString;
using platform::WriteProfileString;

class ProfileFileTest : public testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = testing::TempDir() + "profileXXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        path = dir + "/Planinfo.ini";
    }
    void TearDown() override { fs::remove_all(dir); }

    void Put(const std::optional<std::string>& content) const {
        fs::remove(path);
        if (content)
            std::ofstream(path, std::ios::binary) << *content;
    }
    std::optional<std::string> Content() const {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return std::nullopt;
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> OtherFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path() != path)
                names.push_back(e.path().filename().string());
        return names;
    }

    std::string dir;
    std::string path;
};

// A file with the things a hand-edited profile holds: comments, blanks around names and values,
// malformed lines, a duplicate key, a section given twice, Chinese names.
const char* const kMixed =
    "; settings\n"
    "loose=before any section\n"
    "[CONNECT]\n"
    "  IpAddr = 192.168.0.10  \n"
    "Port=5000\n"
    "port=6000\n"
    "Expr=a=b=c\n"
    "Empty=\n"
    "[broken\n"
    "no equals sign here\n"
    "; Note=comment\n"
    "\n"
    "[计划]\n"
    "名称=日程\n"
    "[connect]\n"
    "Extra=x\n"
    "Port=9999\n";

TEST_F(ProfileFileTest, ReadsValuesAsTheFileGivesThem) {
    const std::string x300(300, 'x');
    std::string zh300;
    for (int i = 0; i < 300; ++i)
        zh300 += "中";
    const std::string a258(258, 'a');
    struct Case {
        const char* what;
        std::optional<std::string> file;
        std::string section, key, def;
        int bufferChars;
        std::string want;
    };
    const Case cases[] = {
        {"plain", kMixed, "CONNECT", "Port", "d", 260, "5000"},
        {"case folded", kMixed, "connect", "PORT", "d", 260, "5000"},
        {"blanks trimmed", kMixed, "CONNECT", "ipaddr", "d", 260, "192.168.0.10"},
        {"blanks around the asked names", kMixed, " CONNECT ", " IpAddr ", "d", 260,
         "192.168.0.10"},
        {"first '=' splits", kMixed, "CONNECT", "Expr", "d", 260, "a=b=c"},
        {"empty value is a value", kMixed, "CONNECT", "Empty", "d", 260, ""},
        {"later section of same name unseen", kMixed, "CONNECT", "Extra", "d", 260, "d"},
        {"comment is no key", kMixed, "CONNECT", "; Note", "d", 260, "d"},
        {"key before any section", kMixed, "", "loose", "d", 260, "d"},
        {"missing key", kMixed, "CONNECT", "Missing", "d", 260, "d"},
        {"missing section", kMixed, "NOSUCH", "Port", "d", 260, "d"},
        {"missing file", std::nullopt, "CONNECT", "Port", "d", 260, "d"},
        {"UTF-8 names", kMixed, "计划", "名称", "d", 260, "日程"},
        {"CRLF and BOM", "\xEF\xBB\xBF[A]\r\nk = v \r\n[B]\r\n", "a", "K", "d", 260, "v"},
        {"last line unterminated", "[A]\nk=v", "A", "k", "d", 260, "v"},
        {"259 chars kept", "[A]\nk=" + x300 + "\n", "A", "k", "d", 260, x300.substr(0, 259)},
        {"small buffer", "[A]\nk=" + x300 + "\n", "A", "k", "d", 10, x300.substr(0, 9)},
        {"no room at all", "[A]\nk=v\n", "A", "k", "d", 1, ""},
        {"default clipped too", "[A]\n", "A", "k", x300, 260, x300.substr(0, 259)},
        {"Chinese counted as characters", "[A]\nk=" + zh300 + "\n", "A", "k", "d", 260,
         zh300.substr(0, 259 * 3)},
        {"3-byte char fits the last place", "[A]\nk=" + a258 + "中x\n", "A", "k", "d", 260,
         a258 + "中"},
        {"4-byte char needs two places", "[A]\nk=" + a258 + "\xF0\x9F\x98\x80\n", "A", "k", "d",
         260, a258},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(c.file);
        EXPECT_EQ(GetProfileString(path, c.section, c.key, c.def, c.bufferChars), c.want);
    }
}

TEST_F(ProfileFileTest, WritesChangeOnlyTheirLine) {
    struct Case {
        const char* what;
        std::optional<std::string> before;
        const char* section;
        const char* key;
        const char* value;
        bool ok;
        std::optional<std::string> after;
    };
    std::string mixedPortChanged = kMixed;
    mixedPortChanged.replace(mixedPortChanged.find("Port=5000"), 9, "PORT=7");
    std::string mixedKeyAdded = kMixed;
    mixedKeyAdded.insert(mixedKeyAdded.find("[broken"), "New=1\n");
    const Case cases[] = {
        {"creates the file", std::nullopt, "CONNECT", "Port", "5000", true,
         "[CONNECT]\nPort=5000\n"},
        {"replaces in place, rest kept", kMixed, "connect", "PORT", "7", true, mixedPortChanged},
        {"adds after the last key line", kMixed, "CONNECT", "New", "1", true, mixedKeyAdded},
        {"adds a missing section at the end", "[A]\nx=1\n", "B", "y", "2", true,
         "[A]\nx=1\n[B]\ny=2\n"},
        {"adds to a section without keys", "[A]\n; c\n[B]\n", "A", "k", "v", true,
         "[A]\nk=v\n; c\n[B]\n"},
        {"ends an unterminated last line", "[A]\nx=1", "A", "y", "2", true, "[A]\nx=1\ny=2\n"},
        {"keeps an unterminated replaced line", "[A]\nx=1", "A", "x", "2", true, "[A]\nx=2"},
        {"keeps CRLF", "[A]\r\nx=1\r\n", "A", "y", "2", true, "[A]\r\nx=1\r\ny=2\r\n"},
        {"CRLF for a new section", "[A]\r\nx=1\r\n", "B", "y", "2", true,
         "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
        {"keeps the BOM", "\xEF\xBB\xBF[A]\nx=1\n", "A", "x", "2", true, "\xEF\xBB\xBF[A]\nx=2\n"},
        {"value with '=' and Chinese", "", "计划", "名称", "a=日程", true, "[计划]\n名称=a=日程\n"},
        {"deletes every line of the key", "[A]\nk=1\nother=2\nK=3\n[B]\nk=4\n", "A", "k", nullptr,
         true, "[A]\nother=2\n[B]\nk=4\n"},
        {"deletes the section read; its twin stays, and so does the header before it",
         "; top\n[A]\nx=1\n; in A\n[B]\ny=2\n[a]\nz=3\n", "A", nullptr, nullptr, true,
         "; top\n[A]\n[B]\ny=2\n[a]\nz=3\n"},
        {"deletes a section without a twin whole", "; top\n[A]\nx=1\n; in A\n[B]\ny=2\n", "A",
         nullptr, nullptr, true, "; top\n[B]\ny=2\n"},
        {"delete of a missing key", "[A]\nx=1\n", "A", "y", nullptr, true, "[A]\nx=1\n"},
        {"delete of a missing section", "[A]\nx=1\n", "B", nullptr, nullptr, true, "[A]\nx=1\n"},
        {"delete creates no file", std::nullopt, "A", "x", nullptr, true, std::nullopt},
        {"line break in value refused", "[A]\nx=1\n", "A", "x", "1\n[B]", false, "[A]\nx=1\n"},
        {"'=' in key refused", "[A]\nx=1\n", "A", "x=y", "1", false, "[A]\nx=1\n"},
        {"comment-like key refused", "[A]\nx=1\n", "A", ";x", "1", false, "[A]\nx=1\n"},
        {"']' in section refused", "[A]\nx=1\n", "A]x", "k", "1", false, "[A]\nx=1\n"},
        {"empty section refused", std::nullopt, "", "k", "1", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(c.before);
        EXPECT_EQ(WriteProfileString(path, c.section, c.key, c.value), c.ok);
        EXPECT_EQ(Content(), c.after);
        if (c.ok && c.key != nullptr) {
            EXPECT_EQ(GetProfileString(path, c.section, c.key, "<none>"),
                      c.value ? c.value : "<none>");
        }
        EXPECT_TRUE(OtherFiles().empty());
    }
}

TEST_F(ProfileFileTest, UnreadableFileIsNotReplaced) {
    // A folder in the file's place cannot be read: the write fails and leaves nothing behind.
    fs::create_directory(path);
    EXPECT_FALSE(WriteProfileString(path, "A", "k", "v"));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(OtherFiles().empty());
    EXPECT_EQ(GetProfileString(path, "A", "k", "d"), "d");
}

// A file that is no profile file (larger than 1 MB, or not text) gives nothing to any reader
// and is never written: every byte stays. A text file of exactly 1 MB, with or without a byte
// order mark, is one.
TEST_F(ProfileFileTest, AFileThatIsNoProfileIsNeitherReadNorWritten) {
    using platform::ProfileFileKind;
    const std::string head = "[CONNECT]\r\nSerialTcp=1\r\n";
    const auto padded = [&](const std::string& start, size_t size) {
        return start + head + std::string(size - start.size() - head.size(), ';');
    };
    const struct {
        const char* name;
        std::string content;
        ProfileFileKind kind;
    } cases[] = {
        {"1 MB of text", padded("", platform::kMaxProfileBytes), ProfileFileKind::kProfile},
        {"1 MB with a BOM", padded("\xEF\xBB\xBF", platform::kMaxProfileBytes),
         ProfileFileKind::kProfile},
        {"Chinese text", head + "; 计划\r\n", ProfileFileKind::kProfile},
        {"one byte over 1 MB", padded("", platform::kMaxProfileBytes + 1),
         ProfileFileKind::kTooLarge},
        {"a NUL byte", head + std::string("x\0y", 3), ProfileFileKind::kNotText},
        {"Latin-1, not UTF-8", head + "; caf\xE9\r\n", ProfileFileKind::kNotText},
        {"a BOM, then binary", "\xEF\xBB\xBF" + head + "\xFF\xFE", ProfileFileKind::kNotText},
        {"a UTF-16 file", std::string("\xFF\xFE[\0C\0]\0", 8), ProfileFileKind::kNotText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Put(c.content);
        EXPECT_EQ(platform::CheckProfileFile(path), c.kind);
        const bool profile = c.kind == ProfileFileKind::kProfile;
        EXPECT_EQ(GetProfileString(path, "CONNECT", "SerialTcp", "d"), profile ? "1" : "d");
        EXPECT_EQ(platform::GetProfileSection(path, "CONNECT").empty(), !profile);
        EXPECT_EQ(platform::WriteProfileStrings(path, {{"CONNECT", std::nullopt, std::nullopt}}),
                  profile);
        EXPECT_EQ(WriteProfileString(path, "CONNECT", "ConnectFlag", "1"), profile);
        if (!profile) {
            EXPECT_EQ(Content(), c.content);  // byte for byte
            EXPECT_TRUE(OtherFiles().empty());
        }
    }
    Put(std::nullopt);
    EXPECT_EQ(platform::CheckProfileFile(path), ProfileFileKind::kMissing);
}

// Runs fn in a child process as a user without special rights (root gives them up for it);
// returns its result.
bool AsPlainUser(const std::function<bool()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(ProfileFileTest, AFileTheUserMayNotWriteIsNeverReplaced) {
    // The folder lets anyone make files; the profile itself is read-only. Replacing it would
    // need only the folder's permission.
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    const std::string before = "[CONNECT]\nConnectFlag=0\n";
    Put(before);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(
        AsPlainUser([&] { return WriteProfileString(path, "CONNECT", "ConnectFlag", "1"); }));
    EXPECT_FALSE(
        AsPlainUser([&] { return WriteProfileString(path, "CONNECT", nullptr, nullptr); }));
    EXPECT_FALSE(AsPlainUser([&] {
        return platform::WriteProfileStrings(path, {{"CONNECT", "ConnectFlag", "1"}});
    }));
    EXPECT_EQ(Content(), before);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0444));
    EXPECT_TRUE(OtherFiles().empty());
    // Someone who may write it still can.
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    EXPECT_TRUE(
        AsPlainUser([&] { return WriteProfileString(path, "CONNECT", "ConnectFlag", "1"); }));
    EXPECT_EQ(GetProfileString(path, "CONNECT", "ConnectFlag", ""), "1");
}

TEST_F(ProfileFileTest, TheReplacementKeepsThePermissions) {
    for (const unsigned mode : {0600u, 0640u, 0664u}) {
        SCOPED_TRACE(mode);
        Put("[A]\nx=1\n");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(WriteProfileString(path, "A", "x", "2"));
        EXPECT_EQ(fs::status(path).permissions(), fs::perms(mode));
    }
}

TEST_F(ProfileFileTest, ThreadsDoNotLoseEachOthersKeys) {
    const int perThread = 20;
    auto writer = [&](const char* section) {
        for (int i = 0; i < perThread; ++i)
            WriteProfileString(path, section, ("Time" + std::to_string(i)).c_str(), section);
    };
    std::thread a(writer, "DAYTIME");
    std::thread b(writer, "WEEKTIME");
    a.join();
    b.join();
    for (const char* section : {"DAYTIME", "WEEKTIME"}) {
        for (int i = 0; i < perThread; ++i)
            EXPECT_EQ(GetProfileString(path, section, "Time" + std::to_string(i), "lost"), section);
    }
}

TEST_F(ProfileFileTest, KilledWriterLeavesAWholeFile) {
    std::vector<std::string> values = {"old"};
    for (char c : {'a', 'b', 'c'})
        values.push_back(std::string(512 * 1024 + (c - 'a'), c));
    ASSERT_TRUE(WriteProfileString(path, "BIG", "v", "old"));
    ASSERT_TRUE(WriteProfileString(path, "TAIL", "end", "yes"));

    std::mt19937 rng(12345);
    const int kills = 8;
    for (int round = 0; round < kills; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (size_t i = 1;; i = i % 3 + 1)
                WriteProfileString(path, "BIG", "v", values[i].c_str());
        }
        ::usleep(std::uniform_int_distribution<int>(0, 30000)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        SCOPED_TRACE(round);
        const std::string got = GetProfileString(path, "BIG", "v", "missing", 1 << 21);
        EXPECT_NE(std::find(values.begin(), values.end(), got), values.end())
            << "value of " << got.size() << " bytes";
        EXPECT_EQ(GetProfileString(path, "TAIL", "end", "missing"), "yes");
    }
    // A killed writer may leave its own temporary file, nothing else; the next write removes
    // those of writers that are gone.
    const std::vector<std::string> others = OtherFiles();
    EXPECT_LE(others.size(), 1u);
    for (const std::string& name : others)
        EXPECT_EQ(name.rfind("Planinfo.ini.tmp", 0), 0u) << name;
    // One left by a writer long gone, and one of a writer still running, which is kept.
    const std::string gone = path + ".tmp999999999";
    std::ofstream(gone) << "half";
    const std::string running = path + ".tmp" + std::to_string(::getppid());
    std::ofstream(running) << "busy";

    ASSERT_TRUE(WriteProfileString(path, "BIG", "v", "after"));
    EXPECT_EQ(GetProfileString(path, "BIG", "v", "missing"), "after");
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{fs::path(running).filename().string()});
    fs::remove(running);
}

TEST_F(ProfileFileTest, BatchesApplyInOrderAllOrNothing) {
    using platform::ProfileEdit;
    using platform::WriteProfileStrings;
    const std::string before =
        "[CONNECT]\nPort=5000\n[DAYTIME]\nTime0=a\nTime1=b\n[PLANCOUNT]\nn=2\n";
    struct Case {
        const char* what;
        std::vector<ProfileEdit> edits;
        bool ok;
        std::string after;
    };
    const Case cases[] = {
        {"section rewritten and count set in one go",
         {{"DAYTIME", "Time1", "c"},
          {"PLANCOUNT", "n", "3"},
          {"daytime", std::nullopt, std::nullopt},
          {"DAYTIME", "Time0", "x"},
          {"DAYTIME", "Time1", "y"}},
         true,
         "[CONNECT]\nPort=5000\n[PLANCOUNT]\nn=3\n[DAYTIME]\nTime0=x\nTime1=y\n"},
        {"key deleted",
         {{"DAYTIME", "time0", std::nullopt}},
         true,
         "[CONNECT]\nPort=5000\n[DAYTIME]\nTime1=b\n[PLANCOUNT]\nn=2\n"},
        {"a line break in one value: none written",
         {{"PLANCOUNT", "n", "3"}, {"DAYTIME", "Time0", "05\r, 9: 0: 0,4"}},
         false,
         before},
        {"a NUL byte in one value: none written",
         {{"PLANCOUNT", "n", "3"},
          {"DAYTIME", "Time0",
           std::string("0\0"
                       "5",
                       3)}},
         false,
         before},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(before);
        EXPECT_EQ(WriteProfileStrings(path, c.edits), c.ok);
        EXPECT_EQ(Content(), c.after);
        EXPECT_TRUE(OtherFiles().empty());
    }

    // A batch that changes nothing leaves the file alone: a file that cannot be replaced is fine.
    Put(before);
    const std::string blocker = path + ".tmp" + std::to_string(::getpid());
    fs::create_directory(blocker);
    EXPECT_TRUE(WriteProfileStrings(path, {{"DAYTIME", "Time0", "a"}, {"PLANCOUNT", "n", "2"}}));
    EXPECT_FALSE(WriteProfileStrings(path, {{"DAYTIME", "Time0", "z"}}));
    EXPECT_EQ(Content(), before);
    fs::remove(blocker);
}

TEST_F(ProfileFileTest, SectionReadsAllItsKeysAtOnce) {
    Put("[A]\nk=1\n; c\nK = 2 \nlong=" + std::string(300, 'x') + "\n[B]\nz=3\n[a]\nlate=4\n");
    const auto entries = platform::GetProfileSection(path, " a ");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], std::make_pair(std::string("k"), std::string("1")));
    EXPECT_EQ(entries[1], std::make_pair(std::string("K"), std::string("2")));
    EXPECT_EQ(entries[2].second, std::string(259, 'x'));
    EXPECT_TRUE(platform::GetProfileSection(path, "C").empty());
    EXPECT_TRUE(platform::GetProfileSection(dir + "/none.ini", "A").empty());
}

}  // namespace

// Writes through a chain of links (relative and absolute targets) land in the file they name,
// and the links stay links; a dangling link gets its file made; a file whose mode lets no one
// write is left alone even for root.
TEST_F(ProfileFileTest, WritesGoThroughLinksAndModeBitsHoldForRoot) {
    fs::create_directory(dir + "/real");
    const std::string real = dir + "/real/P.ini";
    std::ofstream(real, std::ios::binary) << "[A]\nk=1\n";
    ASSERT_EQ(::symlink("real/P.ini", (dir + "/l1.ini").c_str()), 0);
    ASSERT_EQ(::symlink((dir + "/l1.ini").c_str(), path.c_str()), 0);
    EXPECT_TRUE(WriteProfileString(path, "A", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_TRUE(fs::is_symlink(dir + "/l1.ini"));
    EXPECT_EQ(GetProfileString(real, "A", "k", ""), "2");

    const std::string dangling = dir + "/d.ini";
    ASSERT_EQ(::symlink("real/New.ini", dangling.c_str()), 0);
    EXPECT_TRUE(WriteProfileString(dangling, "A", "k", "3"));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_TRUE(fs::exists(dir + "/real/New.ini"));

    ASSERT_EQ(::chmod(real.c_str(), 0444), 0);
    EXPECT_FALSE(WriteProfileString(path, "A", "k", "9"));  // for root as for anyone
    EXPECT_EQ(GetProfileString(real, "A", "k", ""), "2");
    for (const auto& e : fs::directory_iterator(dir + "/real"))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos);
}

// Writers killed while writing through a link: the target stays whole, the link stays a link,
// and temporary files appear only beside the target and are cleared by the next write.
TEST_F(ProfileFileTest, KilledWriterThroughALinkLeavesAWholeFile) {
    fs::create_directory(dir + "/real");
    const std::string real = dir + "/real/Planinfo.ini";
    std::ofstream(real, std::ios::binary) << "[BIG]\nv=old\n[TAIL]\nend=yes\n";
    ASSERT_EQ(::symlink("real/Planinfo.ini", path.c_str()), 0);
    const std::string big(512 * 1024, 'a');
    std::mt19937 rng(777);
    for (int round = 0; round < 6; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            for (;;)
                WriteProfileString(path, "BIG", "v", big.c_str());
        ::usleep(std::uniform_int_distribution<int>(0, 30000)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        SCOPED_TRACE(round);
        const std::string got = GetProfileString(path, "BIG", "v", "missing", 1 << 21);
        EXPECT_TRUE(got == "old" || got == big) << got.size();
        EXPECT_EQ(GetProfileString(path, "TAIL", "end", "missing"), "yes");
        EXPECT_TRUE(fs::is_symlink(path));
    }
    EXPECT_TRUE(OtherFiles() == std::vector<std::string>{"real"});
    ASSERT_TRUE(WriteProfileString(path, "BIG", "v", "after"));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(GetProfileString(real, "BIG", "v", "missing"), "after");
    for (const auto& e : fs::directory_iterator(dir + "/real"))
        EXPECT_EQ(e.path().filename().string(), "Planinfo.ini");
}

// Writers killed while rewriting a section that has a twin (as a plan page rewrites its kind's
// section): the file stays whole, the twin byte for byte, and no temporary file outlives the next
// write.
TEST_F(ProfileFileTest, KilledWriterRewritingASectionKeepsItsTwin) {
    const std::string twin = "[BIG]\nv=twin\nkeep=1\n";
    std::ofstream(path, std::ios::binary) << "[BIG]\nv=old\n[TAIL]\nend=yes\n" << twin;
    const std::string big(512 * 1024, 'b');
    std::mt19937 rng(4242);
    for (int round = 0; round < 6; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            for (;;)
                platform::WriteProfileStrings(
                    path, {{"BIG", std::nullopt, std::nullopt}, {"BIG", "v", big}});
        ::usleep(std::uniform_int_distribution<int>(0, 30000)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        SCOPED_TRACE(round);
        const std::string got = GetProfileString(path, "BIG", "v", "missing", 1 << 21);
        EXPECT_TRUE(got == "old" || got == big) << got.size();
        std::ifstream in(path, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GE(content.size(), twin.size());
        EXPECT_EQ(content.substr(content.size() - twin.size()), twin);
        EXPECT_NE(content.find("[TAIL]\nend=yes\n"), std::string::npos);
    }
    EXPECT_LE(OtherFiles().size(), 1u);
    ASSERT_TRUE(WriteProfileString(path, "BIG", "v", "after"));
    EXPECT_EQ(GetProfileString(path, "BIG", "v", "missing"), "after");
    EXPECT_TRUE(OtherFiles().empty());
}

// A section given twice (a hand merge): reads take the first, so a rewrite replaces the first
// and leaves the twin byte for byte; without a twin, a section written anew goes to the end as
// before.
TEST(ProfileText, ARewriteReplacesTheSectionReadAndKeepsItsTwin) {
    using platform::ProfileEdit;
    const ProfileEdit del{"A", std::nullopt, std::nullopt};
    const ProfileEdit set9{"A", std::string("k"), std::string("9")};
    const struct {
        const char* name;
        const char* before;
        std::vector<ProfileEdit> edits;
        const char* after;
    } cases[] = {
        {"twin, rewritten",
         "[A]\nk=1\n[B]\nx=1\n[A]\nk=2\nm=3\n",
         {del, set9},
         "[A]\nk=9\n[B]\nx=1\n[A]\nk=2\nm=3\n"},
        {"twin, emptied", "[A]\nk=1\n[B]\nx=1\n[A]\nk=2\n", {del}, "[A]\n[B]\nx=1\n[A]\nk=2\n"},
        {"twin, CRLF",
         "[A]\r\nk=1\r\n[A]\r\n k = 2 \r\n",
         {del, set9},
         "[A]\r\nk=9\r\n[A]\r\n k = 2 \r\n"},
        {"no twin, rewritten", "[A]\nk=1\n[B]\nx=1\n", {del, set9}, "[B]\nx=1\n[A]\nk=9\n"},
        {"no twin, deleted", "[A]\nk=1\n[B]\nx=1\n", {del}, "[B]\nx=1\n"},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> out = platform::ApplyProfileEdits(c.before, c.edits);
        ASSERT_TRUE(out) << c.name;
        EXPECT_EQ(*out, c.after) << c.name;
        EXPECT_EQ(platform::ProfileTextValue(*out, "A", "k", "none"),
                  std::string(c.edits.size() == 2 ? "9" : "none"))
            << c.name;
    }
}
