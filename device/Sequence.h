// What a dialog's link sequence (a readback, a Save, a resolution change, a mosaic Set) sees of
// the link. A sequence is a plain function of a SequenceLink: the window runs it off the UI
// thread with SequenceRunner, tests run it against a fake link. Each Send and Query holds the
// link for its own transaction, so the scheduler's switch may come between two, never inside one.
#pragma once

#include <cstdint>

#include "link/Frame.h"
#include "platform/Clock.h"

namespace app {

class Connection;

class SequenceLink {
public:
    virtual ~SequenceLink() = default;
    // Frame byte 1 of every command of the sequence.
    virtual uint8_t DeviceId() const = 0;
    // Sends frame, then pauses delayMs with the link held (the device's time to act). False when
    // the sequence was stopped (before the frame went out, or during the pause).
    virtual bool Send(const devlink::Frame& frame, int delayMs) = 0;
    // Asks and waits up to limitMs for the reply: 13 with reply filled, 0 otherwise (reply then
    // untouched). A stopped sequence gets 0 at once.
    virtual int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) = 0;
    // Pauses without holding the link; false when the sequence was stopped.
    virtual bool Pause(int ms) = 0;
    virtual bool Stopped() const = 0;
    // True once a frame of this sequence did not go out (a failed write, a connection the
    // device closed). A sequence that was stopped has not failed.
    bool Failed() const { return m_failed; }

protected:
    bool m_failed = false;
};

// The sequence link over the main window's connection. stop ends the sequence: a wait for the
// link, a query's tries and every pause give up at once.
class ConnectionSequenceLink : public SequenceLink {
public:
    ConnectionSequenceLink(Connection& connection, uint8_t deviceId, platform::StopFlag& stop)
        : m_connection(connection), m_deviceId(deviceId), m_stop(stop) {}

    uint8_t DeviceId() const override { return m_deviceId; }
    bool Send(const devlink::Frame& frame, int delayMs) override;
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override;
    bool Pause(int ms) override { return platform::Sleep(ms, &m_stop); }
    bool Stopped() const override { return m_stop.Requested(); }

private:
    Connection& m_connection;
    uint8_t m_deviceId;
    platform::StopFlag& m_stop;
};

}  // namespace app
