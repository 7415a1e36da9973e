// Verify a controller against its backup, compare two backups, and the job
// log of finished, failed and cancelled jobs.
#include "engine/backup_file.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "shell/ini_file.h"
#include "support/job_rig.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <gtest/gtest.h>

namespace {

using kt::engine::compareRecords;
using kt::engine::Direction;
using kt::engine::JobOutcome;
using kt::engine::readBackupRecords;
using kt::test::JobRig;
using namespace kt::sim;
using K = kt::engine::RecordDifference::Kind;
using Kinds = QList<std::pair<QByteArray, K>>;

Kinds kindsOf(const QList<kt::engine::RecordDifference>& differences) {
    Kinds kinds;
    for (const kt::engine::RecordDifference& d : differences)
        kinds.append({d.key, d.kind});
    return kinds;
}

TEST(Verify, FindsEveryRecordThatDiffersAndWritesNothing) {
    JobRig r(0);
    for (int i : {1, 2, 1999, 2000, 2003})
        r.store.setValue(kt::test::cardKey(i), QByteArray::number(i).rightJustified(24, 'C'));
    r.choose({"system", "cards"});
    r.request.cardCount = 2004;
    ASSERT_TRUE(r.runSave());
    const QByteArray before = kt::test::sectionLines(r.saveFile).join('\n');

    // Unchanged: everything matches, empty card slots included.
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
    EXPECT_EQ(kindsOf(r.job.differences()), (Kinds{{"DI", K::Changed},
                                                   {"HA0002", K::Removed},
                                                   {"HA2000", K::Changed},
                                                   {"HA2004", K::Added}}));
    EXPECT_EQ(r.view.messages, QStringList{"3/1/4 records differ.\nThe differences are listed in " +
                                           r.request.reportFile + "."});
    QFile report(r.request.reportFile);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    EXPECT_TRUE(text.contains("\nCard Data: 3 differences\n"))
        << text.constData(); // as the window names it
    EXPECT_TRUE(text.contains("HA2000 (card 2000) changed: file \"" +
                              QByteArray::number(2000).rightJustified(24, 'C') +
                              "\", controller \"" + QByteArray(24, 'X') + "\""))
        << text.constData();
    EXPECT_EQ(kt::test::othersMay(r.request.reportFile), QFile::Permissions());
    EXPECT_EQ(kt::test::sectionLines(r.saveFile).join('\n'), before);

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
}

TEST(Verify, ARestoreReadsItselfBackInTheSameJob) {
    JobRig source;
    QString error;
    ASSERT_TRUE(source.store.saveBackup(source.saveFile, &error));
    JobRig r(0);
    r.controller.setFaultPlan({.alterEvery = 3}); // every third record read back differs
    r.choose({"system", "holiday"});
    r.request.verifyAfterLoad = true;
    r.loadFile = source.saveFile;
    ASSERT_TRUE(r.runLoad());
    EXPECT_EQ(r.job.outcome(), JobOutcome::Differences);
    EXPECT_EQ(r.job.differences().size(), 14 / 3);
    EXPECT_EQ(r.controller.requests().size(), 2 * 14);
    EXPECT_EQ(r.view.messages, QStringList{"3/1/4 records differ."});
    EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));
}

TEST(Diff, ComparesBackupsAsASaveStoresThem) {
    QTemporaryDir dir;
    const auto file = [&](const char* name, QByteArray text) {
        kt::test::put(dir.filePath(name), text.replace("CARD", "0012345678123401FF00FF00"));
        return dir.filePath(name);
    };
    // A file of this format from another writer: CRLF, names in any case,
    // blanks, quotes.
    const QString older = file("old.KT", "[head]\r\ntitle=KT560AX\r\n[data]\r\ndc = 0102 \r\n"
                                         "DI=0304\r\nha0001=CARD\r\nHA0002=CARD\r\n"
                                         "HA0003=0012345678123401FF00FF0\r\nZZ=unknown\r\n");
    file("2old.KT", "[Data]\nHA2500=CARD\n");
    const QString newer = file("new.KT", "[HEAD]\nTitle=KT560AX\n[Data]\nDC=0102\nDI=0305\n"
                                         "HA0001=\"CARD\"\nHA0003=CARD\n");
    file("2new.KT", "[Data]\nHA2500=0012345678123401FF00FF0X\nHA2600=CARD\n");
    EXPECT_EQ(kindsOf(compareRecords(readBackupRecords(older), readBackupRecords(newer))),
              (Kinds{{"DI", K::Changed},
                     {"HA0002", K::Removed},
                     {"HA0003", K::Added},
                     {"HA2500", K::Changed},
                     {"HA2600", K::Added},
                     {"ZZ", K::Removed}}));
}

