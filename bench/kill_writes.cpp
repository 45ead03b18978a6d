// Kills writers of the plan file in the middle of their writes, N times (default 1000), and
// counts the files left broken (not the old nor the new content, whole) and the temporary files
// left behind once the next write has run.
//   kill_writes [N]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/ProfileFile.h"

int main(int argc, char** argv) {
    const int kills = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const auto dir = std::filesystem::temp_directory_path() / "orn312-kill-writes";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "Planinfo.ini").string();
    // Values large enough that a write takes a while: a kill lands inside one.
    const std::string values[3] = {std::string(256 * 1024, 'a'), std::string(256 * 1024 + 1, 'b'),
                                   std::string(256 * 1024 + 2, 'c')};
    platform::WriteProfileString(path, "BIG", "v", values[0].c_str());
    platform::WriteProfileString(path, "TAIL", "end", "yes");
    std::mt19937 rng(2026);
    int broken = 0;
    for (int i = 0; i < kills; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int k = 1;; k = k % 3 + 1) {
                platform::WriteProfileString(path, "BIG", "v", values[k % 3].c_str());
            }
        }
        ::usleep(std::uniform_int_distribution<int>(0, 20000)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string v = platform::GetProfileString(path, "BIG", "v", "", 1 << 20);
        const bool whole = v == values[0] || v == values[1] || v == values[2];
        if (!whole || platform::GetProfileString(path, "TAIL", "end", "") != "yes") {
            ++broken;
        }
    }
    int leftBefore = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        leftBefore += e.path().filename() != "Planinfo.ini";
    }
    platform::WriteProfileString(path, "TAIL", "end", "yes");  // the next ordinary write
    int leftAfter = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        leftAfter += e.path().filename() != "Planinfo.ini";
    }
    std::printf("kills: %d  broken files: %d  temporary files left: %d before the next write, "
                "%d after it\n",
                kills, broken, leftBefore, leftAfter);
    std::filesystem::remove_all(dir);
    return broken == 0 && leftAfter == 0 ? 0 : 1;
}
