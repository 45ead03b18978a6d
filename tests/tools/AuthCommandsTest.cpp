// orn312-scheduler's commands on its auth file, run as the program: exit codes, what goes to
// standard output, and the file they leave.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "TestUtil.h"
#include "server/Auth.h"

namespace fs = std::filesystem;

namespace {

class AuthCommands : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(testing::TempDir()) / ("orn312-authcmd-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = (dir / "auth.json").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    testutil::RunResult Scheduler(std::vector<std::string> args) {
        args.insert(args.begin(), ORN312_SCHEDULER_PATH);
        return testutil::Run(args, 20000);
    }
    // --set-pin with input on standard input.
    testutil::RunResult SetPin(const std::string& role, const std::string& input) {
        return testutil::Run(
            {"/bin/sh", "-c", "printf '%s' \"$1\" | \"$0\" --auth \"$2\" --set-pin \"$3\"",
             ORN312_SCHEDULER_PATH, input, file, role},
            20000);
    }

    fs::path dir;
    std::string file;
};

TEST_F(AuthCommands, SetPinMakeRevokeAndListTokens) {
    struct Case {
        const char* input;
        int exit;
    };
    // A refused PIN: one line, exit 2, and the file is not made.
    for (const Case c : {Case{"12\n", 2}, Case{"12345678901234\n", 2}, Case{"12a45\n", 2},
                         Case{"", 2}, Case{" 1234\n", 2}}) {
        const testutil::RunResult r = SetPin("operator", c.input);
        EXPECT_EQ(r.exitCode, c.exit) << c.input << r.err;
        EXPECT_EQ(testutil::Count(r.err, "\n"), 1) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(fs::exists(file));
    }
    for (const auto& [role, input] :
         {std::pair{"operator", "246810\n"}, std::pair{"viewer", "1357\r\n"}}) {
        const testutil::RunResult r = SetPin(role, input);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(SetPin("viewer", "246810").exitCode, 2) << "the operator's PIN";

    const testutil::RunResult made = Scheduler({"--auth", file, "--new-token", "desk"});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    EXPECT_TRUE(std::regex_match(made.out, std::regex("[0-9a-f]{8}\\.[A-Za-z0-9_-]{43}\n")))
        << made.out;
    const std::string token = made.out.substr(0, made.out.size() - 1);
    EXPECT_EQ(Scheduler({"--auth", file, "--new-token", "desk"}).exitCode, 2) << "taken";
    EXPECT_EQ(Scheduler({"--auth", file, "--new-token", "a b"}).exitCode, 2);
    EXPECT_EQ(Scheduler({"--auth", file, "--new-token", "cue"}).exitCode, 0);
    EXPECT_EQ(Scheduler({"--auth", file, "--list-tokens"}).out, "desk\ncue\n");

    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().find("246810"), std::string::npos);
    EXPECT_EQ(text.str().find(token.substr(9)), std::string::npos);

    server::AuthFile auth;
    std::string error;
    ASSERT_TRUE(server::AuthFile::Load(file, auth, error)) << error;
    EXPECT_EQ(auth.CheckPin("246810"), server::Role::Operator);
    EXPECT_EQ(auth.CheckPin("1357"), server::Role::Viewer);
    EXPECT_EQ(auth.CheckToken(token), std::optional<std::string>("desk"));

    EXPECT_EQ(Scheduler({"--auth", file, "--revoke-token", "desk"}).exitCode, 0);
    const testutil::RunResult again = Scheduler({"--auth", file, "--revoke-token", "desk"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("no token named desk"), std::string::npos) << again.err;
    EXPECT_EQ(Scheduler({"--auth", file, "--list-tokens"}).out, "cue\n");

    // Bad command lines: exit 2 and one line, the service never starts.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--list-tokens"},
          {"--auth", file, "--set-pin", "admin"},
          {"--auth", file, "--list-tokens", "--new-token", "x"},
          {"--auth"}}) {
        const testutil::RunResult r = Scheduler(args);
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_EQ(testutil::Count(r.err, "\n"), 1) << r.err;
    }
}

TEST_F(AuthCommands, CommandsAtOnceLoseNoChange) {
    // Eight tokens made at the same moment by eight processes: each one's token is kept.
    const testutil::RunResult r = testutil::Run(
        {"/bin/sh", "-c",
         "for i in 1 2 3 4 5 6 7 8; do \"$0\" --auth \"$1\" --new-token t$i > \"$1.$i\" & done; "
         "wait",
         ORN312_SCHEDULER_PATH, file},
        30000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    server::AuthFile auth;
    std::string error;
    ASSERT_TRUE(server::AuthFile::Load(file, auth, error)) << error;
    EXPECT_EQ(auth.TokenNames().size(), 8u);
    for (int i = 1; i <= 8; ++i) {
        std::ifstream in(file + "." + std::to_string(i));
        std::string token;
        std::getline(in, token);
        EXPECT_EQ(auth.CheckToken(token), std::optional<std::string>("t" + std::to_string(i)));
    }
}

}  // namespace
