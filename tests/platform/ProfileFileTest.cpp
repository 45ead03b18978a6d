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
        {"deletes the section that reads see", "; top\n[A]\nx=1\n\n[B]\ny=2\n", "A", nullptr,
         nullptr, true, "; top\n[B]\ny=2\n"},
        // A later section of the name was never read: it stays, and the header before it too,
        // so that it does not take the deleted section's place.
        {"a twin section stays", "[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n", "A", nullptr, nullptr, true,
         "[A]\n[B]\ny=2\n[a]\nz=3\n"},
        {"comments of a deleted section stay", "[A]\nx=1\n; about A\n[B]\n", "A", nullptr, nullptr,
         true, "[A]\n; about A\n[B]\n"},
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
    // Root writing an operator's file (a kiosk running everything as root) leaves it the
    // operator's: otherwise the operator's own program could no longer save it.
    if (::geteuid() != 0)
        return;
    Put("[A]\nx=1\n");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_TRUE(WriteProfileString(path, "A", "x", "2"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
}

// A file whose mode grants write to no one is how an integrator locks it. Root passes every
// access check, so the mode itself decides: such a file is never replaced, whoever runs the
// program. A file its owner may write still is.
TEST_F(ProfileFileTest, AFileNoOneMayWriteIsLockedForRootToo) {
    struct Case {
        unsigned mode;
        bool replaced;
    };
    const Case cases[] = {{0444, false}, {0400, false}, {0555, false},
                          {0000, false}, {0644, true},  {0600, true}};
    const std::string before = "[CONNECT]\nConnectFlag=0\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        fs::remove(path);
        Put(before);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        EXPECT_EQ(platform::WriteProfileStrings(path, {{"CONNECT", "ConnectFlag", "1"}}),
                  c.replaced);
        ASSERT_EQ(::chmod(path.c_str(), 0600), 0);  // to read it back as anyone
        EXPECT_EQ(Content(), c.replaced ? "[CONNECT]\nConnectFlag=1\n" : before);
        EXPECT_TRUE(OtherFiles().empty());
    }
}

// Integrators keep one plan file for the window and the service and link to it. A write goes
// through the links to the file where they end: its temporary file beside that file, renamed
// over it, every link left as it was. Relative targets count from the folder of their link.
TEST_F(ProfileFileTest, WritesGoThroughLinks) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links;  // link in dir, its target text
        std::string file;                                        // where the links end, in dir
        bool fileThere;
    };
    const Case cases[] = {
        {"link beside its file", {{"Planinfo.ini", "real.ini"}}, "real.ini", true},
        {"absolute link into another folder",
         {{"Planinfo.ini", dir + "/data/plans.ini"}},
         "data/plans.ini",
         true},
        {"chain of relative links",
         {{"Planinfo.ini", "hop.ini"},
          {"hop.ini", "data/next.ini"},
          {"data/next.ini", "../data/plans.ini"}},
         "data/plans.ini",
         true},
        {"dangling link: the file is made where it points",
         {{"Planinfo.ini", "data/plans.ini"}},
         "data/plans.ini",
         false},
    };
    const auto filesIn = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            names.push_back(e.path().lexically_relative(dir).string());
        std::sort(names.begin(), names.end());
        return names;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir + "/data");
        const std::string file = dir + "/" + c.file;
        if (c.fileThere) {
            std::ofstream(file, std::ios::binary) << "[A]\nx=1\n; note\n";
            ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
        }
        for (const auto& [link, target] : c.links)
            fs::create_symlink(target, dir + "/" + link);
        const std::vector<std::string> names = [&] {
            std::vector<std::string> n = filesIn();
            if (!c.fileThere)
                n.push_back(c.file);
            std::sort(n.begin(), n.end());
            return n;
        }();

        EXPECT_TRUE(WriteProfileString(path, "A", "x", "2"));
        std::ifstream in(file, std::ios::binary);
        std::ostringstream got;
        got << in.rdbuf();
        EXPECT_EQ(got.str(), c.fileThere ? "[A]\nx=2\n; note\n" : "[A]\nx=2\n");
        for (const auto& [link, target] : c.links) {
            ASSERT_TRUE(fs::is_symlink(dir + "/" + link)) << link;
            EXPECT_EQ(fs::read_symlink(dir + "/" + link).string(), target);
        }
        if (c.fileThere) {
            EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
        }
        EXPECT_EQ(filesIn(), names);  // no temporary file left anywhere
        EXPECT_EQ(GetProfileString(path, "A", "x", "d"), "2");
    }

    // Links that end in a loop: nothing written, nothing made, the links as they were.
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::create_symlink("loop.ini", path);
    fs::create_symlink("Planinfo.ini", dir + "/loop.ini");
    EXPECT_FALSE(WriteProfileString(path, "A", "x", "1"));
    EXPECT_EQ(filesIn(), (std::vector<std::string>{"Planinfo.ini", "loop.ini"}));
    EXPECT_EQ(fs::read_symlink(path).string(), "loop.ini");
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

