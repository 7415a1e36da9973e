#include "shell/ini_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using kt::shell::ReadIni;
using kt::shell::ReadIniValue;
using kt::shell::WriteIni;

namespace {

// A backup file as Windows' private-profile service writes it, with
// hand-made additions: comments, mixed-case names, blanks around names and
// values, a value in a legacy 8-bit code page (Big5), quotes, duplicates and
// a second section holding a key of the same name.
const QByteArray kWindowsFile = "; written by hand\r\n"
                                "[HEAD]\r\n"
                                "Title=KT560AX\r\n"
                                "\r\n"
                                "[Data]\r\n"
                                "  dc = 0102030405  \r\n"
                                "DI=\r\n"
                                "Name=\xA4\xA4\xA4\xE5 \xB1\xB1\xA8\xEE\r\n"
                                "Quoted=\"  keep quotes  \"\r\n"
                                "Dup=first\r\n"
                                "dup=second\r\n"
                                ";BA1=commented out\r\n"
                                "\r\n"
                                "[Other]\r\n"
                                "DC=other\r\n";

QByteArray withLineEnding(QByteArray text, const QByteArray& eol) {
    return text.replace("\r\n", eol);
}

class IniFileTest : public ::testing::TestWithParam<QByteArray> {
  protected:
    QTemporaryDir dir;
    QString path = dir.filePath("01.KT");

