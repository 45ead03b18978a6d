#include "device/Sequence.h"

#include "device/Connection.h"
#include "link/Link.h"

namespace app {

bool ConnectionSequenceLink::Send(const devlink::Frame& frame, int delayMs) {
    bool done = false;
    m_connection.WithLinkUnless(m_stop, [&](devlink::LinkConnection& link) {
        devlink::SendCommand(link, frame.data(), delayMs);
        done = !m_stop.Requested();
    });
    return done;
}

int ConnectionSequenceLink::Query(const devlink::Frame& frame, devlink::Frame& reply,
                                  int limitMs) {
    int result = 0;
    m_connection.WithLinkUnless(m_stop, [&](devlink::LinkConnection& link) {
        result = devlink::QueryCommand(link, frame.data(), reply.data(), limitMs);
    });
    return result;
}

}  // namespace app