// Writers killed in the middle of their writes, on a plain file, through a chain of links into
// another folder, and rewriting the first of two sections of one name as the plan pages do: the
// file read is always the old or the new one, whole; the link stays a link; the twin section stays
// as it was, byte for byte.
TEST_F(ProfileFileTest, KilledWriterLeavesAWholeFile) {
    std::vector<std::string> values = {"old"};
    for (char c : {'a', 'b', 'c'})
        values.push_back(std::string(512 * 1024 + (c - 'a'), c));
    const std::string twin = "[BIG]\nv=twin\nkeep=1\n";
    struct Case {
        const char* what;
        std::string file;  // what path names: the file, or where its links end
        bool linked;
        std::string tail;  // what follows [TAIL] in the file, untouched by the writers
    };
    const Case cases[] = {
        {"plain file", path, false, ""},
        {"linked file", dir + "/data/plans.ini", true, ""},
        {"twin sections", path, false, twin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir + "/data");
        if (c.linked) {
            fs::create_symlink("hop.ini", path);
            fs::create_symlink("data/plans.ini", dir + "/hop.ini");
        }
        std::ofstream(c.file, std::ios::binary) << "[BIG]\nv=old\n[TAIL]\nend=yes\n" << c.tail;

        std::mt19937 rng(12345);
        const int kills = 8;
        for (int round = 0; round < kills; ++round) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                // The section rewritten as a plan page rewrites its kind's section.
                for (size_t i = 1;; i = i % 3 + 1)
                    platform::WriteProfileStrings(
                        path, {{"BIG", std::nullopt, std::nullopt}, {"BIG", "v", values[i]}});
            }
            ::usleep(std::uniform_int_distribution<int>(0, 30000)(rng));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);

            SCOPED_TRACE(round);
            const std::string got = GetProfileString(path, "BIG", "v", "missing", 1 << 21);
            EXPECT_NE(std::find(values.begin(), values.end(), got), values.end())
                << "value of " << got.size() << " bytes";
            EXPECT_EQ(GetProfileString(path, "TAIL", "end", "missing"), "yes");
            const std::string content = Content().value_or("");
            EXPECT_EQ(content.substr(content.size() - std::min(content.size(), c.tail.size())),
                      c.tail);
            EXPECT_EQ(fs::is_symlink(path), c.linked);
        }
        // A killed writer may leave its own temporary file beside the file it writes, nothing
        // else; the next write removes those of writers that are gone.
        const std::string folder = fs::path(c.file).parent_path().string();
        std::vector<std::string> others;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path() != c.file && e.path() != path && e.path().filename() != "hop.ini" &&
                e.path().filename() != "data")
                others.push_back(e.path().filename().string());
        EXPECT_LE(others.size(), 1u);
        const std::string prefix = fs::path(c.file).filename().string() + ".tmp";
        for (const std::string& name : others)
            EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
        // One left by a writer long gone, and one of a writer still running, which is kept.
        const std::string gone = c.file + ".tmp999999999";
        std::ofstream(gone) << "half";
        const std::string running = c.file + ".tmp" + std::to_string(::getppid());
        std::ofstream(running) << "busy";

        ASSERT_TRUE(WriteProfileString(path, "BIG", "v", "after"));
        EXPECT_EQ(GetProfileString(path, "BIG", "v", "missing"), "after");
        EXPECT_FALSE(fs::exists(gone));
        for (const auto& e : fs::directory_iterator(folder))
            EXPECT_TRUE(e.path() == c.file || e.path() == running || e.path() == path ||
                        e.path().filename() == "hop.ini" || e.path().filename() == "data")
                << e.path();
        EXPECT_EQ(fs::is_symlink(path), c.linked);
        fs::remove(running);
    }
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
        std::optional<std::string> file = std::nullopt;  // in place of before
    };
    const std::string twins =
        "[DAYTIME]\nTime0=a\n[PLANCOUNT]\nn=1\n[daytime]\n Time0 = z \nTime1=w\n";
    const Case cases[] = {
        {"section rewritten in its place and count set in one go",
         {{"DAYTIME", "Time1", "c"},
          {"PLANCOUNT", "n", "3"},
          {"daytime", std::nullopt, std::nullopt},
          {"DAYTIME", "Time0", "x"},
          {"DAYTIME", "Time1", "y"}},
         true,
         "[CONNECT]\nPort=5000\n[DAYTIME]\nTime0=x\nTime1=y\n[PLANCOUNT]\nn=3\n"},
        {"the section read rewritten, its twin kept byte for byte",
         {{"DAYTIME", std::nullopt, std::nullopt},
          {"DAYTIME", "Time0", "x"},
          {"DAYTIME", "Time1", "y"}},
         true,
         "[DAYTIME]\nTime0=x\nTime1=y\n[PLANCOUNT]\nn=1\n[daytime]\n Time0 = z \nTime1=w\n",
         twins},
        {"the section read emptied, its twin kept and still unread",
         {{"DAYTIME", std::nullopt, std::nullopt}, {"PLANCOUNT", "n", "0"}},
         true,
         "[DAYTIME]\n[PLANCOUNT]\nn=0\n[daytime]\n Time0 = z \nTime1=w\n",
         twins},
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
        Put(c.file.value_or(before));
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
