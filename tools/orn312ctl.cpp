// orn312ctl: the command-line client. Talks to one processor over a serial line or TCP with the
// same link layer as the controller, for scripts and for people without the window.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/Commands.h"
#include "link/Link.h"
#include "link/NetTcp.h"
#include "link/PortDiscovery.h"
#include "link/Replies.h"
#include "resources/SwitchTexts.h"
#include "link/Trace.h"
#include "tools/CtlWall.h"

using namespace devlink;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitDevice = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: orn312ctl (--serial PATH | --tcp HOST:PORT) [--id N] [-v | --trace] COMMAND\n"
    "       orn312ctl --help | --version\n"
    "  -v, --verbose, --trace            the frames sent and received, on standard error\n"
    "commands:\n"
    "  identify                          identification handshake\n"
    "  status                            read and print the device state\n"
    "  query FE B3 .. B11 [--limit MS]   send a question, print the 13-byte reply\n"
    "  send B2 .. B11 [--delay MS]       send a command, then pause (the command's own pause)\n"
    "  switch SOURCE [--transition T]    main switch: V1 V2 VGA1 VGA2 HDMI DVI DP EXT. YPbPr;\n"
    "                                    T is Cut, 0.5, 1.0, 1.5 or 0..3\n";

void PrintUsage() {
    std::fputs(kUsage, stdout);
    std::fputs(ctl::kFileCommandsUsage, stdout);
}

struct Options {
    std::string serial;
    std::string tcp;
    int id = 1;
    int delay = -1;
    int limit = -1;
    int transition = 0;
    bool verbose = false;
    std::vector<std::string> words;  // the command and its arguments
};

// Where the answers go: standard output as it was at the start (see TakeStandardOutput).
FILE* g_out = stdout;

// The link layer writes its frame trace and its error lines ("CreateFile Error") on standard
// output. Here standard output carries the answers alone: those lines go to standard error with
// -v, nowhere without it.
void TakeStandardOutput(bool verbose) {
    std::fflush(stdout);
    const int answers = ::dup(STDOUT_FILENO);
    const int sink = verbose ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    FILE* out = answers >= 0 ? ::fdopen(answers, "w") : nullptr;
    if (out == nullptr || sink < 0 || ::dup2(sink, STDOUT_FILENO) < 0) {
        if (sink >= 0)
            ::close(sink);
        return;  // the trace stays mixed in rather than losing the answers
    }
    ::close(sink);
    g_out = out;
}

[[noreturn]] void UsageError(const std::string& what) {
    std::fprintf(stderr, "orn312ctl: %s (orn312ctl --help shows the usage)\n", what.c_str());
    std::exit(kExitUsage);
}

// The link to the device once it is open. Its answer is printed as soon as the reply is in; the
// pause the processor needs after the reply is owed on the link and kept before the program
// ends, so that a script calling orn312ctl twice in a row still leaves the processor its pause.
LinkConnection* g_link = nullptr;

void KeepReplyPause() {
    std::fflush(g_out);
    if (g_link != nullptr)
        WaitQuiet(*g_link);
}

[[noreturn]] void DeviceError(const std::string& what) {
    std::fprintf(stderr, "orn312ctl: %s\n", what.c_str());
    KeepReplyPause();
    std::exit(kExitDevice);
}

