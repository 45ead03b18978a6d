// The service's HTTP API end to end: orn312-scheduler --http against the simulator, with a small
// Beast client: logins and refusals, commands reaching the processor, the event stream, the
// limits, HTTPS.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>  // before Asio, whose C++20 headers use std::exchange

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "TestUtil.h"
#include "link/Commands.h"
#include "server/Auth.h"
#include "server/DeviceApi.h"
#include "server/HttpServer.h"

namespace fs = std::filesystem;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using asio::ip::tcp;
using nlohmann::json;
using namespace std::chrono;

namespace {

int64_t Ms() {
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Reply {
    int status = 0;
    http::response<http::string_body> res;
    json Json() const { return json::parse(res.body(), nullptr, false); }
    std::string Header(http::field f) const { return std::string(res[f]); }
};

using Headers = std::vector<std::pair<std::string, std::string>>;

http::request<http::string_body> MakeRequest(http::verb verb, const std::string& target,
                                             const std::string& body, const Headers& headers,
                                             int port) {
    http::request<http::string_body> req{verb, target, 11};
    req.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    for (const auto& [name, value] : headers)
        req.set(name, value);
    if (verb == http::verb::post) {
        req.set(http::field::content_type, "application/json");
        req.body() = body;
        req.prepare_payload();
    }
    return req;
}

template <class Stream>
Reply Exchange(Stream& stream, http::request<http::string_body>& req) {
    Reply r;
    beast::flat_buffer buffer;
    beast::error_code ec;
    http::write(stream, req, ec);
    if (!ec)
        http::read(stream, buffer, r.res, ec);
    r.status = ec ? 0 : r.res.result_int();
    return r;
}

// One request on a connection of its own.
Reply Call(int port, http::verb verb, const std::string& target, const std::string& body = "",
           const Headers& headers = {}) {
    asio::io_context io;
    beast::tcp_stream stream(io);
    stream.expires_after(seconds(20));
    beast::error_code ec;
    stream.connect(
        tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)), ec);
    if (ec)
        return {};
    auto req = MakeRequest(verb, target, body, headers, port);
    return Exchange(stream, req);
}

// The event stream: one `event:` block at a time.
class EventStream {
public:
    // status stays 0 when the server did not answer.
    EventStream(int port, const Headers& headers) : m_stream(m_io) {
        m_stream.expires_after(seconds(10));
        beast::error_code ec;
        m_stream.connect(
            tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)),
            ec);
        auto req = MakeRequest(http::verb::get, "/api/v1/events", "", headers, port);
        if (!ec)
            http::write(m_stream, req, ec);
        m_parser.on_chunk_body(m_onChunk);
        if (!ec)
            http::read_header(m_stream, m_buffer, m_parser, ec);
        if (ec)
            return;
        status = m_parser.get().result_int();
        contentType = std::string(m_parser.get()[http::field::content_type]);
    }
    // The next event (name, data) within waitMs; comments are counted, not returned.
    std::optional<std::pair<std::string, json>> Next(int waitMs) {
        const int64_t end = Ms() + waitMs;
        for (;;) {
            const size_t blank = m_text.find("\n\n");
            if (blank != std::string::npos) {
                const std::string block = m_text.substr(0, blank);
                m_text.erase(0, blank + 2);
                if (block.rfind(":", 0) == 0) {
                    ++comments;
                    continue;
                }
                std::string name, data;
                std::istringstream lines(block);
                for (std::string line; std::getline(lines, line);) {
                    if (line.rfind("event: ", 0) == 0)
                        name = line.substr(7);
                    else if (line.rfind("data: ", 0) == 0)
                        data = line.substr(6);
                }
                return std::make_pair(name, json::parse(data, nullptr, false));
            }
            const int64_t left = end - Ms();
            if (left <= 0)
                return std::nullopt;
            m_stream.expires_after(milliseconds(left));
            beast::error_code ec;
            http::read_some(m_stream, m_buffer, m_parser, ec);
            if (ec)
                return std::nullopt;
        }
    }
    // The next state event whose JSON satisfies want, within waitMs.
    template <class Want>
    std::optional<json> NextState(int waitMs, Want want) {
        const int64_t end = Ms() + waitMs;
        while (Ms() < end) {
            const auto e = Next(static_cast<int>(end - Ms()));
            if (!e)
                return std::nullopt;
            if (e->first == "state" && want(e->second))
                return e->second;
        }
        return std::nullopt;
    }

    int status = 0;
    std::string contentType;
    int comments = 0;

