// A line that floods, a device server that breaks the telnet protocol or
// stops reading: the port keeps a bounded amount and drops the server.
#include "link/tcp_port.h"
#include "link/telnet_codec.h"

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

constexpr unsigned char IAC = TelnetCodec::IAC, SB = TelnetCodec::SB, DO = TelnetCodec::DO;

QByteArray bytes(std::initializer_list<unsigned char> list) {
    QByteArray data;
    for (const unsigned char byte : list)
        data += char(byte);
    return data;
}

TEST(HostileLine, TelnetRepliesAndSubnegotiationsStayBounded) {
    TelnetCodec endless;
    EXPECT_EQ(endless.decode(bytes({'A', IAC, SB, 44}) + QByteArray(400, 'x')), "A");
    EXPECT_FALSE(endless.protocolError()); // long, but within what a server may send
    EXPECT_EQ(endless.decode(QByteArray(200, 'x') + "data"), "");
    EXPECT_TRUE(endless.protocolError());
    EXPECT_EQ(endless.decode("more data"), ""); // nothing is decoded after it

    TelnetCodec asking;
    QByteArray requests;
    for (int i = 0; i < 1000; ++i)
        requests += bytes({IAC, DO, 99, IAC, TelnetCodec::WILL, 98});
    EXPECT_EQ(asking.decode(requests + "ok"), "ok");
    EXPECT_EQ(asking.takeReplies(),
              bytes({IAC, TelnetCodec::WONT, 99, IAC, TelnetCodec::DONT, 98}));
    asking.decode(requests);
    EXPECT_EQ(asking.takeReplies(), ""); // refused once is enough
}

// The misbehaving device server of the tools, in one of its modes; it ends
// by itself.
class HostileServer {
  public:
    explicit HostileServer(const QString& mode) {
        process_.start(QStringLiteral(KT_HOSTILE_SERVER), {mode, QStringLiteral("20")});
        if (process_.waitForReadyRead(5000))
            port = quint16(process_.readLine().trimmed().toUInt());
    }
    ~HostileServer() {
        process_.kill();
        process_.waitForFinished();
    }
    quint16 port = 0;

  private:
    QProcess process_;
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
        ASSERT_TRUE(port.open()) << port.errorString().toStdString();
        QSignalSpy lost(&port, &SerialPort::lost);
        if (flood) {
            runEvents(500); // the port is open and idle: nothing reads it
            const QByteArray kept = port.readAll();
            EXPECT_GT(kept.size(), 0);
            EXPECT_LE(kept.size(), SerialPort::kMaxBuffered);
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
