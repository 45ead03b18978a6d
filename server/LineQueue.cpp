#include "server/LineQueue.h"

#include <algorithm>
#include <chrono>

#include "link/Commands.h"

namespace server {

using devlink::Frame;

namespace {

int64_t NowMs() {
    return platform::CurrentClock().NowMs();
}

bool IsQuestion(const Frame& frame) {
    return frame[2] == devlink::kQueryCode;
}

}  // namespace

LineQueue::LineQueue(Line& line) : m_line(line) {}

LineQueue::~LineQueue() {
    Stop();
}

void LineQueue::Start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running) {
        return;
    }
    m_running = true;
    m_stopped = false;
    m_abort.Reset();
    m_thread = std::thread(&LineQueue::Run, this);
}

void LineQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        m_stopped = true;
        m_abort.Request();
    }
    m_cv.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    DropAll(lock);
}

void LineQueue::Notify() {
    m_wake = true;
    m_cv.notify_all();
}

void LineQueue::Wake() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Notify();
}

bool LineQueue::SendPlan(const Frame& frame, int pauseMs, int64_t momentMs,
                         platform::StopFlag& stop, const std::function<void()>& left) {
    Plan plan{frame, pauseMs, momentMs, &stop, &left};
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopped || !m_line.Up()) {
        return false;
    }
    m_plans.push_back(&plan);
    Notify();
    while (!plan.done) {
        if (stop.Requested()) {
            const auto it = std::find(m_plans.begin(), m_plans.end(), &plan);
            if (it != m_plans.end()) {
                m_plans.erase(it);  // not taken yet: it never goes out
                return false;
            }
        }
        // The wait is sliced so that a stop is seen; the turn itself wakes it at once.
        m_doneCv.wait_for(lock, std::chrono::milliseconds(5));
    }
    return plan.sent;
}

void LineQueue::SetPlanMoments(std::vector<int64_t> momentsMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_moments = std::set<int64_t>(momentsMs.begin(), momentsMs.end());
    Notify();
}

void LineQueue::SetPolling(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_polling = on;
    m_nextPollMs = NowMs();
    Notify();
}

ClientId LineQueue::AddClient(Answer answer, Room room) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const ClientId id = m_nextClient++;
    m_clients[id] = Client{std::move(answer), std::move(room), {}, false};
    return id;
}

void LineQueue::RemoveClient(ClientId id) {
    std::deque<Queued> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_clients.find(id);
        if (it == m_clients.end()) {
            return;
        }
        dropped = std::move(it->second.frames);
        m_clients.erase(it);
    }
    for (const Queued& q : dropped) {
        if (q.sent) {
            q.sent(false);
        }
    }
}

int LineQueue::ClientCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_clients.size());
}

bool LineQueue::Submit(ClientId id, const Frame& frame, Sent sent) {
    if (IsQuestion(frame)) {
        sent = {};
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_clients.find(id);
        // Asked while the processor is away (or by a client gone): never sent later.
        if (it != m_clients.end() && m_line.Up()) {
            Client& c = it->second;
            if (static_cast<int>(c.frames.size()) >= kMaxQueued) {
                c.full = true;
                return false;
            }
            c.frames.push_back(Queued{frame, std::move(sent)});
            Notify();
            return true;
        }
    }
    if (sent) {
        sent(false);
    }
    return true;
}

void LineQueue::DropAll(std::unique_lock<std::mutex>& lock) {
    std::vector<Room> owed;
    std::vector<Sent> failed;
    for (auto& [id, c] : m_clients) {
        for (Queued& q : c.frames) {
            if (q.sent) {
                failed.push_back(std::move(q.sent));
            }
        }
        c.frames.clear();
        if (c.full && c.room) {
            owed.push_back(c.room);
        }
        c.full = false;
    }
    const bool anyPlan = !m_plans.empty();
    for (Plan* plan : m_plans) {
        plan->done = true;
        plan->sent = false;
    }
    m_plans.clear();
    if (anyPlan) {
        m_doneCv.notify_all();
    }
    lock.unlock();
    for (const Room& room : owed) {
        room();
    }
    for (const Sent& sent : failed) {
        sent(false);
    }
    lock.lock();
}

int LineQueue::WorstCaseMs(const Frame& frame, int64_t nowMs) const {
    if (!IsQuestion(frame)) {
        return kWriteMs + devlink::CommandPause(frame);
    }
    const bool silent = m_silentAskedMs.count(frame[1]) != 0;
    (void)nowMs;
    return kWriteMs + (silent ? kSilentAskLimitMs : kAskLimitMs) + kAfterReplyMs +
           m_line.AskOverheadMs();
}

bool LineQueue::ClearOfPlans(int64_t nowMs, int durationMs) const {
    for (const int64_t moment : m_moments) {
        if (nowMs + durationMs > moment - kPlanMarginMs && nowMs < moment + kPlanWindowMs) {
            return false;
        }
    }
    return true;
}

