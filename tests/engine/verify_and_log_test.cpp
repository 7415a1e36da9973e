// Verify a controller against its backup, compare two backups, and the job
// log of finished, failed and cancelled jobs.
#include "engine/backup_file.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "shell/ini_file.h"
#include "support/job_rig.h"
#include "support/printers.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::engine::Direction;
using kt::engine::JobOutcome;
using kt::engine::RecordDifference;
using kt::test::JobRig;
using namespace kt::sim;

TEST(Verify, FindsEveryRecordThatDiffersAndWritesNothing) {
    JobRig r(0);
    for (int i : {1, 2, 1999, 2000, 2003})
        r.store.setValue("HA" + QByteArray::number(i).rightJustified(4, '0'),
                         QByteArray::number(i).rightJustified(24, 'C'));
    r.choose({"system", "cards"});
    r.request.cardCount = 2004;
    ASSERT_TRUE(r.save());
    r.run();
    const QByteArray before = kt::test::sectionLines(r.saveFile).join('\n');

    // Unchanged: everything matches, empty card slots included.
    r.view.messages.clear();
    ASSERT_TRUE(r.start(Direction::Verify, r.saveFile));
    r.run();
    EXPECT_EQ(r.job.outcome(), JobOutcome::Finished);
    EXPECT_EQ(r.view.messages, QStringList{"4/1/Restore verified: 2006 records match."});

    // A card changed, a card gone, a card added, a record changed.
    r.store.setValue("HA2000", QByteArray(24, 'X'));
    r.store.setValue("HA0002", "");
    r.store.setValue("HA2004", QByteArray(24, 'N'));
    r.store.setValue("DI", "CHANGED");
    r.view.messages.clear();
    r.request.reportFile = r.dir.filePath("01.verify.txt");
    ASSERT_TRUE(r.start(Direction::Verify, r.saveFile));
    r.run();
    EXPECT_EQ(r.job.outcome(), JobOutcome::Differences);
    using K = RecordDifference::Kind;
    QList<QByteArray> keys;
    for (const RecordDifference& d : r.job.differences())
        keys.append(d.key);
    EXPECT_EQ(keys, (QList<QByteArray>{"DI", "HA0002", "HA2000", "HA2004"}));
    EXPECT_EQ(r.job.differences()[1].kind, K::Removed);
    EXPECT_EQ(r.job.differences()[2].before, QByteArray::number(2000).rightJustified(24, 'C'));
    EXPECT_EQ(r.job.differences()[2].after, QByteArray(24, 'X'));
    EXPECT_EQ(r.job.differences()[3].kind, K::Added);
    EXPECT_EQ(r.view.messages, QStringList{"3/1/4 records differ.\nThe differences are listed in " +
                                           r.request.reportFile + "."});
    QFile report(r.request.reportFile);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    EXPECT_TRUE(text.contains("UserCardDatabase: 3 differences")) << text.constData();
    EXPECT_TRUE(text.contains("HA2000 (card 2000) changed: file \"" +
                              QByteArray::number(2000).rightJustified(24, 'C') +
                              "\", controller \"" + QByteArray(24, 'X') + "\""))
        << text.constData();
    EXPECT_EQ(QFile::permissions(r.request.reportFile) & (QFile::ReadOther | QFile::ReadGroup), 0);
    EXPECT_EQ(kt::test::sectionLines(r.saveFile).join('\n'), before);
}

TEST(Verify, ARestoreReadsItselfBackInTheSameJob) {
    JobRig source;
    QString error;
    ASSERT_TRUE(source.store.saveBackup(source.saveFile, &error));
    JobRig r(0);
    FaultPlan plan;
    plan.alterEvery = 3; // every third record read back differs
    r.controller.setFaultPlan(plan);
    r.choose({"system", "holiday"});
    r.request.verifyAfterLoad = true;
    r.loadFile = source.saveFile;
    ASSERT_TRUE(r.load());
    r.run();
    EXPECT_EQ(r.job.outcome(), JobOutcome::Differences);
    EXPECT_EQ(r.job.differences().size(), 14 / 3);
    EXPECT_EQ(r.controller.requests().size(), 2 * 14);
    EXPECT_EQ(r.view.messages, QStringList{"3/1/4 records differ."});
    EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));
}

