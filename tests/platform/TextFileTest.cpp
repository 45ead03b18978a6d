// The operator's text files (wall files, settings files) are written as the plan file is: through
// links, never over a locked file, never leaving a temporary file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/TextFile.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(TextFile, WritesGoThroughLinksAndNeverOverALockedFile) {
    struct Case {
        const char* what;
        // Makes the folder's files; returns the path written.
        std::string (*setUp)(const std::string& dir);
        bool written;
        const char* real;  // the file holding the content afterwards ("" when none)
    };
    const Case cases[] = {
        {"plain file",
         [](const std::string& d) {
             std::ofstream(d + "/w.wall") << "old\n";
             return d + "/w.wall";
         },
         true, "w.wall"},
        {"a chain of links, relative and absolute",
         [](const std::string& d) {
             fs::create_directory(d + "/real");
             std::ofstream(d + "/real/w.wall") << "old\n";
             fs::create_symlink("real/w.wall", d + "/hop.wall");
             fs::create_symlink(d + "/hop.wall", d + "/w.wall");
             return d + "/w.wall";
         },
         true, "real/w.wall"},
        {"a dangling link makes its file",
         [](const std::string& d) {
             fs::create_symlink("made.wall", d + "/w.wall");
             return d + "/w.wall";
         },
         true, "made.wall"},
        {"links that go round",
         [](const std::string& d) {
             fs::create_symlink("b.wall", d + "/w.wall");
             fs::create_symlink("w.wall", d + "/b.wall");
             return d + "/w.wall";
         },
         false, ""},
        {"a file whose mode grants write to no one, root too",
         [](const std::string& d) {
             std::ofstream(d + "/w.wall") << "old\n";
             fs::permissions(d + "/w.wall", fs::perms::owner_read | fs::perms::group_read);
             return d + "/w.wall";
         },
         false, "w.wall"},
        {"a folder in its place",
         [](const std::string& d) {
             fs::create_directory(d + "/w.wall");
             return d + "/w.wall";
         },
         false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = testing::TempDir() + "textfile" + std::to_string(::getpid());
        fs::remove_all(dir);
        fs::create_directories(dir);
        const std::string path = c.setUp(dir);
        const bool wasLink = fs::is_symlink(path);
        std::string error;
        EXPECT_EQ(platform::WriteTextFile(path, "new\n", error), c.written) << error;
        EXPECT_EQ(error.empty(), c.written) << error;
        if (*c.real != 0) {
            EXPECT_EQ(Read(dir + "/" + c.real), c.written ? "new\n" : "old\n");
        }
        EXPECT_EQ(fs::is_symlink(path), wasLink);
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
        }
        fs::remove_all(dir);
    }
}

// Root writing a file of the operator's (a window once started with sudo, a kiosk's script) leaves
// it the operator's, with its permissions.
TEST(TextFile, AReplacementKeepsItsOwnerGroupAndPermissions) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    const std::string path = testing::TempDir() + "owned" + std::to_string(::getpid()) + ".wall";
    std::ofstream(path) << "old\n";
    ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteTextFile(path, "new\n", error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Read(path), "new\n");
    fs::remove(path);
}

}  // namespace

// A name typed without an extension gets one; what a write would refuse is said before it.
TEST(TextFile, ANameGetsItsExtensionAndAnUnwritableTargetIsSaidFirst) {
    const std::pair<const char*, const char*> names[] = {
        {"dev1", "dev1.settings"},
        {"/home/op/dev1", "/home/op/dev1.settings"},
        {"/home/op.d/dev1", "/home/op.d/dev1.settings"},
        {"dev1.txt", "dev1.txt"},
        {"dev1.settings", "dev1.settings"},
        {".settings", ".settings.settings"},
    };
    for (const auto& [typed, saved] : names) {
        EXPECT_EQ(platform::WithExtension(typed, ".settings"), saved) << typed;
    }

    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-check-" + std::to_string(getpid()));
    fs::create_directories(dir / "locked");
    std::ofstream(dir / "open.settings") << "x";
    std::ofstream(dir / "ro.settings") << "x";
    ::chmod((dir / "ro.settings").c_str(), 0444);
    ::chmod((dir / "locked").c_str(), 0555);
    const auto problem = [](const fs::path& p) {
        const auto found = platform::CheckTextFileWritable(p.string());
        return found ? found->detail : std::string("writable");
    };
    EXPECT_EQ(problem(dir / "open.settings"), "writable");
    EXPECT_EQ(problem(dir / "new.settings"), "writable");
    EXPECT_EQ(problem(dir / "ro.settings"),
              "cannot write " + (dir / "ro.settings").string() + ": the file is read-only");
    EXPECT_NE(problem(dir / "none" / "x.settings").find("No such file or directory"),
              std::string::npos);
    EXPECT_EQ(problem(dir), "cannot write " + dir.string() + ": not a file");
    if (::geteuid() != 0) {  // root passes the folder's permission
        EXPECT_EQ(problem(dir / "locked" / "x.settings"),
                  "cannot write " + (dir / "locked" / "x.settings").string() +
                      ": its folder is read-only");
    }
    ::chmod((dir / "locked").c_str(), 0755);
    fs::remove_all(dir);
}
