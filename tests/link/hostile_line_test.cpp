// A line that floods, a device server that breaks the telnet protocol or
// stops reading: the port keeps a bounded amount and drops the server.
#include "link/tcp_port.h"
#include "link/telnet_codec.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using kt::link::SerialPort;
using kt::link::TcpPort;
using kt::link::TelnetCodec;

constexpr unsigned char IAC = TelnetCodec::IAC, SB = TelnetCodec::SB, SE = TelnetCodec::SE,
                        DO = TelnetCodec::DO;

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

// A server on loopback that sends `greeting`, then `flood` again and again
// until it is stopped, and never reads.
class FloodServer {
  public:
    FloodServer(QByteArray greeting, QByteArray flood)
        : greeting_(std::move(greeting)), flood_(std::move(flood)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            bool ok = ::send(fd, greeting_.constData(), greeting_.size(), MSG_NOSIGNAL) >= 0;
            while (ok && !stop_)
                ok = ::send(fd, flood_.constData(), flood_.size(), MSG_NOSIGNAL) > 0;
            ::close(fd);
        });
    }
    ~FloodServer() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    quint16 port = 0;

  private:
    QByteArray greeting_;
    QByteArray flood_;
    int listener_ = -1;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

void runEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(HostileLine, AFloodWhileNobodyAsksKeepsOnlyTheNewestBytes) {
    FloodServer server({}, QByteArray(16384, 'g'));
    TcpPort port;
    port.setTarget("127.0.0.1", server.port, false, "flood");
    ASSERT_TRUE(port.setSettings("19200,e,8,1"));
    ASSERT_TRUE(port.open()) << port.errorString().toStdString();
    runEvents(500); // the port is open and idle: nothing reads it
    const QByteArray kept = port.readAll();
    EXPECT_GT(kept.size(), 0);
    EXPECT_LE(kept.size(), SerialPort::kMaxBuffered);
    EXPECT_TRUE(port.isOpen());
}

TEST(HostileLine, AServerThatBreaksTelnetOrStopsReadingIsALostPort) {
    const QByteArray acknowledged = bytes({IAC, SB, 44, 101, 0, 0, 0x4B, 0, IAC, SE});
    struct Case {
        const char* name;
        QByteArray flood;
        QByteArray sent; // written by the program meanwhile
    };
    const Case cases[] = {
        {"an endless subnegotiation", bytes({IAC, SB, 44}) + QByteArray(4096, 'x'), {}},
        {"a server that does not read", QByteArray(64, 'x'), QByteArray(8192, 'r')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FloodServer server(acknowledged, c.flood);
        TcpPort port;
        port.setTarget("127.0.0.1", server.port, true, "server");
        ASSERT_TRUE(port.setSettings("19200,e,8,1"));
        ASSERT_TRUE(port.open()) << port.errorString().toStdString();
        QSignalSpy lost(&port, &SerialPort::lost);
        QElapsedTimer elapsed;
        elapsed.start();
        while (lost.isEmpty() && elapsed.elapsed() < 5000) {
            if (!c.sent.isEmpty())
                port.write(c.sent);
            port.readAll();
            runEvents(5);
        }
        EXPECT_EQ(lost.size(), 1);
        EXPECT_FALSE(port.isOpen());
    }
}

} // namespace