TEST(Diff, ComparesBackupsAsASaveStoresThem) {
    QTemporaryDir dir;
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return dir.filePath(name);
    };
    const QByteArray card = "0012345678123401FF00FF00";
    // An earlier program's file: CRLF, names in any case, blanks, quotes.
    const QString older = write("old.KT", "[head]\r\ntitle=KT560AX\r\n[data]\r\n"
                                          "dc = 0102 \r\nDI=0304\r\nha0001=" +
                                              card +
                                              "\r\n"
                                              "HA0002=" +
                                              card + "\r\nHA0003=" + card.left(23) +
                                              "\r\n"
                                              "ZZ=unknown\r\n");
    write("2old.KT", "[Data]\nHA2500=" + card + "\n");
    const QString newer = write("new.KT", "[HEAD]\nTitle=KT560AX\n[Data]\nDC=0102\nDI=0305\n"
                                          "HA0001=\"" +
                                              card + "\"\nHA0003=" + card + "\n");
    write("2new.KT", "[Data]\nHA2500=" + card.left(23) + "X\nHA2600=" + card + "\n");
    using K = RecordDifference::Kind;
    struct Row {
        QByteArray key;
        K kind;
    };
    const Row expected[] = {{"DI", K::Changed},     {"HA0002", K::Removed}, {"HA0003", K::Added},
                            {"HA2500", K::Changed}, {"HA2600", K::Added},   {"ZZ", K::Removed}};
    const QList<RecordDifference> differences = kt::engine::compareRecords(
        kt::engine::readBackupRecords(older), kt::engine::readBackupRecords(newer));
    ASSERT_EQ(differences.size(), std::size(expected));
    for (qsizetype i = 0; i < differences.size(); ++i) {
        EXPECT_EQ(differences[i].key, expected[i].key);
        EXPECT_EQ(differences[i].kind, expected[i].kind) << expected[i].key.constData();
    }
    EXPECT_TRUE(kt::engine::compareRecords(kt::engine::readBackupRecords(older),
                                           kt::engine::readBackupRecords(older))
                    .isEmpty());
}

TEST(JobLog, EveryJobEndsWithOneLine) {
    JobRig r;
    const kt::engine::JobLog log(r.dir.filePath("state/kt560ax/jobs.log"));
    r.job.setJobLog(&log);
    r.choose({"flow"});
    r.request.portName = "COM3";
    ASSERT_TRUE(r.save()); // finished
    r.run();
    ASSERT_TRUE(r.save()); // cancelled in its 51st record
    r.tick();              // set up: the next step is flow control
    r.clock.schedule(r.clock.nowMs() + 1015, [&] { r.job.cancel(); });
    r.run();
    FaultPlan silence;
    silence.fault = Fault::Silence;
    r.controller.setFaultPlan(silence);
    r.choose({"system"});
    ASSERT_TRUE(r.load()); // failed
    r.run();

    const QList<QJsonObject> entries = log.last(10);
    ASSERT_EQ(entries.size(), 3);
    const std::tuple<const char*, const char*, int, int> rows[] = {
        {"save", "finished", 250, 0},
        {"save", "cancelled", 50, 0},
        {"load", "communication error", 0, 11}};
    for (int i = 0; i < 3; ++i) {
        const auto& [direction, outcome, records, tries] = rows[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].value("direction").toString(), direction);
        EXPECT_EQ(entries[i].value("outcome").toString(), outcome);
        EXPECT_EQ(entries[i].value("records").toInt(), records);
        EXPECT_EQ(entries[i].value("failedTries").toInt(), tries);
        EXPECT_EQ(entries[i].value("port").toString(), "COM3");
        EXPECT_EQ(entries[i].value("file").toString(), r.saveFile);
        EXPECT_FALSE(entries[i].value("start").toString().isEmpty());
    }
    EXPECT_EQ(log.last(1).first(), entries.last());

    // A log that cannot be written stops nothing.
    const kt::engine::JobLog nowhere(r.saveFile + "/jobs.log"); // under a file
    r.job.setJobLog(&nowhere);
    r.controller.setFaultPlan({});
    r.view.messages.clear();
    QString reason;
    QObject::connect(&r.job, &kt::engine::TransferJob::logFailed,
                     [&](const QString& why) { reason = why; });
    ASSERT_TRUE(r.save());
    r.run();
    EXPECT_EQ(r.job.outcome(), JobOutcome::Finished);
    EXPECT_EQ(r.view.messages.size(), 1);
    EXPECT_TRUE(reason.contains("jobs.log")) << reason.toStdString();
}

// A log that has grown long is read from its end, lines that are no entry
// (garbage, a line of megabytes) are passed over, and the next job starts a
// new log, private as the first.
TEST(JobLog, ALongLogIsReadFromItsEndAndRotated) {
    QTemporaryDir dir;
    const QString path = dir.filePath("jobs.log");
    const kt::engine::JobLog log(path);
    ASSERT_TRUE(log.append({.records = 0}));
    EXPECT_EQ(QFile::permissions(path) &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              0);
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
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), 0);
}

} // namespace
