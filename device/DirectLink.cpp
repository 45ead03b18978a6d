#include "device/DirectLink.h"

namespace app {

bool DirectSequenceLink::Send(const devlink::Frame& frame, int delayMs) {
    if (m_stop.Requested()) {
        return false;
    }
    platform::StopFlag* const own = m_link.m_abort;
    m_link.m_abort = &m_stop;
    const bool written = devlink::SendCommand(m_link, frame.data(), delayMs);
    m_link.m_abort = own;
    if (!written && !m_stop.Requested()) {
        m_failed = true;
    }
    return written && !m_stop.Requested();
}

int DirectSequenceLink::Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) {
    if (m_stop.Requested()) {
        return 0;
    }
    platform::StopFlag* const own = m_link.m_abort;
    m_link.m_abort = &m_stop;
    // Only an answer of the shape every settings query gets back: on a line of several devices,
    // another's late answer is not this question's.
    const int result = devlink::QueryCommand(m_link, frame.data(), reply.data(), limitMs,
                                             devlink::QueryReplyShape(frame[1]));
    m_link.m_abort = own;
    return result;
}

}  // namespace app
