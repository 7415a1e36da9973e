// Verify a controller against its backup, compare two backups, and the job
// log of finished, failed and cancelled jobs.
#include "engine/backup_file.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "support/job_rig.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace kt::engine;
using namespace kt::test;
using K = RecordDifference::Kind;

// Each difference as its key and what became of the record: "DI changed".
QByteArray kindsOf(const QList<RecordDifference>& differences) {
    QByteArrayList kinds;
    for (const RecordDifference& d : differences)
        kinds << d.key + (d.kind == K::Added     ? " added"
                          : d.kind == K::Removed ? " removed"
                                                 : " changed");
    return kinds.join(", ");
}

// A Verify finds every record that differs, empty card slots and card files
// included, lists them in a private report, and writes nothing to the backup.
TEST(Verify, FindsEveryRecordThatDiffersAndWritesNothing) {
    JobRig r(0);
    for (int i : {1, 2, 1999, 2000, 2003})
        r.store.setValue(cardKey(i), QByteArray::number(i).rightJustified(24, 'C'));
    r.choose({"system", "cards"});
    r.request.cardCount = 2004;
    ASSERT_TRUE(r.runSave());
    const QList<QByteArray> before = sectionLines(r.saveFile);
    r.view.messages.clear();
    ASSERT_TRUE(r.runJob(Direction::Verify, r.saveFile));
    EXPECT_EQ(r.job.outcome(), JobOutcome::Finished);
    EXPECT_EQ(r.view.messages, QStringList{"4/1/Controller 01 matches the backup: 2006 records."});
    // A card changed, a card gone, a card added, a record changed.
    r.store.setValue("HA2000", QByteArray(24, 'X'));
    r.store.setValue("HA0002", "");
    r.store.setValue("HA2004", QByteArray(24, 'N'));
    r.store.setValue("DI", "CHANGED");
    r.view.messages.clear();
    r.request.reportFile = r.dir.filePath("01.verify.txt");
    ASSERT_TRUE(r.runJob(Direction::Verify, r.saveFile));
    EXPECT_EQ(r.job.outcome(), JobOutcome::Differences);
    EXPECT_EQ(kindsOf(r.job.differences()),
              "DI changed, HA0002 removed, HA2000 changed, HA2004 added");
    EXPECT_EQ(r.view.messages, QStringList{"3/1/4 records differ.\nThe differences are listed in " +
                                           r.request.reportFile + "."});
    QFile report(r.request.reportFile);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    EXPECT_TRUE(text.contains("\nCard Data: 3 differences\n")) << text.constData(); // as shown
    EXPECT_TRUE(text.contains("HA2000 (card 2000) changed: file \"" + QByteArray(20, 'C') +
                              "2000\", controller \"" + QByteArray(24, 'X') + '"'));
    EXPECT_EQ(othersMay(r.request.reportFile), QFile::Permissions());
    // A report that cannot be written says why.
    r.view.messages.clear();
    r.request.reportFile = r.dir.filePath("gone/01.verify.txt");
    ASSERT_TRUE(r.runJob(Direction::Verify, r.saveFile));
    ASSERT_EQ(r.view.messages.size(), 1);
    EXPECT_TRUE(r.view.messages[0].endsWith(
        " - The backup file cannot be written: the folder " +
        QDir::toNativeSeparators(r.dir.filePath("gone")) +
        " does not exist: create it, or mount the stick or share it lives on."))
        << r.view.messages[0].toStdString();
    EXPECT_EQ(sectionLines(r.saveFile), before);
}

// A restore with its check reads every record back in the same job.
TEST(Verify, ARestoreReadsItselfBackInTheSameJob) {
    JobRig source;
    ASSERT_TRUE(source.store.saveBackup(source.saveFile, nullptr));
    JobRig r(0);
    r.controller.setFaultPlan({.alterEvery = 3}); // every third record read back differs
    r.choose({"system", "holiday"});
    r.request.verifyAfterLoad = true;
    r.loadFile = source.saveFile;
    ASSERT_TRUE(r.runLoad());
    EXPECT_EQ(r.job.outcome(), JobOutcome::Differences);
    EXPECT_EQ(r.controller.requests().size(), 2 * 14);
    EXPECT_EQ(r.view.messages, QStringList{"3/1/4 records differ."});
    EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));
}

