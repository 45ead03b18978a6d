// Putting frames on the wire: SendCommand (send, then pause) and QueryCommand (send, then wait
// for one 13-byte reply), over the serial port or the TCP socket of a connection.
#pragma once

#include <cstdint>
#include <functional>

#include "link/SerialPort.h"
#include "platform/Clock.h"

namespace devlink {

// The transport part of the connection record the main window holds.
struct LinkConnection {
    int m_bSerial = 0;         // 1 serial, 0 network
    CSerialPort m_serialPort;  // used when m_bSerial is 1
    int m_socket = -1;         // non-blocking TCP socket, used when m_bSerial is 0
    // When raised, the pauses inside SendCommand and QueryCommand end at once (the frame already
    // written stays whole), so that a stop never waits for a long delay.
    platform::StopFlag* m_abort = nullptr;
    // Set when the device closed the TCP connection (end of stream, reset, broken pipe); stays
    // set until the socket is replaced.
    bool m_peerClosed = false;
    // Questions that gave up since a reply was last taken: their answers may still be on the
    // way. While it is not 0, a question first lets the line go quiet and, of replies that come
    // in one burst, takes the last. Zero it when the transport is opened anew.
    int m_unanswered = 0;
    // The last frame did not go out whole (a failed write, or a device that closed the TCP
    // connection before it).
    bool m_sendFailed = false;
    // When set, QueryCommand returns as soon as its reply is in and leaves the pause after the
    // reply (kAfterReplyMs) owed instead of sleeping it with the link held: the next frame on
    // this link waits for the rest of it (m_quietUntilMs), and a program that ends calls
    // WaitQuiet first. orn312ctl prints its answer at once; the poll thread sleeps the pause and
    // its rest in one.
    bool m_owePauseAfterReply = false;
    // No frame goes out before this moment (the clock in use, ms since the epoch).
    int64_t m_quietUntilMs = 0;
    // When set, a question's answer is handed here as soon as it is taken, before the pause
    // after it (the service passes it on to the client that asked without that wait).
    std::function<void(const uint8_t* reply)> m_onReply;
};

// Sleeps what is left of a pause owed after a reply (m_abort cuts it short: false).
bool WaitQuiet(LinkConnection& link);
// What is left of it, in ms (0 when nothing is owed).
int QuietLeftMs(const LinkConnection& link);
// Nothing can go through the link until it is opened anew: the device closed the TCP connection,
// or the serial line went away (an adapter pulled).
inline bool LinkGone(const LinkConnection& link) {
    return link.m_bSerial != 0 ? link.m_serialPort.Gone() : link.m_peerClosed;
}

// What the answer to a question must look like. A frame of another shape is not this question's
// answer: it is passed over (traced) and the question keeps waiting for its own.
struct ReplyShape {
    bool leader = false;       // byte 0 is 0x05
    int deviceId = -1;         // byte 1 (-1: any)
    bool queryMarker = false;  // byte 2 is 0xFE
    int subCode = -1;          // byte 3 echoes the question's sub-code (-1: not looked at)
    bool Fits(const uint8_t* reply) const;
};

// The shape every query of a device's own settings gets back: 05, the device ID, FE.
inline ReplyShape QueryReplyShape(uint8_t deviceId) {
    return ReplyShape{true, deviceId, true, -1};
}

// Sends frame (byte 12 replaced by the checksum in a private copy) and pauses delayMs. A pause
// still owed after a reply is waited out first; when m_abort cuts that wait, nothing is sent.
// A null frame does nothing. The pause happens whether or not the write succeeded; the result
// tells whether the whole frame went out, for callers that must not report a switch that never
// left (most ignore it).
bool SendCommand(LinkConnection& link, const uint8_t* frame, int delayMs);

// Sends frame and waits up to limitMs (limitMs / 100 tries of up to 100 ms each) for a 13-byte
// reply. Input that was waiting before the frame went out belongs to no question and is
// discarded first. A try ends as soon as the reply's bytes are in, so the query returns within a
// few milliseconds of its reply (plus the pause after it, kAfterReplyMs, unless the caller keeps
// that). Returns 13 with the reply stored, or 0 with reply untouched.
//
// An answer to a question that gave up is never returned for a later one: after a question gave
// up, the next first waits until the line has been quiet for kQuietMs (what comes meanwhile is
// discarded), and when several replies then come in one burst (a device releasing its backlog)
// the last is taken, the answer to the newest question.
int QueryCommand(LinkConnection& link, const uint8_t* frame, uint8_t* reply, int limitMs);
// The same, taking only a reply of the given shape.
int QueryCommand(LinkConnection& link, const uint8_t* frame, uint8_t* reply, int limitMs,
                 const ReplyShape& shape);

// The identification answer starts FE FE; what follows is judged by the handshake.
inline ReplyShape IdentifyReplyShape() {
    return ReplyShape{false, -1, true, 0xFE};
}

// The processor's pause after a reply, before it takes the next frame. QueryCommand keeps it
// with the link held, or leaves it owed (m_owePauseAfterReply).
constexpr int kAfterReplyMs = 200;

// How long the line must stay quiet before a question that follows one that gave up, and the
// longest such a wait may take (a line that never falls quiet).
constexpr int kQuietMs = 300;
constexpr int kSettleMaxMs = 3000;

}  // namespace devlink
