#include "sim/SimServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <utility>

#include "platform/Clock.h"

namespace sim {

const std::string kUsage =
    std::string(
        "usage: orn312-sim [--tcp PORT] [--pty] [--id N]... [--ids LIST] [--log FILE] [--fault "
        "F]...\n"
        "       orn312-sim --help | --version\n"
        "  --tcp PORT    listen on 127.0.0.1:PORT (0: any free port)\n"
        "  --pty         serve a pseudo-terminal\n"
        "  --id N        device ID 0..255 (default 1); repeat it for several devices\n"
        "  --ids LIST    several devices on the line, each with a state of its own: 1-48, "
        "1,3,8-12\n"
        "  --log FILE    write the frame log to FILE instead of standard output\n"
        "  --fault F     silent, slow=MS, split=N, lead, otherid, ident, nosignal=SOURCE, drop=N\n"
        "at least one of --tcp and --pty is needed; standard input takes the console lines\n"
        "  ") +
    kConsoleCommands + "\n";

namespace {

constexpr int kResyncMs = 50;    // a partial frame older than this is dropped
constexpr int kSplitGapMs = 30;  // between the two pieces of a split reply

bool ParseNumber(const std::string& text, int low, int high, int& out) {
    int v = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (text.empty() || r.ec != std::errc() || r.ptr != end || v < low || v > high) {
        return false;
    }
    out = v;
    return true;
}

bool ParseFault(const std::string& fault, ServerOptions& o, std::string& error) {
    const size_t eq = fault.find('=');
    const std::string name = fault.substr(0, eq);
    const bool hasArg = eq != std::string::npos;
    const std::string arg = hasArg ? fault.substr(eq + 1) : "";
    if (!hasArg && (name == "silent" || name == "lead" || name == "otherid" || name == "ident")) {
        o.silent |= name == "silent";
        o.replyFaults.lead |= name == "lead";
        o.replyFaults.otherId |= name == "otherid";
        o.replyFaults.badIdentify |= name == "ident";
        return true;
    }
    if (hasArg && name == "slow") {
        if (ParseNumber(arg, 0, 60000, o.slowMs)) {
            return true;
        }
        error = "--fault slow=MS needs 0..60000 ms, not '" + arg + "'";
        return false;
    }
    if (hasArg && name == "split") {
        if (ParseNumber(arg, 1, devlink::kFrameSize - 1, o.splitBytes)) {
            return true;
        }
        error = "--fault split=N needs 1..12 bytes, not '" + arg + "'";
        return false;
    }
    if (hasArg && name == "drop") {
        if (ParseNumber(arg, 1, 1000000, o.dropAfter)) {
            return true;
        }
        error = "--fault drop=N needs a frame count of 1 or more, not '" + arg + "'";
        return false;
    }
    if (hasArg && name == "nosignal") {
        int source = devlink::SourceFromLabel(arg.c_str());
        if (source >= 0 || ParseNumber(arg, 0, devlink::kSourceCount - 1, source)) {
            o.noSignal.push_back(static_cast<uint8_t>(source));
            return true;
        }
        error = "--fault nosignal=SOURCE needs a source name or 0..8, not '" + arg + "'";
        return false;
    }
    error = "unknown fault '" + fault +
            "' (silent, slow=MS, split=N, lead, otherid, ident, nosignal=SOURCE, drop=N)";
    return false;
}

int64_t MonoMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string TimeText() {
    const platform::LocalTime t = platform::Now();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                  t.millisecond);
    return buf;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    return devlink::HexText(bytes.data(), static_cast<int>(bytes.size()));
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

class Server {
public:
    Server(const ServerOptions& options, FILE* log) : m_options(options), m_log(log) {
        for (uint8_t id : ServedIds(options)) {
            Simulator& device = m_devices.try_emplace(id, id, options.replyFaults).first->second;
            for (uint8_t s : options.noSignal) {
                device.SetSignal(s, false);
            }
        }
    }
    ~Server();

