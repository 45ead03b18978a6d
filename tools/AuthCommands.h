// orn312-scheduler's commands on its auth file (--auth FILE): set a PIN, make, revoke and list API
// tokens, set the MQTT password. They run and end without starting the service.
#pragma once

#include <string>

namespace authcmd {

struct Command {
    enum Kind { None, SetPin, NewToken, RevokeToken, ListTokens, SetMqttPassword };
    Kind kind = None;
    std::string value;   // the role of SetPin, the name of NewToken and RevokeToken
    std::string option;  // as the command line gave it
};

// When argv[i] is --auth or one of the commands, takes it (and its value: i moves on) and returns
// true; error then tells of a bad use (a missing value, a second command).
bool TakeOption(int argc, char** argv, int& i, std::string& authFile, Command& command,
                std::string& error);

// Runs the command on the file and returns the exit status: 0 done, 1 the file could not be read
// or written (or no token has the name), 2 a refused PIN or name. Messages on standard error; a
// new token alone on standard output, the names of the tokens one a line.
int Run(const std::string& authFile, const Command& command);

// The lines of the usage that describe these options.
extern const char kUsage[];

}  // namespace authcmd
