#include "link/frame.h"

#include <gtest/gtest.h>

namespace {

using namespace kt::link;

// CRC-16/ARC check values, framed texts of the worked example, and the
// tables fed with the Modbus initial value give the published CRC-16/MODBUS.
TEST(Crc, CheckValues) {
    const std::pair<QByteArray, const char*> cases[] = {
        {"123456789", "BB3D"},
        {"abc", "9738"},
        {"", "0000"},
        {"   ", "0000"},
        {" abc ", "9738"},
        {"\x01"
         "01DC\x02",
         "CDBF"},
        {"\x03"
         "01DC\x04",
         "2D3E"},
    };
    for (const auto& [text, crc] : cases)
        EXPECT_EQ(CRC16(text), crc) << text.toHex().constData();
    EXPECT_EQ(Hex4(10), "000A");
    EXPECT_EQ(Hex4(65535), "FFFF");
    EXPECT_EQ(Hex4(0), "0000");
    EXPECT_EQ(crcOfBytes("123456789", 0xFF, 0xFF), 0x4B37);
}

TEST(Frame, RequestFrameKeepsTheBlanksThatEndTheData) {
    EXPECT_EQ(buildRequestFrame(" 01DC"), QByteArray("\x01"
                                                     "01DC\x02"
                                                     "CDBF\r"));
    const QByteArray card = "01HA0001" + QByteArray(23, 'C') + ' ';
    EXPECT_EQ(buildRequestFrame(card),
              "\x01" + card + "\x02" + CRC16("\x01" + card + "\x02") + "\r");
}

// A reply frame for the given address, code and data with its right CRC.
QByteArray reply(const QByteArray& content, char end = EOT) {
    const QByteArray body = ETX + content + end;
    return body + CRC16(body) + CR;
}

TEST(Frame, ReplyCheck) {
    using V = ReplyVerdict;
    const QByteArray request = buildRequestFrame("01DC");
    const QByteArray good = reply("01DC0102ABCD");
    QByteArray lowerCase = reply("01DC");
    lowerCase.replace("2D3E", "2d3e");
    struct Case {
        const char* name;
        QByteArray received;
        ReplyVerdict verdict;
        QByteArray data;
    };
    const Case cases[] = {
        {"empty data field", reply("01DC"), V::Accepted, ""},
        {"data field", good, V::Accepted, "0102ABCD"},
        {"blanks around", "  " + good + "  ", V::Accepted, "0102ABCD"},
        {"garbage before ETX", "\x05\x7F garbage" + good, V::Accepted, "0102ABCD"},
        {"blanks inside data kept", reply("01DC 12 "), V::Accepted, " 12 "},
        // A reply is the request's only when it answers its command and
        // nothing follows it: the protocol carries no sequence number.
        {"a sound reply to another command", reply("01BC0102ABCD"), V::OtherCommand, ""},
        {"a second reply after the first CR", good + good, V::MoreAfterReply, ""},
        {"text after the first CR", good + "01DC\x04zz\r", V::MoreAfterReply, ""},
        {"lower-case CRC", lowerCase, V::BadCrc, ""},
        {"wrong address with right CRC", reply("02DC0102ABCD"), V::OtherAddress, ""},
        {"SO in the data",
         reply("01DC01\x0E"
               "02"),
         V::Unframed, ""},
        {"SO after the CR", good + "\x0E", V::Unframed, ""},
        {"no EOT", reply("01DC0102ABCD", 'X'), V::NoEot, ""},
        {"no CR", good.chopped(1), V::Unframed, ""},
        {"no ETX", good.mid(1), V::Unframed, ""},
        {"too short", reply("01"), V::Unframed, ""},
        {"CR before ETX", "\r" + good, V::Unframed, ""},
        {"nothing", "", V::Unframed, ""},
        {"blanks only", "    ", V::Unframed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReplyCheck check = checkReply(c.received, request);
        EXPECT_EQ(check.verdict, c.verdict) << verdictText(check.verdict);
        EXPECT_EQ(check.data, c.data);
    }
    // The cut frame replaces what was received.
    EXPECT_EQ(checkReply("junk" + good, request).frame, good);
    // Owed replies are found among stray bytes whatever their command, never
    // another address's or a damaged one.
    EXPECT_TRUE(holdsReplyFrom("\x7Fnoise" + reply("01HB0001ABC") + "tail", request));
    EXPECT_TRUE(holdsReplyFrom(reply("01D") + reply("01BA1X"), request));
    EXPECT_FALSE(holdsReplyFrom(reply("02DC") + lowerCase + good.chopped(1), request));
}

} // namespace
