// A history encrypted to age recipients: what is stored, what opens it,
// the rewrite of one in clear, and the digests that stand for its versions
// on a gateway that cannot read them.
#include "engine/record_compare.h"
#include "fleet/history_encryption.h"
#include "fleet/version_digests.h"
#include "history_support.h"
#include "support/printers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Mode = kt::fleet::History::Mode;
using kt::engine::ReadScope;
using kt::fleet::AgeIdentity;
using kt::shell::ErrorCode;
using kt::test::card;
using kt::test::Records;
using kt::test::writeBackup;

QByteArray cardValue(char c) {
    return QByteArray(24, c);
}

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Compared by their digests, two versions differ exactly as their records
// do: the same categories, slots, counts and records left unread.
TEST(VersionDigests, TellWhatTheRecordsTell) {
    QTemporaryDir dir;
    const kt::fleet::CommittedDigests digests(dir.filePath("site.ini"));
    const Records base = {{"DC", "01"},
                          {"GA01", "1225"},
                          {card(1), cardValue('1')},
                          {card(2), cardValue('2')},
                          {card(300), cardValue('3')}};
    const auto with = [&](const Records& changes, const QList<QByteArray>& gone = {}) {
        Records records = base;
        records.insert(changes);
        for (const QByteArray& key : gone)
            records.remove(key);
        return records;
    };
    const struct {
        const char* name;
        Records after;
        ReadScope beforeRead, afterRead;
    } cases[] = {
        {"the same", base, {}, {}},
        {"a card changed, one added",
         with({{card(2), cardValue('X')}, {card(9), cardValue('9')}}),
         {},
         {}},
        {"a card removed, a holiday emptied", with({{"GA01", ""}}, {card(1)}), {}, {}},
        {"two cards swapped", with({{card(1), cardValue('2')}, {card(2), cardValue('1')}}), {}, {}},
        {"fewer slots read by the newer", with({}, {card(300)}), {{}, 500}, {{}, 100}},
        {"a category the older did not read",
         with({{"GA01", "0101"}}),
         {{"UserCardDatabase"}, {}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const kt::fleet::RecordChanges byRecords =
            kt::fleet::changesBetween(base, c.after, false, c.beforeRead, c.afterRead);
        const kt::fleet::RecordChanges byDigests =
            kt::fleet::changesFromDigests(digests.digestsOf(base), c.beforeRead,
                                          digests.digestsOf(c.after), c.after, c.afterRead);
        EXPECT_EQ(kt::fleet::changeText(byDigests), kt::fleet::changeText(byRecords));
        EXPECT_EQ(byDigests.any(), byRecords.any());
    }
}

// The digests kept compare only with the version they were made of, and
// only while the file and its key are this user's own; otherwise the run
// is told why.
TEST(VersionDigests, StandOnlyForTheVersionTheyWereMadeOf) {
    QTemporaryDir dir;
    const QString fleetFile = dir.filePath("site.ini");
    const Records before = {{"DC", "01"}, {card(1), cardValue('1')}};
    Records after = before;
    after[card(1)] = cardValue('X');
    const auto compared = [&](const QByteArray& tree, QString* why) {
        const kt::fleet::CommittedDigests digests(fleetFile);
        return kt::fleet::changeText(
            digests.changesTo("north", tree, digests.digestsOf(after), after, {}, why));
    };
    const QString uncompared = "could not compare with the last version; now 1 cards, 2 records";
    QString why;
    EXPECT_EQ(compared("", &why), "first version, 1 cards, 2 records");
    EXPECT_EQ(compared("t1", &why), uncompared);
    EXPECT_TRUE(why.endsWith("site.digests does not exist")) << why.toStdString();

    const std::map<QString, kt::fleet::VersionDigests> kept = {
        {"north",
         {"t1",
          {{"UserCardDatabase"}, 9999},
          kt::fleet::CommittedDigests(fleetFile).digestsOf(before)}}};
    const QByteArray text = kt::fleet::digestsText(kept);
    const auto parsed = kt::fleet::parseDigests(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(kt::fleet::digestsText(*parsed), text);
    for (const QByteArray& damaged : {text.chopped(1), text.left(text.indexOf("read")),
                                      QByteArray(text).replace("read", "seen"),
                                      QByteArray(text).replace('\n', "\n\n"), text.mid(1)})
        EXPECT_FALSE(kt::fleet::parseDigests(damaged).has_value()) << damaged.toStdString();

    ASSERT_TRUE(write(kt::fleet::digestsPathOf(fleetFile), text));
    EXPECT_EQ(compared("t1", &why), "UserCardDatabase; cards changed 1; now 1 cards, 2 records");
    EXPECT_EQ(compared("t2", &why), uncompared);
    EXPECT_EQ(why, "the digests kept are of another version");
    QFile::setPermissions(kt::fleet::digestsPathOf(fleetFile),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup);
    EXPECT_EQ(compared("t1", &why), uncompared);
    EXPECT_TRUE(why.contains("not this user's own file")) << why.toStdString();
    QFile::setPermissions(kt::fleet::digestsPathOf(fleetFile),
                          QFile::ReadOwner | QFile::WriteOwner);
    // A lost key is made anew, and the digests made under the old one are
    // no use.
    ASSERT_TRUE(QFile::remove(kt::fleet::digestKeyPathOf(fleetFile)));
    EXPECT_EQ(compared("t1", &why), uncompared);
    EXPECT_TRUE(why.contains("made anew")) << why.toStdString();
    EXPECT_TRUE(QFile::exists(kt::fleet::digestKeyPathOf(fleetFile)));
}

// An encrypted history stores age files, which open with one of their
// recipients' identities only; it takes new versions in clear no more, and
// a history in clear takes none encrypted. The recipients come only from a
// file nobody else may change.
TEST(EncryptedHistory, StoresAgeFilesThatOnlyTheirIdentityOpens) {
    QTemporaryDir dir;
    const AgeIdentity mine = *AgeIdentity::generate(), other = *AgeIdentity::generate();
    const QString recipients = dir.filePath("recipients.txt");
    ASSERT_TRUE(write(recipients, "# ops\n" + mine.recipient().text.toLatin1() + "\nage1nope\n"));
    EXPECT_TRUE(kt::fleet::readFleetRecipients(recipients).error().message.contains("line 3"));
    ASSERT_TRUE(write(recipients, "# ops\n" + mine.recipient().text.toLatin1() + "\n"));
    QFile::setPermissions(recipients, QFile::ReadOwner | QFile::WriteOwner | QFile::WriteOther);
    EXPECT_EQ(kt::fleet::readFleetRecipients(recipients).error().code, ErrorCode::Untrusted);
    QFile::setPermissions(recipients, QFile::ReadOwner | QFile::WriteOwner);
    kt::fleet::FleetSettings settings;
    settings.encrypt = recipients;

    const QString v1 =
        writeBackup(dir.filePath("v1.KT"), {{"DC", "01"}, {card(2500), cardValue('7')}});
    const QString folder = dir.filePath("history");
    {
        kt::fleet::History history;
        ASSERT_TRUE(history.open(folder, Mode::Write).ok());
        ASSERT_TRUE(kt::fleet::encryptAsSet(history, settings).ok());
        ASSERT_TRUE(history.stage("north", v1).ok());
        ASSERT_TRUE(history.commit("1 controller changed\n\nnorth: first version\n").ok());
        for (const auto& [stored, source] :
             {std::pair("north.KT", "v1.KT"), {"2north.KT", "2v1.KT"}}) {
            const QByteArray file = contentsOf(folder + "/north/" + stored);
            EXPECT_TRUE(kt::fleet::isAgeFile(file)) << stored;
            EXPECT_EQ(kt::fleet::ageDecrypt(file, {mine}, 1 << 20).valueOr({}),
                      contentsOf(dir.filePath(source)));
        }
        EXPECT_EQ(kt::fleet::encryptAsSet(history, {}).error().message,
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
    EXPECT_TRUE(kt::fleet::encryptAsSet(clear, settings).error().message.contains("--reencrypt"));
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
