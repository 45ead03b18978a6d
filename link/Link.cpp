#include "link/Link.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "link/Frame.h"

namespace devlink {

namespace {

constexpr int kTryMs = 100;         // pause between read attempts
constexpr int kAfterReplyMs = 200;  // pause after a reply, before the next frame

// Writes the frame on the chosen transport; true when the whole frame went out.
bool WriteFrame(LinkConnection& link, const Frame& frame) {
    if (link.m_bSerial != 0) {
        return link.m_serialPort.Write(frame.data()) == kFrameSize;
    }
    if (link.m_socket < 0) {
        return false;
    }
    ssize_t n;
    do {
        // MSG_NOSIGNAL: a device that closed the connection gives an error, not SIGPIPE.
        n = ::send(link.m_socket, frame.data(), kFrameSize, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

// Receives up to want bytes from the non-blocking socket; 0 when nothing is there.
int ReceiveSome(int socket, uint8_t* into, int want) {
    if (socket < 0) {
        return 0;
    }
    ssize_t n;
    do {
        n = ::recv(socket, into, static_cast<size_t>(want), 0);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<int>(n) : 0;
}

bool Pause(LinkConnection& link, int ms) {
    return platform::Sleep(ms, link.m_abort);
}

bool Aborted(const LinkConnection& link) {
    return link.m_abort != nullptr && link.m_abort->Requested();
}

}  // namespace

void SendCommand(LinkConnection& link, const uint8_t* frame, int delayMs) {
    if (frame == nullptr) {
        return;
    }
    const Frame copy = WithChecksum(frame);
    WriteFrame(link, copy);
    Pause(link, delayMs);
}

int QueryCommand(LinkConnection& link, const uint8_t* frame, uint8_t* reply, int limitMs) {
    if (frame == nullptr) {
        return 0;
    }
    const Frame copy = WithChecksum(frame);
    uint8_t readBuf[kFrameSize] = {};
    uint8_t assembly[kFrameSize] = {};
    int collected = 0;

    if (!WriteFrame(link, copy)) {
        return 0;
    }
    const int tries = limitMs / kTryMs;
    for (int t = 0; t < tries; ++t) {
        if (Aborted(link)) {
            return 0;
        }
        if (link.m_bSerial != 0) {
            const int n = link.m_serialPort.Read(readBuf);
            if (n == kFrameSize && collected == 0) {
                std::memcpy(reply, readBuf, kFrameSize);
                Pause(link, kAfterReplyMs);
                return kFrameSize;
            }
            if (n > 0) {
                // The assembly buffer never holds more than 13 bytes: of a piece that would carry
                // it past 13, only what fills it is kept and the surplus is dropped. The 13 bytes
                // collected are then judged by their leader, and the next query starts on an
                // empty line instead of on the leftovers of this one.
                const int take = n < kFrameSize - collected ? n : kFrameSize - collected;
                std::memcpy(assembly + collected, readBuf, static_cast<size_t>(take));
                std::memset(readBuf, 0, sizeof readBuf);
                collected += take;
                if (collected == kFrameSize) {
                    Pause(link, kAfterReplyMs);
                    if (assembly[0] != kLeader) {
                        return 0;
                    }
                    std::memcpy(reply, assembly, kFrameSize);
                    return kFrameSize;
                }
            }
        } else {
            // Serial-to-network converters forward a reply as it comes off the line, often in
            // several TCP segments. The first piece starts the reply; pieces arriving at the
            // following tries are joined to it, and a reply that stays short (no more data at
            // the next try, or no tries left) is taken with its missing bytes as 00.
            const int n = ReceiveSome(link.m_socket, assembly + collected, kFrameSize - collected);
            if (n > 0) {
                collected += n;
            }
            const bool complete = collected == kFrameSize;
            const bool stalled = collected > 0 && n == 0;
            const bool lastTry = t == tries - 1;
            if (complete || stalled || (collected > 0 && lastTry)) {
                std::memcpy(reply, assembly, kFrameSize);
                Pause(link, kAfterReplyMs);
                return kFrameSize;
            }
        }
        Pause(link, kTryMs);
    }
    return 0;
}

}  // namespace devlink
