#include "shell/ini_file.h"
#include "shell/language.h"
#include "shell/settings.h"
#include "support/system_paths.h"

#include <QFile>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>

namespace {

using kt::shell::readSettings;
using kt::shell::WriteIni;

TEST(Settings, DefaultsAndLimitsApplyToStoredValues) {
    const std::pair<const char*, const char*> keys[] = {
        {"COMMUNICATION", "ComPort"},     {"COMMUNICATION", "Protocol"},
        {"COMMUNICATION", "TXDelayTime"}, {"COMMUNICATION", "RXDelayTime"},
        {"COMMUNICATION", "RXTimeOut"},   {"System", "Language"}};
    struct Case {
        std::array<const char*, 6> stored; // of the keys in order; nullptr: missing
        int comPort;
        const char* protocol;
        float txDelay, rxDelay, rxTimeOut;
        int language;
    };
    const char* none = nullptr;
    const Case cases[] = {
        {{none, none, none, none, none, none}, 2, "19200,e,8,1", 10, 10, 200, 0},
        {{"", "   ", "abc", "", "", ""}, 2, "19200,e,8,1", 10, 10, 200, 0},
        {{"0", " 9600,n,8,1 ", "5", "150", "50", "1"}, 2, "9600,n,8,1", 10, 100, 200, 1},
        {{"5", "19200,e,8,1", "12.5", "100", "1500", "2"}, 5, "19200,e,8,1", 12.5f, 100, 1000, 2},
        {{"8", none, "10", "10.25", "600", "3"}, 8, "19200,e,8,1", 10, 10.25f, 600, 0},
        {{"9", none, "99.5x", "20ms", "200", "-1"}, 2, "19200,e,8,1", 99.5f, 20, 200, 0},
        {{"3abc", none, "-20", "1e3", "1000", "1.6"}, 3, "19200,e,8,1", 10, 10, 1000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "ComPort " << (c.stored[0] ? c.stored[0] : "-"));
        QTemporaryDir dir;
        const QString ini = dir.filePath("Language.ini");
        for (std::size_t i = 0; i < std::size(keys); ++i)
            if (c.stored[i]) {
                ASSERT_TRUE(WriteIni(ini, keys[i].first, keys[i].second, c.stored[i]));
            }
        const kt::shell::Settings s = readSettings(ini);
        EXPECT_EQ(s.intComPort, c.comPort);
        EXPECT_EQ(s.strSettings, c.protocol);
        EXPECT_EQ(s.sngTxDelay, c.txDelay);
        EXPECT_EQ(s.sngRxDelay, c.rxDelay);
        EXPECT_EQ(s.sngRxTimeOut, c.rxTimeOut);
        EXPECT_EQ(s.intLanguage, c.language);
    }
}

TEST(Settings, RemembersTheLastPathsFolderAndCategoriesWithoutTheirBlanks) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    ASSERT_TRUE(WriteIni(ini, "System", "SaveFile", "  /backup/\xE5\x82\x99\xE4\xBB\xBD.KT "));
    kt::shell::Settings s = readSettings(ini);
    EXPECT_EQ(s.saveFile, QString::fromUtf8("/backup/\xE5\x82\x99\xE4\xBB\xBD.KT"));
    EXPECT_EQ(s.loadFile, "");
    EXPECT_EQ(s.lastFolder, "");
    EXPECT_TRUE(s.tickedCategories.isEmpty());

    const QString loaded = kt::test::rooted("/backup/\xE5\x82\x99/site-a.KT");
    ASSERT_TRUE(kt::shell::writeJobChoices(ini, "LoadFile", loaded, 2500));
    ASSERT_TRUE(kt::shell::writeTickedCategories(ini, {"MasterCard", "UserCardDatabase"}));
    s = readSettings(ini);
    EXPECT_EQ(s.loadFile, loaded);
    EXPECT_EQ(s.cardCount, 2500);
    EXPECT_EQ(s.lastFolder, kt::test::rooted("/backup/\xE5\x82\x99"));
    EXPECT_EQ(s.tickedCategories, (QByteArrayList{"MasterCard", "UserCardDatabase"}));
    ASSERT_TRUE(WriteIni(ini, "System", "Categories", " SystemDatabase , ,FlowControl "));
    EXPECT_EQ(readSettings(ini).tickedCategories,
              (QByteArrayList{"SystemDatabase", "FlowControl"}));
    ASSERT_TRUE(kt::shell::writeTickedCategories(ini, {}));
    EXPECT_TRUE(readSettings(ini).tickedCategories.isEmpty());
}

// A Language.ini that is empty, or lacks its language's section or some of
// its keys: every text has its shipped form, and what is missing is said in
// one sentence that names the keys, but for keys that later versions added.
TEST(Texts, WhatLanguageIniLacksHasItsShippedText) {
    using kt::shell::languageText;
    const QString shipped = kt::shell::shippedIniFile();
    // The shipped English texts but `left`, as an older or edited copy has them.
    const auto allBut = [&](const QByteArray& left) {
        QList<kt::shell::IniValue> values;
        for (const auto& [key, value] : kt::shell::ReadIniSection(shipped, "English"))
            if (key != left)
                values.append({"English", key, value});
        return values;
    };
    const QString all = ": the built-in ones are used", some = ", whose built-in ones are used: ";
    const QList<kt::shell::IniValue> quit = {{"English", "Exit", "Quit"}};
    const struct {
        const char* name;
        QList<kt::shell::IniValue> file;
        QByteArray section;
        const char* key;
        QString text; // empty: the shipped one
        QString said; // how the sentence ends; empty: nothing is said
    } cases[] = {
        {"an empty file", {}, "English", "ProcessSaveOk", {}, "[English]" + all},
        {"no [English]",
         {{"System", "Language", "0"}},
         "English",
         "SaveSummary",
         {},
         "[English]" + all},
        {"no [TraditionChinese]",
         allBut({}),
         "TraditionChinese",
         "OK",
         {},
         "[TraditionChinese]" + all},
        {"a key left out", allBut("Exit"), "English", "Exit", {}, some + "Exit"},
        {"a key this version added", allBut("Browse"), "English", "Browse", {}, {}},
        {"the file's own text", allBut({}) + quit, "English", "Exit", "Quit", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString ini = dir.filePath("Language.ini");
        QFile(ini).open(QIODevice::WriteOnly);
        ASSERT_TRUE(kt::shell::WriteIniValues(ini, c.file));
        const QString expected =
            c.text.isEmpty() ? languageText(shipped, c.section, c.key) : c.text;
        EXPECT_FALSE(expected.isEmpty());
        EXPECT_EQ(languageText(ini, c.section, c.key), expected);
        const QString said = kt::shell::missingLanguageTexts(ini, c.section);
        EXPECT_EQ(said.isEmpty(), c.said.isEmpty()) << said.toStdString();
        EXPECT_TRUE(c.said.isEmpty() || (said.startsWith(ini) && said.endsWith(c.said)))
            << said.toStdString();
    }
}

} // namespace
