// The service's shared line under load, against orn312-sim playing a 3 x 4 wall (IDs 1..12):
//  1. a plan's lateness: N day plans (default 10) 7 to 9 s apart, first with no client, then
//     with 4 clients polling as windows do (status of IDs 1..4, 1000 ms limit, then 1000 ms)
//     and one setting a 3 x 4 wall through the line (orn312ctl wall, again and again); the
//     median and worst delay after each plan's time, and the difference;
//  2. the screen settings readback (every setting of layout M1) through the line against the
//     same readback straight to the simulator: the median time of R runs (default 5) each way
//     and their ratio.
//   share_line [N] [R]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "PlanBench.h"
#include "device/DirectLink.h"
#include "link/Commands.h"
#include "link/NetTcp.h"
#include "screen/ScreenSequences.h"

namespace {

using namespace std::chrono;

int64_t Ms() {
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The port of the shared line, from the service's log.
int SharedPort(testutil::ChildProcess& service) {
    if (!service.WaitForErr("connected: ", 8000))
        return 0;
    const std::string err = service.Err();
    const std::string at = "sharing the line on 127.0.0.1:";
    const size_t i = err.find(at);
    return i == std::string::npos ? 0 : std::atoi(err.c_str() + i + at.size());
}

int Dial(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A window's poll: the status of id, up to 1000 ms for the answer, then 1000 ms.
void Poller(int port, uint8_t id, const std::atomic<bool>& stop) {
    const int fd = Dial(port);
    while (fd >= 0 && !stop) {
        const devlink::Frame q = devlink::StatusQuery(id);
        ::send(fd, q.data(), q.size(), MSG_NOSIGNAL);
        uint8_t got[64];
        int have = 0;
        const int64_t end = Ms() + 1000;
        while (have < devlink::kFrameSize && Ms() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(end - Ms())) <= 0)
                break;
            const ssize_t n = ::recv(fd, got, sizeof got, 0);
            if (n <= 0)
                break;
            have += static_cast<int>(n);
        }
        std::this_thread::sleep_for(milliseconds(1000));
    }
    if (fd >= 0)
        ::close(fd);
}

// One plan run: the service sharing its line, with or without the clients; the plans' delays.
int Plans(int plans, bool withClients) {
    bench::PlanBench b;
    if (!bench::StartPlanBench("share-line", plans, 6, [](int i) { return 7 + i % 3; }, "", b,
                               {"--ids", "1-12"}))
        return 1;
    testutil::ChildProcess service({ORN312_SCHEDULER_PATH, "--share", "127.0.0.1:0"},
                                   b.dir.string());
    const int port = SharedPort(service);
    if (port == 0) {
        std::fprintf(stderr, "share_line: the service did not share its line\n%s",
                     service.Err().c_str());
        return 1;
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    if (withClients) {
        for (uint8_t id = 1; id <= 4; ++id)
            clients.emplace_back(Poller, port, id, std::cref(stop));
        clients.emplace_back([port, &stop] {
            const std::string at = "127.0.0.1:" + std::to_string(port);
            while (!stop) {
                testutil::Run({ORN312_CTL_PATH, "--tcp", at, "wall", "3x4", "640x360"}, 120000);
            }
        });
    }
    std::printf("%s:\n",
                withClients ? "with 4 clients polling and one setting a 3 x 4 wall" : "no client");
    const int result = bench::MeasurePlans(
        b, [] { std::this_thread::sleep_for(milliseconds(20)); },
        [&service] { return service.Err(); });
    stop = true;
    service.Signal(SIGTERM, 3000);  // the wall client's connection closes with it
    for (auto& t : clients)
        t.join();
    return result;
}

// The screen settings readback over a TCP connection to port; its time in ms.
double Readback(int port) {
    devlink::LinkConnection link;
    devlink::ConnectTcp(link.m_socket, 0x7F000001, port);
    platform::StopFlag stop;
    app::DirectSequenceLink sequence(link, 1, stop);
    const int64_t start = Ms();
    const screen::Readback r = screen::RefreshFromDevice(sequence, devlink::kLayoutM1);
    const double took = static_cast<double>(Ms() - start);
    (void)r;
    devlink::CloseTcp(link.m_socket);
    return took;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int ReadbackOverhead(int runs) {
    testutil::SimProcess sim({"--tcp", "0"});
    if (!sim.Started())
        return 1;
    const auto dir = std::filesystem::temp_directory_path() / "orn312-share-readback";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "Planinfo.ini")
        << "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=" << sim.tcpPort << "\nDeviceID=1\n";
    testutil::ChildProcess service({ORN312_SCHEDULER_PATH, "--share", "127.0.0.1:0"}, dir.string());
    const int port = SharedPort(service);
    if (port == 0)
        return 1;
    std::vector<double> direct, shared;
    for (int i = 0; i < runs; ++i) {
        direct.push_back(Readback(sim.tcpPort));
        shared.push_back(Readback(port));
    }
    const double d = Median(direct), s = Median(shared);
    std::printf(
        "screen settings readback: direct %.0f ms, through the line %.0f ms, ratio %.3f "
        "(target <= 1.02), medians of %d\n",
        d, s, s / d, runs);
    service.Signal(SIGTERM, 3000);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int plans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (ReadbackOverhead(runs) != 0)
        return 1;
    if (Plans(plans, false) != 0 || Plans(plans, true) != 0)
        return 1;
    return 0;
}
