// Putting frames on the wire: SendCommand (send, then pause) and QueryCommand (send, then wait
// for one 13-byte reply), over the serial port or the TCP socket of a connection.
#pragma once

#include <cstdint>

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
};

// Sends frame (byte 12 replaced by the checksum in a private copy) and pauses delayMs.
// A null frame does nothing. The pause happens whether or not the write succeeded; the result
// tells whether the whole frame went out, for callers that must not report a switch that never
// left (most ignore it).
bool SendCommand(LinkConnection& link, const uint8_t* frame, int delayMs);

// Sends frame and waits up to limitMs (limitMs / 100 tries of up to 100 ms each) for a 13-byte
// reply. Input that was waiting before the frame went out belongs to no question and is
// discarded first. A try ends as soon as the reply's bytes are in, so the query returns within a
// few milliseconds of its reply (plus the 200 ms pause after it). Returns 13 with the reply
// stored, or 0 with reply untouched.
int QueryCommand(LinkConnection& link, const uint8_t* frame, uint8_t* reply, int limitMs);

}  // namespace devlink
