#include "link/port_settings.h"

#include <gtest/gtest.h>

namespace {

using kt::link::parsePortSettings;
using kt::link::PortSettings;

TEST(PortSettings, StrictParsing) {
    struct Case {
        const char* text;
        bool valid;
        int baud;
        PortSettings::Parity parity;
        int dataBits;
        PortSettings::StopBits stopBits;
        const char* errorNames; // part of the description of a bad text
    };
    using P = PortSettings::Parity;
    using S = PortSettings::StopBits;
    const Case cases[] = {
        {"19200,e,8,1", true, 19200, P::Even, 8, S::One, ""},
        {" 9600, N ,7,2 ", true, 9600, P::None, 7, S::Two, ""},
        {"1200,o,5,1.5", true, 1200, P::Odd, 5, S::OneAndHalf, ""},
        {"115200,m,6,1", true, 115200, P::Mark, 6, S::One, ""},
        {"38400,s,8,1", true, 38400, P::Space, 8, S::One, ""},
        {"19200,e,8", false, 0, P::None, 0, S::One, "expected"},
        {"19200,e,8,1,x", false, 0, P::None, 0, S::One, "expected"},
        {"", false, 0, P::None, 0, S::One, "expected"},
        {"fast,e,8,1", false, 0, P::None, 0, S::One, "baud"},
        {"-9600,e,8,1", false, 0, P::None, 0, S::One, "baud"},
        {"0,e,8,1", false, 0, P::None, 0, S::One, "baud"},
        {"19200,even,8,1", false, 0, P::None, 0, S::One, "parity"},
        {"19200,e,9,1", false, 0, P::None, 0, S::One, "data bits"},
        {"19200,e,4,1", false, 0, P::None, 0, S::One, "data bits"},
        {"19200,e,8,3", false, 0, P::None, 0, S::One, "stop bits"},
        {"19200,e,8,1.0", false, 0, P::None, 0, S::One, "stop bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto s = parsePortSettings(c.text);
        ASSERT_EQ(s.ok(), c.valid);
        if (c.valid) {
            EXPECT_EQ(s->baudRate, c.baud);
            EXPECT_EQ(s->parity, c.parity);
            EXPECT_EQ(s->dataBits, c.dataBits);
            EXPECT_EQ(s->stopBits, c.stopBits);
        } else {
            EXPECT_TRUE(s.error().message.contains(c.errorNames))
                << s.error().message.toStdString();
        }
    }
}

} // namespace
