// Why a file of the operator's (a wall, a processor's settings) was refused or not written, in
// both languages, naming the line. Texts are UTF-8.
#pragma once

#include <string>

#include "platform/TextFile.h"

namespace res {

enum class FileKind { kWall, kSettings };

std::string FileProblemText(const platform::FileProblem& p, FileKind kind, bool chinese);

}  // namespace res
