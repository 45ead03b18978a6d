#include "server/LineQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "link/Commands.h"

using devlink::Frame;
using server::LineQueue;

namespace {

// Time that moves only when the line is used: a frame's pause or an answer's wait.
class LineClock : public platform::Clock {
public:
    int64_t NowMs() override { return m_now.load(); }
    platform::LocalTime Local() override { return platform::ToLocal(NowMs()); }
    bool Sleep(int ms, platform::StopFlag*) override {
        m_now += ms;
        return true;
    }
    void Advance(int64_t ms) { m_now += ms; }

private:
    std::atomic<int64_t> m_now{1'700'000'000'000};
};

// A line that records what went out and when; device IDs in silent never answer.
class FakeLine : public server::Line {
public:
    explicit FakeLine(LineClock& clock) : m_clock(clock) {}

    struct Sent {
        int64_t atMs;
        Frame frame;  // the poll shows as FE 00 to device 0
        int holdMs;   // how long it held the line
    };

    bool Up() override { return up; }
    bool Send(const Frame& frame, int pauseMs, platform::StopFlag&,
              const std::function<void()>& left) override {
        sent.push_back({m_clock.NowMs(), frame, pauseMs});
        if (left) {
            left();
        }
        m_clock.Advance(pauseMs);
        return true;
    }
    bool Ask(const Frame& q, int limitMs, platform::StopFlag&,
             const std::function<void(const Frame&)>& answered) override {
        const bool answers = silent.count(q[1]) == 0;
        const int hold = answers ? 50 : limitMs;
        sent.push_back({m_clock.NowMs(), q, hold});
        m_clock.Advance(hold);
        if (answers) {
            answered(devlink::MakeFrame(q[1], {devlink::kQueryCode, q[3], 0x42}));
        }
        return answers;
    }
    void Poll(platform::StopFlag&) override {
        sent.push_back({m_clock.NowMs(), devlink::StatusQuery(0), 50});
        m_clock.Advance(50);
    }

    std::atomic<bool> up{true};
    std::set<uint8_t> silent;
    std::vector<Sent> sent;

private:
    LineClock& m_clock;
};

class LineQueueTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetClock(&clock); }
    void TearDown() override { platform::SetClock(nullptr); }

    // Runs turns until none is left to run now.
    void Drain() {
        for (int i = 0; i < 1000 && queue.RunOnce().ran; ++i) {
        }
    }
    server::ClientId Client(std::vector<Frame>* answers) {
        return queue.AddClient([answers](const Frame& r) { answers->push_back(r); });
    }

    LineClock clock;
    FakeLine line{clock};
    LineQueue queue{line};
};

// After every command nothing goes out before its pause has run; each question's answer goes
// to the client that asked, and to no other.
TEST_F(LineQueueTest, CommandsHoldTheLineAndAnswersGoToTheirAsker) {
    std::vector<Frame> answersA, answersB;
    const auto a = Client(&answersA);
    const auto b = Client(&answersB);
    queue.Submit(a, devlink::BrightnessCommand(1, 30));
    queue.Submit(a, devlink::ResolutionQuery(1));
    queue.Submit(b, devlink::SourceSwitch(1, 0, devlink::kDvi));
    queue.Submit(b, devlink::ColourQuery(2));
    queue.Submit(b, devlink::MakeFrame(1, {0x7A}));  // unknown to the catalogue
    Drain();

    ASSERT_EQ(line.sent.size(), 5u);
    for (size_t i = 1; i < line.sent.size(); ++i) {
        const auto& before = line.sent[i - 1];
        const int pause = devlink::CommandPause(before.frame);
        EXPECT_GE(line.sent[i].atMs - before.atMs, pause) << i;
    }
    EXPECT_EQ(line.sent[1].holdMs, 5000);  // the switch to DVI
    EXPECT_EQ(line.sent.back().holdMs, 1000);
    ASSERT_EQ(answersA.size(), 1u);
    EXPECT_EQ(answersA[0][3], devlink::kResolutionSub);
    ASSERT_EQ(answersB.size(), 1u);
    EXPECT_EQ(answersB[0][1], 2);
    EXPECT_EQ(answersB[0][3], devlink::kColourSub);
}

// A client that asks without pause takes one turn a round: the other client and the poll are
// served between its questions.
TEST_F(LineQueueTest, TurnsAreFair) {
    std::vector<Frame> answers;
    const auto greedy = Client(&answers);
    const auto quiet = Client(&answers);
    queue.SetPolling(true);
    for (int i = 0; i < 20; ++i) {
        queue.Submit(greedy, devlink::StatusQuery(1));
    }
    queue.Submit(quiet, devlink::BrightnessCommand(1, 10));
    queue.Submit(quiet, devlink::PictureAudioQuery(1));
    for (int i = 0; i < 6; ++i) {
        queue.RunOnce();
    }
    std::vector<std::string> who;
    for (const auto& s : line.sent) {
        who.push_back(s.frame[1] == 0                     ? "poll"
                      : s.frame[3] == devlink::kStatusSub ? "greedy"
                                                          : "quiet");
    }
    // The greedy client never has two turns while another has work waiting.
    EXPECT_EQ(who,
              (std::vector<std::string>{"greedy", "quiet", "poll", "greedy", "quiet", "greedy"}));
}