private:
    asio::io_context m_io;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    http::response_parser<http::empty_body> m_parser;
    std::string m_text;
    std::function<size_t(uint64_t, beast::string_view, beast::error_code&)> m_onChunk =
        [this](uint64_t, beast::string_view body, beast::error_code&) {
            m_text.append(body.data(), body.size());
            return body.size();
        };
};

class Http : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(testing::TempDir()) /
              ("orn312-http-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        // PINs and a token hashed cheaply, so that the tests stay fast; the service checks each
        // hash at the cost written in it.
        server::SetHashCost({1, 8192});
        server::AuthFile file;
        std::string error;
        ASSERT_TRUE(file.SetPin(server::Role::Operator, "1234", error)) << error;
        ASSERT_TRUE(file.SetPin(server::Role::Viewer, "5678", error)) << error;
        ASSERT_TRUE(file.NewToken("desk", token, error)) << error;
        ASSERT_TRUE(file.Save((dir / "auth.json").string(), error)) << error;
        server::SetHashCost(server::DefaultHashCost());
        sim = std::make_unique<testutil::SimProcess>(std::vector<std::string>{"--tcp", "0"});
        ASSERT_TRUE(sim->Started());
    }
    void TearDown() override {
        service.reset();
        sim.reset();
        fs::remove_all(dir);
    }

    // The service on the simulator, serving HTTP on loopback; extra arguments before the file.
    // Over plain HTTP, waits for the first status read back.
    void StartService(std::vector<std::string> extra = {}, const std::string& plans = "",
                      bool tls = false) {
        std::ofstream ini(dir / "Planinfo.ini", std::ios::binary);
        ini << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << sim->tcpPort << "\nDeviceID=1\n"
            << plans;
        ini.close();
        std::vector<std::string> args = {ORN312_SCHEDULER_PATH, "--http", "127.0.0.1:0", "--auth",
                                         "auth.json"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("Planinfo.ini");
        service = std::make_unique<testutil::ChildProcess>(args, dir.string());
        ASSERT_TRUE(service->WaitForErr("connected: ", 8000)) << service->Err();
        const std::string err = service->Err();
        const std::string at = " on 127.0.0.1:";
        const size_t i = err.find(at, err.find("HTTP serving"));
        ASSERT_NE(i, std::string::npos) << err;
        port = std::stoi(err.substr(i + at.size()));
        // The first status read back, so that the guards know the processor.
        const int64_t end = Ms() + 5000;
        while (!tls && Ms() < end && Get("/api/v1/state").Json().value("main", json()).is_null())
            std::this_thread::sleep_for(milliseconds(50));
    }

    Headers Bearer() const { return {{"Authorization", "Bearer " + token}}; }
    Reply Get(const std::string& path, const Headers& h = {}) {
        return Call(port, http::verb::get, path, "", h.empty() ? Bearer() : h);
    }
    Reply Post(const std::string& path, const std::string& body, const Headers& h = {}) {
        return Call(port, http::verb::post, path, body, h.empty() ? Bearer() : h);
    }
    // The session cookie of a login with pin ("name=value"), or "".
    std::string Login(const std::string& pin) {
        const Reply r = Post("/api/v1/login", json{{"pin", pin}}.dump(), {{"X-Test", "1"}});
        const std::string cookie = r.Header(http::field::set_cookie);
        return r.status == 200 ? cookie.substr(0, cookie.find(';')) : "";
    }

    fs::path dir;
    std::string token;
    std::unique_ptr<testutil::SimProcess> sim;
    std::unique_ptr<testutil::ChildProcess> service;
    int port = 0;
};

}  // namespace

