// Opening a serial device server is a request like the others: it waits in
// the event loop, ends at its clock's limit, reports from the clock and is
// dropped by a close.
#include "link/tcp_port.h"
#include "sim/virtual_clock.h"
#include "support/wait_for.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

namespace {

using kt::link::SerialPort;
using kt::link::TcpPort;

TEST(ServerOpen, WaitsInTheLoopEndsAtItsLimitAndAClosingDropsIt) {
    struct Case {
        const char* name;
        bool listening;  // a server that takes the connection and never answers
        bool closeEarly; // the operator stops the open while it waits
        const char* says;
    };
    const Case cases[] = {
        {"a silent RFC 2217 server", true, false, "does not take serial settings by RFC 2217"},
        {"the same, stopped", true, true, nullptr},
        {"no server", false, false, "Connection refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        const quint16 address = server.serverPort();
        if (!c.listening)
            server.close();
        kt::sim::VirtualClock clock;
        TcpPort port;
        port.setTarget("127.0.0.1", address, true, c.name);
        ASSERT_TRUE(port.setSettings("19200,e,8,1"));
        std::optional<bool> opened;
        port.startOpen(clock, [&](bool ok) { opened = ok; });
        EXPECT_FALSE(opened.has_value()) << "reported inside the call";

        if (c.listening) {
            // The event loop goes on while the open waits: the server gets
            // the connection and the request for the settings.
            QTcpSocket* peer = nullptr;
            ASSERT_TRUE(kt::test::waitFor(
                [&] {
                    if (!peer && server.hasPendingConnections())
                        peer = server.nextPendingConnection();
                    return peer && peer->bytesAvailable() > 0;
                },
                5000));
            clock.runUntil(TcpPort::kConnectTimeoutMs - 1);
            EXPECT_TRUE(port.isOpening());
            EXPECT_FALSE(opened.has_value());
            if (c.closeEarly)
                port.close();
        } else {
            // A refusal ends the open before its limit, reported from the clock.
            EXPECT_TRUE(kt::test::waitFor(
                [&] {
                    clock.runUntil(0);
                    return opened.has_value();
                },
                5000));
        }
        clock.run();
        EXPECT_FALSE(port.isOpening());
        EXPECT_FALSE(port.isOpen());
        if (!c.says) {
            EXPECT_FALSE(opened.has_value());
            continue;
        }
        ASSERT_TRUE(opened.has_value());
        EXPECT_FALSE(*opened);
        EXPECT_EQ(port.openError(), SerialPort::OpenError::Server);
        EXPECT_TRUE(port.errorString().contains(c.says)) << port.errorString().toStdString();
    }
}

} // namespace
