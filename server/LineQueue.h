// The one queue of work in front of the processor's line. Its thread alone uses the link after
// the connection is made: the plans' switches (first, at their second), the service's status
// poll and the frames of every client of the shared line, one transaction at a time, each
// command followed by its pause from the command catalogue. Clients take fair turns; a device ID
// that does not answer costs its askers the wait, not everyone's. No Qt here.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "link/Frame.h"
#include "platform/Clock.h"

namespace server {

// The processor's line as the queue uses it, on the queue's thread only.
class Line {
public:
    virtual ~Line() = default;
    // True while the processor is connected and identified.
    virtual bool Up() = 0;
    // Writes frame, then holds the line pauseMs (cut short when stop is raised). left, when
    // given, is called as soon as the frame has left, before the pause. False when the frame did
    // not leave.
    virtual bool Send(const devlink::Frame& frame, int pauseMs, platform::StopFlag& stop,
                      const std::function<void()>& left = {}) = 0;
    // Writes a question and waits up to limitMs for its answer (an answer of the asked device,
    // or the identification answer), then holds the line for the pause after an answer; true
    // when answered. answered gets the answer as soon as it is in, before that pause.
    virtual bool Ask(const devlink::Frame& question, int limitMs, platform::StopFlag& stop,
                     const std::function<void(const devlink::Frame&)>& answered) = 0;
    // The service's status poll: one question, its answer told to the service.
    virtual void Poll(platform::StopFlag& stop) = 0;
    // How much longer than its limit a question may take now (the line first falls quiet after
    // a question that went unanswered).
    virtual int AskOverheadMs() { return 0; }
};

using ClientId = int;

class LineQueue {
public:
    static constexpr int kAskLimitMs = 2000;          // a client's question waits this long
    static constexpr int kSilentAskLimitMs = 300;     // ... when its device ID did not answer
    static constexpr int kSilentProbeEveryMs = 1000;  // one question to a silent ID this often
    static constexpr int kPollLimitMs = 1000;         // the status poll's limit
    static constexpr int kPollEveryMs = 1000;         // from the end of a poll to the next
    static constexpr int kAfterReplyMs = 200;         // the pause after an answer
    static constexpr int kWriteMs = 20;               // a frame's time on the wire, with margin
    static constexpr int kPlanMarginMs = 100;         // the line is free this long before a plan
    // A plan's second keeps the line from longer work until its frame has left, at most this
    // long after the second (the scheduler sends up to 5 s late).
    static constexpr int kPlanWindowMs = 6000;
    static constexpr int kMaxQueued = 32;  // frames waiting per client
    static constexpr int kIdleMs = 250;    // the longest the thread sleeps without a wake

    // Called on the queue's thread: a client's answer, and room in its queue again after it
    // was full.
    using Answer = std::function<void(const devlink::Frame& reply)>;
    using Room = std::function<void()>;
    // What became of a client's command: true as soon as its frame left (its pause still to
    // come), false when it never will (the processor away, the queue stopped, the client gone,
    // or the write failed). Called once, on the queue's thread or on the caller's of Submit,
    // RemoveClient or Stop, never with the queue's lock held.
    using Sent = std::function<void(bool left)>;
    // Every client question answered, with its answer (the service's model reads them).
    using Watch = std::function<void(const devlink::Frame& question, const devlink::Frame& reply)>;

    explicit LineQueue(Line& line);
    ~LineQueue();
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // The thread that serves the line; Stop ends the transaction under way at its next pause
    // and fails the plans still waiting.
    void Start();
    void Stop();

    // The service's switch of a plan whose moment is momentMs: served before anything else,
    // then the line held pauseMs (stop cuts the pause short). Blocks until done; false when the
    // frame did not leave (no link, the queue stopped, or stop raised before its turn).
    // left, when given, is called as soon as the frame has left.
    bool SendPlan(const devlink::Frame& frame, int pauseMs, int64_t momentMs,
                  platform::StopFlag& stop, const std::function<void()>& left = {});
    // The moments (ms since the epoch) of the plans still due today: no work starts that could
    // still hold the line at one of them.
    void SetPlanMoments(std::vector<int64_t> momentsMs);
    // The service's status poll runs every kPollEveryMs while on.
    void SetPolling(bool on);
    // The link came or went: waiting questions are dropped when it is down.
    void Wake();
    // Before Start.
    void SetWatch(Watch watch) { m_watch = std::move(watch); }

    ClientId AddClient(Answer answer, Room room = {});
    // Drops the client's frames still waiting; an answer under way is not delivered.
    void RemoveClient(ClientId id);
    // Queues a whole frame of a client. A question (byte 2 FE) is answered through the
    // client's Answer, or not at all; a command holds the line for its pause. False when the
    // client's queue is full: the frame is not taken, and Room is called once there is space.
    // Frames that come while the processor is away are dropped (true). sent, when given, hears
    // what became of a command (not of a question); a frame dropped at once is told so at once,
    // a frame not taken (false) is not told.
    bool Submit(ClientId id, const devlink::Frame& frame, Sent sent = {});
    int ClientCount() const;

    // One transaction, on the calling thread (the queue's thread, or a test): the plan waiting,
    // else the next participant's work in turn that fits before the plans' seconds. Returns
    // whether something ran and, when nothing did, when to look again (ms since the epoch).
    struct Turn {
        bool ran = false;
        int64_t nextMs = 0;
    };
    Turn RunOnce();

private:
    struct Plan {
        devlink::Frame frame{};
        int pauseMs = 0;
        int64_t momentMs = 0;
        platform::StopFlag* stop = nullptr;
        const std::function<void()>* left = nullptr;
        bool done = false;
        bool sent = false;
    };
    struct Queued {
        devlink::Frame frame{};
        Sent sent;
    };
    struct Client {
        Answer answer;
        Room room;
        std::deque<Queued> frames;
        bool full = false;  // Submit refused a frame: Room is owed
    };
    // What RunOnce picked, taken from the queues under the lock.
    struct Work {
        enum Kind { kNone, kPlan, kPoll, kCommand, kQuestion, kDrop } kind = kNone;
        Plan* plan = nullptr;
        ClientId client = 0;
        devlink::Frame frame{};
        Sent sent;
        int limitMs = 0;
        Room room;
    };

    void Run();
    // The longest the work at the head of a participant may hold the line.
    int WorstCaseMs(const devlink::Frame& frame, int64_t nowMs) const;
    // True when work of durationMs started at nowMs ends clear of every plan's second.
    bool ClearOfPlans(int64_t nowMs, int durationMs) const;
    // Picks the next work; m_mutex held.
    Work Pick(int64_t nowMs, int64_t& nextMs);
    // Drops every client frame and fails the plans: the link is down or the queue stops.
    void DropAll(std::unique_lock<std::mutex>& lock);
    void Notify();

    Line& m_line;
    Watch m_watch;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;      // wakes the thread
    std::condition_variable m_doneCv;  // wakes SendPlan callers
    bool m_wake = false;
    bool m_running = false;
    bool m_stopped = false;  // Stop was called: plans fail at once
    std::deque<Plan*> m_plans;
    std::set<int64_t> m_moments;
    bool m_polling = false;
    int64_t m_nextPollMs = 0;
    std::map<ClientId, Client> m_clients;
    ClientId m_nextClient = 1;
    // Round robin: the participant served last (0 the poll, then client IDs).
    ClientId m_lastTurn = 0;
    // Device IDs that did not answer their last question, and when one was last asked.
    std::map<uint8_t, int64_t> m_silentAskedMs;
    platform::StopFlag m_abort;
    std::thread m_thread;
};

}  // namespace server