// The commands' JSON, as the API and MQTT both read it.
TEST(HttpApi, CommandsParsedFromJson) {
    using Kind = server::Command::Kind;
    struct Case {
        Kind kind;
        const char* body;
        int status;
    };
    const Case cases[] = {
        {Kind::Switch, R"({"source":"HDMI","transition":"1.5"})", 200},
        {Kind::Switch, R"({"source":"EXT."})", 200},
        {Kind::Switch, R"({"source":"YPbPr","transition":"cut"})", 200},
        {Kind::Switch, R"({"source":"hdmi"})", 400},
        {Kind::Switch, R"({"source":"HDMI","transition":"2.0"})", 400},
        {Kind::Switch, R"({"source":4})", 400},
        {Kind::Switch, R"({"transition":"cut"})", 400},
        {Kind::Switch, R"({"source":"HDMI")", 400},
        {Kind::Switch, R"(["HDMI"])", 400},
        {Kind::Switch, "", 400},
        {Kind::Take, "", 200},
        {Kind::Take, R"({"transition":"0.5"})", 200},
        {Kind::Overlay, R"({"name":"FREEZE","on":true})", 200},
        {Kind::Overlay, R"({"name":"BYPASS","on":true})", 400},
        {Kind::Overlay, R"({"name":"PIP","on":"yes"})", 400},
        {Kind::Mode, R"({"mode":"pre+take"})", 200},
        {Kind::Mode, R"({"mode":"auto"})", 400},
        {Kind::Timer, R"({"run":false})", 200},
        {Kind::Timer, R"({})", 400},
    };
    for (const Case& c : cases) {
        server::Command command;
        const server::ApiResult r = server::ParseCommand(c.kind, c.body, command);
        EXPECT_EQ(r.status, c.status) << c.body;
        EXPECT_EQ(r.status == 200, r.error.empty()) << c.body;
    }
    server::Command command;
    ASSERT_EQ(
        server::ParseCommand(R"({"command":"switch","source":"DVI","transition":"1.0"})", command)
            .status,
        200);
    EXPECT_EQ(command.kind, Kind::Switch);
    EXPECT_EQ(command.source, devlink::kDvi);
    EXPECT_EQ(command.transition, 2);
    EXPECT_EQ(server::ParseCommand(R"({"command":"reboot"})", command).status, 400);
}

