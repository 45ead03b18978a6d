// A late answer is never taken for a later question's answer: the questions of every sequence
// that talks to the device (handshake, status poll, command worker, screen settings readback,
// output resolution, mosaic connect), asked of the simulator over TCP and over the serial line,
// with the device hanging at each step in turn and then answering its whole backlog at once.
// Every reply a question returns must be the device's answer to that very question.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "link/Commands.h"
#include "link/Link.h"
#include "link/NetTcp.h"

using namespace devlink;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr uint8_t kId = 1;
// Time limits are scaled down from the sequences' own (a stall must outlast one to matter); the
// pauses between questions keep their length where it is short.
constexpr int kLimitMs = 300;
// Stalls of two lengths, taken in turn from step to step (the other way round on the other
// transport): a short one outlasts one question; a long one a question and a command's pause.
constexpr int kShortStallMs = 450;
constexpr int kLongStallMs = 1000;

// One step of a sequence: a command (sent, then paused) or a question (limit), then a pause.
struct Step {
    Frame frame;
    bool question;
    int pauseAfterMs;
};

Step Ask(const Frame& f, int pause = 50) {
    return {f, true, pause};
}
Step Tell(const Frame& f, int delay) {
    return {f, false, delay};
}

struct Sequence {
    const char* name;
    std::vector<Step> steps;
};

std::vector<Sequence> Sequences() {
    return {
        {"handshake", {Ask(IdentifyQuery(kId), 0), Ask(StatusQuery(kId), 0)}},
        {"status poll",
         {Ask(StatusQuery(kId), 300), Ask(StatusQuery(kId), 300), Ask(StatusQuery(kId), 0)}},
        // A poll, then commands, each read back: the status changes with every switch.
        {"command worker",
         {Ask(StatusQuery(kId), 0), Tell(SourceSwitch(kId, 0, kDvi), 600),
          Ask(StatusQuery(kId), 0), Tell(SourceSwitch(kId, 0, kHdmi), 600),
          Ask(StatusQuery(kId), 0)}},
        {"screen settings readback",
         {Ask(ResolutionQuery(kId)), Ask(LayoutGeometryQuery(kId, 0x07)),
          Ask(MosaicModeQuery(kId)), Ask(PictureAudioQuery(kId)), Ask(TextKeyQuery(kId)),
          Ask(ColourQuery(kId), 0)}},
        {"output resolution", {Ask(ResolutionQuery(kId)), Ask(CustomResolutionQuery(kId), 0)}},
        {"mosaic connect",
         {Ask(ResolutionQuery(kId)), Ask(CustomResolutionQuery(kId), 200),
          Ask(MosaicModeQuery(kId), 200), Ask(StatusQuery(kId), 0)}},
    };
}

struct Client {
    Client(const testutil::SimProcess& sim, bool serial) {
        link.m_bSerial = serial ? 1 : 0;
        if (serial) {
            EXPECT_EQ(link.m_serialPort.Open(sim.ptyPath), 1);
            EXPECT_EQ(link.m_serialPort.Configure(), 1);
        } else {
            EXPECT_EQ(ConnectTcp(link.m_socket, 0x7F000001, sim.tcpPort), 1);
        }
    }
    ~Client() {
        link.m_serialPort.Close();
        CloseTcp(link.m_socket);
    }
    LinkConnection link;
};

