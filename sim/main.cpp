// orn312-sim: the ORN312 processor simulator. See sim/README.md.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimServer.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            std::fputs(sim::kUsage.c_str(), stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("orn312-sim %s\n", ORN312_VERSION);
            return 0;
        }
    }
    sim::ServerOptions options;
    std::string error;
    if (!sim::ParseOptions(args, options, error)) {
        std::fprintf(stderr, "orn312-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.tcpPort < 0 && !options.pty) {
        std::fputs(sim::kUsage.c_str(), stderr);
        return 2;
    }
    return sim::RunServer(options);
}
