// What the service's secrets cost at the production hash cost: a login with the operator's PIN
// (one hash), the viewer's and a wrong one (two hashes), a token's first check (one hash) and a
// token checked before, a session looked up; N runs each (default 15), median and worst; and the
// peak memory of the process (one hash at a time).
//   auth_login [N]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "server/Auth.h"

namespace fs = std::filesystem;
using server::Role;

namespace {

void Measure(const char* what, int runs, const std::function<void()>& run) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %9.3f ms   worst %9.3f ms\n", what, ms[ms.size() / 2], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const fs::path dir = fs::temp_directory_path() / ("auth-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "auth.json").string();
    server::AuthFile file;
    std::string error, token;
    if (!file.SetPin(Role::Operator, "246810", error) ||
        !file.SetPin(Role::Viewer, "1357", error) || !file.NewToken("desk", token, error) ||
        !file.Save(path, error)) {
        std::fprintf(stderr, "auth_login: %s\n", error.c_str());
        return 1;
    }
    const server::HashCost cost = server::DefaultHashCost();
    std::printf("hash cost: opslimit %llu, memlimit %zu MiB; %ld cores\n", cost.ops,
                cost.memBytes >> 20, ::sysconf(_SC_NPROCESSORS_ONLN));
    server::AuthGuard guard(path, nullptr);
    int64_t now = 0;
    int n = 0;
    std::string session;
    // Each login from an address of its own: no lockout.
    Measure("login, operator PIN", runs, [&] {
        session = guard.TryLogin("10.0.0." + std::to_string(++n % 250), "246810", now).sessionId;
    });
    Measure("login, viewer PIN", runs,
            [&] { guard.TryLogin("10.0.1." + std::to_string(++n % 250), "1357", now); });
    Measure("login, wrong PIN", runs,
            [&] { guard.TryLogin("10.0.2." + std::to_string(++n % 250), "9999", ++now); });
    Measure("token, first check", runs, [&] {
        guard.Reload();  // no change: the token stays known
        server::AuthGuard fresh(path, nullptr);
        fresh.Bearer(token);
    });
    guard.Bearer(token);
    Measure("token, checked before", runs * 100, [&] { guard.Bearer(token); });
    Measure("session lookup", runs * 100, [&] { guard.Session(session, now); });
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %ld MiB\n", usage.ru_maxrss / 1024);
    fs::remove_all(dir);
    return 0;
}
