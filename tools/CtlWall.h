// orn312ctl's commands that work from files: "wall" (a whole wall in one action), "backup" and
// "restore" (a processor's settings).
#pragma once

#include <functional>
#include <string>

#include "link/Link.h"

namespace ctl {

// True when the command line's command is wall, backup or restore.
bool IsFileCommand(int argc, char** argv);

// Opens the link from --serial or --tcp as the other commands do (ends the program on failure).
using ConnectFn = std::function<void(const std::string& serial, const std::string& tcp,
                                     devlink::LinkConnection&)>;

// Runs the command; returns the exit status (0 done, 1 a device failure or a difference, 2 a bad
// command line or a refused file).
int RunFileCommand(int argc, char** argv, const ConnectFn& connect);

// The lines of the usage that describe these commands.
extern const char kFileCommandsUsage[];

}  // namespace ctl