// Sets values that tell the answers apart: every reply of the device differs from every other.
void SetDistinctiveValues(Client& c) {
    const Frame commands[] = {
        CustomResolutionCommand(kId, 1280, 720, 50), ResolutionCommand(kId, 16),
        BrightnessCommand(kId, 42),  TextKeyCommand(kId, true, 11, 22, 33),
        ColourCommand(kId, 77, kV1), WindowGeometryCommand(kId, kLayoutM1, false, 1, 2, 3, 4),
        WindowGeometryCommand(kId, kLayoutM1, true, 5, 6, 7, 8),
        InputWindowCommand(kId, 9, 10, 11, 12), SourceSwitch(kId, 0, kHdmi)};
    for (const Frame& f : commands) {
        SendCommand(c.link, f.data(), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the switch takes 500 ms
}

// The device's answer to question, asked on a quiet line with a generous limit.
Frame Truth(Client& c, const Frame& question) {
    Frame r{};
    EXPECT_EQ(QueryCommand(c.link, question.data(), r.data(), 3000), kFrameSize);
    return r;
}

// Rows that went wrong, said after the serial trace is no longer captured.
std::mutex g_wrongMutex;
std::vector<std::string> g_wrong;
void Wrong(const std::string& what) {
    std::lock_guard<std::mutex> lock(g_wrongMutex);
    g_wrong.push_back(what);
}

// Every sequence with a stall at each of its steps, over one transport of a simulator of its own.
void RunTable(bool serial) {
    testutil::SimProcess sim(serial ? std::vector<std::string>{"--pty"}
                                    : std::vector<std::string>{"--tcp", "0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    int stalls = 0;
    {
        // What the device answers to each question while nothing goes wrong: each sequence run
        // once on a quiet line (its commands end where they began, on HDMI).
        std::vector<std::vector<Frame>> truths;
        {
            Client c(sim, serial);
            SetDistinctiveValues(c);
            for (const Sequence& seq : Sequences()) {
                truths.emplace_back();
                for (const Step& s : seq.steps) {
                    if (!s.question) {
                        SendCommand(c.link, s.frame.data(), s.pauseAfterMs);
                    }
                    truths.back().push_back(s.question ? Truth(c, s.frame) : Frame{});
                }
            }
        }
        size_t seqIndex = 0;
        for (const Sequence& seq : Sequences()) {
            const std::vector<Frame>& truth = truths[seqIndex++];
            for (size_t stallAt = 0; stallAt < seq.steps.size(); ++stallAt) {
                const bool longStall = (stallAt % 2 == 0) != serial;
                const std::string row = std::string(serial ? "serial, " : "tcp, ") + seq.name +
                                        (longStall ? ", long" : ", short") + " stall at step " +
                                        std::to_string(stallAt + 1);
                {
                    Client c(sim, serial);
                    for (size_t i = 0; i < seq.steps.size(); ++i) {
                        const Step& s = seq.steps[i];
                        if (i == stallAt) {
                            // A length of its own, so that the log line is this row's.
                            const std::string ms = std::to_string(
                                (longStall ? kLongStallMs : kShortStallMs) + ++stalls);
                            sim.Command("stall " + ms);
                            ASSERT_TRUE(sim.WaitForOutput("answers held for " + ms + " ms", 2000))
                                << row;
                        }
                        if (!s.question) {
                            SendCommand(c.link, s.frame.data(), s.pauseAfterMs);
                            continue;
                        }
                        Frame reply{};
                        if (QueryCommand(c.link, s.frame.data(), reply.data(), kLimitMs) ==
                            kFrameSize) {
                            if (reply != truth[i]) {
                                Wrong(row + ": step " + std::to_string(i + 1) + " took " +
                                      HexText(reply.data(), kFrameSize) + ", its answer is " +
                                      HexText(truth[i].data(), kFrameSize));
                            }
                        }
                        std::this_thread::sleep_for(std::chrono::milliseconds(s.pauseAfterMs));
                    }
                    // Once the backlog is out, the device answers again: the next question gets
                    // its own answer.
                    const Step& last = seq.steps.back();
                    Frame again{};
                    if (QueryCommand(c.link, last.frame.data(), again.data(), 2000) != kFrameSize ||
                        again != truth.back()) {
                        Wrong(row + ": the question after the stall took " +
                              HexText(again.data(), kFrameSize));
                    }
                }
                sim.Output();  // keeps the simulator's pipe drained
            }
        }
    }
}

}  // namespace

TEST(LateAnswer, NoQuestionEverTakesAnotherQuestionsAnswer) {
    CaptureStdout();  // the serial trace
    std::thread tcp([] { RunTable(false); });
    std::thread serial([] { RunTable(true); });
    tcp.join();
    serial.join();
    GetCapturedStdout();
    for (const std::string& wrong : g_wrong) {
        ADD_FAILURE() << wrong;
    }
    EXPECT_TRUE(g_wrong.empty());
}