bool ParseInt(const std::string& text, int low, int high, int& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

int ParseTransition(const std::string& t) {
    const char* names[] = {"cut", "0.5", "1.0", "1.5"};
    for (int i = 0; i < 4; ++i) {
        if (strcasecmp(t.c_str(), names[i]) == 0)
            return i;
    }
    // One trailing unit is allowed: "1.5s".
    if (t.size() > 1 && (t.back() == 's' || t.back() == 'S')) {
        const std::string bare = t.substr(0, t.size() - 1);
        for (int i = 1; i < 4; ++i) {
            if (bare == names[i])
                return i;
        }
        return -1;
    }
    int v = 0;
    if (ParseInt(t, 0, 3, v))
        return v;
    return -1;
}

Options ParseArgs(int argc, char** argv) {
    Options o;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc)
            UsageError(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--serial") {
            o.serial = value(i);
        } else if (a == "--tcp") {
            o.tcp = value(i);
        } else if (a == "--id") {
            if (!ParseInt(value(i), 0, 255, o.id))
                UsageError("--id takes a number from 0 to 255");
        } else if (a == "--delay") {
            if (!ParseInt(value(i), 0, 600000, o.delay))
                UsageError("--delay takes milliseconds");
        } else if (a == "--limit") {
            if (!ParseInt(value(i), 0, 600000, o.limit))
                UsageError("--limit takes milliseconds");
        } else if (a == "--transition") {
            o.transition = ParseTransition(value(i));
            if (o.transition < 0)
                UsageError("--transition takes Cut, 0.5, 1.0, 1.5 or 0..3");
        } else if (a == "-v" || a == "--verbose" || a == "--trace") {
            o.verbose = true;
        } else if (a == "-h" || a == "--help") {
            PrintUsage();
            std::exit(kExitOk);
        } else if (a == "--version") {
            std::printf("orn312ctl %s\n", ORN312_VERSION);
            std::exit(kExitOk);
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            UsageError("unknown option " + a);
        } else {
            o.words.push_back(a);
        }
    }
    if (o.serial.empty() == o.tcp.empty())
        UsageError("give exactly one of --serial and --tcp");
    if (o.words.empty())
        UsageError("no command given");
    return o;
}

// Bytes 2..11 from the command's arguments: hex bytes, one argument each or in one string.
Frame BodyFrame(const Options& o) {
    std::string joined;
    for (size_t i = 1; i < o.words.size(); ++i)
        joined += o.words[i] + " ";
    std::string bytes;
    if (!ParseHex(joined, bytes))
        UsageError("bytes 2..11 must be hex: " + joined);
    if (bytes.empty() || bytes.size() > 10)
        UsageError("give between 1 and 10 bytes (2..11)");
    Frame f{};
    f[0] = kLeader;
    f[1] = static_cast<uint8_t>(o.id);
    for (size_t i = 0; i < bytes.size(); ++i)
        f[2 + i] = static_cast<uint8_t>(bytes[i]);
    return WithChecksum(f.data());
}

void Connect(const Options& o, LinkConnection& link) {
    if (!o.serial.empty()) {
        const std::string path = PortNameToDevicePath(o.serial);
        if (path.empty()) {
            UsageError("--serial: no such port '" + o.serial +
                       "' (COM1..COM9999, a name or a path)");
        }
        link.m_bSerial = 1;
        if (link.m_serialPort.Open(path) != 1) {
            DeviceError(link.m_serialPort.InUse()
                            ? "serial port " + path + " is in use by another program"
                            : "cannot open serial port " + path + ": " + std::strerror(errno));
        }
        if (link.m_serialPort.Configure() != 1) {
            DeviceError("cannot set up serial port " + path + " (9600 8N1)");
        }
        return;
    }
    // HOST:PORT; an IPv6 address goes in brackets ([::1]:5000), as in a URL.
    std::string host, portText;
    if (!o.tcp.empty() && o.tcp[0] == '[') {
        const size_t close = o.tcp.find(']');
        if (close == std::string::npos || close + 1 >= o.tcp.size() || o.tcp[close + 1] != ':') {
            UsageError("--tcp takes [IPv6 address]:PORT, for example [::1]:5000");
        }
        host = o.tcp.substr(1, close - 1);
        portText = o.tcp.substr(close + 2);
    } else {
        const size_t colon = o.tcp.rfind(':');
        if (colon != std::string::npos) {
            host = o.tcp.substr(0, colon);
            portText = o.tcp.substr(colon + 1);
        }
        if (host.find(':') != std::string::npos) {
            UsageError("an IPv6 address goes in brackets: --tcp [" + host + "]:" + portText);
        }
    }
    int port = 0;
    if (host.empty() || !ParseInt(portText, 0, 65535, port)) {
        UsageError("--tcp takes HOST:PORT with a port from 0 to 65535");
    }
    link.m_bSerial = 0;
    int why = 0;
    uint32_t address = 0;
    if (ParseIPv4(host.c_str(), address)) {
        if (ConnectTcp(link.m_socket, address, port, nullptr, &why) != 1) {
            DeviceError("cannot connect to " + o.tcp +
                        (why != 0 ? std::string(": ") + std::strerror(why) : ""));
        }
        return;
    }
    // A name or an IPv6 address: each address it has, in the resolver's order, until one takes.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), portText.c_str(), &hints, &found) != 0 || found == nullptr) {
        DeviceError("cannot resolve host " + host);
    }
    int result = 0;
    for (addrinfo* a = found; a != nullptr && result != 1; a = a->ai_next) {
        result = ConnectTcpAddress(link.m_socket, a->ai_addr, a->ai_addrlen, nullptr, &why);
    }
    freeaddrinfo(found);
    if (result != 1) {
        DeviceError("cannot connect to " + o.tcp +
                    (why != 0 ? std::string(": ") + std::strerror(why) : ""));
    }
}

