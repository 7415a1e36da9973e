// A line that floods, a device server that breaks the telnet protocol or
// stops reading: the port keeps a bounded amount and drops the server.
#include "link/tcp_port.h"
#include "link/telnet_codec.h"
#include "support/open_port.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using kt::link::SerialPort;
using kt::link::TcpPort;
using kt::link::TelnetCodec;

// A subnegotiation that never ends is a protocol error once it outgrows
// what a server may send; a flood of option requests is refused once.
TEST(HostileLine, TelnetRepliesAndSubnegotiationsStayBounded) {
    TelnetCodec endless;
    EXPECT_EQ(endless.decode("A" + QByteArray::fromHex("fffa2c") + QByteArray(400, 'x')), "A");
    EXPECT_FALSE(endless.protocolError()); // long, but within what a server may send
    EXPECT_EQ(endless.decode(QByteArray(200, 'x') + "data"), "");
    EXPECT_TRUE(endless.protocolError());
    EXPECT_EQ(endless.decode("more data"), ""); // nothing is decoded after it

    TelnetCodec asking;
    const QByteArray requests = QByteArray::fromHex("fffd63fffb62").repeated(1000); // DO, WILL
    EXPECT_EQ(asking.decode(requests + "ok"), "ok");
    EXPECT_EQ(asking.takeReplies(), QByteArray::fromHex("fffc63fffe62")); // WONT, DONT
    asking.decode(requests);
    EXPECT_EQ(asking.takeReplies(), ""); // refused once is enough
}

// The misbehaving device server of the tools, in one of its modes; it ends
// by itself.
struct HostileServer {
    explicit HostileServer(const QString& mode) {
        process.start(QStringLiteral(KT_HOSTILE_SERVER), {mode, QStringLiteral("20")});
        if (process.waitForReadyRead(5000))
            port = quint16(process.readLine().trimmed().toUInt());
    }
    ~HostileServer() {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
    quint16 port = 0;
};

void runEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A flood while nobody asks keeps only the newest bytes; a server that
// breaks the telnet protocol or stops reading is a lost port.
TEST(HostileLine, AFloodKeepsTheNewestBytesAndABrokenServerIsALostPort) {
    for (const char* mode : {"flood", "endless-sb", "do-no-read"}) {
        SCOPED_TRACE(mode);
        const bool flood = qstrcmp(mode, "flood") == 0;
        HostileServer server(mode);
        TcpPort port;
        port.setTarget("127.0.0.1", server.port, !flood, mode);
        ASSERT_TRUE(port.setSettings("19200,e,8,1"));
        ASSERT_TRUE(kt::test::openPort(port)) << port.errorString().toStdString();
        QSignalSpy lost(&port, &SerialPort::lost);
        if (flood) {
            // The port is open and idle: nothing reads it while the flood
            // comes, from its first bytes on, however busy the machine is.
            QSignalSpy arrived(&port, &SerialPort::arrived);
            QElapsedTimer waited;
            waited.start();
            while (arrived.isEmpty() && waited.elapsed() < 10000)
                runEvents(20);
            runEvents(500);
            const qsizetype kept = port.readAll().size();
            EXPECT_TRUE(kept > 0 && kept <= SerialPort::kMaxBuffered) << kept;
        }
        QElapsedTimer elapsed;
        elapsed.start();
        // The program writes on, as a job would, and takes what arrives.
        while (!flood && lost.isEmpty() && elapsed.elapsed() < 10000) {
            port.write(QByteArray(8192, 'r'));
            port.readAll();
            runEvents(5);
        }
        EXPECT_EQ(lost.size(), flood ? 0 : 1);
        EXPECT_EQ(port.isOpen(), flood);
    }
}

} // namespace