// Who may do what: no session or token, a wrong one, a viewer changing anything, another
// origin, a body too large, bad JSON; each refusal logged with the address.
TEST_F(Http, RefusalsOfSessionsTokensRolesAndLimits) {
    StartService();
    const std::string viewer = Login("5678");
    const std::string operatorCookie = Login("1234");
    ASSERT_FALSE(viewer.empty());
    ASSERT_FALSE(operatorCookie.empty());
    const std::string own = "http://127.0.0.1:" + std::to_string(port);
    const std::string big(server::HttpServer::kMaxBodyBytes + 1, ' ');
    struct Case {
        const char* what;
        http::verb verb;
        std::string path;
        std::string body;
        Headers headers;
        int status;
    };
    const std::vector<Case> cases = {
        {"no session", http::verb::get, "/api/v1/state", "", {{"X", "1"}}, 401},
        {"no session, command",
         http::verb::post,
         "/api/v1/switch",
         R"({"source":"HDMI"})",
         {{"X", "1"}},
         401},
        {"unknown token",
         http::verb::get,
         "/api/v1/state",
         "",
         {{"Authorization", "Bearer " + token.substr(0, token.find('.')) + ".x"}},
         401},
        {"no token at all",
         http::verb::get,
         "/api/v1/plans",
         "",
         {{"Authorization", "Bearer nonsense"}},
         401},
        {"unknown session",
         http::verb::get,
         "/api/v1/state",
         "",
         {{"Cookie", "orn312_session=" + std::string(64, 'a')}},
         401},
        {"viewer reads", http::verb::get, "/api/v1/state", "", {{"Cookie", viewer}}, 200},
        {"viewer switches",
         http::verb::post,
         "/api/v1/switch",
         R"({"source":"HDMI"})",
         {{"Cookie", viewer}},
         403},
        {"viewer stops the timer",
         http::verb::post,
         "/api/v1/timer",
         R"({"run":false})",
         {{"Cookie", viewer}},
         403},
        {"operator, other origin",
         http::verb::post,
         "/api/v1/timer",
         R"({"run":true})",
         {{"Cookie", operatorCookie}, {"Origin", "http://evil.example"}},
         403},
        {"login from another origin",
         http::verb::post,
         "/api/v1/login",
         R"({"pin":"1234"})",
         {{"Origin", "http://evil.example"}},
         403},
        {"operator, own origin",
         http::verb::post,
         "/api/v1/timer",
         R"({"run":true})",
         {{"Cookie", operatorCookie}, {"Origin", own}},
         200},
        {"body too large",
         http::verb::post,
         "/api/v1/switch",
         big,
         {{"Cookie", operatorCookie}},
         413},
        {"body too large, before any login",
         http::verb::post,
         "/api/v1/login",
         big,
         {{"X", "1"}},
         413},
        {"bad JSON", http::verb::post, "/api/v1/switch", "{\"source\":", Bearer(), 400},
        {"unknown source", http::verb::post, "/api/v1/switch", R"({"source":"SDI"})", Bearer(),
         400},
        {"unknown transition", http::verb::post, "/api/v1/switch",
         R"({"source":"HDMI","transition":"3.0"})", Bearer(), 400},
        {"wrong PIN", http::verb::post, "/api/v1/login", R"({"pin":"9999"})", {{"X", "1"}}, 401},
        {"no such path", http::verb::get, "/api/v1/nothing", "", Bearer(), 404},
        {"the page", http::verb::get, "/", "", {{"X", "1"}}, 200},
    };
    for (const Case& c : cases) {
        const Reply r = Call(port, c.verb, c.path, c.body, c.headers);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.res.body();
        EXPECT_EQ(r.Header(http::field::access_control_allow_origin), "") << c.what;
        if (c.status >= 400 && c.path != "/") {
            EXPECT_TRUE(r.Json().contains("error")) << c.what << ": " << r.res.body();
        }
    }
    EXPECT_EQ(Get("/api/v1/session", {{"Cookie", viewer}}).Json(), json({{"role", "viewer"}}));
    EXPECT_EQ(Get("/api/v1/session").Json(), json({{"role", "operator"}}));  // the token
    // The page may run only its own scripts.
    const Reply page = Get("/", {{"X", "1"}});
    EXPECT_NE(page.res["Content-Security-Policy"].find("default-src 'self'"), std::string::npos);
    EXPECT_EQ(page.res["Content-Security-Policy"].find("unsafe-inline"), std::string::npos);
    // The login's cookie, and its end.
    const Reply login = Post("/api/v1/login", R"({"pin":"1234"})", {{"X", "1"}});
    EXPECT_EQ(login.Json(), json({{"role", "operator"}}));
    const std::string set = login.Header(http::field::set_cookie);
    for (const char* part : {"HttpOnly", "SameSite=Strict", "Path=/", "Max-Age=43200"})
        EXPECT_NE(set.find(part), std::string::npos) << set;
    const std::string cookie = set.substr(0, set.find(';'));
    EXPECT_EQ(Get("/api/v1/state", {{"Cookie", cookie}}).status, 200);
    EXPECT_EQ(Post("/api/v1/logout", "", {{"Cookie", cookie}}).status, 200);
    EXPECT_EQ(Get("/api/v1/state", {{"Cookie", cookie}}).status, 401);
    // The refusals are in the log with the address: the first few of a second one a line, the
    // rest of that second summed up by kind.
    ASSERT_TRUE(service->WaitForErr("more refusals in the last second (", 3000)) << service->Err();
    const std::string log = service->Err();
    EXPECT_NE(log.find("HTTP refused 127.0.0.1:"), std::string::npos) << log;
    for (const char* kind : {"401", "403", "413"}) {
        const bool told = log.find(std::string("(") + kind + ")\n") != std::string::npos ||
                          log.find(std::string(kind) + ": ") != std::string::npos;
        EXPECT_TRUE(told) << kind << "\n" << log;
    }
}

// Five wrong PINs lock the address out: the right PIN too gets 429, with Retry-After.
TEST_F(Http, WrongPinsLockTheAddressOut) {
    StartService();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Post("/api/v1/login", R"({"pin":"0000"})", {{"X", "1"}}).status, 401);
    const Reply locked = Post("/api/v1/login", R"({"pin":"1234"})", {{"X", "1"}});
    EXPECT_EQ(locked.status, 429);
    const int after = std::atoi(locked.Header(http::field::retry_after).c_str());
    EXPECT_GT(after, 0);
    EXPECT_LE(after, 60);
    EXPECT_TRUE(locked.Json().contains("error"));
    // A token still works: the lockout is of logins.
    EXPECT_EQ(Get("/api/v1/state").status, 200);
    EXPECT_TRUE(service->WaitForErr("(429)", 1000)) << service->Err();
}