// Two backups compare as a Save stores them, also a file of this format from
// another writer: CRLF, names in any case, blanks, quotes, card files.
TEST(Diff, ComparesBackupsAsASaveStoresThem) {
    QTemporaryDir dir;
    const auto file = [&](const char* name, QByteArray text) {
        put(dir.filePath(name), text.replace("CARD", "0012345678123401FF00FF00"));
        return dir.filePath(name);
    };
    const QString older = file("old.KT", "[head]\r\ntitle=KT560AX\r\n[data]\r\ndc = 0102 \r\n"
                                         "DI=0304\r\nha0001=CARD\r\nHA0002=CARD\r\n"
                                         "HA0003=0012345678123401FF00FF0\r\nZZ=unknown\r\n");
    file("2old.KT", "[Data]\nHA2500=CARD\n");
    const QString newer = file("new.KT", "[HEAD]\nTitle=KT560AX\n[Data]\nDC=0102\nDI=0305\n"
                                         "HA0001=\"CARD\"\nHA0003=CARD\n");
    file("2new.KT", "[Data]\nHA2500=0012345678123401FF00FF0X\nHA2600=CARD\n");
    EXPECT_EQ(kindsOf(compareRecords(readBackupRecords(older), readBackupRecords(newer))),
              "DI changed, HA0002 removed, HA0003 added, HA2500 changed, HA2600 added, ZZ removed");
}

// A record's category is that of its key's two-character code, in either
// case; a key with another code, or too short for one, has none.
TEST(Diff, EachKeyHasTheCategoryOfItsCode) {
    for (const Category& category : categories()) {
        QByteArrayList codes;
        if (category.cards)
            codes << category.cards->writeCode;
        for (const RecordBlock& block : category.blocks)
            for (const RecordGroup& group : block.groups)
                for (const char* code : group.codes)
                    codes << code;
        for (const QByteArray& code : std::as_const(codes)) {
            EXPECT_EQ(categoryOfKey(code + "01"), &category) << code.constData();
            EXPECT_EQ(categoryOfKey(code.toLower()), &category) << code.constData();
        }
    }
    for (const char* key : {"", "D", "ZZ01", "HB0001", "D#", "\xC3\x89"})
        EXPECT_EQ(categoryOfKey(key), nullptr) << key;
}

// Only what both Saves read is compared: cards beyond the newer one's card
// count, and categories it did not read, are listed apart, never as removed.
TEST(Diff, WhatOnlyOneBackupReadIsNotCompared) {
    const QByteArray card = "0012345678123401FF00FF00";
    QMap<QByteArray, QByteArray> older{{"DC", "01"}, {"GA01", "0101"}}, newer{{"DC", "02"}};
    for (int slot = 1; slot <= 500; ++slot)
        if (slot % 100 != 50)
            older.insert(cardKey(slot), card);
    for (int slot = 1; slot <= 300; ++slot)
        newer.insert(cardKey(slot), slot == 7 ? "" : card);
    newer.insert("GA01", "0202"); // kept from an earlier Save of holidays
    const ReadScope wide{{"SystemDatabase", "HolidayTable", "UserCardDatabase"}, 500};
    const ReadScope narrow{{"SystemDatabase", "UserCardDatabase"}, 300};
    ScopedComparison c = compareWithin(older, wide, newer, narrow);
    EXPECT_EQ(kindsOf(c.differences), "DC changed, HA0007 removed, HA0050 added, HA0150 added, "
                                      "HA0250 added");
    EXPECT_EQ(unreadText(c.notReadByNewer), "cards 301-349, 351-449, 451-500; HolidayTable");
    EXPECT_TRUE(c.notReadByOlder.isEmpty());
    c = compareWithin(newer, narrow, older, wide);
    EXPECT_EQ(unreadText(c.notReadByOlder),
              unreadText(compareWithin(older, wide, newer, narrow).notReadByNewer));
    // A backup whose manifest says nothing is taken to have read it all.
    EXPECT_EQ(compareWithin(older, {}, newer, {}).differences.size(), 2 + 1 + 3 + 198);
}

