#include "device/Sequence.h"

#include "device/Connection.h"
#include "link/Link.h"

namespace app {

bool ConnectionSequenceLink::Send(const devlink::Frame& frame, int delayMs) {
    bool done = false;
    m_connection.WithLinkUnless(m_stop, [&](devlink::LinkConnection& link) {
        const int sent = devlink::SendCommand(link, frame.data(), delayMs);
        done = sent != 0 && !m_stop.Requested();
        if (sent == 0 && !m_stop.Requested()) {
            m_failed = true;
        }
    });
    return done;
}

int ConnectionSequenceLink::Query(const devlink::Frame& frame, devlink::Frame& reply,
                                  int limitMs) {
    int result = 0;
    m_connection.WithLinkUnless(m_stop, [&](devlink::LinkConnection& link) {
        // Every query's answer carries the leader, the ID the question was put to and FE: a
        // frame of another shape answers no question of this sequence.
        result = devlink::QueryCommand(link, frame.data(), reply.data(), limitMs,
                                       devlink::QueryReplyShape(frame[1]));
    });
    return result;
}

}  // namespace app
