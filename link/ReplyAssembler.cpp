#include "link/ReplyAssembler.h"

#include <algorithm>
#include <cstring>

namespace devlink {

ReplyAssembler::Step ReplyAssembler::Feed(const uint8_t* bytes, int n, bool lastTry) {
    n = std::max(n, 0);
    if (m_serial && n >= kFrameSize) {
        std::memcpy(m_reply.data(), bytes, kFrameSize);
        return Step::kReply;
    }
    const int take = std::min(n, Missing());
    if (take > 0) {
        std::memcpy(m_assembly.data() + m_collected, bytes, static_cast<size_t>(take));
        m_collected += take;
    }
    if (m_serial) {
        if (m_collected < kFrameSize) {
            return Step::kMore;
        }
        if (m_assembly[0] != kLeader) {
            return Step::kRefused;
        }
        m_reply = m_assembly;
        return Step::kReply;
    }
    const bool complete = m_collected == kFrameSize;
    const bool stalled = m_collected > 0 && n == 0;
    if (complete || stalled || (m_collected > 0 && lastTry)) {
        m_reply = m_assembly;  // bytes not received are 00
        return Step::kReply;
    }
    return Step::kMore;
}

}  // namespace devlink
