#include "link/Link.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/Frame.h"
#include "link/ReplyAssembler.h"
#include "link/Trace.h"

namespace devlink {

namespace {

constexpr int kTryMs = 100;  // longest wait of one read attempt
// Bytes of one burst follow each other closely (a byte takes about 1 ms at 9600 baud).
constexpr int kBurstGapMs = 20;

bool PeerGone(int err) {
    return err == EPIPE || err == ECONNRESET || err == ENOTCONN || err == ECONNABORTED;
}

// Looks at the socket without taking anything from it: an end of stream or a reset waiting marks
// the peer as gone. Returns the look's error (0 when there was none).
int PeekPeer(LinkConnection& link) {
    uint8_t byte;
    ssize_t n;
    do {
        n = ::recv(link.m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    const int err = n < 0 ? errno : 0;
    if (n == 0 || (n < 0 && PeerGone(err))) {
        link.m_peerClosed = true;
    }
    return err;
}

// True when the device has closed the TCP connection (its end of stream or a reset is waiting):
// a frame written now would reach nobody, though the write itself would succeed.
bool PeerHasClosed(LinkConnection& link) {
    PeekPeer(link);
    return link.m_peerClosed;
}

// True when the device reset the connection: it closed it with our bytes unread (ECONNRESET),
// or it had closed it before they arrived, so its end of stream came first and the reset its
// system sends for bytes to a closed socket came after (EPIPE: a reset after the end of stream).
// An end of stream alone means the device read what was sent and then closed.
bool ResetSeen(LinkConnection& link) {
    const int err = PeekPeer(link);
    if (err == ECONNRESET || err == EPIPE) {
        return true;
    }
    // After an end of stream a read tells nothing more: the pending error is asked for.
    int pending = 0;
    socklen_t size = sizeof pending;
    if (::getsockopt(link.m_socket, SOL_SOCKET, SO_ERROR, &pending, &size) == 0 &&
        (pending == ECONNRESET || pending == EPIPE)) {
        link.m_peerClosed = true;
        return true;
    }
    return false;
}

// Writes the frame on the chosen transport; true when the whole frame went out.
bool WriteFrame(LinkConnection& link, const Frame& frame) {
    link.m_sendFailed = true;
    if (link.m_bSerial != 0) {
        link.m_sendFailed = link.m_serialPort.Write(frame.data()) != kFrameSize;
        return !link.m_sendFailed;
    }
    if (link.m_socket < 0 || PeerHasClosed(link)) {
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
    link.m_sendFailed = n != kFrameSize;
    return !link.m_sendFailed;
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

// Waits up to ms for the socket to have something to read (data, end of stream or an error);
// true when it has.
bool WaitReadable(int socket, int ms) {
    struct pollfd p {
        socket, POLLIN, 0
    };
    int r;
    do {
        r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0;
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
        total += static_cast<int>(n);
    }
    TraceDiscarded(total);
}

bool Pause(LinkConnection& link, int ms) {
    return platform::Sleep(ms, link.m_abort);
}

bool Aborted(const LinkConnection& link) {
    return link.m_abort != nullptr && link.m_abort->Requested();
}

// Throws away what waits on either transport.
void DiscardWaiting(LinkConnection& link) {
    if (link.m_bSerial != 0) {
        link.m_serialPort.Discard();
    } else {
        DiscardTcp(link);
    }
}

// Waits up to ms for input; true when something (or, on TCP, the end of the stream) is there.
bool WaitInput(LinkConnection& link, int want, int ms) {
    if (link.m_bSerial != 0) {
        return link.m_serialPort.WaitForBytes(want, ms) > 0;
    }
    return link.m_socket >= 0 && WaitReadable(link.m_socket, ms);
}

// Lets the line fall quiet: discards input until none has come for kQuietMs (at most
// kSettleMaxMs in all). False when the wait was aborted or the peer closed.
bool SettleLine(LinkConnection& link) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMaxMs);
    while (std::chrono::steady_clock::now() < end) {
        if (Aborted(link)) {
            return false;
        }
        const int slice = 50;
        bool heard = false;
        for (int waited = 0; waited < kQuietMs && !heard; waited += slice) {
            if (Aborted(link)) {
                return false;
            }
            heard = WaitInput(link, 1, slice);
        }
        if (!heard) {
            return true;
        }
        DiscardWaiting(link);
        if (link.m_bSerial == 0 && link.m_peerClosed) {
            return false;
        }
    }
    return true;
}

// One try's read: waits up to ms for the bytes still missing, then reads what has come.
int ReadTry(LinkConnection& link, uint8_t* readBuf, const ReplyAssembler& assembler, int ms) {
    if (link.m_bSerial != 0) {
        link.m_serialPort.WaitForBytes(assembler.Missing(), ms);
        return link.m_serialPort.Read(readBuf);
    }
    // Serial-to-network converters forward a reply as it comes off the line, often in several
    // TCP segments: they are joined.
    WaitReadable(link.m_socket, ms);
    return ReceiveSome(link, readBuf, assembler.Missing());
}

// After a whole frame came in: reads on while more follows within a few byte times, and keeps
// the last whole frame of the shape as got; earlier ones are traced as discarded.
void LastOfBurst(LinkConnection& link, const ReplyShape& shape, Frame& got) {
    const bool serial = link.m_bSerial != 0;
    ReplyAssembler next(serial);
    for (int guard = 0; guard < 400; ++guard) {
        if (!WaitInput(link, 1, kBurstGapMs)) {
            return;
        }
        uint8_t readBuf[kFrameSize] = {};
        const int n = ReadTry(link, readBuf, next, 0);
        if (n == 0 && (serial || link.m_peerClosed)) {
            return;
        }
        const ReplyAssembler::Step step = next.Feed(readBuf, n, false);
        if (step == ReplyAssembler::Step::kMore) {
            continue;
        }
        if (step == ReplyAssembler::Step::kReply && shape.Fits(next.Reply().data())) {
            TraceDiscarded(kFrameSize);
            got = next.Reply();
        }
        next = ReplyAssembler(serial);
    }
}

}  // namespace

int QuietLeftMs(const LinkConnection& link) {
    const int64_t left = link.m_quietUntilMs - platform::CurrentClock().NowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitQuiet(LinkConnection& link) {
    const int left = QuietLeftMs(link);
    return left == 0 || Pause(link, left);
}

bool SendCommand(LinkConnection& link, const uint8_t* frame, int delayMs) {
    if (frame == nullptr || !WaitQuiet(link)) {
        return false;
    }
    const Frame copy = WithChecksum(frame);
    const bool written = WriteFrame(link, copy);
    Pause(link, delayMs);
    if (written && link.m_bSerial == 0 && ResetSeen(link)) {
        // The device closed the connection without taking the frame: it answered with a reset.
        link.m_sendFailed = true;
        return false;
    }
    return written;
}

bool ReplyShape::Fits(const uint8_t* r) const {
    if (leader && r[0] != kLeader) {
        return false;
    }
    if (deviceId >= 0 && r[1] != static_cast<uint8_t>(deviceId)) {
        return false;
    }
    if (queryMarker && r[2] != kQueryCode) {
        return false;
    }
    return subCode < 0 || r[3] == static_cast<uint8_t>(subCode);
}

int QueryCommand(LinkConnection& link, const uint8_t* frame, uint8_t* reply, int limitMs) {
    return QueryCommand(link, frame, reply, limitMs, ReplyShape{});
}

int QueryCommand(LinkConnection& link, const uint8_t* frame, uint8_t* reply, int limitMs,
                 const ReplyShape& shape) {
    if (frame == nullptr) {
        return 0;
    }
    if (!WaitQuiet(link)) {
        return 0;
    }
    const Frame copy = WithChecksum(frame);
    const bool serial = link.m_bSerial != 0;
    ReportDiscarded();
    DiscardWaiting(link);
    // After a question that gave up, its answer may still be on the way: it must come, and be
    // thrown away, before this question goes out.
    const bool unsure = link.m_unanswered > 0;
    if (unsure && !SettleLine(link)) {
        return 0;
    }
    if (!WriteFrame(link, copy)) {
        return 0;
    }
    ReplyAssembler assembler(serial);
    const int tries = limitMs / kTryMs;
    for (int t = 0; t < tries; ++t) {
        if (Aborted(link)) {
            break;
        }
        uint8_t readBuf[kFrameSize] = {};
        const int n = ReadTry(link, readBuf, assembler, kTryMs);
        if (!serial && link.m_peerClosed) {
            return 0;
        }
        const ReplyAssembler::Step step = assembler.Feed(readBuf, n, t == tries - 1);
        if (step == ReplyAssembler::Step::kMore) {
            continue;
        }
        if (step == ReplyAssembler::Step::kRefused) {
            ++link.m_unanswered;  // torn or noise: the real answer may still come
            Pause(link, kAfterReplyMs);
            return 0;
        }
        Frame got = assembler.Reply();
        assembler = ReplyAssembler(serial);
        if (unsure) {
            // A backlog released at once: the newest answer is the last whole frame of it.
            LastOfBurst(link, shape, got);
        }
        if (!shape.Fits(got.data())) {
            TraceDiscarded(kFrameSize);  // an answer to some other question
            continue;
        }
        std::memcpy(reply, got.data(), kFrameSize);
        link.m_unanswered = 0;
        if (link.m_onReply) {
            link.m_onReply(reply);
        }
        if (link.m_owePauseAfterReply) {
            link.m_quietUntilMs = platform::CurrentClock().NowMs() + kAfterReplyMs;
        } else {
            Pause(link, kAfterReplyMs);
        }
        return kFrameSize;
    }
    ++link.m_unanswered;  // the frame went out: its answer may still come
    return 0;
}

}  // namespace devlink
