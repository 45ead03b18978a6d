// The service's line shared with its users: the queue in front of the service's connection, the
// model of the processor's state, and, when the line is shared (--share), the server its TCP
// clients connect to. It is the service's ServiceLine: the plans' switches, the status poll and
// the API's commands go through its queue. No Qt here.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "schedule/SchedulerService.h"
#include "server/DeviceModel.h"
#include "server/LineQueue.h"
#include "server/ShareServer.h"

namespace server {

class SharedLine : public ServiceLine {
public:
    // log: one line per client event and at start, as the service's other lines. Without
    // settings nothing listens: the queue and the model serve the service's own users alone.
    SharedLine(SchedulerService& service, std::optional<ShareSettings> settings,
               SchedulerService::Log log);
    ~SharedLine() override;
    SharedLine(const SharedLine&) = delete;
    SharedLine& operator=(const SharedLine&) = delete;

    // Listens when shared (before the service starts); false with a one-line reason.
    bool Open(std::string& error);
    // Serves the line and the clients. Stop ends both (before the service stops): plans still
    // waiting for the line fail, every client is closed.
    void Start();
    void Stop();
    int Port() const { return m_server.Port(); }

    DeviceModel& Model() { return m_model; }
    LineQueue& Queue() { return m_queue; }

    // ServiceLine
    bool SendPlan(const devlink::Frame& frame, int pauseMs, int64_t momentMs,
                  platform::StopFlag& stop, const std::function<void()>& left) override;
    void PlanMoments(const std::vector<int64_t>& momentsMs) override;
    void LinkChanged(bool up) override;
    void StatusSeen(const devlink::Frame& reply) override;

private:
    // The service's connection as the queue's line.
    class ConnectionLine : public Line {
    public:
        explicit ConnectionLine(SchedulerService& service) : m_service(service) {}
        bool Up() override { return m_service.LinkUp(); }
        bool Send(const devlink::Frame& frame, int pauseMs, platform::StopFlag& stop,
                  const std::function<void()>& left) override;
        bool Ask(const devlink::Frame& question, int limitMs, platform::StopFlag& stop,
                 const std::function<void(const devlink::Frame&)>& answered) override;
        void Poll(platform::StopFlag& stop) override;
        int AskOverheadMs() override;

    private:
        SchedulerService& m_service;
        std::atomic<bool> m_unsure{false};  // a question went unanswered: the next settles first
    };

    SchedulerService& m_service;
    std::optional<ShareSettings> m_settings;
    SchedulerService::Log m_log;
    DeviceModel m_model;
    ConnectionLine m_line;
    LineQueue m_queue;
    ShareServer m_server;
};

}  // namespace server