// Each job's line, with the time the job ended, not the time its message
// was closed.
TEST(JobLog, EveryJobEndsWithOneLine) {
    JobRig r;
    const kt::engine::JobLog log(r.dir.filePath("state/kt560ax/jobs.log"));
    r.job.setJobLog(&log);
    // A wall clock of the test's own: each message is read for an hour.
    QDateTime now = QDateTime::currentDateTime();
    kt::engine::setWallClock([&] { return now; });
    const auto restore = qScopeGuard([] { kt::engine::setWallClock({}); });
    QList<QByteArray> messageShown; // the time each message came up
    r.view.whileShown = [&] {
        messageShown.append(kt::engine::localTimeStamp());
        now = now.addSecs(3600);
    };
    r.choose({"flow"});
    r.request.portName = "COM3";
    ASSERT_TRUE(r.runSave()); // finished
    ASSERT_TRUE(r.save());    // cancelled in its 51st record
    r.clock.callAt(r.clock.nowMs() + 1015, [&] { r.job.cancel(); });
    r.run();
    r.controller.setFaultPlan({.fault = Fault::Silence});
    r.choose({"system"});
    ASSERT_TRUE(r.runLoad()); // failed

    QStringList ends;
    const QList<QJsonObject> entries = log.last(10);
    ASSERT_EQ(entries.size(), 3);
    // The finished save's message comes first, the failed load's last. As
    // ISO 8601 texts of one time zone, the times sort as times do.
    ASSERT_GE(messageShown.size(), 2);
    EXPECT_LE(entries[0]["end"].toString().toLatin1(), messageShown.first());
    EXPECT_LE(entries[2]["end"].toString().toLatin1(), messageShown.last());
    for (const QJsonObject& entry : entries) {
        EXPECT_EQ(entry["port"].toString(), "COM3");
        EXPECT_EQ(entry["file"].toString(), r.saveFile);
        EXPECT_FALSE(entry["start"].toString().isEmpty());
        ends.append(QString("%1 %2: %3 records, %4 failed tries")
                        .arg(entry["direction"].toString(), entry["outcome"].toString(),
                             QString::number(entry["records"].toInt()),
                             QString::number(entry["failedTries"].toInt())));
    }
    EXPECT_EQ(ends, (QStringList{"save finished: 250 records, 0 failed tries",
                                 "save stopped: 50 records, 0 failed tries",
                                 "load no-answer: 0 records, 11 failed tries"}));

    // A log that cannot be written stops nothing.
    r.view.whileShown = nullptr;
    const kt::engine::JobLog nowhere(r.saveFile + "/jobs.log"); // under a file
    r.job.setJobLog(&nowhere);
    r.controller.setFaultPlan({});
    r.view.messages.clear();
    QString reason;
    QObject::connect(&r.job, &kt::engine::TransferJob::logFailed,
                     [&](const QString& why) { reason = why; });
    ASSERT_TRUE(r.runSave());
    EXPECT_EQ(r.job.outcome(), JobOutcome::Finished);
    EXPECT_EQ(r.view.messages.size(), 1);
    EXPECT_TRUE(reason.contains("jobs.log")) << reason.toStdString();
}

// Jobs side by side end in another order than they began in; the log is
// read in the order they began, and names every file by its full path.
TEST(JobLog, EntriesComeInTheOrderTheirJobsBeganWithFullPaths) {
    QTemporaryDir dir;
    const kt::engine::JobLog log(dir.filePath("jobs.log"));
    const std::pair<const char*, int> jobs[] = {{"2026-12-07T08:20:00+01:00", 2},
                                                {"2026-12-07T08:05:00+01:00", 1},
                                                {"2026-12-07T08:30:00+02:00", 0}};
    for (const auto& [start, records] : jobs)
        ASSERT_TRUE(log.append({.start = start, .file = "site-a.KT", .records = records}));
    QList<int> order;
    for (const QJsonObject& entry : log.last(3)) {
        order.append(entry["records"].toInt());
        EXPECT_EQ(entry["file"].toString(), QDir::current().absoluteFilePath("site-a.KT"));
    }
    EXPECT_EQ(order, (QList<int>{0, 1, 2})); // 07:30 UTC first
}

// A log that has grown long is read from its end, lines that are no entry
// (garbage, a line of megabytes) are passed over, and the next job starts a
// new log, private as the first.
TEST(JobLog, ALongLogIsReadFromItsEndAndRotated) {
    QTemporaryDir dir;
    const QString path = dir.filePath("jobs.log");
    const kt::engine::JobLog log(path);
    ASSERT_TRUE(log.append({.records = 0}));
    EXPECT_EQ(kt::test::othersMay(path), QFile::Permissions());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        for (int n = 1; n <= 40000; ++n)
            file.write("{\"records\":" + QByteArray::number(n) + ",\"pad\":\"" +
                       QByteArray(80, 'p') + "\"}\n");
        file.write(QByteArray(3 * 1024 * 1024, '{') + "\nnot json\n{\"records\":40001}\n");
    }
    const QList<QJsonObject> last = log.last(3);
    ASSERT_EQ(last.size(), 3);
    EXPECT_EQ(last[0]["records"].toInt(), 39999);
    EXPECT_EQ(last[2]["records"].toInt(), 40001);
    EXPECT_EQ(log.last(1).first()["records"].toInt(), 40001);

    ASSERT_TRUE(log.append({.records = 40002}));
    EXPECT_EQ(log.last(5).size(), 1); // a new log
    EXPECT_GT(QFileInfo(path + ".1").size(), kt::engine::JobLog::kRotateBytes);
    EXPECT_EQ(kt::test::othersMay(path), QFile::Permissions());
}

} // namespace
