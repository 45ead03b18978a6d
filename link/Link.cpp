#include "link/Link.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "link/Frame.h"
#include "link/ReplyAssembler.h"

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
    const bool serial = link.m_bSerial != 0;
    if (serial) {
        link.m_serialPort.Discard();
    } else {
        DiscardTcp(link);
    }
    if (!WriteFrame(link, copy)) {
        return 0;
    }
    ReplyAssembler assembler(serial);
    const int tries = limitMs / kTryMs;
    for (int t = 0; t < tries; ++t) {
        if (Aborted(link)) {
            return 0;
        }
        uint8_t readBuf[kFrameSize] = {};
        int n;
        if (serial) {
            n = SerialTry(link, readBuf, assembler.Collected());
        } else {
            // Serial-to-network converters forward a reply as it comes off the line, often in
            // several TCP segments: they are joined.
            WaitReadable(link.m_socket, kTryMs);
            n = ReceiveSome(link, readBuf, assembler.Missing());
            if (link.m_peerClosed) {
                return 0;
            }
        }
        switch (assembler.Feed(readBuf, n, t == tries - 1)) {
            case ReplyAssembler::Step::kReply:
                std::memcpy(reply, assembler.Reply().data(), kFrameSize);
                Pause(link, kAfterReplyMs);
                return kFrameSize;
            case ReplyAssembler::Step::kRefused:
                Pause(link, kAfterReplyMs);
                return 0;
            case ReplyAssembler::Step::kMore:
                break;
        }
    }
    return 0;
}

}  // namespace devlink
