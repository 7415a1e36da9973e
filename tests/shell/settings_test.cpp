#include "shell/ini_file.h"
#include "shell/settings.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::shell::ReadIni;
using kt::shell::readSettings;
using kt::shell::WriteIni;

struct StoredValues {
    const char* comPort;
    const char* protocol;
    const char* txDelay;
    const char* rxDelay;
    const char* rxTimeOut;
    const char* language;
};

struct Expected {
    int comPort;
    const char* protocol;
    float txDelay;
    float rxDelay;
    float rxTimeOut;
    int language;
};

TEST(Settings, DefaultsAndLimitsApplyToStoredValues) {
    struct Case {
        StoredValues stored; // nullptr: key missing
        Expected expected;
    };
    const Case cases[] = {
        {{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
         {2, "19200,e,8,1", 10, 10, 200, 0}},
        {{"", "   ", "abc", "", "", ""}, {2, "19200,e,8,1", 10, 10, 200, 0}},
        {{"0", " 9600,n,8,1 ", "5", "150", "50", "1"}, {2, "9600,n,8,1", 10, 100, 200, 1}},
        {{"5", "19200,e,8,1", "12.5", "100", "1500", "2"}, {5, "19200,e,8,1", 12.5f, 100, 1000, 2}},
        {{"8", nullptr, "10", "10.25", "600", "3"}, {8, "19200,e,8,1", 10, 10.25f, 600, 0}},
        {{"9", nullptr, "99.5x", "20ms", "200", "-1"}, {2, "19200,e,8,1", 99.5f, 20, 200, 0}},
        {{"3abc", nullptr, "-20", "1e3", "1000", "1.6"}, {3, "19200,e,8,1", 10, 10, 1000, 2}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString ini = dir.filePath("Language.ini");
        const auto put = [&](const char* section, const char* key, const char* value) {
            if (value) {
                ASSERT_TRUE(WriteIni(ini, section, key, value));
            }
        };
        put("COMMUNICATION", "ComPort", c.stored.comPort);
        put("COMMUNICATION", "Protocol", c.stored.protocol);
        put("COMMUNICATION", "TXDelayTime", c.stored.txDelay);
        put("COMMUNICATION", "RXDelayTime", c.stored.rxDelay);
        put("COMMUNICATION", "RXTimeOut", c.stored.rxTimeOut);
        put("System", "Language", c.stored.language);

        const kt::shell::Settings s = readSettings(ini);
        SCOPED_TRACE(testing::Message()
                     << "ComPort " << (c.stored.comPort ? c.stored.comPort : "-"));
        EXPECT_EQ(s.intComPort, c.expected.comPort);
        EXPECT_EQ(s.strSettings, c.expected.protocol);
        EXPECT_EQ(s.sngTxDelay, c.expected.txDelay);
        EXPECT_EQ(s.sngRxDelay, c.expected.rxDelay);
        EXPECT_EQ(s.sngRxTimeOut, c.expected.rxTimeOut);
        EXPECT_EQ(s.intLanguage, c.expected.language);
    }
}

TEST(Settings, RemembersPathsAndWritesBackTheShortestText) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    ASSERT_TRUE(WriteIni(ini, "System", "SaveFile", "  /backup/\xE5\x82\x99\xE4\xBB\xBD.KT "));
    kt::shell::Settings s = readSettings(ini);
    EXPECT_EQ(s.saveFile, QString::fromUtf8("/backup/\xE5\x82\x99\xE4\xBB\xBD.KT"));
    EXPECT_EQ(s.loadFile, "");

    s.intLanguage = 2;
    s.sngTxDelay = 12.5f;
    s.sngRxDelay = 10;
    s.sngRxTimeOut = 1000;
    kt::shell::writePanelSettings(ini, s);
    kt::shell::writeComPort(ini, 5);
    EXPECT_EQ(ReadIni(ini, "System", "Language"), "2");
    EXPECT_EQ(ReadIni(ini, "COMMUNICATION", "TXDelayTime"), "12.5");
    EXPECT_EQ(ReadIni(ini, "COMMUNICATION", "RXDelayTime"), "10");
    EXPECT_EQ(ReadIni(ini, "COMMUNICATION", "RXTimeOut"), "1000");
    EXPECT_EQ(ReadIni(ini, "COMMUNICATION", "ComPort"), "5");
}

} // namespace
