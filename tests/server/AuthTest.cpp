// The auth file and the guard of logins, sessions and API tokens. Hashes are made at the lowest
// cost here (the checks read the cost from each hash), so that the tests stay fast.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "server/Auth.h"

namespace fs = std::filesystem;
using server::AuthFile;
using server::AuthGuard;
using server::Role;

namespace {

constexpr int64_t kSecond = 1000;
constexpr int64_t kHour = 3600 * kSecond;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

std::string LineWith(const std::string& text, const std::string& part) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.find(part) != std::string::npos)
            return line;
    }
    return {};
}

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
}

class AuthSecrets : public ::testing::Test {
protected:
    void SetUp() override {
        server::SetHashCost({1, 8192});
        dir = fs::path(testing::TempDir()) /
              ("orn312-auth-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "auth.json").string();
    }
    void TearDown() override {
        server::SetHashCost(server::DefaultHashCost());
        fs::remove_all(dir);
    }

    // A file with the operator PIN 2468, the viewer PIN 1357 and the token "desk".
    std::string SaveBasic() {
        AuthFile file;
        std::string error, token;
        EXPECT_TRUE(file.SetPin(Role::Operator, "2468", error)) << error;
        EXPECT_TRUE(file.SetPin(Role::Viewer, "1357", error)) << error;
        EXPECT_TRUE(file.NewToken("desk", token, error)) << error;
        EXPECT_TRUE(file.Save(path, error)) << error;
        return token;
    }

    AuthGuard::Log Logger() {
        return [this](LogLevel, const std::string& text) {
            std::lock_guard<std::mutex> lock(logLock);
            log += text + "\n";
        };
    }
    std::string Log() {
        std::lock_guard<std::mutex> lock(logLock);
        return log;
    }

    fs::path dir;
    std::string path;
    std::mutex logLock;
    std::string log;
};

TEST_F(AuthSecrets, FileKeepsOnlySaltedHashesAndMode0600) {
    AuthFile file;
    std::string error, token;
    ASSERT_TRUE(file.SetPin(Role::Operator, "480213", error)) << error;
    ASSERT_TRUE(file.SetPin(Role::Viewer, "975310", error)) << error;
    ASSERT_TRUE(file.NewToken("cue-desk", token, error)) << error;
    file.SetMqttPassword("broker secret");
    ASSERT_TRUE(file.Save(path, error)) << error;

    const std::string text = ReadAll(path);
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(text.find("480213"), std::string::npos);
    EXPECT_EQ(text.find("975310"), std::string::npos);
    EXPECT_EQ(text.find(token.substr(9)), std::string::npos) << "the token's secret in clear";
    EXPECT_NE(text.find("$argon2id$"), std::string::npos);
    EXPECT_NE(text.find("broker secret"), std::string::npos) << "the MQTT password is recoverable";

    // Salted: the same PIN hashes differently each time.
    AuthFile again;
    ASSERT_TRUE(again.SetPin(Role::Operator, "480213", error));
    ASSERT_TRUE(again.Save((dir / "again.json").string(), error));
    EXPECT_NE(LineWith(ReadAll(dir / "again.json"), "\"operator\""),
              LineWith(text, "\"operator\""));

    AuthFile loaded;
    ASSERT_TRUE(AuthFile::Load(path, loaded, error)) << error;
    EXPECT_EQ(loaded.CheckPin("480213"), Role::Operator);
    EXPECT_EQ(loaded.CheckPin("975310"), Role::Viewer);
    EXPECT_EQ(loaded.CheckPin("480214"), Role::None);
    EXPECT_EQ(loaded.CheckToken(token), std::optional<std::string>("cue-desk"));
    EXPECT_EQ(loaded.MqttPassword(), std::optional<std::string>("broker secret"));

    // A file that others may read is made private, by a save and by a load, and that is said.
    for (const bool saving : {true, false}) {
        ::chmod(path.c_str(), 0644);
        std::string notice;
        const bool done = saving ? loaded.Save(path, error, &notice)
                                 : AuthFile::Load(path, loaded, error, &notice);
        EXPECT_TRUE(done) << error;
        EXPECT_EQ(ModeOf(path), 0600u);
        EXPECT_NE(notice.find("0644"), std::string::npos) << notice;
    }
    // Made new under a lax umask, it is private from the start.
    const mode_t old = ::umask(0);
    fs::remove(path);
    EXPECT_TRUE(loaded.Save(path, error)) << error;
    ::umask(old);
    EXPECT_EQ(ModeOf(path), 0600u);

    // Made by root in a service's folder, it is the service's, for the service to read.
    if (::geteuid() == 0) {
        const fs::path service = dir / "service";
        fs::create_directories(service);
        ASSERT_EQ(::chown(service.c_str(), 4321, 4322), 0);
        ASSERT_TRUE(loaded.Save((service / "auth.json").string(), error)) << error;
        struct stat st {};
        ASSERT_EQ(::stat((service / "auth.json").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST_F(AuthSecrets, BadPinsAreRefused) {
    AuthFile file;
    std::string error;
    for (const char* pin : {"", "123", "1234567890123", "12a4", " 1234", "1234 ", "12 34", "-123",
                            "12.4", "\xef\xbc\x91\xef\xbc\x92\xef\xbc\x93\xef\xbc\x94", "1234\n"}) {
        error.clear();
        EXPECT_FALSE(file.SetPin(Role::Operator, pin, error)) << '"' << pin << '"';
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
    }
    EXPECT_FALSE(file.HasPin(Role::Operator));
    for (const char* pin : {"0000", "123456789012"}) {
        EXPECT_TRUE(file.SetPin(Role::Operator, pin, error)) << pin << ": " << error;
        EXPECT_EQ(file.CheckPin(pin), Role::Operator);
    }
    // A viewer's PIN that is the operator's would make every viewer an operator.
    EXPECT_FALSE(file.SetPin(Role::Viewer, "123456789012", error));
    EXPECT_NE(error.find("differ"), std::string::npos) << error;
    EXPECT_FALSE(file.HasPin(Role::Viewer));
}

TEST_F(AuthSecrets, TokensAreMadeCheckedRevokedAndListed) {
    AuthFile file;
    std::string error, desk, cue, dup;
    ASSERT_TRUE(file.NewToken("desk", desk, error)) << error;
    ASSERT_TRUE(file.NewToken("cue.2_b-x", cue, error)) << error;
    EXPECT_NE(desk, cue);
    EXPECT_FALSE(file.NewToken("desk", dup, error)) << "a taken name";
    EXPECT_TRUE(dup.empty());
    for (const std::string& name :
         std::vector<std::string>{"", "two words", "a/b", "tab\there", std::string(65, 'n')}) {
        EXPECT_FALSE(file.NewToken(name, dup, error)) << name;
    }
    EXPECT_EQ(file.TokenNames(), (std::vector<std::string>{"desk", "cue.2_b-x"}));

    // Keys and fields written by someone else stay through a load and a save.
    ASSERT_TRUE(file.Save(path, error));
    std::string text = ReadAll(path);
    text.insert(text.find('{') + 1, "\"site\": \"hall B\",");
    text.insert(text.find("\"name\": \"desk\""), "\"note\": \"FOH rack\",");
    WriteAll(path, text);
    ASSERT_TRUE(AuthFile::Load(path, file, error)) << error;

    std::string tampered = desk;
    tampered.back() = tampered.back() == 'A' ? 'B' : 'A';
    EXPECT_EQ(file.CheckToken(desk), std::optional<std::string>("desk"));
    EXPECT_EQ(file.CheckToken(cue), std::optional<std::string>("cue.2_b-x"));
    for (const std::string& bad : {tampered, std::string("desk"), std::string(), desk + "x"})
        EXPECT_EQ(file.CheckToken(bad), std::nullopt) << bad;

    EXPECT_TRUE(file.RevokeToken("desk"));
    EXPECT_FALSE(file.RevokeToken("desk"));
    EXPECT_EQ(file.CheckToken(desk), std::nullopt);
    EXPECT_EQ(file.CheckToken(cue), std::optional<std::string>("cue.2_b-x"));
    ASSERT_TRUE(file.Save(path, error));
    ASSERT_TRUE(AuthFile::Load(path, file, error));
    EXPECT_EQ(file.TokenNames(), std::vector<std::string>{"cue.2_b-x"});
    text = ReadAll(path);
    EXPECT_NE(text.find("hall B"), std::string::npos);
    EXPECT_EQ(text.find("FOH rack"), std::string::npos) << "went with its token";
}

TEST_F(AuthSecrets, BrokenFileIsRefusedAndMissingOneIsEmpty) {
    AuthFile file;
    std::string error;
    ASSERT_TRUE(AuthFile::Load(path, file, error)) << error;
    EXPECT_FALSE(file.HasPin(Role::Operator));
    EXPECT_TRUE(file.TokenNames().empty());
    for (const char* text : {"not json", "[1, 2]", "{\"pins\": {\"operator\": \"2468\"}}",
                             "{\"tokens\": [{\"name\": \"x\"}]}", "{\"pins\": 3}"}) {
        WriteAll(path, text);
        ::chmod(path.c_str(), 0600);
        error.clear();
        EXPECT_FALSE(AuthFile::Load(path, file, error)) << text;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
}

TEST_F(AuthSecrets, LockoutAfterFiveWrongPinsDoublesUpToAnHourAndResets) {
    SaveBasic();
    AuthGuard guard(path, Logger());
    std::string error;
    ASSERT_TRUE(guard.Open(error)) << error;
    const std::string me = "192.168.1.50";
    int64_t now = 1'000'000;

    // Five wrong PINs; each is refused and logged with the address.
    const auto fail5 = [&] {
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(guard.TryLogin(me, "0000", now).status, 401);
    };
    std::vector<int64_t> locks;
    for (int round = 0; round < 8; ++round) {
        fail5();
        const AuthGuard::Login locked = guard.TryLogin(me, "2468", now);
        EXPECT_EQ(locked.status, 429) << "the right PIN too";
        EXPECT_TRUE(locked.sessionId.empty());
        locks.push_back(locked.retryAfterS);
        // Another address is not affected.
        if (round == 0) {
            EXPECT_EQ(guard.TryLogin("192.168.1.51", "1357", now).status, 200);
        }
        EXPECT_EQ(guard.TryLogin(me, "2468", now + locked.retryAfterS * kSecond - 1).status, 429);
        now += locked.retryAfterS * kSecond;
    }
    EXPECT_EQ(locks, (std::vector<int64_t>{60, 120, 240, 480, 960, 1920, 3600, 3600}));
    const std::string log = Log();
    EXPECT_NE(log.find("login from 192.168.1.50: wrong PIN"), std::string::npos) << log;
    EXPECT_NE(log.find("login from 192.168.1.50: locked out for 3600 s"), std::string::npos);
    // The first refusal of each lockout is logged, not every one.
    size_t refusals = 0;
    for (size_t at = 0;
         (at = log.find("192.168.1.50 refused: locked out", at)) != std::string::npos; ++at)
        ++refusals;
    EXPECT_EQ(refusals, locks.size());

    // A good login resets the count and the doubling.
    EXPECT_EQ(guard.TryLogin(me, "2468", now).status, 200);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(guard.TryLogin(me, "0000", now).status, 401);
    EXPECT_EQ(guard.TryLogin(me, "2468", now).status, 200);
    fail5();
    EXPECT_EQ(guard.TryLogin(me, "2468", now).retryAfterS, 60);

    // Failures spread over more than a minute do not lock.
    now += 60 * kSecond;
    const std::string slow = "10.0.0.9";
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(guard.TryLogin(slow, "9999", now).status, 401);
        now += 15 * kSecond;
    }
    EXPECT_EQ(guard.TryLogin(slow, "2468", now).status, 200);

    // Addresses of one IPv6 /64 network, and an IPv4 address however written, are one.
    for (const auto& [first, second] : {std::pair{"2001:db8:1:2::10", "2001:db8:1:2::abcd"},
                                        std::pair{"::ffff:10.1.1.1", "10.1.1.1"}}) {
        for (int i = 0; i < 5; ++i)
            guard.TryLogin(first, "0000", now);
        EXPECT_EQ(guard.TryLogin(second, "2468", now).status, 429) << second;
    }
    EXPECT_EQ(guard.TryLogin("2001:db8:1:3::10", "2468", now).status, 200);

    // A flood of new addresses fills the table of addresses; a locked one stays locked.
    const std::string locked = "172.16.0.1";
    for (int i = 0; i < 5; ++i)
        guard.TryLogin(locked, "0000", now);
    for (size_t i = 0; i < AuthGuard::kMaxAddresses + 10; ++i) {
        const std::string spray = "10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250);
        guard.TryLogin(spray, "0000", ++now);
    }
    EXPECT_EQ(guard.TryLogin(locked, "2468", now).status, 429);
}

TEST_F(AuthSecrets, SessionsEndAfterTwelveHoursIdleAndAtLogout) {
    SaveBasic();
    AuthGuard guard(path, Logger());
    const int64_t t0 = 5'000'000;
    const AuthGuard::Login op = guard.TryLogin("127.0.0.1", "2468", t0);
    ASSERT_EQ(op.status, 200);
    EXPECT_EQ(op.role, Role::Operator);
    EXPECT_EQ(op.sessionId.size(), 64u);
    const AuthGuard::Login view = guard.TryLogin("127.0.0.1", "1357", t0);
    ASSERT_EQ(view.status, 200);
    EXPECT_EQ(view.role, Role::Viewer);
    EXPECT_NE(op.sessionId, view.sessionId);

    // Each use starts the idle time again.
    EXPECT_EQ(guard.Session(op.sessionId, t0 + 12 * kHour), Role::Operator);
    EXPECT_EQ(guard.Session(op.sessionId, t0 + 24 * kHour), Role::Operator);
    EXPECT_EQ(guard.Session(op.sessionId, t0 + 36 * kHour + 1), Role::None);
    EXPECT_EQ(guard.Session(op.sessionId, t0 + 36 * kHour + 2), Role::None) << "ended for good";

    EXPECT_EQ(guard.Session(view.sessionId, t0 + kHour), Role::Viewer);
    guard.Logout(view.sessionId);
    EXPECT_EQ(guard.Session(view.sessionId, t0 + kHour), Role::None);

    std::string forged = op.sessionId;
    forged[0] = forged[0] == 'a' ? 'b' : 'a';
    for (const std::string& bad : {std::string(), std::string("x"), forged})
        EXPECT_EQ(guard.Session(bad, t0), Role::None);

    // Sessions are bounded: beyond the limit, the longest idle one ends.
    std::vector<std::string> ids;
    for (size_t i = 0; i < AuthGuard::kMaxSessions + 1; ++i)
        ids.push_back(guard.TryLogin("127.0.0.1", "1357", t0 + static_cast<int64_t>(i)).sessionId);
    EXPECT_EQ(guard.Session(ids.front(), t0 + 5000), Role::None);
    EXPECT_EQ(guard.Session(ids[1], t0 + 5000), Role::Viewer);
    EXPECT_EQ(guard.Session(ids.back(), t0 + 5000), Role::Viewer);
}

TEST_F(AuthSecrets, RunningGuardFollowsChangesOfTheFile) {
    const std::string desk = SaveBasic();
    AuthGuard guard(path, Logger());
    std::string error;
    ASSERT_TRUE(guard.Open(error)) << error;
    const int64_t now = 1'000'000;
    const std::string session = guard.TryLogin("127.0.0.1", "2468", now).sessionId;
    const std::string viewer = guard.TryLogin("127.0.0.1", "1357", now).sessionId;
    EXPECT_EQ(guard.BearerCached(desk), std::nullopt) << "needs a hash the first time";
    EXPECT_EQ(guard.Bearer(desk), Role::Operator);
    EXPECT_EQ(guard.BearerCached(desk), Role::Operator);
    EXPECT_EQ(guard.BearerCached("not a token"), Role::None);

    // Another program revokes the token, adds one and changes the operator PIN.
    AuthFile file;
    ASSERT_TRUE(AuthFile::Load(path, file, error));
    std::string cue;
    ASSERT_TRUE(file.RevokeToken("desk"));
    ASSERT_TRUE(file.NewToken("cue", cue, error));
    ASSERT_TRUE(file.SetPin(Role::Operator, "8642", error));
    ASSERT_TRUE(file.Save(path, error));

    const auto start = std::chrono::steady_clock::now();
    while (guard.Bearer(desk) != Role::None &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(guard.Bearer(desk), Role::None);
    EXPECT_EQ(guard.BearerCached(desk), Role::None);
    EXPECT_EQ(guard.Bearer(cue), Role::Operator);
    EXPECT_EQ(guard.TryLogin("127.0.0.1", "2468", now).status, 401);
    EXPECT_EQ(guard.TryLogin("127.0.0.1", "8642", now).role, Role::Operator);
    EXPECT_EQ(guard.Session(session, now), Role::None) << "the operator PIN changed";
    EXPECT_EQ(guard.Session(viewer, now), Role::Viewer);
    EXPECT_NE(Log().find("the operator PIN changed"), std::string::npos) << Log();

    // A file broken by a hand edit is said once, and what was read before stays in force.
    WriteAll(path, "{\"pins\": ");
    guard.Reload();
    guard.Reload();
    EXPECT_EQ(guard.Bearer(cue), Role::Operator);
    EXPECT_EQ(guard.TryLogin("127.0.0.1", "8642", now).status, 200);
    const std::string log = Log();
    const size_t said = log.find("stay in force");
    ASSERT_NE(said, std::string::npos) << log;
    EXPECT_EQ(log.find("stay in force", said + 1), std::string::npos) << log;

    // No file: nobody gets in.
    fs::remove(path);
    guard.Reload();
    EXPECT_EQ(guard.Bearer(cue), Role::None);
    EXPECT_EQ(guard.TryLogin("127.0.0.1", "8642", now).status, 401);
    EXPECT_FALSE(guard.HasPin(Role::Operator));
}

TEST_F(AuthSecrets, ConcurrentLoginsAndTokenChecksAgree) {
    const std::string desk = SaveBasic();
    AuthGuard guard(path, Logger());
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                if (guard.TryLogin("10.0.0." + std::to_string(t), t % 2 ? "1357" : "2468", 1000)
                            .status == 200 &&
                    guard.Bearer(desk) == Role::Operator)
                    ++good;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(good, 80);
}

}  // namespace
