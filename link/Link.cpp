#include "link/Link.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "link/Frame.h"

namespace devlink {

namespace {

constexpr int kTryMs = 100;         // longest wait of one read attempt
constexpr int kAfterReplyMs = 200;  // pause after a reply, before the next frame

bool PeerGone(int err) {
    return err == EPIPE || err == ECONNRESET || err == ENOTCONN || err == ECONNABORTED;
}

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
    if (n < 0 && PeerGone(errno)) {
        link.m_peerClosed = true;
    }
    return n > 0;
}

// Receives up to want bytes from the non-blocking socket; 0 when nothing is there. The end of
// the stream or a reset marks the peer as gone.
int ReceiveSome(LinkConnection& link, uint8_t* into, int want) {
    if (link.m_socket < 0) {
        return 0;
    }
    ssize_t n;
    do {
        n = ::recv(link.m_socket, into, static_cast<size_t>(want), 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0 || (n < 0 && PeerGone(errno))) {
        link.m_peerClosed = true;
    }
    return n > 0 ? static_cast<int>(n) : 0;
}

// Waits up to ms for the socket to have something to read (data, end of stream or an error).
void WaitReadable(int socket, int ms) {
    struct pollfd p {
        socket, POLLIN, 0
    };
    int r;
    do {
        r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
}

// Throws away what the socket holds before a question is put: a late reply to an earlier one,
// or a stray byte, would otherwise be read as this question's answer and shift every later one.
void DiscardTcp(LinkConnection& link) {
    uint8_t chunk[64];
    int total = 0;
    while (link.m_socket >= 0 && total < 4096) {
        ssize_t n;
        do {
            n = ::recv(link.m_socket, chunk, sizeof chunk, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n == 0 || (n < 0 && PeerGone(errno))) {
            link.m_peerClosed = true;
        }
        if (n <= 0) {
            break;
        }
        TraceDiscarded(chunk, static_cast<int>(n));
        total += static_cast<int>(n);
    }
}

bool Pause(LinkConnection& link, int ms) {
    return platform::Sleep(ms, link.m_abort);
}

bool Aborted(const LinkConnection& link) {
    return link.m_abort != nullptr && link.m_abort->Requested();
}

// One serial try: waits for the bytes still missing, then reads what has come.
int SerialTry(LinkConnection& link, uint8_t* readBuf, int collected) {
    link.m_serialPort.WaitForBytes(kFrameSize - collected, kTryMs);
    return link.m_serialPort.Read(readBuf);
}

}  // namespace

bool SendCommand(LinkConnection& link, const uint8_t* frame, int delayMs) {
    if (frame == nullptr) {
        return false;
    }
    const Frame copy = WithChecksum(frame);
    const bool written = WriteFrame(link, copy);
    Pause(link, delayMs);
    return written;
}

int QueryCommand(LinkConnection& link, const uint8_t* frame, uint8_t* reply, int limitMs) {
    if (frame == nullptr) {
        return 0;
    }
    const Frame copy = WithChecksum(frame);
    uint8_t readBuf[kFrameSize] = {};
    uint8_t assembly[kFrameSize] = {};
    int collected = 0;

    if (link.m_bSerial != 0) {
        link.m_serialPort.Discard();
    } else {
        DiscardTcp(link);
    }
    if (!WriteFrame(link, copy)) {
        return 0;
    }
    const int tries = limitMs / kTryMs;
    for (int t = 0; t < tries; ++t) {
        if (Aborted(link)) {
            return 0;
        }
        if (link.m_bSerial != 0) {
            const int n = SerialTry(link, readBuf, collected);
            if (n == kFrameSize) {
                // A whole frame in one read is that frame, even when a torn piece of another
                // was collected before it: the assembly never joins bytes of two replies.
                std::memcpy(reply, readBuf, kFrameSize);
                Pause(link, kAfterReplyMs);
                return kFrameSize;
            }
            if (n > 0) {
                // The assembly buffer never holds more than 13 bytes: of a piece that would carry
                // it past 13, only what fills it is kept and the surplus is dropped. The 13 bytes
                // collected are then judged by their leader.
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
            // several TCP segments. The first piece starts the reply; pieces arriving within the
            // following tries are joined to it, and a reply that stays short (no more data for a
            // whole try, or no tries left) is taken with its missing bytes as 00.
            WaitReadable(link.m_socket, kTryMs);
            const int n = ReceiveSome(link, assembly + collected, kFrameSize - collected);
            if (n > 0) {
                collected += n;
            }
            if (link.m_peerClosed) {
                return 0;
            }
            const bool complete = collected == kFrameSize;
            const bool stalled = collected > 0 && n == 0;
            const bool lastTry = t == tries - 1;
            if (complete || stalled || (collected > 0 && lastTry)) {
                std::memcpy(reply, assembly, kFrameSize);
                Pause(link, kAfterReplyMs);
                return kFrameSize;
            }
            if (n > 0) {
                continue;  // part of the reply is in: wait for the rest at once
            }
        }
    }
    return 0;
}

}  // namespace devlink
