// A Save never damages the backup it replaces: however it stops, the old set
// stays byte for byte and what it read is kept beside it; what a killed Save
// left is ended by the next job; a complete backup is replaced only when
// the user says so.
#include "engine/backup_file.h"
#include "engine/save_journal.h"
#include "engine/save_workspace.h"
#include "support/job_rig.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

using namespace kt::engine;
using namespace kt::test;

// Every file of a set, by name, with its bytes.
QMap<QString, QByteArray> setBytes(const QString& mainFile) {
    QMap<QString, QByteArray> files;
    for (const QString& file : backupFileSet(mainFile))
        if (QFileInfo::exists(file))
            files.insert(QFileInfo(file).fileName(), contents(file));
    return files;
}

// The names in a folder, hidden ones too.
QStringList namesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A complete backup of another controller, with cards in the main file and
// in a card file, a key of no category and a comment.
const QByteArray kOldMain =
    "[HEAD]\r\nTitle=KT560AX\r\nComplete=1\r\nStarted=2026-12-01T10:00:00+01:00"
    "\r\nController=07\r\nCategories=SystemDatabase,UserCardDatabase\r\n"
    "Cards=2100\r\nFinished=2026-12-01T10:05:00+01:00\r\nRecords=9\r\n"
    "[Data]\r\n; kept by hand\r\nGA03=9999\r\nHA0001=OLDCARD\r\nZZ=mine\r\n";
const QByteArray kOldCards = "[Data]\r\nHA2050=OLDCARD2050\r\n";

void plantOldBackup(const QString& mainFile) {
    ASSERT_TRUE(put(mainFile, kOldMain));
    ASSERT_TRUE(put(cardFile(mainFile, 2050), kOldCards));
}

