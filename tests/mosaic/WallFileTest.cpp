// The wall file: what is saved loads back as the same wall, through a link too; a file of
// another kind or version, a damaged one and one with values out of range are refused with the
// line they go wrong on.
#include "mosaic/WallFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "resources/FileTexts.h"

namespace fs = std::filesystem;
using mosaic::WallPlan;

namespace {

fs::path Scratch(const char* name) {
    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-wallfile-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir / name;
}

std::string Refusal(const std::string& text) {
    const auto r = mosaic::ParseWallFile(text);
    if (const auto* p = std::get_if<platform::FileProblem>(&r)) {
        return res::FileProblemText(*p, res::FileKind::kWall, false);
    }
    return "accepted";
}

const char kGood[] =
    "orn312-wall 1\n"
    "specification 1x2\n"
    "output 1920x1080\n"
    "screen 000 id=1 width=960 height=1080\n"
    "screen 001 id=2 width=960 height=1080\n";

}  // namespace

TEST(WallFile, AWallRoundTripsThroughItsFile) {
    WallPlan plan = mosaic::UniformWall(3, 4, 1920, 1080, 480, 360, 7);
    plan.screens[5].inputAdjust = {2, -2, 4, 0};
    plan.screens[11].outputAdjust = {0, 0, 0, -32768};
    plan.screens[3].deviceId = 200;
    plan.screens[3].width = 64;
    const std::string text = mosaic::WallFileText(plan);
    EXPECT_NE(text.find("specification 3x4\noutput 1920x1080\n"), std::string::npos);
    EXPECT_NE(text.find("screen 005 id=12 width=480 height=360 input-adjust=2,-2,4,0\n"),
              std::string::npos);
    EXPECT_NE(text.find("screen 000 id=7 width=480 height=360\n"), std::string::npos);

    const fs::path target = Scratch("target.wall");
    const fs::path link = Scratch("link.wall");
    fs::remove(link);
    { std::ofstream(target) << "old"; }
    ::chmod(target.c_str(), 0640);
    fs::create_symlink(target.filename(), link);
    ASSERT_FALSE(mosaic::SaveWallFile(link, plan));
    EXPECT_TRUE(fs::is_symlink(link));  // written through the link, which stays
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const auto loaded = mosaic::LoadWallFile(link);
    ASSERT_TRUE(std::holds_alternative<WallPlan>(loaded));
    EXPECT_EQ(std::get<WallPlan>(loaded), plan);

    // Comments, blank lines, screens in any order.
    const auto hand = mosaic::ParseWallFile(
        "# by hand\n\norn312-wall 1   # version\noutput 1920x1080\nspecification 1x2\n"
        "screen 1 id=2 height=1080 width=960\nscreen 0 id=1 width=960 height=1080\n");
    ASSERT_TRUE(std::holds_alternative<WallPlan>(hand));
    EXPECT_EQ(std::get<WallPlan>(hand), mosaic::UniformWall(1, 2, 1920, 1080, 960, 1080, 1));
}