    bool Open();
    int Run();

private:
    // One byte stream that frames arrive on: the pseudo-terminal (id 0) or a TCP client.
    struct Client {
        int fd = -1;
        bool tcp = false;
        std::string name;
        std::vector<uint8_t> partial;
        int64_t lastByteMs = 0;
        int frames = 0;
        int64_t lastWriteMs = 0;  // when the last scheduled write to it goes out
        bool dropping = false;    // drop fault reached: input is no longer read as frames
    };
    // Something to do at a set time: write bytes to a client, or close it.
    struct Action {
        int client = 0;
        std::vector<uint8_t> bytes;
        bool close = false;
        std::string logLine;  // logged when it happens
    };

    void Log(const std::string& who, const std::string& text);
    void Accept(int64_t now);
    void ReadClient(int id, int64_t now);
    void ReadStdin();
    // Console lines about the line rather than the device: "stall MS", "hangup". True when the
    // line was one of them.
    bool TransportConsole(const std::string& line);
    void OnBytes(Client& c, int id, const uint8_t* data, size_t n, int64_t now);
    void OnFrame(Client& c, int id, const devlink::Frame& f, int64_t now);
    void ExpirePartial(Client& c, int64_t now);
    void Schedule(int64_t due, Action a);
    void RunDue(int64_t now);
    void CloseClient(int id, const std::string& why);
    void WatchPty();
    int PollTimeout(int64_t now) const;
    // Delayed changes of every device due by now, logged.
    void AdvanceDevices(int64_t now);
    // The device a frame is for: the one of its device ID, or any (which then ignores it).
    Simulator& DeviceFor(const devlink::Frame& f);
    // Who a device's log lines name: "device", or "device N" when the line has several.
    std::string DeviceName(uint8_t id) const;
    // A console line about the devices: to every device, or to one after "device N".
    void DeviceConsole(const std::string& line);

    const ServerOptions& m_options;
    FILE* m_log;
    std::map<uint8_t, Simulator> m_devices;  // by device ID, never empty
    int m_listener = -1;
    int m_ptySlave = -1;   // held open for the whole run: the line stays raw and never hangs up
    int m_ptyWatch = -1;   // inotify on the slave: clients opening and closing it
    int m_ptyOpeners = 0;  // descriptors clients hold on the slave
    int m_signalFd = -1;
    bool m_stdinOpen = true;
    int m_stdinWriter = -1;  // a FIFO console's own writer: see Open
    bool m_stop = false;
    std::string m_stdinText;
    std::map<int, Client> m_clients;  // 0 the pseudo-terminal, 1.. TCP connections
    int m_nextTcp = 1;
    std::map<std::pair<int64_t, uint64_t>, Action> m_timers;  // (due, order of scheduling)
    int64_t m_stallUntilMs = 0;  // "stall MS": answers are held until then, then sent at once
    uint64_t m_seq = 0;
};

Server::~Server() {
    for (auto& [id, c] : m_clients) {
        ::close(c.fd);
    }
    for (int fd : {m_listener, m_ptySlave, m_ptyWatch, m_signalFd, m_stdinWriter}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void Server::Log(const std::string& who, const std::string& text) {
    std::fprintf(m_log, "%s %s %s\n", TimeText().c_str(), who.c_str(), text.c_str());
    std::fflush(m_log);
}

bool Server::Open() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    m_signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_signalFd < 0) {
        std::fprintf(stderr, "orn312-sim: signalfd: %s\n", std::strerror(errno));
        return false;
    }
    ::signal(SIGPIPE, SIG_IGN);
    // Started in the background of an interactive shell, a read of the terminal must fail (and
    // end the console) rather than stop the whole simulator.
    ::signal(SIGTTIN, SIG_IGN);
    ::signal(SIGTTOU, SIG_IGN);
    // A console on a FIFO has writers that come and go ("echo ... > fifo" several times): holding
    // a writer of its own, the simulator never sees the end of one as the end of the console.
    struct stat in {};
    if (::fstat(STDIN_FILENO, &in) == 0 && S_ISFIFO(in.st_mode)) {
        m_stdinWriter = ::open("/proc/self/fd/0", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }

    if (m_options.tcpPort >= 0) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(m_options.tcpPort));
        socklen_t len = sizeof a;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            std::fprintf(stderr, "orn312-sim: cannot listen on 127.0.0.1:%d: %s\n",
                         m_options.tcpPort, std::strerror(errno));
            return false;
        }
        std::printf("tcp 127.0.0.1:%d\n", ntohs(a.sin_port));
    }
    if (m_options.pty) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const char* path = nullptr;
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            (path = ::ptsname(master)) == nullptr ||
            (m_ptySlave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
            std::fprintf(stderr, "orn312-sim: cannot open a pseudo-terminal: %s\n",
                         std::strerror(errno));
            if (master >= 0) {
                ::close(master);
            }
            return false;
        }
        struct termios tio {};
        ::tcgetattr(m_ptySlave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_ptySlave, TCSANOW, &tio);
        SetNonBlocking(master);
        m_ptyWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_ptyWatch >= 0) {
            ::inotify_add_watch(m_ptyWatch, path, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
        }
        Client& c = m_clients[0];
        c.fd = master;
        c.name = "pty";
        std::printf("pty %s\n", path);
    }
    std::fflush(stdout);

    std::string faults;
    for (const std::string& f : m_options.faults) {
        faults += " " + f;
    }
    std::string ids;
    for (const auto& [id, device] : m_devices) {
        ids += (ids.empty() ? "" : ",") + std::to_string(id);
    }
    Log("sim", std::string(m_devices.size() > 1 ? "started, device ids " : "started, device id ") +
                   ids + ", faults:" + (faults.empty() ? " none" : faults));
    return true;
}

