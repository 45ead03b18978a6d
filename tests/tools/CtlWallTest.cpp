// orn312ctl wall, backup and restore against the simulator process serving several device IDs on
// one line, each with a state of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestUtil.h"

namespace fs = std::filesystem;

namespace {

testutil::RunResult Ctl(std::vector<std::string> args, int timeoutMs = 60000) {
    args.insert(args.begin(), ORN312_CTL_PATH);
    return testutil::Run(args, timeoutMs);
}

fs::path Scratch(const std::string& name) {
    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-ctlwall-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir / name;
}

std::string Read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(CtlWall, SetsEveryScreenOnTheLineAndExitsZeroOnlyWhenAllVerified) {
    testutil::SimProcess sim({"--tcp", "0", "--ids", "2-3"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const std::string tcp = "127.0.0.1:" + std::to_string(sim.tcpPort);

    // IDs 2 and 3 answer; the output size is read from the first screen's processor.
    const auto ok = Ctl({"--tcp", tcp, "wall", "1x2", "960x1080", "--first-id", "2"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out,
              "output 1920x1080 (read from device 2)\n"
              "Screen 000 (ID 2): set and verified\n"
              "Screen 001 (ID 3): set and verified\n"
              "2 of 2 screens set and verified.\n");
    EXPECT_NE(ok.err.find("Screen 2 of 2 (001), about 3 s left"), std::string::npos) << ok.err;
    // Each processor holds its own share of the picture.
    const auto two = Ctl({"--tcp", tcp, "--id", "2", "query", "fe", "04"});
    const auto three = Ctl({"--tcp", tcp, "--id", "3", "query", "fe", "04"});
    EXPECT_NE(two.out.find("05 02 fe 00 00 00 03 c0 00 00 04 38"), std::string::npos) << two.out;
    EXPECT_NE(three.out.find("05 03 fe 00 03 c0 03 c0 00 00 04 38"), std::string::npos)
        << three.out;

    // A wall laid out for another output: sent, read back, reported, exit 1. (A screen that
    // does not answer is told the same way: WallSet and WallDialog show it.)
    const auto other =
        Ctl({"--tcp", tcp, "wall", "1x1", "1024x768", "--first-id", "3", "--output", "1024x768"});
    EXPECT_EQ(other.exitCode, 1) << other.err;
    EXPECT_EQ(other.out,
              "Screen 000 (ID 3): read back different: output 1920x1080 (the wall is laid out for "
              "1024x768)\n"
              "0 of 1 screens set and verified.\n"
              "Screen 000 (ID 3): read back different: output 1920x1080 (the wall is laid out for "
              "1024x768)\n");
}

TEST(CtlWall, DryRunPrintsTheFramesAndAWallFileGivesTheSameWall) {
    const fs::path file = Scratch("two.wall");
    fs::remove(file);
    const auto dry = Ctl({"wall", "1x2", "960x1080", "--output", "1920x1080", "--first-id", "5",
                          "--save", file.string(), "--dry-run"});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(dry.out,
              "screen 000 (ID 5): input window 960x1080 at 0,0, output window 960x1080 at 0,0\n"
              "  05 05 23 00 00 00 03 c0 00 00 04 38 dc  then 1000 ms\n"
              "  05 05 2c 00 00 00 03 c0 00 00 04 38 d3  then 1000 ms\n"
              "  then reads back: fe 04, fe 0b, fe 03\n"
              "screen 001 (ID 6): input window 960x1080 at 960,0, output window 960x1080 at 0,0\n"
              "  05 06 23 00 03 c0 03 c0 00 00 04 38 1c  then 1000 ms\n"
              "  05 06 2c 00 00 00 03 c0 00 00 04 38 d0  then 1000 ms\n"
              "  then reads back: fe 04, fe 0b, fe 03\n"
              "2 screens, 4 frames to send, about 6 s\n");
    EXPECT_NE(Read(file).find("screen 001 id=6 width=960 height=1080\n"), std::string::npos);
    const auto again = Ctl({"wall", file.string(), "--dry-run"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, dry.out);

    // Refused before anything: a bad file names its line, a wall that cannot be sent says why.
    std::ofstream(Scratch("bad.wall")) << "orn312-wall 1\nspecification 1x2\noutput 1920x1080\n"
                                          "screen 000 id=1 width=960 height=1080\n"
                                          "screen 001 id=1 width=960 height=1080\n";
    const auto bad = Ctl({"wall", Scratch("bad.wall").string(), "--dry-run"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.err, "orn312ctl: " + Scratch("bad.wall").string() +
                           ": line 5: device ID 1 is already screen 000's (line 4)\n");
    const auto big = Ctl({"wall", "1x2", "2000x1080", "--output", "1920x1080", "--dry-run"});
    EXPECT_EQ(big.exitCode, 2);
    EXPECT_EQ(big.err, "orn312ctl: screen 000 is 2000x1080, larger than the output 1920x1080\n");
    const auto noOutput = Ctl({"wall", "1x2", "960x1080", "--dry-run"});
    EXPECT_EQ(noOutput.exitCode, 2);
}

TEST(CtlWall, BackupAndRestoreCloneAProcessorAndRefuseBadFilesBeforeSending) {
    testutil::SimProcess sim({"--tcp", "0", "--ids", "1-2"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const std::string tcp = "127.0.0.1:" + std::to_string(sim.tcpPort);
    for (const std::vector<std::string>& body :
         {std::vector<std::string>{"16", "28"},
          {"2d", "1e"},
          {"2b", "01", "00", "64", "01", "90", "00", "32", "01", "2c"}}) {
        std::vector<std::string> args = {"--tcp", tcp, "send"};
        args.insert(args.end(), body.begin(), body.end());
        args.insert(args.end(), {"--delay", "0"});
        ASSERT_EQ(Ctl(args).exitCode, 0);
    }
    const fs::path file = Scratch("one.settings");
    const auto backup = Ctl({"--tcp", tcp, "backup", file.string()});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_EQ(backup.out, "settings of device 1 written to " + file.string() + "\n");
    const std::string text = Read(file);
    EXPECT_NE(text.find("\norn312-settings 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nbrightness 40\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nm2-pip 400 300 100 50\n"), std::string::npos) << text;

    EXPECT_NE(text.find("\ndevice-id 1  #"), std::string::npos) << text;

    // Restored onto device 2: first the list, the windows left out (the file is device 1's).
    const std::string list = "Device 2 now, and " + file.string() +
                             " (saved from device 1):\n"
                             "  brightness: now 64, in the file 40\n"
                             "  bias: now 50, in the file 30\n"
                             "left out: windows (1 setting)\n"
                             "windows left out: the file was saved from device 1, not from "
                             "device 2 (--only or --except chooses the groups)\n";
    struct Restore {
        std::vector<std::string> options;
        int exitCode;
        std::string out, err;
    } restores[] = {
        {{}, 2, list, "orn312ctl: nothing sent; give --yes to change 2 settings of device 2\n"},
        {{"--dry-run"}, 0, list + "dry run: nothing sent\n", ""},
        {{"--only", "windows", "--yes"},
         0,
         "Device 2 now, and " + file.string() +
             " (saved from device 1):\n"
             "  M2 PIP window: now 960x540 at 0,0, in the file 400x300 at 100,50\n"
             "left out: picture (2 settings)\n"
             "Device 2: 1 setting changed from " +
             file.string() + " (1 frame sent)\nevery setting restored reads back as in " +
             file.string() + "\n",
         ""},
        {{"--except", "windows", "--yes"},
         0,
         "Device 2 now, and " + file.string() +
             " (saved from device 1):\n"
             "  brightness: now 64, in the file 40\n"
             "  bias: now 50, in the file 30\n"
             "Device 2: 2 settings changed from " +
             file.string() + " (2 frames sent)\nevery setting restored reads back as in " +
             file.string() + "\n",
         ""},
        {{"--yes"},
         0,
         "Device 2 now, and " + file.string() +
             " (saved from device 1):\nEvery setting chosen is as in the file; nothing to send\n",
         ""},
        {{"--only", "picture,colour"},
         2,
         "",
         "orn312ctl: unknown group 'colour': the groups are resolution, windows, picture, audio, "
         "hot-spare, text-key (orn312ctl --help shows the usage)\n"},
        {{"--only", "picture", "--except", "audio"},
         2,
         "",
         "orn312ctl: give --only or --except, not both (orn312ctl --help shows the usage)\n"},
        {{"--dry-run", "--yes"},
         2,
         "",
         "orn312ctl: --dry-run only lists; --yes sends: give one of them (orn312ctl --help "
         "shows the usage)\n"},
    };
    for (const Restore& c : restores) {
        std::vector<std::string> args = {"--tcp", tcp, "--id", "2", "restore", file.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = Ctl(args);
        const std::string what = c.options.empty() ? "(none)" : c.options[0];
        EXPECT_EQ(r.exitCode, c.exitCode) << what << r.err;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err, c.err) << what;
    }

    // A backup's file that cannot be written is said before the device is read.
    const std::string quiet = sim.Output();
    const auto nowhere =
        Ctl({"--tcp", tcp, "backup", (Scratch("none") / "x" / "one.settings").string()});
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_NE(nowhere.err.find("No such file or directory; nothing read"), std::string::npos)
        << nowhere.err;
    EXPECT_EQ(sim.Output().find("connected from", quiet.size()), std::string::npos);

    // Bad files: refused naming the line, exit 2, and not a frame reaches the line.
    const std::string before = sim.Output();
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"orn312-settings 9\n",
         "line 1: a settings file of version 9; this program reads version 1"},
        {text.substr(0, text.find("\nbrightness ")), "the file ends without brightness"},
        {std::string(text).replace(text.find("\nbias 30"), 8, "\nbias 300"),
         ": bias 300 is out of range 0..100"},
        {std::string("orn312-settings 1\n\x01\xff\n", 21), "is not text"},
    };
    for (const Case& c : cases) {
        std::ofstream(Scratch("bad.settings"), std::ios::binary) << c.text;
        const auto r = Ctl({"--tcp", tcp, "restore", Scratch("bad.settings").string()});
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing sent"), std::string::npos) << r.err;
    }
    const std::string after = sim.Output();
    EXPECT_EQ(after.find("connected from", before.size()), std::string::npos)  // not even that
        << after.substr(before.size());
}
