// Shared test fixtures: a pseudo-terminal pair, a loopback listener and a running simulator.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/Trace.h"

namespace testutil {

// The frame trace on for a test's scope (the programs have it only with -v or --trace).
struct FrameTraceOn {
    FrameTraceOn() { devlink::SetFrameTrace(true); }
    ~FrameTraceOn() { devlink::SetFrameTrace(false); }
    FrameTraceOn(const FrameTraceOn&) = delete;
    FrameTraceOn& operator=(const FrameTraceOn&) = delete;
};

// A pseudo-terminal pair in raw mode: the program under test opens slavePath, the test plays the
// device on the master side.
struct PtyPair {
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    void WriteMaster(const std::vector<uint8_t>& bytes) const;
    // Reads what the master has within waitMs (returns early once want bytes are there).
    std::vector<uint8_t> ReadMaster(int want, int waitMs) const;
    int master = -1;
    int slaveKeep = -1;  // kept open so the master never sees a hang-up between opens
    std::string slavePath;
};

// A listening loopback TCP socket on a free port.
struct Listener {
    Listener();
    ~Listener();
    int Accept(int waitMs) const;  // the accepted socket, or -1
    int fd = -1;
    int port = 0;
};

// orn312-sim started as a child process; stopped (SIGTERM, then waited for) on destruction.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Started() const { return m_pid > 0 && (tcpPort > 0 || !ptyPath.empty()); }
    // Writes one line to the simulator's standard input.
    void Command(const std::string& line) const;
    // Everything the simulator printed so far (its frame log included).
    std::string Output();
    // Waits until the output contains text; true when it does within waitMs.
    bool WaitForOutput(const std::string& text, int waitMs);

    int tcpPort = 0;
    std::string ptyPath;

private:
    void Drain(int waitMs);
    int m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_output;
};

// A program started as a child process in workDir (empty: this folder), its standard error
// collected and its standard output thrown away; killed (SIGKILL) on destruction if still running.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& workDir = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return m_pid; }
    // Everything it wrote on standard error so far.
    std::string Err();
    // Waits until standard error holds text count times; true when it does within waitMs.
    bool WaitForErr(const std::string& text, int waitMs, int count = 1);
    // Sends sig, then waits up to waitMs for the end: the exit code, or -1 (killed by a signal,
    // or still running after waitMs).
    int Signal(int sig, int waitMs);

private:
    void Drain(int waitMs);
    int m_pid = -1;
    int m_stderr = -1;
    std::string m_err;
};

// One frame the simulator received, from its log: when (ms of the day), and the bytes.
struct Received {
    int64_t ms;
    devlink::Frame frame;
};
std::vector<Received> ReceivedFrames(const std::string& log);

// How often text occurs in s.
int Count(const std::string& s, const std::string& text);

// Runs a program with arguments; collects stdout and stderr; returns the exit code (-1 on a
// signal or a time-out of timeoutMs, after which the program is killed).
struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    int elapsedMs = 0;
};
RunResult Run(const std::vector<std::string>& argv, int timeoutMs);

// Each thread of process pid (0: this one) by name, with the times it has slept and been woken
// (its voluntary context switches), summed over threads of one name.
std::map<std::string, long> WakeUpsByThread(int pid = 0);

}  // namespace testutil
