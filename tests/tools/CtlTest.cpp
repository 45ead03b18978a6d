#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "link/SerialPort.h"

#include "TestUtil.h"

namespace {

testutil::RunResult Ctl(std::vector<std::string> args, int timeoutMs = 15000) {
    args.insert(args.begin(), ORN312_CTL_PATH);
    return testutil::Run(args, timeoutMs);
}

int Lines(const std::string& s) {
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

}  // namespace

TEST(Ctl, UsageErrorsExit2WithOneLine) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"status"},
        {"--tcp", "127.0.0.1:1", "--serial", "/dev/null", "status"},
        {"--tcp", "127.0.0.1", "status"},
        {"--tcp", "127.0.0.1:70000", "status"},
        {"--tcp", "127.0.0.1:1", "--id", "300", "status"},
        {"--tcp", "127.0.0.1:1", "switch", "SDI"},
        {"--tcp", "127.0.0.1:1", "switch", "HDMI", "--transition", "2.0"},
        {"--tcp", "127.0.0.1:1", "query", "fe", "zz"},
        {"--tcp", "127.0.0.1:1", "query", "00 01 02 03 04 05 06 07 08 09 0a"},
        {"--tcp", "127.0.0.1:1", "reboot"},
        {"--serial", "COM99999999999999999999999", "status"},
        {"--tcp", "127.0.0.1:1", "switch", "HDMI", "--transition",
         "1.0" + std::string(100000, 's')},
        {"--tcp", "::1:5000", "status"},  // an IPv6 address goes in brackets
        {"--tcp", "[::1]5000", "status"},
        {"--tcp", "[::1]:", "status"},
    };
    for (const auto& args : cases) {
        const auto r = Ctl(args);
        std::string joined;
        for (const auto& a : args)
            joined += a.substr(0, 40) + " ";
        EXPECT_EQ(r.exitCode, 2) << joined;
        EXPECT_EQ(Lines(r.err), 1) << joined << "\n" << r.err;
    }
}