// Exits 1 when the device has closed the connection or the frame did not go out, saying which.
void FailIfNotSent(const LinkConnection& link, const Frame& frame, const char* what) {
    if (link.m_bSerial == 0 && link.m_peerClosed) {
        DeviceError(std::string("the device closed the connection; the ") + what +
                    (link.m_sendFailed ? " was not sent" : " got no reply"));
    }
    if (link.m_sendFailed) {
        DeviceError(std::string("the ") + what +
                    " could not be sent: " + HexText(frame.data(), kFrameSize));
    }
}

// Sends a query; exits 1 with a clear line when no reply comes within the limit.
Frame Ask(LinkConnection& link, const Frame& query, int limit, const char* what) {
    uint8_t reply[kFrameSize] = {};
    if (QueryCommand(link, query.data(), reply, limit) != kFrameSize) {
        FailIfNotSent(link, query, what);
        DeviceError(std::string("no reply to the ") + what + " within " + std::to_string(limit) +
                    " ms");
    }
    Frame f{};
    std::copy(std::begin(reply), std::end(reply), f.begin());
    return f;
}

std::string SourceText(int code) {
    const char* label = SourceLabel(code);
    return label != nullptr ? label : "code " + std::to_string(code);
}

void PrintStatus(const Frame& f) {
    static const char* const transitions[] = {"Cut", "0.5 s", "1.0 s", "1.5 s"};
    static const char* const extInputs[] = {"NULL", "SDI", "VGA", "DVI", "VIDEO"};
    const StatusReply s = StatusReply::Decode(f.data());
    std::fprintf(g_out, "reply: %s\n", HexText(f.data(), kFrameSize).c_str());
    std::fprintf(g_out, "main source: %s (%s)\n", SourceText(s.mainSource).c_str(),
                 s.mainSignal ? "signal" : "no signal");
    // A preview is said as the window's preview label says it ("Pre: NULL", "Pre: HDMI").
    const std::string overlay =
        s.overlay == kPreviewEmpty ? res::SwitchText(res::SwitchMsg::PreviewEmpty, false)
        : s.overlay == kPreviewSet ? res::PreviewLabel(s.secondSource, false)
                                   : OverlayName(s.overlay);
    std::fprintf(g_out, "overlay: %s\n", overlay.c_str());
    if (s.overlay == kPipPending || s.overlay == kPipOn || s.overlay == kTextPending ||
        s.overlay == kTextOn || s.overlay == kPreviewSet) {
        std::fprintf(g_out, "second source: %s (%s)\n", SourceText(s.secondSource).c_str(),
                     s.secondSignal ? "signal" : "no signal");
    }
    std::fprintf(g_out, "transition: %s\n",
                 s.transition < 4 ? transitions[s.transition] : "unknown");
    std::fprintf(g_out, "switch mode: %s\n",
                 (s.functions & kPreTakeBit) ? "Pre + TAKE" : "One Key Switch");
    std::fprintf(
        g_out, "FREEZE: %s  BYPASS: %s  MOSAIC: %s\n", (s.functions & kFreezeBit) ? "on" : "off",
        (s.functions & kBypassBit) ? "on" : "off", (s.functions & kMosaicBit) ? "on" : "off");
    std::fprintf(g_out, "V2 input: %s\n", (s.functions & kV2YPbPrBit) ? "YPbPr" : "V2");
    std::fprintf(g_out, "PIP preset: M%d\n", s.pipPreset + 1);
    std::fprintf(g_out, "EXT. input: %s\n", s.extInput < 5 ? extInputs[s.extInput] : "unknown");
}

}  // namespace

