// Kills writers of the plan file in the middle of their writes, N times (default 1000) for each of
// three files: a plain one, one reached through a chain of links into another folder, and one
// whose rewritten section is given twice. Each writer rewrites a section as the plan pages do.
// Counts the files left broken (not the old nor the new content, whole; a twin section changed;
// a link no longer a link) and the temporary files left behind once the next write has run.
//   kill_writes [N]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/ProfileFile.h"

namespace fs = std::filesystem;

namespace {

struct Setup {
    const char* name;
    bool linked;       // Planinfo.ini -> hop.ini -> data/plans.ini
    std::string twin;  // a second section of the rewritten name, after the others
};

std::string Content(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int TemporaryFiles(const fs::path& folder) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        n += e.path().filename().string().find(".tmp") != std::string::npos;
    }
    return n;
}

// Returns false when a file was left broken or a temporary file stayed after the next write.
bool Run(const Setup& setup, int kills, const fs::path& dir) {
    fs::remove_all(dir);
    fs::create_directories(dir / "data");
    const std::string path = (dir / "Planinfo.ini").string();
    const fs::path file = setup.linked ? dir / "data" / "plans.ini" : fs::path(path);
    if (setup.linked) {
        fs::create_symlink("hop.ini", path);
        fs::create_symlink("data/plans.ini", dir / "hop.ini");
    }
    // Values large enough that a write takes a while: a kill lands inside one.
    const std::string values[3] = {std::string(256 * 1024, 'a'), std::string(256 * 1024 + 1, 'b'),
                                   std::string(256 * 1024 + 2, 'c')};
    std::ofstream(file, std::ios::binary) << "[BIG]\nv=" << values[0] << "\n[TAIL]\nend=yes\n"
                                          << setup.twin;
    std::mt19937 rng(2026);
    int broken = 0;
    for (int i = 0; i < kills; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int k = 1;; k = k % 3 + 1) {
                platform::WriteProfileStrings(
                    path, {{"BIG", std::nullopt, std::nullopt}, {"BIG", "v", values[k % 3]}});
            }
        }
        ::usleep(std::uniform_int_distribution<int>(0, 20000)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string v = platform::GetProfileString(path, "BIG", "v", "", 1 << 20);
        const bool whole = v == values[0] || v == values[1] || v == values[2];
        const std::string content = Content(file);
        const bool twinKept =
            content.size() >= setup.twin.size() &&
            content.compare(content.size() - setup.twin.size(), setup.twin.size(), setup.twin) == 0;
        if (!whole || !twinKept || fs::is_symlink(path) != setup.linked ||
            platform::GetProfileString(path, "TAIL", "end", "") != "yes") {
            ++broken;
        }
    }
    const int leftBefore = TemporaryFiles(dir) + TemporaryFiles(dir / "data");
    platform::WriteProfileString(path, "TAIL", "after", "1");  // the next ordinary write
    const int leftAfter = TemporaryFiles(dir) + TemporaryFiles(dir / "data");
    const bool stillLinked = fs::is_symlink(path) == setup.linked;
    std::printf(
        "%-14s kills: %d  broken files: %d  temporary files left: %d before the next "
        "write, %d after it%s\n",
        setup.name, kills, broken, leftBefore, leftAfter,
        setup.linked ? (stillLinked ? "  link kept" : "  LINK REPLACED") : "");
    return broken == 0 && leftAfter == 0 && stillLinked;
}

}  // namespace

int main(int argc, char** argv) {
    const int kills = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const fs::path dir = fs::temp_directory_path() / "orn312-kill-writes";
    const Setup setups[] = {
        {"plain file", false, ""},
        {"linked file", true, ""},
        {"twin sections", false, "[BIG]\nv=twin\nkeep=1\n"},
    };
    bool ok = true;
    for (const Setup& setup : setups) {
        ok = Run(setup, kills, dir) && ok;
    }
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