// Each job ends with one line, with the time the job ended, not the time its
// message was closed, a restore declined at its question included; a log
// that cannot be written stops nothing.
TEST(JobLog, EveryJobEndsWithOneLine) {
    JobRig r;
    const JobLog log(r.dir.filePath("state/kt560ax/jobs.log"));
    r.job.setJobLog(&log);
    // A wall clock of the test's own: each message is read for an hour.
    QDateTime now = QDateTime::currentDateTime();
    setWallClock([&] { return now; });
    const auto restore = qScopeGuard([] { setWallClock({}); });
    QList<QByteArray> messageShown; // the time each message came up
    r.view.whileShown = [&] {
        messageShown.append(localTimeStamp());
        now = now.addSecs(3600);
    };
    r.choose({"flow"});
    r.request.portName = "COM3";
    ASSERT_TRUE(r.runSave()); // finished
    ASSERT_TRUE(r.save());    // cancelled in its 51st record
    r.clock.callAt(r.clock.nowMs() + 1015, [&] { r.job.cancel(); });
    r.run();
    r.controller.setFaultPlan({.fault = kt::sim::Fault::Silence});
    r.choose({"system"});
    ASSERT_TRUE(r.runLoad()); // failed
    r.request.askBeforeLoad = true;
    r.view.answer = kt::shell::MsgAnswer::Cancel;
    ASSERT_FALSE(r.runLoad()); // declined at its question
    r.view.answer = kt::shell::MsgAnswer::Ok;
    const QList<QJsonObject> entries = log.last(10);
    ASSERT_EQ(entries.size(), 4);
    // ISO 8601 texts of one time zone sort as times do.
    ASSERT_GE(messageShown.size(), 2);
    EXPECT_LE(entries[0]["end"].toString().toLatin1(), messageShown.first());
    EXPECT_LE(entries[2]["end"].toString().toLatin1(), messageShown[messageShown.size() - 2]);
    QStringList ends;
    for (const QJsonObject& entry : entries) {
        EXPECT_EQ(entry["file"].toString(), r.saveFile);
        EXPECT_FALSE(entry["start"].toString().isEmpty());
        ends.append(QString("%1 %2 on %3: %4 records, %5 failed tries")
                        .arg(entry["direction"].toString(), entry["outcome"].toString(),
                             entry["port"].toString(), QString::number(entry["records"].toInt()),
                             QString::number(entry["failedTries"].toInt())));
    }
    EXPECT_EQ(ends, (QStringList{"save finished on COM3: 250 records, 0 failed tries",
                                 "save stopped on COM3: 50 records, 0 failed tries",
                                 "load no-answer on COM3: 0 records, 11 failed tries",
                                 "load declined on COM3: 0 records, 0 failed tries"}));
    const JobLog nowhere(r.saveFile + "/jobs.log"); // under a file
    r.job.setJobLog(&nowhere);
    r.controller.setFaultPlan({});
    r.view.messages.clear();
    QString reason;
    QObject::connect(&r.job, &TransferJob::logFailed, [&](const QString& why) { reason = why; });
    ASSERT_TRUE(r.runSave());
    EXPECT_EQ(r.job.outcome(), JobOutcome::Finished);
    EXPECT_EQ(r.view.messages.size(), 1);
    EXPECT_TRUE(reason.contains("jobs.log")) << reason.toStdString();
}

// Entries come in the order their jobs began (side by side, they end in another),
// each file by its full path; a long log is read from its end, past lines that are
// no entry, and the next job starts a new log, private as the first.
TEST(JobLog, IsReadInTheOrderJobsBeganFromItsEndAndRotated) {
    QTemporaryDir dir;
    const QString path = dir.filePath("jobs.log");
    const JobLog log(path);
    const std::pair<const char*, int> jobs[] = {{"2026-12-07T08:20:00+01:00", 2},
                                                {"2026-12-07T08:05:00+01:00", 1},
                                                {"2026-12-07T08:30:00+02:00", 0}};
    for (const auto& [start, records] : jobs)
        ASSERT_TRUE(log.append({.start = start, .file = "site-a.KT", .records = records}));
    EXPECT_EQ(othersMay(path), QFile::Permissions());
    const auto records = [&](int count) { // of the last `count` entries
        QList<int> numbers;
        for (const QJsonObject& entry : log.last(count))
            numbers.append(entry["records"].toInt());
        return numbers;
    };
    EXPECT_EQ(records(3), (QList<int>{0, 1, 2})); // 07:30 UTC first
    EXPECT_EQ(log.last(1)[0]["file"].toString(), QDir::current().absoluteFilePath("site-a.KT"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    for (int n = 1; n <= 40000; ++n)
        file.write("{\"records\":" + QByteArray::number(n) + ",\"pad\":\"" + QByteArray(80, 'p') +
                   "\"}\n");
    file.write(QByteArray(3 * 1024 * 1024, '{') + "\nnot json\n{\"records\":40001}\n");
    file.close();
    EXPECT_EQ(records(3), (QList<int>{39999, 40000, 40001}));
    EXPECT_EQ(records(1), QList<int>{40001});
    ASSERT_TRUE(log.append({.records = 40002}));
    EXPECT_EQ(records(5), QList<int>{40002}); // a new log
    EXPECT_GT(QFileInfo(path + ".1").size(), JobLog::kRotateBytes);
    EXPECT_EQ(othersMay(path), QFile::Permissions());
}

} // namespace