    void put(const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray contents() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QByteArray eol() const { return GetParam(); }
    QByteArray file() const { return withLineEnding(kWindowsFile, eol()); }
};

TEST_P(IniFileTest, LooksUpKeysAndSectionsLikeTheWindowsService) {
    put(file());
    struct Case {
        const char* section;
        const char* key;
        QByteArray value;
        bool found = true;
    };
    const Case cases[] = {
        {"HEAD", "Title", "KT560AX"},
        {"head", "TITLE", "KT560AX"},
        {"Data", "DC", "0102030405"},
        {"DATA", "di", ""},
        {"Data", "Name", "\xA4\xA4\xA4\xE5 \xB1\xB1\xA8\xEE"},
        {"Data", "Quoted", "\"  keep quotes  \""},
        {"Data", "DUP", "first"},
        {"Data", "BA1", "", false},
        {"Data", ";BA1", "", false},
        {"Other", "dc", "other"},
        {"Missing", "Title", "", false},
        {"Data", "Missing", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ReadIni(path, c.section, c.key), c.value);
        // An empty value is found; a missing key is not.
        EXPECT_EQ(ReadIniValue(path, c.section, c.key).ok(), c.found);
    }
    EXPECT_EQ(ReadIniValue(dir.filePath("absent.KT"), "HEAD", "Title").error().code,
              kt::shell::ErrorCode::NotFound);
    // A whole section, as the look-up reads it.
    using Entries = QList<std::pair<QByteArray, QByteArray>>;
    EXPECT_EQ(kt::shell::ReadIniSection(path, "data"),
              (Entries{{"dc", "0102030405"},
                       {"DI", ""},
                       {"Name", "\xA4\xA4\xA4\xE5 \xB1\xB1\xA8\xEE"},
                       {"Quoted", "\"  keep quotes  \""},
                       {"Dup", "first"}}));
    EXPECT_TRUE(kt::shell::ReadIniSection(path, "Missing").isEmpty());
}

TEST_P(IniFileTest, WritesAndRemovesChangeOnlyTheirOwnLines) {
    put(file());
    // In place under the name as it was: a value, an empty one, the first of two.
    ASSERT_TRUE(WriteIni(path, "DATA", "Dc", "FFEE"));
    ASSERT_TRUE(WriteIni(path, "Data", "DI", "0A0B"));
    ASSERT_TRUE(WriteIni(path, "Data", "DUP", "third"));
    // New keys at the end of their section, a new section at the end.
    ASSERT_TRUE(WriteIni(path, "head", "Date", "2026"));
    ASSERT_TRUE(WriteIni(path, "Data", "HA0001", "123456789012345678901234"));
    ASSERT_TRUE(WriteIni(path, "Cards", "HA2000", "x"));
    QByteArray expected = kWindowsFile;
    expected.replace("0102030405", "FFEE").replace("DI=\r\n", "DI=0A0B\r\n");
    expected.replace("Dup=first", "Dup=third");
    expected.replace("Title=KT560AX\r\n", "Title=KT560AX\r\nDate=2026\r\n");
    expected.replace("dup=second\r\n", "dup=second\r\nHA0001=123456789012345678901234\r\n");
    expected += "[Cards]\r\nHA2000=x\r\n";
    EXPECT_EQ(contents(), withLineEnding(expected, eol()));

    // Every line of a key goes; a key or a file that is not there stays so.
    ASSERT_TRUE(kt::shell::RemoveIni(path, "data", "DUP"));
    ASSERT_TRUE(kt::shell::RemoveIni(path, "Data", "Absent"));
    ASSERT_TRUE(kt::shell::RemoveIni(path, "Other", "Title"));
    expected.replace("Dup=third\r\ndup=second\r\n", "");
    EXPECT_EQ(contents(), withLineEnding(expected, eol()));
    EXPECT_TRUE(kt::shell::RemoveIni(dir.filePath("absent.KT"), "Data", "DC"));
    EXPECT_FALSE(QFile::exists(dir.filePath("absent.KT")));
}

TEST_P(IniFileTest, RefusesAValueThatCannotStandOnOneLine) {
    put(file());
    for (const QByteArray& value :
         {QByteArray("a\rb"), QByteArray("a\nb"), QByteArray("a\0b", 3)}) {
        EXPECT_FALSE(WriteIni(path, "Data", "DC", value));
        EXPECT_FALSE(WriteIni(path, "Data", "NEW", value));
        // Several values are written together or not at all.
        const kt::shell::Status some = kt::shell::WriteIniValues(
            path, {{"Data", "DC", "0102"}, {"Data", "NEW", value}, {"Data", "DI", "0304"}});
        ASSERT_FALSE(some);
        EXPECT_EQ(some.error().code, kt::shell::ErrorCode::Invalid);
        EXPECT_EQ(contents(), file());
    }
}

INSTANTIATE_TEST_SUITE_P(LineEndings, IniFileTest,
                         ::testing::Values(QByteArray("\r\n"), QByteArray("\n"), QByteArray("\r")),
                         [](const auto& info) {
                             return info.param == "\r\n" ? std::string("CRLF")
                                    : info.param == "\n" ? std::string("LF")
                                                         : std::string("CR");
                         });

class IniFileEdgeTest : public IniFileTest {};

// A missing file is made with CRLF lines and read afresh when changed
// behind its back; a byte-order mark, a long value and a missing last line
// end are kept.
TEST_F(IniFileEdgeTest, CreatesRereadsAndKeepsWhatItDidNotWrite) {
    ASSERT_TRUE(WriteIni(path, "HEAD", "Title", "KT560AX"));
    ASSERT_TRUE(WriteIni(path, "Data", "DC", "01"));
    EXPECT_EQ(contents(), "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nDC=01\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"01.KT"});
    EXPECT_EQ(ReadIni(path, "Data", "DC"), "01");
    put("[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nDC=02\r\n"); // at once and to the same size
    EXPECT_EQ(ReadIni(path, "Data", "DC"), "02");
    const QByteArray longValue(5000, 'A');
    put("\xEF\xBB\xBF[Data]\nLong=" + longValue + "\nLast=1");
    EXPECT_EQ(ReadIni(path, "data", "LONG"), longValue);
    ASSERT_TRUE(WriteIni(path, "Data", "Next", "2"));
    EXPECT_EQ(contents(), "\xEF\xBB\xBF[Data]\nLong=" + longValue + "\nLast=1\nNext=2\n");
}

TEST_F(IniFileEdgeTest, FailsOnPathsThatCannotHoldAFile) {
    put("[HEAD]\r\n");
    const QString paths[] = {dir.path(), dir.filePath("no/such/dir/01.KT"),
                             path + "/inside-a-file.KT"};
    for (const QString& p : paths) {
        SCOPED_TRACE(p.toStdString());
        const kt::shell::Status written = WriteIni(p, "HEAD", "Title", "KT560AX");
        ASSERT_FALSE(written);
        EXPECT_FALSE(written.error().message.isEmpty());
        EXPECT_EQ(ReadIni(p, "HEAD", "Title"), "");
    }
    EXPECT_EQ(contents(), "[HEAD]\r\n");
}

} // namespace

namespace {

// Many edits in one editor, on a file with every oddity: comments after the
// last entry, a second section of the same name, keys in other letter case,
// no line end after the last line.
TEST(IniSectionEditor, ManyEditsGoWhereOneByOneTheyWould) {
    kt::shell::IniSectionEditor editor(
        "[Data]\nA=1\n; note\n\nB = 2 \n[Other]\nA=x\n[data]\nC=3\nb=dup", "Data");
    EXPECT_TRUE(editor.set("a", "9"));   // in place, under its own name
    EXPECT_TRUE(editor.set("NEW", "n")); // after the first section's last entry
    EXPECT_TRUE(editor.remove("B"));     // every line of it, in both sections
    EXPECT_TRUE(editor.set("C", "c"));   // in the second section, where it stands
    EXPECT_FALSE(editor.remove("missing"));
    EXPECT_FALSE(editor.set("bad=key", "v"));
    EXPECT_EQ(editor.data(), "[Data]\nA=9\n; note\n\nNEW=n\n[Other]\nA=x\n[data]\nC=c\n");
    kt::shell::IniSectionEditor bare("[HEAD]\r\nTitle=KT560AX", "Data");
    EXPECT_TRUE(bare.set("DC", "01"));
    EXPECT_EQ(bare.data(), "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nDC=01\r\n");
}

} // namespace
