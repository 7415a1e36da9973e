// Port names in every form, and the telnet side of RFC 2217 servers.
#include "link/port_naming.h"
#include "link/telnet_codec.h"
#include "shell/ini_file.h"
#include "support/printers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::link::PortAddress;
using kt::link::TelnetCodec;

TEST(PortNames, EachFormNamesItsLine) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "tcp://10.0.0.7:4001");
    kt::shell::WriteIni(ini, "COMMUNICATION", "COM5", "/dev/serial/by-id/usb-FTDI-if00");
    kt::shell::WriteIni(ini, "COMMUNICATION", "COM6", "tcp://no-port");
    using K = PortAddress::Kind;
    struct Case {
        const char* name;
        bool valid;
        K kind;
        const char* deviceOrHost;
        int tcpPort;
        const char* label; // or a part of the error
    };
    const Case cases[] = {
        {"COM3", true, K::RawTcp, "10.0.0.7", 4001, "COM3"},
        {"com5", true, K::Device, "/dev/serial/by-id/usb-FTDI-if00", 0, "COM5"},
        {"COM2", true, K::Device, "/dev/ttyS1", 0, "COM2"},
        {" /dev/ttyUSB0 ", true, K::Device, "/dev/ttyUSB0", 0, "/dev/ttyUSB0"},
        {"socket://controller-7:4001", true, K::RawTcp, "controller-7", 4001,
         "socket://controller-7:4001"},
        {"RFC2217://127.0.0.1:7000", true, K::Rfc2217, "127.0.0.1", 7000,
         "RFC2217://127.0.0.1:7000"},
        {"tcp://[::1]:4001", true, K::RawTcp, "::1", 4001, "tcp://[::1]:4001"},
        {"COM9", false, K::Device, "", 0, "COM1 to COM8"},
        {"COM6", false, K::Device, "", 0, "COM6 in Language.ini"},
        {"tcp://host:70000", false, K::Device, "", 0, "1 to 65535"},
        {"telnet://host:23", false, K::Device, "", 0, "rfc2217://"},
        {"", false, K::Device, "", 0, "No port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto address = kt::link::parsePortName(c.name, ini);
        ASSERT_EQ(address.ok(), c.valid) << address.error().message.toStdString();
        if (!c.valid) {
            EXPECT_TRUE(address.error().message.contains(c.label))
                << address.error().message.toStdString();
            continue;
        }
        EXPECT_EQ(address->kind, c.kind);
        EXPECT_EQ(c.kind == K::Device ? address->device : address->host, c.deviceOrHost);
        EXPECT_EQ(address->tcpPort, c.tcpPort);
        EXPECT_EQ(address->label, c.label);
    }
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