// However a Save over a backup stops, the backup stays byte for byte and
// only what this Save read is kept beside it, marked stopped; a backup
// file without records takes the stopped Save's records itself.
TEST(SaveWorkspace, AStoppedSaveLeavesTheBackupAndKeepsWhatItReadBeside) {
    enum class Stop { Cancel, LineDies };
    const struct {
        const char* name;
        Stop stop;
        bool oldBackup;
    } cases[] = {{"cancelled over a backup", Stop::Cancel, true},
                 {"line dead over a backup", Stop::LineDies, true},
                 {"cancelled into a new file", Stop::Cancel, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig r(2100);
        r.choose({"system", "cards"});
        r.request.cardCount = 2100;
        if (c.oldBackup)
            plantOldBackup(r.saveFile);
        const QMap<QString, QByteArray> before = setBytes(r.saveFile);
        setWallClock([] { return QDateTime(QDate(2026, 12, 7), QTime(10, 15)); });
        if (c.stop == Stop::LineDies)
            r.controller.setFaultPlan({.fault = kt::sim::Fault::Silence, .startAfter = 30});
        ASSERT_TRUE(r.save());
        if (c.stop == Stop::Cancel)
            r.clock.callAt(1000, [&] { r.job.cancel(); });
        r.run();
        setWallClock({});
        const QString kept = r.dir.filePath("01.stopped-2026-12-07_101500.KT");
        if (c.oldBackup) {
            EXPECT_EQ(setBytes(r.saveFile), before);
            EXPECT_EQ(r.job.keptIn(), kept);
            EXPECT_TRUE(r.view.summaries.join('\n').contains("is kept in " + kept))
                << r.view.summaries.join('\n').toStdString();
        } else {
            EXPECT_FALSE(QFileInfo::exists(kept));
            EXPECT_EQ(readManifest(r.saveFile).complete, false);
        }
        const QString stopped = c.oldBackup ? kept : r.saveFile;
        const Manifest manifest = readManifest(stopped);
        EXPECT_EQ(manifest.complete, false);
        EXPECT_EQ(manifest.controller, "01");
        // Only the records this Save read: none of the other controller's.
        const QList<QByteArray> lines = sectionLines(stopped);
        EXPECT_EQ(lines.size(), r.job.counts().done) << lines.join(' ').toStdString();
        EXPECT_FALSE(lines.contains("GA03=9999"));
        EXPECT_FALSE(lines.contains("ZZ=mine"));
        EXPECT_FALSE(QFileInfo::exists(workspaceOf(r.saveFile)));
        EXPECT_EQ(othersMay(stopped), QFile::Permissions());
    }
}

// A Save that completes replaces the set as writing each record into it
// would have: its records in, empty slots it read out, the rest untouched.
TEST(SaveWorkspace, ACompleteSaveKeepsWhatItDidNotRead) {
    JobRig r(2100);
    r.store.setValue(cardKey(1), "");
    plantOldBackup(r.saveFile);
    r.choose({"system", "cards"});
    r.request.cardCount = 100; // slot 2050 is not read
    ASSERT_TRUE(r.runSave());
    const QList<QByteArray> lines = sectionLines(r.saveFile);
    EXPECT_FALSE(lines.contains("HA0001=OLDCARD")); // read empty: gone
    EXPECT_TRUE(lines.contains("ZZ=mine"));
    EXPECT_EQ(lines.first(), "; kept by hand");
    EXPECT_TRUE(lines.contains("GA03=9999")); // a category it did not read
    EXPECT_TRUE(lines.contains("DC=" + r.store.value("DC").trimmed()));
    EXPECT_EQ(contents(cardFile(r.saveFile, 2050)), kOldCards);
    EXPECT_EQ(readManifest(r.saveFile).complete, true);
    EXPECT_EQ(readManifest(r.saveFile).controller, "01");
    EXPECT_EQ(r.job.replacedBackup()->controller, "07");
    EXPECT_TRUE(r.view.messages.last().endsWith(
        "It replaced the complete backup of controller 07, made " +
        QDateTime::fromString("2026-12-01T10:05:00+01:00", Qt::ISODate)
            .toLocalTime()
            .toString("yyyy-MM-dd HH:mm") +
        "."))
        << r.view.messages.last().toStdString();
    EXPECT_EQ(namesIn(r.dir), (QStringList{"01.KT", "201.KT"}));
}

// What a killed Save left is ended by the next job on the set: replacing
// that had begun is finished, records it read are kept beside a backup,
// and a workspace that is not the owner's own is not believed.
TEST(SaveWorkspace, TheNextJobEndsWhatAKilledSaveLeft) {
    JobRig r(100);
    r.choose({"system"});
    // A complete Save to stage from, and the set it gives.
    QTemporaryDir model;
    JobRig m(100);
    m.saveFile = model.filePath("01.KT");
    m.choose({"system"});
    ASSERT_TRUE(m.runSave());
    const QByteArray finished = contents(m.saveFile);

    const auto leaveWorkspace = [&](bool complete) {
        ASSERT_TRUE(makeWorkspace(r.saveFile));
        QByteArray working = finished;
        if (!complete)
            working.replace("Complete=1", "Complete=0");
        ASSERT_TRUE(put(workingFileOf(r.saveFile), working));
    };
    // Killed while replacing: the staged main file is there.
    plantOldBackup(r.saveFile);
    leaveWorkspace(true);
    QDir(workspaceOf(r.saveFile)).mkdir("replacing");
    ASSERT_TRUE(put(workspaceOf(r.saveFile) + "/replacing/01.KT", finished));
    ASSERT_TRUE(r.runJob(Direction::Verify, r.saveFile));
    EXPECT_EQ(contents(r.saveFile), finished);
    EXPECT_EQ(contents(cardFile(r.saveFile, 2050)), kOldCards);
    EXPECT_TRUE(r.view.messages.first().contains("they are in it now"));
    EXPECT_FALSE(QFileInfo::exists(workspaceOf(r.saveFile)));

    // Killed while reading, with a record still in its journal: kept beside
    // under the time of its last record, after one of that name.
    plantOldBackup(r.saveFile);
    const QMap<QString, QByteArray> before = setBytes(r.saveFile);
    leaveWorkspace(false);
    ASSERT_TRUE(put(journalFileOf(workingFileOf(r.saveFile)), "S\t0\tGF01\tX\n"));
    const QDateTime last(QDate(2026, 12, 7), QTime(9, 30, 5));
    for (const QString& file :
         {workingFileOf(r.saveFile), journalFileOf(workingFileOf(r.saveFile))}) {
        QFile touched(file);
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        touched.setFileTime(last, QFileDevice::FileModificationTime);
    }
    ASSERT_TRUE(put(r.dir.filePath("01.stopped-2026-12-07_093005.KT"), "someone's"));
    r.view.messages.clear();
    ASSERT_TRUE(r.runJob(Direction::Verify, r.saveFile));
    EXPECT_EQ(setBytes(r.saveFile), before);
    const QString kept = r.dir.filePath("01.stopped-2026-12-07_093005-2.KT");
    EXPECT_TRUE(sectionLines(kept).contains("GF01=X"));
    EXPECT_TRUE(r.view.messages.first().contains("is kept in " + kept));
    EXPECT_FALSE(QFileInfo::exists(workspaceOf(r.saveFile)));

#ifndef Q_OS_WIN
    // A workspace others may write: nothing of it is used, no job starts.
    leaveWorkspace(false);
    QFile::setPermissions(workspaceOf(r.saveFile), QFile::Permissions(0x7777));
    r.view.messages.clear();
    EXPECT_FALSE(r.save());
    EXPECT_TRUE(
        r.view.messages.value(0).contains("was written by another user, or others may write it"))
        << r.view.messages.join('\n').toStdString();
    EXPECT_EQ(setBytes(r.saveFile), before);
#endif
}

// The window asks before a Save replaces a complete backup: which
// controller, when, whether the address is the same; Cancel writes nothing.
TEST(SaveWorkspace, ReplacingACompleteBackupIsAskedFirst) {
    for (const auto& [address, answer, said] :
         {std::tuple{7, kt::shell::MsgAnswer::Cancel, "the same controller address, 07"},
          {1, kt::shell::MsgAnswer::Cancel, "reads controller 01, not the controller"},
          {1, kt::shell::MsgAnswer::Ok, "reads controller 01, not the controller"}}) {
        JobRig r(100);
        plantOldBackup(r.saveFile);
        const QMap<QString, QByteArray> before = setBytes(r.saveFile);
        r.request.address = address;
        r.request.askBeforeReplace = true;
        r.view.answer = answer;
        r.runSave();
        const QString question = r.view.messages.value(0);
        EXPECT_TRUE(question.startsWith("2/4/" + r.saveFile +
                                        " holds a complete backup of controller 07, made "))
            << question.toStdString();
        EXPECT_TRUE(question.contains(said)) << question.toStdString();
        if (answer == kt::shell::MsgAnswer::Cancel) {
            EXPECT_EQ(r.job.outcome(), JobOutcome::Declined);
            EXPECT_EQ(setBytes(r.saveFile), before);
            EXPECT_TRUE(r.controller.requests().isEmpty());
        } else {
            EXPECT_EQ(readManifest(r.saveFile).controller, "01");
        }
    }
}

} // namespace