// A switch per transition reaches the processor, each answered once its frame left; a press
// made during the previous switch's pause waits its turn and goes out after that pause.
TEST_F(Http, SwitchesReachTheProcessorAfterThePauseBeforeThem) {
    StartService();
    struct Case {
        const char* source;
        const char* transition;
        uint8_t code;
        uint8_t tt;
    };
    const Case cases[] = {{"HDMI", "cut", devlink::kHdmi, 0},
                          {"VGA1", "0.5", devlink::kVga1, 1},
                          {"DP", "1.0", devlink::kDp, 2},
                          {"V1", "1.5", devlink::kV1, 3}};
    std::vector<int64_t> answered;
    for (const Case& c : cases) {
        const Reply r =
            Post("/api/v1/switch", json{{"source", c.source}, {"transition", c.transition}}.dump());
        answered.push_back(Ms());
        EXPECT_EQ(r.status, 200) << c.source << ": " << r.res.body();
        EXPECT_EQ(r.Json(), json({{"sent", true}}));
    }
    // Each answer came once the pause before it had run (3 s after a switch).
    for (size_t i = 1; i < answered.size(); ++i)
        EXPECT_GE(answered[i] - answered[i - 1], 2500) << i;
    ASSERT_TRUE(sim->WaitForOutput("<- 05 01 00 03 00", 2000));
    std::vector<testutil::Received> switches;
    for (const auto& f : testutil::ReceivedFrames(sim->Output()))
        if (f.frame[2] == devlink::kMainSwitch)
            switches.push_back(f);
    ASSERT_EQ(switches.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(switches[i].frame, devlink::SourceSwitch(1, cases[i].tt, cases[i].code)) << i;
        if (i > 0) {
            EXPECT_GE(switches[i].ms - switches[i - 1].ms, devlink::kSwitchPauseMs - 20) << i;
        }
    }
}

// The window's guards and a processor away answer 409 with the reason; nothing is sent.
TEST_F(Http, GuardsAndALostProcessorAnswerConflict) {
    sim->Command("ext NULL");
    ASSERT_TRUE(sim->WaitForOutput("EXT. input NULL", 3000));
    StartService({"--share", "127.0.0.1:0"});
    const auto conflict = [&](const std::string& path, const json& body, const std::string& why) {
        const int64_t end = Ms() + 4000;
        Reply r;
        do {  // until the poll has read the change back
            r = Post(path, body.dump());
            if (r.status == 409 && r.Json().value("error", "").find(why) != std::string::npos)
                return;
            std::this_thread::sleep_for(milliseconds(100));
        } while (Ms() < end);
        ADD_FAILURE() << path << " " << body.dump() << ": " << r.status << " " << r.res.body();
    };
    conflict("/api/v1/switch", {{"source", "EXT."}}, "Ext is null,can't switch");
    conflict("/api/v1/switch", {{"source", "YPbPr"}}, "not YPbPr");
    conflict("/api/v1/take", json::object(), "not in Pre + TAKE mode");
    conflict("/api/v1/pre", {{"source", "HDMI"}}, "not in Pre + TAKE mode");

    // MOSAIC on, through the shared line as another client would: no source may be switched.
    const std::string err = service->Err();
    const std::string at = "sharing the line on 127.0.0.1:";
    const int sharePort = std::stoi(err.substr(err.find(at) + at.size()));
    {
        asio::io_context io;
        tcp::socket s(io);
        s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"),
                                static_cast<unsigned short>(sharePort)));
        const devlink::Frame on = devlink::MosaicCommand(1, true);
        asio::write(s, asio::buffer(on));
        ASSERT_TRUE(sim->WaitForOutput("<- 05 01 21 01", 3000));
    }
    // Read back once the window would disable "TEXT" (closing it sends no switch meanwhile).
    conflict("/api/v1/overlay", {{"name", "TEXT"}, {"on", false}}, "\"TEXT\" is not available");
    conflict("/api/v1/switch", {{"source", "HDMI"}}, "Invalid operate only valid in mosaic off");
    EXPECT_EQ(testutil::Count(sim->Output(), "<- 05 01 00 "), 0);

    // The processor gone: refused at once, and the state says so.
    sim.reset();
    conflict("/api/v1/switch", {{"source", "HDMI"}}, "not connected");
    const json state = Get("/api/v1/state").Json();
    EXPECT_EQ(state["link"], "lost");
    EXPECT_TRUE(state["main"].is_null());
}

