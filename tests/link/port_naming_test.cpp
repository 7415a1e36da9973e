// Port names in every form, the group a denied device names, and the
// telnet side of RFC 2217 servers.
#include "link/device_port.h"
#include "link/port_naming.h"
#include "link/telnet_codec.h"
#include "shell/ini_file.h"
#include "support/printers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::link::PortAddress;
using kt::link::TelnetCodec;

// Each form of a port name gives its line, and the job log names the port
// as it was chosen and the line behind it; a bad name says what is wrong.
TEST(PortNames, EachFormNamesItsLine) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM1", "/dev/ttyUSB0"));
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "tcp://10.0.0.7:4001"));
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM5", "/dev/serial/by-id/usb-if00"));
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM6", "tcp://no-port"));
    ASSERT_TRUE(QFile(dir.filePath("here.tty")).open(QIODevice::WriteOnly));
    const struct InFolder {
        QString before = QDir::currentPath();
        ~InFolder() { QDir::setCurrent(before); }
    } restore;
    QDir::setCurrent(dir.path());
    using K = PortAddress::Kind;
    // A name, its kind, its device or host, its TCP port and how the log
    // names it.
    const std::tuple<const char*, K, QString, int, QString> valid[] = {
        {"COM1", K::Device, "/dev/ttyUSB0", 0, "COM1 (/dev/ttyUSB0)"},
        {"com3", K::RawTcp, "10.0.0.7", 4001, "COM3 (tcp://10.0.0.7:4001)"},
        {"com5", K::Device, "/dev/serial/by-id/usb-if00", 0, "COM5 (/dev/serial/by-id/usb-if00)"},
        {"COM2", K::Device, "/dev/ttyS1", 0, "COM2 (/dev/ttyS1)"},
        {" /dev/ttyUSB1 ", K::Device, "/dev/ttyUSB1", 0, "/dev/ttyUSB1"},
        {"here.tty", K::Device, dir.filePath("here.tty"), 0,
         "here.tty (" + dir.filePath("here.tty") + ")"},
        {"socket://gw-7:4001", K::RawTcp, "gw-7", 4001, "socket://gw-7:4001"},
        {"RFC2217://127.0.0.1:7000", K::Rfc2217, "127.0.0.1", 7000, "RFC2217://127.0.0.1:7000"},
        {"tcp://[::1]:4001", K::RawTcp, "::1", 4001, "tcp://[::1]:4001"},
    };
    for (const auto& [name, kind, deviceOrHost, tcpPort, logged] : valid) {
        SCOPED_TRACE(name);
        const auto address = kt::link::parsePortName(name, ini);
        ASSERT_TRUE(address.ok()) << address.error().message.toStdString();
        EXPECT_EQ(address->kind, kind);
        EXPECT_EQ(kind == K::Device ? address->device : address->host, deviceOrHost);
        EXPECT_EQ(address->tcpPort, tcpPort);
        EXPECT_EQ(kt::link::portAndLine(name, ini), logged);
    }
    // A bad name, a part of what is said about it; the log names it as given.
    const std::pair<const char*, const char*> invalid[] = {{"COM9", "COM1 to COM8"},
                                                           {"COM6", "COM6 in Language.ini"},
                                                           {"tcp://host:70000", "1 to 65535"},
                                                           {"telnet://host:23", "rfc2217://"},
                                                           {"", "No port"}};
    for (const auto& [name, error] : invalid) {
        SCOPED_TRACE(name);
        const auto address = kt::link::parsePortName(name, ini);
        ASSERT_FALSE(address.ok());
        EXPECT_TRUE(address.error().message.contains(error))
            << address.error().message.toStdString();
        EXPECT_EQ(kt::link::portAndLine(name, ini), name);
    }
}

// Joining a group is advised only when that group may use the device and
// is not root's own.
TEST(PortNames, ADeniedDeviceNamesAGroupOnlyWhenJoiningItHelps) {
    using P = QFile::Permission;
    const QFile::Permissions groupRw = P::ReadOwner | P::WriteOwner | P::ReadGroup | P::WriteGroup;
    const std::tuple<const char*, QFile::Permissions, const char*> cases[] = {
        {"dialout", groupRw, "dialout"},
        {"root", groupRw, ""},
        {"dialout", P::ReadOwner | P::WriteOwner | P::ReadGroup, ""},
        {"", groupRw, ""},
    };
    for (const auto& [group, permissions, advised] : cases)
        EXPECT_EQ(kt::link::groupToJoin(group, permissions), advised) << group;
}

// The opening sets the serial side, 255 escaped in values and data; the
// server's commands are taken out of what it sends, however it is cut.
TEST(Telnet, CommandsAndDataStayApartBothWays) {
    // A baud rate of 0x0001FF00: its 255 byte is escaped in the value.
    const auto settings = kt::link::parsePortSettings("130816,o,7,2");
    ASSERT_TRUE(settings.ok());
    const QByteArray opening = TelnetCodec::opening(*settings);
    EXPECT_TRUE(opening.startsWith(QByteArray::fromHex("fffb00fffd00fffb03fffd03fffb2c")));
    // The baud rate, data bits, parity and stop bits.
    for (const char* part :
         {"fffa2c010001ffff00fff0", "fffa2c0207fff0", "fffa2c0302fff0", "fffa2c0402fff0"})
        EXPECT_TRUE(opening.contains(QByteArray::fromHex(part))) << part;
    EXPECT_EQ(TelnetCodec::escape(QByteArray::fromHex("01ff02ffff")),
              QByteArray::fromHex("01ffff02ffffffff"));

    TelnetCodec codec;
    // Data with an escaped 255, the server's answers to the negotiation, an
    // option it offers that the program refuses, and the settings' echo.
    const QByteArray stream =
        QByteArray::fromHex("03ffff41 fffd2c fffb01 42 fffa2c65ffff0000fff0 0d");
    QByteArray data;
    for (qsizetype at = 0; at < stream.size(); at += 3)
        data += codec.decode(stream.mid(at, 3));
    EXPECT_EQ(data, QByteArray::fromHex("03ff41420d"));
    EXPECT_EQ(codec.takeReplies(), QByteArray::fromHex("fffe01")); // DONT echo
    EXPECT_TRUE(codec.settingsAcknowledged());
    EXPECT_FALSE(codec.refusedComPort());
    codec.decode(QByteArray::fromHex("fffe2c"));
    EXPECT_TRUE(codec.refusedComPort());
}

} // namespace
