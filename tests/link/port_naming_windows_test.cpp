// Port names on Windows: COMn is the system's own port unless Language.ini
// leads it elsewhere, a port name given as it stands is that port, and the
// serial device servers are named as elsewhere.
#include "link/port_naming.h"
#include "shell/ini_file.h"
#include "support/printers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::link::PortAddress;

TEST(WindowsPortNames, ComNamesThePortItselfAndServersKeepTheirForms) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM2", "rfc2217://gw:7000"));
    using K = PortAddress::Kind;
    // A name, its kind, its device or host, its TCP port and its label.
    const std::tuple<const char*, K, const char*, int, const char*> valid[] = {
        {"COM1", K::Device, "COM1", 0, "COM1"},
        {"com2", K::Rfc2217, "gw", 7000, "COM2"},
        {"COM8", K::Device, "COM8", 0, "COM8"},
        {"\\\\.\\COM12", K::Device, "COM12", 0, "\\\\.\\COM12"},
        {"tcp://10.0.0.7:4001", K::RawTcp, "10.0.0.7", 4001, "tcp://10.0.0.7:4001"},
        {"rfc2217://gw:7000", K::Rfc2217, "gw", 7000, "rfc2217://gw:7000"},
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
    const auto outside = kt::link::parsePortName("COM9", ini);
    ASSERT_FALSE(outside.ok());
    EXPECT_TRUE(outside.error().message.contains("COM1 to COM8"));
}

} // namespace
