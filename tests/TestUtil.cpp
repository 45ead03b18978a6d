#include "TestUtil.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testutil {

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

PtyPair::PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    struct termios tio {};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    slaveKeep = slave;
    slavePath = name;
    SetNonBlocking(master);
}

PtyPair::~PtyPair() {
    if (slaveKeep >= 0)
        ::close(slaveKeep);
    if (master >= 0)
        ::close(master);
}

void PtyPair::WriteMaster(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> PtyPair::ReadMaster(int want, int waitMs) const {
    std::vector<uint8_t> out;
    const int64_t end = NowMs() + waitMs;
    while (static_cast<int>(out.size()) < want) {
        const int64_t left = end - NowMs();
        if (left <= 0)
            break;
        struct pollfd p {
            master, POLLIN, 0
        };
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        uint8_t buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
    }
    return out;
}

Listener::Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        throw std::runtime_error("listen failed");
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
}

Listener::~Listener() {
    if (fd >= 0)
        ::close(fd);
}

int Listener::Accept(int waitMs) const {
    struct pollfd p {
        fd, POLLIN, 0
    };
    if (::poll(&p, 1, waitMs) <= 0)
        return -1;
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}

SimProcess::SimProcess(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        std::vector<char*> argv;
        std::string path = ORN312_SIM_PATH;
        argv.push_back(path.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    SetNonBlocking(m_stdout);
    // The first lines name the endpoints.
    const int64_t end = NowMs() + 5000;
    bool wantTcp = false, wantPty = false;
    for (const auto& a : args) {
        if (a == "--tcp")
            wantTcp = true;
        if (a == "--pty")
            wantPty = true;
    }
    while (NowMs() < end && ((wantTcp && tcpPort == 0) || (wantPty && ptyPath.empty()))) {
        Drain(100);
        std::istringstream lines(m_output);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind("tcp 127.0.0.1:", 0) == 0)
                tcpPort = std::stoi(line.substr(14));
            if (line.rfind("pty ", 0) == 0)
                ptyPath = line.substr(4);
        }
    }
}

SimProcess::~SimProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        const int64_t end = NowMs() + 3000;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (NowMs() > end) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            ::usleep(10000);
        }
    }
    if (m_stdin >= 0)
        ::close(m_stdin);
    if (m_stdout >= 0)
        ::close(m_stdout);
}

void SimProcess::Command(const std::string& line) const {
    const std::string l = line + "\n";
    if (::write(m_stdin, l.data(), l.size()) < 0) {
        // the simulator has gone; the test's next check will say so
    }
}

void SimProcess::Drain(int waitMs) {
    struct pollfd p {
        m_stdout, POLLIN, 0
    };
    if (::poll(&p, 1, waitMs) <= 0)
        return;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(m_stdout, buf, sizeof buf)) > 0)
        m_output.append(buf, static_cast<size_t>(n));
}

std::string SimProcess::Output() {
    Drain(0);
    return m_output;
}

bool SimProcess::WaitForOutput(const std::string& text, int waitMs) {
    const int64_t end = NowMs() + waitMs;
    while (true) {
        Drain(50);
        if (m_output.find(text) != std::string::npos)
            return true;
        if (NowMs() >= end)
            return false;
    }
}

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& workDir) {
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(err[1], 2);
        if (!workDir.empty() && ::chdir(workDir.c_str()) != 0)
            ::_exit(127);
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(err[1]);
    m_stderr = err[0];
    SetNonBlocking(m_stderr);
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_stderr >= 0)
        ::close(m_stderr);
}

void ChildProcess::Drain(int waitMs) {
    struct pollfd p {
        m_stderr, POLLIN, 0
    };
    if (::poll(&p, 1, waitMs) <= 0)
        return;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(m_stderr, buf, sizeof buf)) > 0)
        m_err.append(buf, static_cast<size_t>(n));
}

std::string ChildProcess::Err() {
    Drain(0);
    return m_err;
}

bool ChildProcess::WaitForErr(const std::string& text, int waitMs, int count) {
    const int64_t end = NowMs() + waitMs;
    while (true) {
        Drain(20);
        if (Count(m_err, text) >= count)
            return true;
        if (NowMs() >= end)
            return false;
    }
}

int ChildProcess::Signal(int sig, int waitMs) {
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, sig);
    const int64_t end = NowMs() + waitMs;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (NowMs() >= end)
            return -1;
        ::usleep(2000);
    }
    m_pid = -1;
    Drain(0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Count(const std::string& s, const std::string& text) {
    int n = 0;
    for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + text.size()))
        ++n;
    return n;
}

RunResult Run(const std::vector<std::string>& args, int timeoutMs) {
    RunResult r;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return r;
    const int64_t start = NowMs();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    struct pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const int64_t left = start + timeoutMs - NowMs();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (::poll(p, 2, static_cast<int>(left)) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (p[i].fd < 0 || p[i].revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                p[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]);
    ::close(err[0]);
    r.elapsedMs = static_cast<int>(NowMs() - start);
    r.exitCode = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return r;
}

std::map<std::string, long> WakeUpsByThread(int pid) {
    namespace fs = std::filesystem;
    std::map<std::string, long> threads;
    const fs::path tasks = fs::path("/proc") / (pid == 0 ? "self" : std::to_string(pid)) / "task";
    for (const auto& task : fs::directory_iterator(tasks)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                threads[name] += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return threads;
}

std::vector<Received> ReceivedFrames(const std::string& log) {
    std::vector<Received> out;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        int h, m, s, ms;
        char who[32];
        unsigned b[13];
        if (std::sscanf(line.c_str(), "%d:%d:%d.%d %31s <- %x %x %x %x %x %x %x %x %x %x %x %x %x",
                        &h, &m, &s, &ms, who, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6],
                        &b[7], &b[8], &b[9], &b[10], &b[11], &b[12]) != 18)
            continue;
        Received r{((h * 60 + m) * 60 + s) * 1000LL + ms, {}};
        for (int i = 0; i < 13; ++i)
            r.frame[i] = static_cast<uint8_t>(b[i]);
        out.push_back(r);
    }
    return out;
}

}  // namespace testutil
