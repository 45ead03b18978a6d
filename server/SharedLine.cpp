#include "server/SharedLine.h"

#include "link/Commands.h"
#include "link/Link.h"

namespace server {

SharedLine::SharedLine(SchedulerService& service, std::optional<ShareSettings> settings,
                       SchedulerService::Log log)
    : m_service(service),
      m_settings(std::move(settings)),
      m_log(std::move(log)),
      m_model(service.DeviceId()),
      m_line(service),
      m_queue(m_line),
      m_server(m_queue, [this](bool warning, const std::string& text) {
          m_log(warning ? LogLevel::Warning : LogLevel::Info, text);
      }) {
    m_queue.SetWatch([this](const devlink::Frame& question, const devlink::Frame& reply) {
        m_model.Answer(question, reply);
    });
}

SharedLine::~SharedLine() {
    Stop();
}

bool SharedLine::Open(std::string& error) {
    if (!m_settings) {
        return true;
    }
    if (!m_server.Open(*m_settings, error)) {
        return false;
    }
    std::string who = "loopback";
    for (const std::string& cidr : m_settings->allow) {
        who += ", " + cidr;
    }
    const bool v6 = m_settings->host.find(':') != std::string::npos;
    m_log(LogLevel::Info, "sharing the line on " +
                              (v6 ? "[" + m_settings->host + "]" : m_settings->host) + ":" +
                              std::to_string(m_server.Port()) + " (clients from " + who +
                              ", at most " + std::to_string(ShareServer::kMaxClients) + ")");
    return true;
}

void SharedLine::Start() {
    m_queue.SetPolling(true);
    m_queue.Start();
    if (m_settings) {
        m_server.Start();
    }
}

void SharedLine::Stop() {
    // The queue first: no answer is handed to a server that is going away.
    m_queue.Stop();
    if (m_settings) {
        m_server.Stop();
    }
}

bool SharedLine::SendPlan(const devlink::Frame& frame, int pauseMs, int64_t momentMs,
                          platform::StopFlag& stop, const std::function<void()>& left) {
    return m_queue.SendPlan(frame, pauseMs, momentMs, stop, left);
}

void SharedLine::PlanMoments(const std::vector<int64_t>& momentsMs) {
    m_queue.SetPlanMoments(momentsMs);
}

void SharedLine::LinkChanged(bool up) {
    if (up) {
        m_model.SetDeviceId(m_service.DeviceId());  // SIGHUP may have named another device
    } else {
        m_model.Lost();
    }
    m_queue.Wake();
}

void SharedLine::StatusSeen(const devlink::Frame& reply) {
    m_model.Reply(reply);
}

bool SharedLine::ConnectionLine::Send(const devlink::Frame& frame, int pauseMs,
                                      platform::StopFlag& stop, const std::function<void()>& left) {
    bool sent = false;
    m_service.DeviceConnection().WithLinkUnless(stop, [&](devlink::LinkConnection& link) {
        if (!m_service.LinkUp()) {
            return;  // lost while this waited for the link
        }
        sent = devlink::SendCommand(link, frame.data(), 0);
        if (!sent) {
            return;
        }
        if (left) {
            left();
        }
        platform::Sleep(pauseMs, &stop);
    });
    return sent;
}

bool SharedLine::ConnectionLine::Ask(const devlink::Frame& question, int limitMs,
                                     platform::StopFlag& stop,
                                     const std::function<void(const devlink::Frame&)>& answered) {
    bool got = false;
    m_service.DeviceConnection().WithLinkUnless(stop, [&](devlink::LinkConnection& link) {
        if (!m_service.LinkUp()) {
            return;
        }
        // The answer of the asked device (or the identification answer), never another's.
        const devlink::ReplyShape shape = question[3] == devlink::kIdentifySub
                                              ? devlink::IdentifyReplyShape()
                                              : devlink::QueryReplyShape(question[1]);
        link.m_onReply = [&](const uint8_t* bytes) {
            devlink::Frame reply{};
            std::copy(bytes, bytes + devlink::kFrameSize, reply.begin());
            answered(reply);
        };
        devlink::Frame reply{};
        got = devlink::QueryCommand(link, question.data(), reply.data(), limitMs, shape) ==
              devlink::kFrameSize;
        link.m_onReply = nullptr;
        m_unsure = link.m_unanswered > 0;
    });
    return got;
}

void SharedLine::ConnectionLine::Poll(platform::StopFlag& stop) {
    bool unsure = false;
    m_service.DeviceConnection().PollStatus(stop, &unsure);
    m_unsure = unsure;
}

int SharedLine::ConnectionLine::AskOverheadMs() {
    return m_unsure ? devlink::kSettleMaxMs : 0;
}

}  // namespace server