// The event stream: the state at once, then each change read back from the processor, with the
// same JSON as GET; events of the processor; keep-alive comments.
TEST_F(Http, EventStreamFollowsTheProcessor) {
    StartService();
    EventStream events(port, Bearer());
    ASSERT_EQ(events.status, 200);
    EXPECT_EQ(events.contentType, "text/event-stream");
    const auto first = events.Next(3000);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->first, "state");
    EXPECT_EQ(first->second, Get("/api/v1/state").Json());
    const std::string main = first->second["main"];

    // A change made at the processor itself reaches the stream within the poll and a bit.
    const int64_t t0 = Ms();
    sim->Command("signal " + main + " off");
    const auto lost = events.NextState(
        4000, [&](const json& s) { return s["signals"].value(main, true) == false; });
    ASSERT_TRUE(lost.has_value()) << service->Err();
    EXPECT_LT(Ms() - t0, 3000);
    EXPECT_EQ(*lost, Get("/api/v1/state").Json());

    // A switch by another user.
    EXPECT_EQ(Post("/api/v1/switch", R"({"source":"HDMI"})").status, 200);
    EXPECT_TRUE(events.NextState(9000, [](const json& s) { return s["main"] == "HDMI"; }))
        << service->Err();

    // The processor lost: an event and the state.
    sim->Command("hangup");
    bool lostEvent = false;
    for (int64_t end = Ms() + 8000; Ms() < end && !lostEvent;) {
        const auto e = events.Next(static_cast<int>(end - Ms()));
        if (!e)
            break;
        lostEvent = e->first == "processor_lost";
    }
    EXPECT_TRUE(lostEvent) << service->Err();
}

// The timer's plans: listed, the next one in the state, its outcome when it fired, stopped and
// started again by the API.
TEST_F(Http, PlansAndTheTimer) {
    const time_t now = ::time(nullptr);
    const time_t at = now + 3;
    struct tm a {
    }, b{};
    localtime_r(&now, &a);
    localtime_r(&at, &b);
    if (a.tm_mday != b.tm_mday || b.tm_hour * 3600 + b.tm_min * 60 + b.tm_sec > 86390)
        GTEST_SKIP() << "too close to midnight";
    char clock[16];
    std::snprintf(clock, sizeof clock, "%2d:%2d:%2d", b.tm_hour, b.tm_min, b.tm_sec);
    StartService({}, std::string("[PLANCOUNT]\ndaytimecount=1\nweektimecount=1\n[DAYTIME]\n") +
                         "Time0=" + clock + ",4\n[WEEKTIME]\nTime0=3,14:30: 0,6\n");
    const json plans = Get("/api/v1/plans").Json();
    ASSERT_EQ(plans["plans"].size(), 2u) << plans;
    EXPECT_EQ(plans["plans"][0]["kind"], "day");
    EXPECT_EQ(plans["plans"][0]["source"], "HDMI");
    EXPECT_EQ(plans["plans"][1],
              json({{"kind", "week"}, {"time", "14:30:00"}, {"source", "DP"}, {"weekday", 3}}));

    EventStream events(port, Bearer());
    const auto waiting =
        events.NextState(3000, [](const json& s) { return !s["timer"]["next"].is_null(); });
    ASSERT_TRUE(waiting.has_value());
    EXPECT_EQ((*waiting)["timer"]["next"]["source"], "HDMI");
    EXPECT_TRUE((*waiting)["timer"]["running"]);
    bool fired = false;
    for (int64_t end = Ms() + 9000; Ms() < end && !fired;) {
        const auto e = events.Next(static_cast<int>(end - Ms()));
        if (!e)
            break;
        fired = e->first == "plan_fired" && e->second["source"] == "HDMI";
    }
    EXPECT_TRUE(fired) << service->Err();
    const json timer = Get("/api/v1/state").Json()["timer"];
    EXPECT_EQ(timer["last"]["result"], "sent") << timer;
    EXPECT_EQ(timer["last"]["source"], "HDMI");

    const Reply stop = Post("/api/v1/timer", R"({"run":false})");
    EXPECT_EQ(stop.Json(), json({{"running", false}}));
    EXPECT_EQ(Get("/api/v1/state").Json()["timer"]["running"], false);
    EXPECT_EQ(Post("/api/v1/timer", R"({"run":true})").Json(), json({{"running", true}}));
    EXPECT_TRUE(service->WaitForErr("timer stopped", 1000));
}

