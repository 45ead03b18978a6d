// The simulator's endpoints: a loopback TCP listener and a pseudo-terminal, served by one
// single-threaded poll loop that assembles frames per endpoint, hands them to the Simulator, sends
// its replies (late or in pieces when a fault says so), reads console lines from standard input
// and logs every frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Simulator.h"

namespace sim {

struct ServerOptions {
    int tcpPort = -1;  // -1 no TCP endpoint, 0 any free port
    bool pty = false;
    // Device IDs answered on the line, each a processor with a state of its own (a wall is
    // several processors on one line); empty means device 1 alone.
    std::vector<uint8_t> ids;
    std::string logPath;  // empty: the log goes to standard output
    ReplyFaults replyFaults;
    bool silent = false;  // never answer
    int slowMs = 0;       // answer this much later
    int splitBytes = 0;   // send this many bytes of a reply, the rest a little later; 0 whole
    int dropAfter = 0;    // close a TCP connection after this many frames; 0 never
    std::vector<uint8_t> noSignal;    // sources whose input starts without a signal
    std::vector<std::string> faults;  // the --fault values as given, for the log
};

// The usage: options, faults and every console line.
extern const std::string kUsage;

// The device IDs served: options.ids, or device 1 when none was given.
std::vector<uint8_t> ServedIds(const ServerOptions& options);

// Reads a list of device IDs ("1-48", "3", "1,3,8-12") into ids. False with a one-line error.
bool ParseIdList(const std::string& text, std::vector<uint8_t>& ids, std::string& error);

// Reads the command-line arguments (without the program name). False with a one-line error.
bool ParseOptions(const std::vector<std::string>& args, ServerOptions& out, std::string& error);

// Opens the endpoints, prints one line per endpoint and serves until SIGINT or SIGTERM.
// Returns the exit code: 0 after a signal, 1 when an endpoint or the log cannot be opened.
int RunServer(const ServerOptions& options);

}  // namespace sim
