#include "link/port_settings.h"

#include <gtest/gtest.h>

namespace {

using kt::link::parsePortSettings;
using kt::link::PortSettings;

// Each field is read, blanks and case aside; a text with more, less or else names the part.
TEST(PortSettings, StrictParsing) {
    using P = PortSettings::Parity;
    using S = PortSettings::StopBits;
    const std::tuple<const char*, int, P, int, S> valid[] = {
        {"19200,e,8,1", 19200, P::Even, 8, S::One},
        {" 9600, N ,7,2 ", 9600, P::None, 7, S::Two},
        {"1200,o,5,1.5", 1200, P::Odd, 5, S::OneAndHalf},
        {"115200,m,6,1", 115200, P::Mark, 6, S::One},
        {"38400,s,8,1", 38400, P::Space, 8, S::One}};
    for (const auto& [text, baud, parity, dataBits, stopBits] : valid) {
        SCOPED_TRACE(text);
        const auto s = parsePortSettings(text);
        ASSERT_TRUE(s.ok()) << s.error().message.toStdString();
        EXPECT_EQ(std::tie(s->baudRate, s->parity, s->dataBits, s->stopBits),
                  std::tie(baud, parity, dataBits, stopBits));
    }
    // A bad text, and a part of its description.
    const std::pair<const char*, const char*> invalid[] = {
        {"19200,e,8", "expected"},    {"19200,e,8,1,x", "expected"}, {"", "expected"},
        {"fast,e,8,1", "baud"},       {"-9600,e,8,1", "baud"},       {"0,e,8,1", "baud"},
        {"19200,even,8,1", "parity"}, {"19200,e,9,1", "data bits"},  {"19200,e,4,1", "data bits"},
        {"19200,e,8,3", "stop bits"}, {"19200,e,8,1.0", "stop bits"}};
    for (const auto& [text, names] : invalid) {
        const auto s = parsePortSettings(text);
        ASSERT_FALSE(s.ok()) << text;
        EXPECT_TRUE(s.error().message.contains(names)) << s.error().message.toStdString();
    }
}

} // namespace