// A client that sends half its headers is dropped at the deadline (here 300 ms), logged; a login
// stays quick while 200 event streams are open; at most 256 connections, the one beyond refused
// and logged.
TEST_F(Http, HeaderDeadlineAndConnectionCap) {
    StartService({"--http-header-ms", "300"});
    asio::io_context io;
    {
        tcp::socket half(io);
        half.connect(
            tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
        asio::write(half, asio::buffer(std::string("GET /api/v1/state HTTP/1.1\r\nHost: x\r\n")));
        const int64_t t0 = Ms();
        char c;
        beast::error_code ec;
        half.read_some(asio::buffer(&c, 1), ec);  // ends when the server closes
        EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
        EXPECT_GE(Ms() - t0, 200);
        EXPECT_LT(Ms() - t0, 3000);
        EXPECT_TRUE(service->WaitForErr("request was not in within 0.3 s", 1000)) << service->Err();
    }
    // 200 event streams open: a login is not held up by them.
    std::vector<std::unique_ptr<EventStream>> streams;
    const auto open = [&] {
        // A connection just closed by this test may not have been reaped yet: try again.
        for (int attempt = 0; attempt < 50; ++attempt) {
            auto s = std::make_unique<EventStream>(port, Bearer());
            if (s->status == 200) {
                streams.push_back(std::move(s));
                return true;
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        return false;
    };
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(open()) << i;
    const int64_t t0 = Ms();
    EXPECT_FALSE(Login("1234").empty());
    EXPECT_LT(Ms() - t0, 1000);
    // 256 in all; the one beyond is closed at once, and logged.
    while (streams.size() < 256)
        ASSERT_TRUE(open()) << streams.size();
    {
        tcp::socket beyond(io);
        beyond.connect(
            tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
        char c;
        beast::error_code ec;
        beyond.read_some(asio::buffer(&c, 1), ec);
        EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
        EXPECT_TRUE(service->WaitForErr("256 connections are open already", 1000))
            << service->Err();
    }
    streams.clear();
    const int64_t end = Ms() + 3000;
    while (Ms() < end && Get("/api/v1/state").status != 200)
        std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(Get("/api/v1/state").status, 200);
}

// HTTPS with a certificate made here: a login over TLS gets a Secure cookie; plain HTTP to it
// gets nothing. Beyond loopback without an operator PIN the service does not start.
TEST_F(Http, HttpsAndTheAddressBeyondLoopback) {
    const fs::path cert = dir / "cert.pem", key = dir / "key.pem";
    const auto made = testutil::Run(
        {"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
         "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key.string(), "-out", cert.string(),
         "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
        20000);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    StartService({"--tls-cert", cert.string(), "--tls-key", key.string()}, "", true);
    EXPECT_NE(service->Err().find("serving HTTPS on"), std::string::npos) << service->Err();

    asio::io_context io;
    ssl::context ctx(ssl::context::tls_client);
    ctx.load_verify_file(cert.string());
    ctx.set_verify_mode(ssl::verify_peer);
    beast::ssl_stream<beast::tcp_stream> stream(io, ctx);
    beast::get_lowest_layer(stream).expires_after(seconds(10));
    beast::get_lowest_layer(stream).connect(
        tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    stream.handshake(ssl::stream_base::client);
    auto req = MakeRequest(http::verb::post, "/api/v1/login", R"({"pin":"1234"})", {}, port);
    const Reply login = Exchange(stream, req);
    EXPECT_EQ(login.status, 200);
    EXPECT_NE(login.Header(http::field::set_cookie).find("; Secure"), std::string::npos);
    auto state = MakeRequest(http::verb::get, "/api/v1/state", "", Bearer(), port);
    const Reply r = Exchange(stream, state);  // the same connection, kept alive
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Json()["link"], "connected");

    EXPECT_EQ(Get("/api/v1/state").status, 0);  // plain HTTP: no answer

    // Another address without an operator PIN: refused at start, one line, exit 2.
    server::AuthFile none;
    std::string error;
    ASSERT_TRUE(none.Save((dir / "none.json").string(), error)) << error;
    const auto refused =
        testutil::Run({ORN312_SCHEDULER_PATH, "--http", "0.0.0.0:0", "--auth",
                       (dir / "none.json").string(), (dir / "Planinfo.ini").string()},
                      10000);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(testutil::Count(refused.err, "\n"), 1) << refused.err;
    EXPECT_NE(refused.err.find("operator PIN"), std::string::npos) << refused.err;
}