int Server::PollTimeout(int64_t now) const {
    std::optional<int64_t> next;
    auto sooner = [&](int64_t t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    for (const auto& [id, device] : m_devices) {
        if (const std::optional<int64_t> due = device.NextChangeMs()) {
            sooner(*due);
        }
    }
    if (!m_timers.empty()) {
        sooner(m_timers.begin()->first.first);
    }
    for (const auto& [id, c] : m_clients) {
        if (!c.partial.empty()) {
            sooner(c.lastByteMs + kResyncMs + 1);
        }
    }
    if (!next) {
        return -1;
    }
    return static_cast<int>(std::clamp<int64_t>(*next - now, 0, 60000));
}

int Server::Run() {
    enum : int { kSignal = -1, kListener = -2, kStdin = -3, kPtyWatch = -4 };
    while (!m_stop) {
        std::vector<pollfd> fds;
        std::vector<int> who;
        auto watch = [&](int fd, int id) {
            fds.push_back(pollfd{fd, POLLIN, 0});
            who.push_back(id);
        };
        watch(m_signalFd, kSignal);
        if (m_listener >= 0) {
            watch(m_listener, kListener);
        }
        if (m_stdinOpen) {
            watch(STDIN_FILENO, kStdin);
        }
        if (m_ptyWatch >= 0) {
            watch(m_ptyWatch, kPtyWatch);
        }
        for (const auto& [id, c] : m_clients) {
            watch(c.fd, id);
        }

        if (::poll(fds.data(), fds.size(), PollTimeout(MonoMs())) < 0 && errno != EINTR) {
            std::fprintf(stderr, "orn312-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        const int64_t now = MonoMs();
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            switch (who[i]) {
                case kSignal: {
                    signalfd_siginfo info{};
                    if (::read(m_signalFd, &info, sizeof info) > 0) {
                        Log("sim", std::string("stopped by ") +
                                       (info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM"));
                        m_stop = true;
                    }
                    break;
                }
                case kListener:
                    Accept(now);
                    break;
                case kPtyWatch:
                    WatchPty();
                    break;
                case kStdin:
                    ReadStdin();
                    break;
                default:
                    ReadClient(who[i], now);
                    break;
            }
        }
        AdvanceDevices(now);
        for (auto& [id, c] : m_clients) {
            ExpirePartial(c, now);
        }
        RunDue(now);
    }
    return 0;
}

void Server::Accept(int64_t now) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const int id = m_nextTcp++;
    Client& c = m_clients[id];
    c.fd = fd;
    c.tcp = true;
    c.name = "tcp#" + std::to_string(id);
    c.lastWriteMs = now;
    Log(c.name, "connected from port " + std::to_string(ntohs(peer.sin_port)));
}

void Server::ReadClient(int id, int64_t now) {
    auto it = m_clients.find(id);
    if (it == m_clients.end()) {
        return;
    }
    uint8_t buf[4096];
    const ssize_t n = ::read(it->second.fd, buf, sizeof buf);
    if (n > 0) {
        OnBytes(it->second, id, buf, static_cast<size_t>(n), now);
    } else if (n == 0) {
        CloseClient(id, "closed by the client");
    } else if (errno != EAGAIN && errno != EINTR) {
        CloseClient(id, std::string("closed: ") + std::strerror(errno));
    }
}

void Server::ReadStdin() {
    char buf[1024];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        // Scripts start the simulator with standard input closed: it runs on without a console.
        m_stdinOpen = false;
        Log("stdin", "console closed (end of standard input); the simulator runs on without it");
        return;
    }
    m_stdinText.append(buf, static_cast<size_t>(n));
    size_t end;
    while ((end = m_stdinText.find('\n')) != std::string::npos) {
        std::string line = m_stdinText.substr(0, end);
        m_stdinText.erase(0, end + 1);
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        if (TransportConsole(line)) {
            continue;
        }
        DeviceConsole(line);
    }
}

void Server::AdvanceDevices(int64_t now) {
    for (auto& [id, device] : m_devices) {
        for (const std::string& note : device.Advance(now)) {
            Log(DeviceName(id), note);
        }
    }
}

Simulator& Server::DeviceFor(const devlink::Frame& f) {
    const auto it = m_devices.find(f[1]);
    return it != m_devices.end() ? it->second : m_devices.begin()->second;
}

std::string Server::DeviceName(uint8_t id) const {
    return m_devices.size() > 1 ? "device " + std::to_string(id) : "device";
}

void Server::DeviceConsole(const std::string& line) {
    std::istringstream in(line);
    std::string first, idText;
    in >> first;
    std::vector<Simulator*> to;
    std::string rest = line;
    if (strcasecmp(first.c_str(), "device") == 0) {
        int id = 0;
        in >> idText;
        const auto it = ParseNumber(idText, 0, 255, id) ? m_devices.find(static_cast<uint8_t>(id))
                                                        : m_devices.end();
        if (it == m_devices.end()) {
            std::printf("error: no device '%s' on this line\n", idText.c_str());
            std::fflush(stdout);
            return;
        }
        to.push_back(&it->second);
        std::getline(in, rest);
    } else {
        for (auto& [id, device] : m_devices) {
            to.push_back(&device);
        }
    }
    for (Simulator* device : to) {
        const Simulator::ConsoleResult r = device->Console(rest);
        if (r.kind == Simulator::ConsoleResult::kChanged) {
            Log("stdin", (m_devices.size() > 1 ? DeviceName(device->Id()) + " " : "") + r.text);
            continue;
        }
        std::fputs(r.text.c_str(), stdout);
        if (r.text.back() != '\n') {
            std::fputc('\n', stdout);
        }
        std::fflush(stdout);
        if (r.kind == Simulator::ConsoleResult::kError) {
            break;  // the same error from every device says nothing more
        }
    }
}

bool Server::TransportConsole(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "stall") {
        int ms = 0;
        std::string rest;
        if (!(in >> ms) || ms < 0 || ms > 600000 || (in >> rest)) {
            std::fputs("error: stall needs a time in ms (0..600000)\n", stdout);
            std::fflush(stdout);
            return true;
        }
        m_stallUntilMs = MonoMs() + ms;
        Log("stdin", "stall: answers held for " + std::to_string(ms) + " ms, then sent at once");
        return true;
    }
    if (word == "noise") {
        int count = 0;
        std::string rest;
        if (!(in >> count) || count < 1 || count > 4096 || (in >> rest)) {
            std::fputs("error: noise needs a byte count (1..4096)\n", stdout);
            std::fflush(stdout);
            return true;
        }
        // Line noise: bytes that are no frame, sent at once to every client.
        std::vector<uint8_t> junk(static_cast<size_t>(count));
        uint32_t x = 2463534242u ^ static_cast<uint32_t>(MonoMs());
        for (uint8_t& b : junk) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
        for (auto& [id, c] : m_clients) {
            Schedule(MonoMs(),
                     Action{id, junk, false, "-> " + std::to_string(count) + " bytes of noise"});
        }
        return true;
    }
    if (word == "hangup") {
        std::vector<int> tcp;
        for (const auto& [id, c] : m_clients) {
            if (c.tcp) {
                tcp.push_back(id);
            }
        }
        for (int id : tcp) {
            CloseClient(id, "hung up from the console");
        }
        Log("stdin", "hangup: " + std::to_string(tcp.size()) + " TCP connection(s) closed");
        return true;
    }
    return false;
}

void Server::ExpirePartial(Client& c, int64_t now) {
    if (!c.partial.empty() && now - c.lastByteMs > kResyncMs) {
        Log(c.name, "<- " + Hex(c.partial) + "  (ignored: incomplete frame)");
        c.partial.clear();
    }
}

void Server::OnBytes(Client& c, int id, const uint8_t* data, size_t n, int64_t now) {
    if (c.dropping) {
        return;
    }
    ExpirePartial(c, now);
    c.lastByteMs = now;
    std::vector<uint8_t> stray;
    for (size_t i = 0; i < n && !c.dropping; ++i) {
        // A frame starts with the leader; anything else before one is line noise.
        if (c.partial.empty() && data[i] != devlink::kLeader) {
            stray.push_back(data[i]);
            continue;
        }
        if (!stray.empty()) {
            Log(c.name, "<- " + Hex(stray) + "  (ignored: no leader)");
            stray.clear();
        }
        c.partial.push_back(data[i]);
        if (c.partial.size() == devlink::kFrameSize) {
            devlink::Frame f;
            std::copy(c.partial.begin(), c.partial.end(), f.begin());
            c.partial.clear();
            OnFrame(c, id, f, now);
        }
    }
    if (!stray.empty()) {
        Log(c.name, "<- " + Hex(stray) + "  (ignored: no leader)");
    }
}

void Server::OnFrame(Client& c, int id, const devlink::Frame& f, int64_t now) {
    AdvanceDevices(now);
    const Simulator::Response r = DeviceFor(f).HandleFrame(f, now);
    std::string note = r.note;
    if (r.reply && m_options.silent) {
        note += "; silent, no answer";
    }
    Log(c.name, "<- " + devlink::HexText(f.data(), devlink::kFrameSize) + "  (" + note + ")");

    if (r.reply && !m_options.silent) {
        const std::vector<uint8_t> bytes(r.reply->begin(), r.reply->end());
        std::string line = "-> " + Hex(bytes);
        const int64_t due = std::max(now + m_options.slowMs, m_stallUntilMs);
        const int split = m_options.splitBytes;
        if (split > 0) {
            line += "  (in two pieces: " + std::to_string(split) + " + " +
                    std::to_string(devlink::kFrameSize - split) + " bytes)";
            Schedule(due, Action{id, {bytes.begin(), bytes.begin() + split}, false, line});
            Schedule(due + kSplitGapMs,
                     Action{id, {bytes.begin() + split, bytes.end()}, false, ""});
            c.lastWriteMs = due + kSplitGapMs;
        } else {
            Schedule(due, Action{id, bytes, false, line});
            c.lastWriteMs = due;
        }
    }
    if (c.tcp && m_options.dropAfter > 0 && ++c.frames >= m_options.dropAfter) {
        // Close once the answer to this last frame is out.
        c.dropping = true;
        c.partial.clear();
        Schedule(std::max(now, c.lastWriteMs), Action{id, {}, true, ""});
    }
}

void Server::Schedule(int64_t due, Action a) {
    m_timers.emplace(std::make_pair(due, m_seq++), std::move(a));
}

void Server::RunDue(int64_t now) {
    while (!m_timers.empty() && m_timers.begin()->first.first <= now) {
        const Action a = std::move(m_timers.begin()->second);
        m_timers.erase(m_timers.begin());
        auto it = m_clients.find(a.client);
        if (it == m_clients.end()) {
            continue;  // the connection has gone meanwhile
        }
        Client& c = it->second;
        if (!c.tcp && m_ptyWatch >= 0) {
            WatchPty();  // a client that sent a query has its open counted by now
            if (m_ptyOpeners == 0) {
                Log(c.name, a.logLine + (a.logLine.empty() ? "   " : "  ") +
                                "(not sent: no client has the line open)");
                continue;
            }
        }
        if (a.close) {
            CloseClient(a.client, "dropped after " + std::to_string(c.frames) + " frames");
            continue;
        }
        const ssize_t n =
            c.tcp ? ::send(c.fd, a.bytes.data(), a.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
                  : ::write(c.fd, a.bytes.data(), a.bytes.size());
        if (!a.logLine.empty()) {
            Log(c.name, a.logLine);
        }
        if (n != static_cast<ssize_t>(a.bytes.size())) {
            Log(c.name, "   write failed: " + std::string(n < 0 ? std::strerror(errno) : "short"));
        }
    }
}

void Server::WatchPty() {
    alignas(inotify_event) char events[4096];
    const int before = m_ptyOpeners;
    ssize_t n;
    while ((n = ::read(m_ptyWatch, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + at);
            if ((e->mask & IN_OPEN) != 0) {
                ++m_ptyOpeners;
            } else if (m_ptyOpeners > 0) {
                --m_ptyOpeners;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    if (m_ptyOpeners == before) {
        return;
    }
    Log("pty", m_ptyOpeners > 0 ? "opened by a client" : "closed by the client");
    if (m_ptyOpeners == 0) {
        // Our own descriptor keeps the line open, so it would keep the state the client left:
        // drop what the client did not read, as a real port does, and end its exclusive claim,
        // which would otherwise refuse the next open.
        ::tcflush(m_ptySlave, TCIFLUSH);
        ::ioctl(m_ptySlave, TIOCNXCL);
    }
}

void Server::CloseClient(int id, const std::string& why) {
    auto it = m_clients.find(id);
    if (it == m_clients.end()) {
        return;
    }
    Log(it->second.name, why);
    ::close(it->second.fd);
    m_clients.erase(it);
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, ServerOptions& o, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--pty") {
            o.pty = true;
            continue;
        }
        if (a != "--tcp" && a != "--id" && a != "--ids" && a != "--log" && a != "--fault") {
            error = "unknown option '" + a + "' (orn312-sim --help shows the usage)";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        const std::string& v = args[++i];
        if (a == "--tcp") {
            if (!ParseNumber(v, 0, 65535, o.tcpPort)) {
                error = "--tcp needs a port 0..65535, not '" + v + "'";
                return false;
            }
        } else if (a == "--id") {
            int id = 0;
            if (!ParseNumber(v, 0, 255, id)) {
                error = "--id needs a device ID 0..255, not '" + v + "'";
                return false;
            }
            o.ids.push_back(static_cast<uint8_t>(id));
        } else if (a == "--ids") {
            if (!ParseIdList(v, o.ids, error)) {
                return false;
            }
        } else if (a == "--log") {
            o.logPath = v;
        } else if (ParseFault(v, o, error)) {
            o.faults.push_back(v);
        } else {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> ServedIds(const ServerOptions& options) {
    return options.ids.empty() ? std::vector<uint8_t>{1} : options.ids;
}

bool ParseIdList(const std::string& text, std::vector<uint8_t>& ids, std::string& error) {
    std::vector<uint8_t> found;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        const size_t dash = part.find('-');
        int low = 0, high = 0;
        const bool ok = dash == std::string::npos
                            ? ParseNumber(part, 0, 255, low) && (high = low, true)
                            : ParseNumber(part.substr(0, dash), 0, 255, low) &&
                                  ParseNumber(part.substr(dash + 1), 0, 255, high) && low <= high;
        if (!ok) {
            error = "--ids needs device IDs 0..255 such as 1-48 or 1,3,8-12, not '" + text + "'";
            return false;
        }
        for (int id = low; id <= high; ++id) {
            found.push_back(static_cast<uint8_t>(id));
        }
    }
    if (found.empty() || text.back() == ',') {
        error = "--ids needs device IDs 0..255 such as 1-48 or 1,3,8-12, not '" + text + "'";
        return false;
    }
    ids.insert(ids.end(), found.begin(), found.end());
    return true;
}

int RunServer(const ServerOptions& options) {
    // A closed standard descriptor would be handed out again by the first open below and then
    // taken for the console or the log; keep 0..2 taken.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            ::open("/dev/null", O_RDWR);
        }
    }
    FILE* log = stdout;
    if (!options.logPath.empty()) {
        log = std::fopen(options.logPath.c_str(), "w");
        if (log == nullptr) {
            std::fprintf(stderr, "orn312-sim: cannot write the log %s: %s\n",
                         options.logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    int code = 1;
    {
        Server server(options, log);
        if (server.Open()) {
            code = server.Run();
        }
    }
    if (log != stdout) {
        std::fclose(log);
    }
    return code;
}

}  // namespace sim