// A plan's second belongs to the plan: work that would still hold the line then waits until the
// plan's frame has left and its pause ended; work that ends in time goes first.
TEST_F(LineQueueTest, APlansSecondIsKeptFree) {
    std::vector<Frame> answers;
    const auto c = Client(&answers);
    const int64_t moment = clock.NowMs() + 1500;
    queue.SetPlanMoments({moment});
    queue.Submit(c, devlink::SourceSwitch(1, 0, devlink::kHdmi));  // 3000 ms: past the second
    EXPECT_FALSE(queue.RunOnce().ran);
    ASSERT_TRUE(line.sent.empty());

    // The plan's frame comes at its second and goes out at once, with its own pause.
    clock.Advance(1500);
    platform::StopFlag stop;
    auto plan = std::async(std::launch::async, [&] {
        return queue.SendPlan(devlink::SourceSwitch(1, 0, devlink::kDp), 5000, moment, stop);
    });
    while (line.sent.empty()) {
        queue.RunOnce();
    }
    EXPECT_TRUE(plan.get());
    Drain();
    ASSERT_EQ(line.sent.size(), 2u);
    EXPECT_EQ(line.sent[0].frame[4], devlink::kDp);
    EXPECT_EQ(line.sent[0].atMs, moment);
    EXPECT_EQ(line.sent[1].frame[4], devlink::kHdmi);
    EXPECT_GE(line.sent[1].atMs, moment + 5000);

    // Short work before a later plan still goes; what would overlap it waits.
    const int64_t next = clock.NowMs() + 2000;
    queue.SetPlanMoments({next});
    line.sent.clear();
    queue.Submit(c, devlink::FreezeCommand(1, true));  // 500 ms
    queue.Submit(c, devlink::ResolutionQuery(1));      // up to 2200 ms: past it
    Drain();
    ASSERT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(line.sent[0].frame[2], devlink::kFreeze);
    // A plan that never came (missed) stops holding the line after its window.
    clock.Advance(2000 + LineQueue::kPlanWindowMs);
    Drain();
    EXPECT_EQ(line.sent.size(), 2u);
}

// A device ID that does not answer costs its askers the wait, not everyone's: after its first
// silence it is asked at most once a probe interval, briefly, and the other questions to it are
// dropped unanswered while the answering device is served.
TEST_F(LineQueueTest, ASilentDeviceCostsOnlyItsAskers) {
    line.silent = {9};
    std::vector<Frame> toSilent, toLive;
    const auto wall = Client(&toSilent);
    const auto live = Client(&toLive);
    for (int i = 0; i < 20; ++i) {
        queue.Submit(wall, devlink::StatusQuery(9));
        queue.Submit(live, devlink::StatusQuery(1));
        Drain();
    }
    EXPECT_TRUE(toSilent.empty());
    EXPECT_EQ(toLive.size(), 20u);
    int silentHold = 0, silentAsked = 0;
    for (const auto& s : line.sent) {
        if (s.frame[1] == 9) {
            silentHold += s.holdMs;
            ++silentAsked;
        }
    }
    const int64_t spent = clock.NowMs() - line.sent.front().atMs;
    EXPECT_LT(silentAsked, 20);
    // The first question waited its whole limit; the probes after it are short and spaced.
    EXPECT_LE(silentHold,
              LineQueue::kAskLimitMs + (silentAsked - 1) * LineQueue::kSilentAskLimitMs);
    EXPECT_LE(silentAsked - 1, spent / LineQueue::kSilentProbeEveryMs + 1);
    // When it answers again it is asked as any other.
    line.silent.clear();
    clock.Advance(LineQueue::kSilentProbeEveryMs);
    queue.Submit(wall, devlink::StatusQuery(9));
    queue.Submit(wall, devlink::StatusQuery(9));
    Drain();
    EXPECT_EQ(toSilent.size(), 2u);
}

// While the processor is away nothing goes out: the questions waiting and those asked meanwhile
// are dropped, never sent when it is back; plans fail at once; the clients stay.
TEST_F(LineQueueTest, QuestionsOfAnOutageAreNeverSentLater) {
    std::vector<Frame> answers;
    const auto c = Client(&answers);
    queue.Submit(c, devlink::StatusQuery(1));
    line.up = false;
    queue.Submit(c, devlink::ResolutionQuery(1));
    Drain();
    platform::StopFlag stop;
    EXPECT_FALSE(queue.SendPlan(devlink::SourceSwitch(1, 0, devlink::kV1), 5000, 0, stop));
    line.up = true;
    Drain();
    EXPECT_TRUE(line.sent.empty());
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(queue.ClientCount(), 1);
    queue.Submit(c, devlink::StatusQuery(1));
    Drain();
    EXPECT_EQ(answers.size(), 1u);
}

// A client's queue is bounded: a full queue refuses the frame and says when there is room.
TEST_F(LineQueueTest, AFullClientQueueAsksToWait) {
    int room = 0;
    const auto c = queue.AddClient([](const Frame&) {}, [&room] { ++room; });
    int taken = 0;
    while (queue.Submit(c, devlink::StatusQuery(1))) {
        ++taken;
    }
    EXPECT_EQ(taken, LineQueue::kMaxQueued);
    EXPECT_EQ(room, 0);
    queue.RunOnce();
    EXPECT_EQ(room, 1);
    EXPECT_TRUE(queue.Submit(c, devlink::StatusQuery(1)));
    queue.RemoveClient(c);
    Drain();
    EXPECT_EQ(line.sent.size(), 1u);
}

}  // namespace