int main(int argc, char** argv) {
    // wall, backup and restore: tools/CtlWall.cpp.
    if (ctl::IsFileCommand(argc, argv)) {
        return ctl::RunFileCommand(
            argc, argv,
            [](const std::string& serial, const std::string& tcp, LinkConnection& link) {
                Options o;
                o.serial = serial;
                o.tcp = tcp;
                Connect(o, link);
            });
    }
    const Options o = ParseArgs(argc, argv);
    const std::string& cmd = o.words[0];
    const uint8_t id = static_cast<uint8_t>(o.id);

    // Check the command's words before touching the device.
    Frame body{};
    int source = -1;
    if (cmd == "query" || cmd == "send") {
        body = BodyFrame(o);
        // A question starts with FE; anything else is a command, which the device carries out
        // and never answers.
        if (cmd == "query" && body[2] != kQueryCode) {
            UsageError("query sends questions (bytes 2..11 starting with FE); " +
                       HexText(body.data() + 2, 10) + " is a command: send it with 'send'");
        }
    } else if (cmd == "switch") {
        if (o.words.size() != 2)
            UsageError("switch takes one source");
        source = SourceFromLabel(o.words[1].c_str());
        if (source < 0)
            UsageError("unknown source " + o.words[1]);
    } else if (cmd == "identify" || cmd == "status") {
        if (o.words.size() != 1)
            UsageError(cmd + " takes no arguments");
    } else {
        UsageError("unknown command " + cmd);
    }

    TakeStandardOutput(o.verbose);
    devlink::SetFrameTrace(o.verbose);
    LinkConnection link;
    link.m_owePauseAfterReply = true;
    g_link = &link;
    Connect(o, link);

    if (cmd == "identify") {
        const int limit = o.limit >= 0 ? o.limit : 6000;
        const Frame r = Ask(link, IdentifyQuery(id), limit, "identification query");
        if (!IsIdentifyReply(r.data())) {
            DeviceError("wrong identification reply: " + HexText(r.data(), kFrameSize));
        }
        std::fprintf(g_out, "device %d identified: %s\n", o.id,
                     HexText(r.data(), kFrameSize).c_str());
    } else if (cmd == "status") {
        const int limit = o.limit >= 0 ? o.limit : 5000;
        const Frame r = Ask(link, StatusQuery(id), limit, "status query");
        if (r[0] != kLeader || r[1] != id || r[2] != kQueryCode) {
            DeviceError("not a status reply of device " + std::to_string(o.id) + ": " +
                        HexText(r.data(), kFrameSize));
        }
        PrintStatus(r);
    } else if (cmd == "query") {
        const Frame r = Ask(link, body, o.limit >= 0 ? o.limit : 5000, "query");
        std::fprintf(g_out, "%s\n", HexText(r.data(), kFrameSize).c_str());
    } else if (cmd == "send" || cmd == "switch") {
        const Frame frame = cmd == "send" ? body
                                          : SourceSwitch(id, static_cast<uint8_t>(o.transition),
                                                         static_cast<uint8_t>(source));
        const int delay = o.delay >= 0 ? o.delay : CommandPause(frame);
        if (!SendCommand(link, frame.data(), delay)) {
            FailIfNotSent(link, frame, "frame");
            DeviceError("the frame could not be sent: " + HexText(frame.data(), kFrameSize));
        }
    }
    KeepReplyPause();
    if (link.m_bSerial == 0)
        CloseTcp(link.m_socket);
    return kExitOk;
}
