// The wall file: a laid-out wall as a small text file that people can read and compare, saved
// and loaded by the fast mosaic dialog and by orn312ctl alike.
//
//   # ORN312 wall
//   orn312-wall 1
//   specification 2x2
//   output 1920x1080
//   screen 000 id=1 width=960 height=540
//   screen 001 id=2 width=960 height=540 input-adjust=2,0,0,0
//   ...
//
// The adjustments (width, height, horizontal start, vertical start) are written only when they
// are not all 0. '#' starts a comment; blank lines are ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "mosaic/Wall.h"
#include "platform/TextFile.h"

namespace mosaic {

constexpr int kWallFileVersion = 1;

std::string WallFileText(const WallPlan& plan);

// The plan a wall file describes, or the first thing wrong with it and the line it is on: another
// kind of file or another version, a line that cannot be read, an entry twice or missing, a
// value out of range (specification 1..6 × 1..8, output size 64..65535, screen sizes 64..the
// output size, device IDs 1..255 and each used once, adjustments -32768..32767).
std::variant<WallPlan, platform::FileProblem> ParseWallFile(std::string_view text);

// The same on a file: a file that cannot be read is a kUnreadable problem.
std::variant<WallPlan, platform::FileProblem> LoadWallFile(const std::string& path);
// Writes the plan (atomically, through a link); a kUnwritable problem when it cannot.
std::optional<platform::FileProblem> SaveWallFile(const std::string& path, const WallPlan& plan);

// ---- the last wall the fast mosaic laid out, kept in the plan file
// -------------------------------
//
//   [LASTWALL]
//   Processor=network 192.168.0.10:5000, device ID 1
//   FirstID=1
//   Specification=2x2
//   Output=1920x1080
//   Screen000=id=1 width=960 height=540
//   Screen001=id=2 width=960 height=540 input-adjust=2,0,0,0
//   ...
//
// The wall file's entries, one key each, with the processor it was laid out for (the main
// window's line and device ID) and the first ID of the whole wall row.

constexpr const char* kKeptWallSection = "LASTWALL";

struct KeptWall {
    std::string processor;
    int firstId = 1;
    WallPlan plan;
    bool operator==(const KeptWall&) const = default;
};

// The wall kept in the plan file for processor; none when the section is missing, was kept for
// another processor, or does not read as a wall (the wall file's rules).
std::optional<KeptWall> LoadKeptWall(const std::string& planFile, const std::string& processor);
// Replaces the section with kept in one atomic write of the plan file, every other section as it
// was. False when the file could not be written.
bool KeepWall(const std::string& planFile, const KeptWall& kept);

}  // namespace mosaic