TEST(WallFile, EachBadFileIsRefusedNamingItsLine) {
    const std::string head = "orn312-wall 1\nspecification 1x2\noutput 1920x1080\n";
    const std::string s0 = "screen 000 id=1 width=960 height=1080\n";
    const std::string s1 = "screen 001 id=2 width=960 height=1080\n";
    struct Case {
        std::string text;
        const char* refusal;
    } cases[] = {
        {kGood, "accepted"},
        {"", "line 1: not a wall file (it begins with '')"},
        {"orn312-settings 1\n", "line 1: not a wall file (it begins with 'orn312-settings 1')"},
        {"orn312-wall 2\n" + head.substr(14) + s0 + s1,
         "line 1: a wall file of version 2; this program reads version 1"},
        {"orn312-wall one\n",
         "line 1: orn312-wall is not written as orn312-wall 1: "
         "'orn312-wall one'"},
        {head + s0 + "screen 001 id=2 width=960\n",
         "line 5: screen 001 is not written as screen NNN id=N width=W height=H "
         "[input-adjust=W,H,X,Y] [output-adjust=W,H,X,Y]: 'screen 001 id=2 width=960'"},
        {head + s0 + "screen 001 id=2 width=9x0 height=1080\n",
         "line 5: screen 001 width is not written as a whole number: '9x0'"},
        {head + s0 + "screen 001 id=2 width=960 height=1080 input-adjust=1,2,3\n",
         "line 5: screen 001 input-adjust is not written as W,H,X,Y: '1,2,3'"},
        {head + s0 + s1 + "brightness 3\n", "line 6: unknown entry 'brightness'"},
        {head + "specification 2x2\n" + s0 + s1,
         "line 4: specification is given a second time (first on line 2)"},
        {head + s0 + s0, "line 5: screen 000 is given a second time (first on line 4)"},
        {head + s0, "line 4: the file ends without screen 001"},
        {"orn312-wall 1\noutput 1920x1080\n" + s0, "line 3: the file ends without specification"},
        {"orn312-wall 1\nspecification 7x2\n", "line 2: rows 7 is out of range 1..6"},
        {"orn312-wall 1\nspecification 1x9\n", "line 2: columns 9 is out of range 1..8"},
        {"orn312-wall 1\noutput 1920x63\n", "line 2: output height 63 is out of range 64..65535"},
        {head + s0 + "screen 001 id=2 width=1922 height=1080\n",
         "line 5: screen 001 width 1922 is out of range 64..1920"},
        {head + s0 + "screen 002 id=3 width=960 height=1080\n",
         "line 5: screen 002 is out of range 0..1"},
        {head + s0 + "screen 001 id=256 width=960 height=1080\n",
         "line 5: screen 001 id 256 is out of range 1..255"},
        {head + s0 + "screen 001 id=1 width=960 height=1080\n",
         "line 5: device ID 1 is already screen 000's (line 4)"},
        {head + s0 + "screen 001 id=2 width=960 height=1080 output-adjust=0,0,0,40000\n",
         "line 5: screen 001 output-adjust 40000 is out of range -32768..32767"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Refusal(c.text), c.refusal) << c.text;
    }

    // An editor's byte order mark and line ends are no trouble.
    const fs::path edited = Scratch("edited.wall");
    {
        std::ofstream out(edited, std::ios::binary);
        std::string crlf;
        for (char c : std::string(kGood)) {
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        }
        out << "\xEF\xBB\xBF" << crlf;
    }
    EXPECT_TRUE(std::holds_alternative<WallPlan>(mosaic::LoadWallFile(edited)));

    // Damaged on disk: bytes that are no text; and no file at all.
    const fs::path damaged = Scratch("damaged.wall");
    {
        std::ofstream out(damaged, std::ios::binary);
        out << std::string(kGood).substr(0, 40) << '\0' << "\xff\xfe";
    }
    auto r = mosaic::LoadWallFile(damaged);
    ASSERT_TRUE(std::holds_alternative<platform::FileProblem>(r));
    EXPECT_EQ(res::FileProblemText(std::get<platform::FileProblem>(r), res::FileKind::kWall, false),
              damaged.string() + " is not text (it holds bytes that are not UTF-8): damaged");
    r = mosaic::LoadWallFile(Scratch("missing.wall"));
    ASSERT_TRUE(std::holds_alternative<platform::FileProblem>(r));
    EXPECT_NE(std::get<platform::FileProblem>(r).detail.find("No such file"), std::string::npos);
    // A refusal in Chinese names the line too.
    const auto zh = mosaic::ParseWallFile(head + s0 + "screen 001 id=2 width=1922 height=1080\n");
    EXPECT_EQ(res::FileProblemText(std::get<platform::FileProblem>(zh), res::FileKind::kWall, true),
              "第5行：screen 001 width 1922 超出范围 64..1920");
}