LineQueue::Work LineQueue::Pick(int64_t nowMs, int64_t& nextMs) {
    Work w;
    nextMs = nowMs + kIdleMs;
    if (!m_plans.empty()) {
        w.kind = Work::kPlan;
        w.plan = m_plans.front();
        m_plans.pop_front();
        return w;
    }
    // A plan whose window passed without its frame (missed, or reloaded away) holds nothing.
    for (auto it = m_moments.begin(); it != m_moments.end();) {
        it = *it + kPlanWindowMs <= nowMs ? m_moments.erase(it) : std::next(it);
    }
    // Turns go round: the poll (participant 0), then the clients by ID, starting after the one
    // served last.
    std::vector<ClientId> order;
    for (const auto& entry : m_clients) {
        if (entry.first > m_lastTurn) {
            order.push_back(entry.first);
        }
    }
    order.push_back(0);
    for (const auto& entry : m_clients) {
        if (entry.first <= m_lastTurn) {
            order.push_back(entry.first);
        }
    }
    for (const ClientId who : order) {
        if (who == 0) {
            if (!m_polling) {
                continue;
            }
            if (nowMs < m_nextPollMs) {
                nextMs = std::min(nextMs, m_nextPollMs);
                continue;
            }
            const int worst = kWriteMs + kPollLimitMs + kAfterReplyMs + m_line.AskOverheadMs();
            if (!ClearOfPlans(nowMs, worst)) {
                continue;
            }
            w.kind = Work::kPoll;
            m_lastTurn = 0;
            return w;
        }
        Client& c = m_clients[who];
        if (c.frames.empty()) {
            continue;
        }
        const Frame& head = c.frames.front().frame;
        bool drop = false;
        if (IsQuestion(head)) {
            const auto silent = m_silentAskedMs.find(head[1]);
            // A device that did not answer is asked once a probe interval; other questions to
            // it meanwhile cost only their asker's wait.
            drop = silent != m_silentAskedMs.end() && nowMs - silent->second < kSilentProbeEveryMs;
        }
        if (!drop && !ClearOfPlans(nowMs, WorstCaseMs(head, nowMs))) {
            continue;
        }
        w.client = who;
        w.frame = head;
        w.sent = std::move(c.frames.front().sent);
        if (drop) {
            w.kind = Work::kDrop;
        } else if (IsQuestion(head)) {
            w.kind = Work::kQuestion;
            w.limitMs = m_silentAskedMs.count(head[1]) ? kSilentAskLimitMs : kAskLimitMs;
        } else {
            w.kind = Work::kCommand;
        }
        c.frames.pop_front();
        if (c.full && c.room) {
            c.full = false;
            w.room = c.room;
        }
        m_lastTurn = who;
        return w;
    }
    return w;
}

LineQueue::Turn LineQueue::RunOnce() {
    const int64_t nowMs = NowMs();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_line.Up()) {
        DropAll(lock);
        return {false, nowMs + kIdleMs};
    }
    int64_t nextMs = 0;
    const Work w = Pick(nowMs, nextMs);
    if (w.kind == Work::kNone) {
        return {false, nextMs};
    }
    lock.unlock();
    if (w.room) {
        w.room();
    }
    switch (w.kind) {
        case Work::kPlan: {
            const bool sent =
                m_line.Send(w.plan->frame, w.plan->pauseMs, *w.plan->stop, *w.plan->left);
            lock.lock();
            w.plan->sent = sent;
            w.plan->done = true;
            m_moments.erase(m_moments.begin(), m_moments.upper_bound(w.plan->momentMs));
            m_doneCv.notify_all();
            break;
        }
        case Work::kPoll:
            m_line.Poll(m_abort);
            lock.lock();
            m_nextPollMs = NowMs() + kPollEveryMs;
            break;
        case Work::kCommand: {
            bool told = false;
            const bool left = m_line.Send(w.frame, devlink::CommandPause(w.frame), m_abort, [&] {
                if (w.sent) {
                    told = true;
                    w.sent(true);
                }
            });
            if (w.sent && !told) {
                w.sent(left);
            }
            break;
        }
        case Work::kQuestion: {
            const int64_t askedMs = NowMs();
            // The answer goes to its asker at once; the line stays held for the pause after it.
            const bool answered = m_line.Ask(w.frame, w.limitMs, m_abort, [&](const Frame& reply) {
                Answer answer;
                {
                    std::lock_guard<std::mutex> guard(m_mutex);
                    const auto it = m_clients.find(w.client);
                    if (it != m_clients.end()) {
                        answer = it->second.answer;
                    }
                }
                if (answer) {
                    answer(reply);
                }
                if (m_watch) {
                    m_watch(w.frame, reply);
                }
            });
            lock.lock();
            if (answered) {
                m_silentAskedMs.erase(w.frame[1]);
            } else if (!m_abort.Requested()) {
                m_silentAskedMs[w.frame[1]] = askedMs;
            }
            break;
        }
        case Work::kDrop:
            if (w.sent) {
                w.sent(false);
            }
            break;
        case Work::kNone:
            break;
    }
    return {true, 0};
}

void LineQueue::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_running) {
                return;
            }
        }
        const Turn turn = RunOnce();
        if (turn.ran) {
            continue;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_running) {
            return;
        }
        const int64_t waitMs = std::clamp<int64_t>(turn.nextMs - NowMs(), 1, kIdleMs);
        m_cv.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [this] { return m_wake || !m_running; });
        m_wake = false;
    }
}

}  // namespace server
