// Helpers of the measuring programs: local time of day, the simulator's log (BenchLog.h), the
// event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <string>

#include "BenchLog.h"
#include "device/Connection.h"

namespace bench {

// The connection's reports go nowhere: the benches open the transport themselves, without the
// identification (a silent device would fail it).
struct QuietSink : app::ConnectionSink {
    void InfoText(app::LinkText) override {}
    void InfoRaw(const std::string&) override {}
    void PortOutOfRange() override {}
    void ConnectFinished(bool) override {}
    void SwitchControlsEnabled(bool) override {}
    void StatusReply(const devlink::Frame&) override {}
    void LampsVisible(const std::vector<int>&, bool) override {}
};

// Opens connection's transport to the simulator listening on 127.0.0.1:port.
inline void OpenLoopback(app::Connection& connection, int port) {
    app::ConnectSettings settings;
    settings.ipText = "127.0.0.1";
    settings.portText = std::to_string(port);
    connection.OpenLink(settings);
}

// Runs the event loop for ms milliseconds.
inline void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace bench
