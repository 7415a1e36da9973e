// A history encrypted to age recipients: what is stored, what opens it, and
// the rewrite of one in clear.
#include "engine/record_compare.h"
#include "fleet/history.h"
#include "history_support.h"
#include "support/printers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Mode = kt::fleet::History::Mode;
using kt::fleet::AgeIdentity;
using kt::shell::ErrorCode;
using kt::test::card;
using kt::test::writeBackup;

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray cardValue(char c) {
    return QByteArray(24, c);
}

// An encrypted history stores age files, which open with one of their
// recipients' identities only; it takes new versions in clear no more, and
// a history in clear takes none encrypted.
TEST(EncryptedHistory, StoresAgeFilesThatOnlyTheirIdentityOpens) {
    QTemporaryDir dir;
    const AgeIdentity mine = *AgeIdentity::generate(), other = *AgeIdentity::generate();
    const QString v1 =
        writeBackup(dir.filePath("v1.KT"), {{"DC", "01"}, {card(2500), cardValue('7')}});
    const QString folder = dir.filePath("history");
    {
        kt::fleet::History history;
        ASSERT_TRUE(history.open(folder, Mode::Write).ok());
        ASSERT_TRUE(history.encryptTo({mine.recipient()}).ok());
        ASSERT_TRUE(history.stage("north", v1).ok());
        ASSERT_TRUE(history.commit("1 controller changed\n\nnorth: first version\n").ok());
        for (const auto& [stored, source] :
             {std::pair("north.KT", "v1.KT"), {"2north.KT", "2v1.KT"}}) {
            const QByteArray file = contentsOf(folder + "/north/" + stored);
            EXPECT_TRUE(kt::fleet::isAgeFile(file)) << stored;
            EXPECT_EQ(kt::fleet::ageDecrypt(file, {mine}, 1 << 20).valueOr({}),
                      contentsOf(dir.filePath(source)));
        }
        EXPECT_EQ(history.encryptTo({}).error().message,
                  folder + " holds encrypted versions: keep Encrypt= in [fleet], so that no "
                           "version is added in clear");
    }
    kt::fleet::History history;
    ASSERT_TRUE(history.open(folder, Mode::Read).ok());
    const kt::fleet::HistoryVersion version = history.versions("north").value(0);
    const QString out = dir.filePath("out");
    for (const auto& identities : {QList<AgeIdentity>{}, QList<AgeIdentity>{other}}) {
        const auto refused = history.exportVersion("north", version, out, identities);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().code, ErrorCode::Denied);
        EXPECT_FALSE(QFileInfo::exists(out)) << refused.error().message.toStdString();
    }
    const auto exported = history.exportVersion("north", version, out, {other, mine});
    ASSERT_TRUE(exported.ok()) << exported.error().message.toStdString();
    EXPECT_EQ(kt::engine::readBackupRecords(*exported), kt::engine::readBackupRecords(v1));

    kt::fleet::History clear;
    ASSERT_TRUE(clear.open(dir.filePath("clear"), Mode::Write).ok());
    ASSERT_TRUE(clear.stage("north", v1).ok());
    ASSERT_TRUE(clear.commit("x\n").ok());
    EXPECT_TRUE(clear.encryptTo({mine.recipient()}).error().message.contains("--reencrypt"));
}

// The loose object git keeps of `contents`, by its name.
QString looseObject(const QString& history, const QByteArray& contents) {
    const QString id = QString::fromLatin1(
        QCryptographicHash::hash("blob " + QByteArray::number(contents.size()) + '\0' + contents,
                                 QCryptographicHash::Sha1)
            .toHex());
    return history + "/.git/objects/" + id.left(2) + '/' + id.mid(2);
}

// --reencrypt rewrites a history in clear into one whose every version is
// the same backup, encrypted, with the same message and time; no file in
// clear stays among its objects, and a second rewrite changes nothing.
TEST(EncryptedHistory, ReencryptKeepsEveryVersionAndNoFileInClear) {
    QTemporaryDir dir;
    const AgeIdentity mine = *AgeIdentity::generate();
    const QString folder = dir.filePath("history");
    const QStringList files = {writeBackup(dir.filePath("a.KT"), {{"DC", "01"}}),
                               writeBackup(dir.filePath("b.KT"), {{"DC", "02"}}),
                               writeBackup(dir.filePath("c.KT"), {{"DC", "03"}})};
    kt::fleet::History history;
    ASSERT_TRUE(history.open(folder, Mode::Write).ok());
    const std::pair<const char*, int> commits[] = {{"north", 0}, {"south", 1}, {"north", 2}};
    for (const auto& [section, file] : commits) {
        ASSERT_TRUE(history.stage(section, files[file]).ok());
        ASSERT_TRUE(history.commit(QStringLiteral("n\n\n%1: v%2\n").arg(section).arg(file)).ok());
    }
    const auto before = history.allVersions();
    ASSERT_TRUE(QFile::exists(looseObject(folder, contentsOf(files[0]))));

    const auto rewritten = history.reencrypt({mine.recipient()});
    ASSERT_TRUE(rewritten.ok()) << rewritten.error().message.toStdString();
    EXPECT_EQ(std::tuple(rewritten->commits, rewritten->files, rewritten->packed),
              std::tuple(3, 3, 0));
    const auto after = history.allVersions();
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [section, versions] : before) {
        const QList<kt::fleet::HistoryVersion>& now = after.at(section);
        ASSERT_EQ(now.size(), versions.size());
        for (qsizetype i = 0; i < versions.size(); ++i) {
            EXPECT_EQ(std::tuple(now[i].when, now[i].changes),
                      std::tuple(versions[i].when, versions[i].changes));
            EXPECT_NE(now[i].commit, versions[i].commit);
        }
    }
    const std::tuple<const char*, int, int> versions[] = {
        {"north", 0, 0}, {"south", 0, 1}, {"north", 1, 2}}; // section, version, file
    for (const auto& [section, number, file] : versions) {
        const QString out = dir.filePath(QStringLiteral("out%1").arg(file));
        EXPECT_FALSE(history.exportVersion(section, after.at(section)[number], out).ok());
        const auto exported =
            history.exportVersion(section, after.at(section)[number], out, {mine});
        ASSERT_TRUE(exported.ok()) << exported.error().message.toStdString();
        EXPECT_EQ(contentsOf(*exported), contentsOf(files[file]));
        EXPECT_FALSE(QFile::exists(looseObject(folder, contentsOf(files[file]))));
    }
    EXPECT_TRUE(kt::fleet::isAgeFile(contentsOf(history.committedFile("north"))));
    EXPECT_FALSE(history.encryptTo({}).ok());
    EXPECT_EQ(history.reencrypt({mine.recipient()})->commits, 0);
}

} // namespace
