// Port names in every form, the group a denied device names, and the
// telnet side of RFC 2217 servers.
#include "link/port_naming.h"
#include "link/qt_serial_port.h"
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

// The job log names a port as it was chosen and the line behind it.
TEST(PortNames, TheLogNamesThePortAsChosenAndItsLine) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM1", "/dev/ttyUSB0"));
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "tcp://gw:4001"));
    QFile(dir.filePath("here.tty")).open(QIODevice::WriteOnly);
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const std::pair<const char*, QString> cases[] = {
        {"COM1", "COM1 (/dev/ttyUSB0)"},
        {"com3", "COM3 (tcp://gw:4001)"},
        {"COM2", "COM2 (/dev/ttyS1)"},
        {" /dev/ttyUSB1 ", "/dev/ttyUSB1"},
        {"tcp://gw:4001", "tcp://gw:4001"},
        {"here.tty", "here.tty (" + dir.filePath("here.tty") + ")"},
        {"COM9", "COM9"},
    };
    for (const auto& [name, logged] : cases)
        EXPECT_EQ(kt::link::portAndLine(name, ini), logged) << name;
    QDir::setCurrent(before);
}

TEST(PortNames, EachFormNamesItsLine) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "tcp://10.0.0.7:4001"));
    EXPECT_TRUE(
        kt::shell::WriteIni(ini, "COMMUNICATION", "COM5", "/dev/serial/by-id/usb-FTDI-if00"));
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM6", "tcp://no-port"));
    using K = PortAddress::Kind;
    // A name, its kind, its device or host, its TCP port and its label.
    const std::tuple<const char*, K, const char*, int, const char*> valid[] = {
        {"COM3", K::RawTcp, "10.0.0.7", 4001, "COM3"},
        {"com5", K::Device, "/dev/serial/by-id/usb-FTDI-if00", 0, "COM5"},
        {"COM2", K::Device, "/dev/ttyS1", 0, "COM2"},
        {" /dev/ttyUSB0 ", K::Device, "/dev/ttyUSB0", 0, "/dev/ttyUSB0"},
        {"socket://controller-7:4001", K::RawTcp, "controller-7", 4001,
         "socket://controller-7:4001"},
        {"RFC2217://127.0.0.1:7000", K::Rfc2217, "127.0.0.1", 7000, "RFC2217://127.0.0.1:7000"},
        {"tcp://[::1]:4001", K::RawTcp, "::1", 4001, "tcp://[::1]:4001"},
    };
    for (const auto& [name, kind, deviceOrHost, tcpPort, label] : valid) {
        SCOPED_TRACE(name);
        const auto address = kt::link::parsePortName(name, ini);
        ASSERT_TRUE(address.ok()) << address.error().message.toStdString();
        EXPECT_EQ(address->kind, kind);
        EXPECT_EQ(kind == K::Device ? address->device : address->host, deviceOrHost);
        EXPECT_EQ(address->tcpPort, tcpPort);
        EXPECT_EQ(address->label, label);
    }
    // A bad name and a part of what is said about it.
    const std::pair<const char*, const char*> invalid[] = {{"COM9", "COM1 to COM8"},
                                                           {"COM6", "COM6 in Language.ini"},
                                                           {"tcp://host:70000", "1 to 65535"},
                                                           {"telnet://host:23", "rfc2217://"},
                                                           {"", "No port"}};
    for (const auto& [name, error] : invalid) {
        const auto address = kt::link::parsePortName(name, ini);
        ASSERT_FALSE(address.ok()) << name;
        EXPECT_TRUE(address.error().message.contains(error))
            << address.error().message.toStdString();
    }
}

// Joining a group is advised only when that group may use the device and
// is not root's own.
TEST(PortNames, ADeniedDeviceNamesAGroupOnlyWhenJoiningItHelps) {
    using P = QFile::Permission;
    const QFile::Permissions groupRw = P::ReadOwner | P::WriteOwner | P::ReadGroup | P::WriteGroup;
    const struct {
        const char* group;
        QFile::Permissions permissions;
        const char* advised;
    } cases[] = {
        {"dialout", groupRw, "dialout"},
        {"root", groupRw, ""},
        {"dialout", P::ReadOwner | P::WriteOwner | P::ReadGroup, ""},
        {"", groupRw, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kt::link::groupToJoin(c.group, c.permissions), c.advised) << c.group;
}

TEST(Telnet, OpeningSetsTheSerialSideAndEscapesIac) {
    kt::link::PortSettings settings;
    settings.baudRate = 0x0001FF00; // a baud rate with a 255 byte, escaped in the value
    settings.parity = kt::link::PortSettings::Parity::Odd;
    settings.dataBits = 7;
    settings.stopBits = kt::link::PortSettings::StopBits::Two;
    const QByteArray opening = TelnetCodec::opening(settings);
    EXPECT_TRUE(opening.startsWith(QByteArray::fromHex("fffb00fffd00fffb03fffd03fffb2c")));
    EXPECT_TRUE(opening.contains(QByteArray::fromHex("fffa2c0100"
                                                     "01ffff00"
                                                     "fff0")));
    EXPECT_TRUE(opening.contains(QByteArray::fromHex("fffa2c0207fff0")));
    EXPECT_TRUE(opening.contains(QByteArray::fromHex("fffa2c0302fff0")));
    EXPECT_TRUE(opening.contains(QByteArray::fromHex("fffa2c0402fff0")));
    EXPECT_EQ(TelnetCodec::escape(QByteArray::fromHex("01ff02ffff")),
              QByteArray::fromHex("01ffff02ffffffff"));
}

TEST(Telnet, DecodingTakesTheServersCommandsOutOfTheData) {
    TelnetCodec codec;
    // Data with an escaped 255, the server's answers to the negotiation, an
    // option it offers that the program refuses, and the settings' echo,
    // cut into pieces at awkward places.
    const QByteArray stream = QByteArray::fromHex("03ffff41"
                                                  "fffd2c"
                                                  "fffb01"
                                                  "42"
                                                  "fffa2c65ffff0000fff0"
                                                  "0d");
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