TEST(Ctl, ClosedPortFailsAtOnce) {
    int port;
    {
        testutil::Listener gone;
        port = gone.port;
    }
    const auto r = Ctl({"--tcp", "127.0.0.1:" + std::to_string(port), "identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(": Connection refused"), std::string::npos) << r.err;
    EXPECT_LT(r.elapsedMs, 2000);

    // One line on standard error, nothing on standard output.
    const auto s = Ctl({"--serial", "/dev/no-such-tty", "identify"});
    EXPECT_EQ(s.exitCode, 1);
    EXPECT_EQ(Lines(s.err), 1) << s.err;
    EXPECT_EQ(s.out, "");
    EXPECT_NE(s.err.find("cannot open serial port /dev/no-such-tty"), std::string::npos) << s.err;
}

TEST(Ctl, SilentDeviceExits1AfterTheLimit) {
    testutil::Listener silent;  // accepts (through the backlog) but never answers
    const auto r =
        Ctl({"--tcp", "127.0.0.1:" + std::to_string(silent.port), "status", "--limit", "1000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "orn312ctl: no reply to the status query within 1000 ms\n");
    EXPECT_GE(r.elapsedMs, 900);
}

TEST(Ctl, TalksToTheSimulatorOverTcpAndPty) {
    testutil::SimProcess sim({"--tcp", "0", "--pty"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const std::vector<std::vector<std::string>> endpoints = {
        {"--tcp", "127.0.0.1:" + std::to_string(sim.tcpPort)}, {"--serial", sim.ptyPath}};
    for (const auto& ep : endpoints) {
        auto with = [&](std::vector<std::string> args) {
            args.insert(args.begin(), ep.begin(), ep.end());
            return Ctl(args);
        };
        const auto id = with({"identify"});
        EXPECT_EQ(id.exitCode, 0) << ep[0] << id.err;
        EXPECT_NE(id.out.find("fe fe 76 69 65 77 20 72 67 62"), std::string::npos) << id.out;

        const auto q = with({"query", "FE", "03", "00", "00", "00", "00", "00", "00", "00", "00"});
        EXPECT_EQ(q.exitCode, 0) << q.err;
        EXPECT_NE(q.out.find("05 01 fe 06"), std::string::npos) << q.out;  // 1920x1080@60Hz

        const std::string target = ep[0] == "--tcp" ? "HDMI" : "DP";
        const auto sw = with({"switch", target, "--delay", "0"});
        EXPECT_EQ(sw.exitCode, 0) << sw.err;
        // The processor takes a moment to switch; the next status shows the new source.
        bool seen = false;
        for (int i = 0; i < 20 && !seen; ++i) {
            const auto st = with({"status", "--limit", "2000"});
            ASSERT_EQ(st.exitCode, 0) << st.err;
            seen = st.out.find("main source: " + target + " (signal)") != std::string::npos;
            if (!seen)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        EXPECT_TRUE(seen) << ep[0];
    }
    // The answers alone on standard output; the serial trace on standard error with -v.
    const auto quiet = Ctl({"--serial", sim.ptyPath, "identify"});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(Lines(quiet.out), 1) << quiet.out;
    EXPECT_EQ(quiet.err, "");
    const auto traced = Ctl({"-v", "--serial", sim.ptyPath, "identify"});
    EXPECT_EQ(Lines(traced.out), 1) << traced.out;
    EXPECT_NE(traced.err.find(" -> 05 01 fe fe 00 00 00 00 00 00 00 00 04\n"), std::string::npos)
        << traced.err;
    EXPECT_NE(traced.err.find(" <- 05 01 fe fe 76 69 65 77 20 72 67 62"), std::string::npos);
}

TEST(Ctl, AQueryOfACommandIsRefusedAndPointsToSend) {
    const auto r = Ctl({"--tcp", "127.0.0.1:1", "query", "01", "01"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("01 01 00 00 00 00 00 00 00 00 is a command: send it with 'send'"),
              std::string::npos)
        << r.err;
}

// A device that accepted the connection and hung up: every command fails, exit 1, and its one
// line says the device closed the connection, at once rather than after the time limit.
TEST(Ctl, DeviceThatHungUpFailsEveryCommand) {
    // The pauses after the frame are long enough for the device's hang-up to have happened
    // however busy the machine (the listener accepts on a thread of this test).
    const std::vector<std::vector<std::string>> commands = {
        {"switch", "HDMI", "--delay", "1000"},
        {"send", "26", "01", "00", "00", "00", "00", "00", "00", "00", "00", "--delay", "1000"},
        {"status"},
        {"identify"},
        {"query", "FE", "03", "00", "00", "00", "00", "00", "00", "00", "00"},
    };
    for (const auto& command : commands) {
        testutil::Listener device;
        std::thread hangUp([&] {
            const int peer = device.Accept(5000);
            if (peer >= 0)
                ::close(peer);
        });
        std::vector<std::string> args = {"--tcp", "127.0.0.1:" + std::to_string(device.port)};
        args.insert(args.end(), command.begin(), command.end());
        const auto r = Ctl(args);
        hangUp.join();
        EXPECT_EQ(r.exitCode, 1) << command[0] << "\n" << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("the device closed the connection"), std::string::npos)
            << command[0] << ": " << r.err;
        EXPECT_LT(r.elapsedMs, 3000) << command[0];
    }
}

// A serial line held by another program (here this one, as root) is refused with one line.
TEST(Ctl, SerialLineInUseIsRefused) {
    testutil::PtyPair pty;
    devlink::CSerialPort holder;
    ASSERT_EQ(holder.Open(pty.slavePath), 1);
    const auto r = Ctl({"--serial", pty.slavePath, "status"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "orn312ctl: serial port " + pty.slavePath + " is in use by another program\n");
}

// The answer is printed (and flushed) as soon as the reply is in; the pause the processor needs
// after its reply comes after it, before the program ends, so that a script calling orn312ctl
// twice in a row still leaves the processor its pause.
TEST(Ctl, PrintsTheAnswerBeforeThePauseAfterTheReply) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    for (const char* command : {"status", "identify"}) {
        const std::string line = std::string(ORN312_CTL_PATH) +
                                 " --tcp 127.0.0.1:" + std::to_string(sim.tcpPort) + " " + command;
        FILE* out = ::popen(line.c_str(), "r");
        ASSERT_NE(out, nullptr);
        std::string answer;
        char text[256];
        while (std::fgets(text, sizeof text, out) != nullptr) {
            answer += text;
            // The last line of each answer.
            if (answer.find("EXT. input:") != std::string::npos ||
                answer.find("identified") != std::string::npos)
                break;
        }
        const auto printed = std::chrono::steady_clock::now();
        const int status = ::pclose(out);
        const auto ended = std::chrono::steady_clock::now();
        EXPECT_EQ(WEXITSTATUS(status), 0) << command;
        EXPECT_FALSE(answer.empty()) << command;
        EXPECT_GE(ended - printed, std::chrono::milliseconds(150)) << command;
    }
}

// An IPv6 address in brackets is an address, as the unit allows IPv6: the frame goes to it.
TEST(Ctl, SendsToAnIpv6AddressInBrackets) {
    const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in6 at{};
    at.sin6_family = AF_INET6;
    at.sin6_addr = in6addr_loopback;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        ::close(listener);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t len = sizeof at;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len), 0);
    const std::string port = std::to_string(ntohs(at.sin6_port));

    // The connection waits in the backlog; the frame in its buffer.
    const auto r = Ctl({"--tcp", "[::1]:" + port, "send", "01", "01", "--delay", "0"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    unsigned char frame[13] = {};
    EXPECT_EQ(::recv(peer, frame, sizeof frame, MSG_WAITALL), 13);
    EXPECT_EQ(frame[0], 0x05);
    EXPECT_EQ(frame[2], 0x01);
    ::close(peer);
    ::close(listener);
}

// The status says a preview as the window's preview label does.
TEST(Ctl, StatusSaysThePreviewInTheWindowsWords) {
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const std::string tcp = "127.0.0.1:" + std::to_string(sim.tcpPort);
    ASSERT_EQ(Ctl({"--tcp", tcp, "send", "09", "01", "--delay", "0"}).exitCode, 0);
    const auto st = Ctl({"--tcp", tcp, "status"});
    EXPECT_EQ(st.exitCode, 0) << st.err;
    EXPECT_NE(st.out.find("\noverlay: Pre: NULL\n"), std::string::npos) << st.out;
}
