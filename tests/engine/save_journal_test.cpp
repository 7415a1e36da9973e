// A Save's journal: the files it leaves, and what the next job makes of what a
// killed job left: its journal and its copies.
#include "engine/backup_file.h"
#include "engine/save_journal.h"
#include "engine/save_workspace.h"
#include "shell/ini_file.h"
#include "support/job_rig.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <gtest/gtest.h>

namespace {

using namespace kt::engine;
using namespace kt::test;

// Over an older backup the files are, byte for byte, those that writing each
// record on its own would leave: old cards of empty slots go, the rest stays.
TEST(SaveJournal, LeavesTheFilesThatWritingEachRecordOnItsOwnWould) {
    JobRig r(2100);
    for (const int slot : {5, 17, 2050})
        r.store.setValue(cardKey(slot), "");
    QTemporaryDir other;
    const QString expected = other.filePath("01.KT");
    for (const QString& file : {r.saveFile, expected}) {
        ASSERT_TRUE(put(file, "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nGA03=0101\r\nHA0005=old\r\n"
                              "HA0017=old\r\nZZ=kept\r\n"));
        ASSERT_TRUE(put(cardFile(file, 2050), "[Data]\r\nHA2050=old\r\n"));
    }
    r.choose({"system", "holiday", "cards"});
    r.request.cardCount = 2100;
    ASSERT_TRUE(r.runSave());
    // The same records written one by one, as each reply came.
    ASSERT_TRUE(writeSaveStart(expected, "01",
                               {"SystemDatabase", "HolidayTable", "UserCardDatabase"}, 2100));
    int records = 0;
    for (const QByteArray& request : r.controller.requests()) {
        const QByteArray key =
            request.mid(2).startsWith("HB") ? "HA" + request.mid(4) : request.mid(2);
        const bool card = key.startsWith("HA");
        const QString file = card ? cardFile(expected, key.mid(2).toInt()) : expected;
        QByteArray value = r.store.value(key);
        if (card && !(value = cardRecordOfReply(value)).isEmpty())
            value = storedCardValue(value);
        if (value.isEmpty()) {
            ASSERT_TRUE(kt::shell::RemoveIni(file, "Data", key));
        } else {
            ASSERT_TRUE(createPrivateFile(file));
            ASSERT_TRUE(kt::shell::WriteIni(file, "Data", key, value));
            ++records;
        }
    }
    ASSERT_TRUE(writeSaveEnd(expected, records));
    for (const QString& file : {r.saveFile, expected})
        for (const char* key : {"Started", "Finished"})
            EXPECT_TRUE(kt::shell::WriteIni(file, "HEAD", key, "(time)"));
    const QStringList made = backupFileSet(r.saveFile), wanted = backupFileSet(expected);
    for (qsizetype i = 0; i < made.size(); ++i)
        EXPECT_TRUE(contents(made[i]) == contents(wanted[i])) << made[i].toStdString();
    EXPECT_FALSE(QFile::exists(journalFileOf(r.saveFile)));
}

// A record is synced within a second of its clock: at once when the last
// sync is a second old, else by a call of the clock at that second.
TEST(SaveJournal, SyncsWithinASecondOfItsClock) {
    JobRig r;
    SaveJournal journal(r.saveFile, r.clock);
    struct Step {
        double atMs;       // when the record comes
        double syncedAtMs; // when the clock's call made the sync; -1: none was asked for
    };
    const Step steps[] = {{0, 1000}, {1500, 2000}, {3500, -1}, {3600, 4500}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.atMs);
        r.clock.runUntil(step.atMs);
        ASSERT_TRUE(r.clock.idle());
        ASSERT_TRUE(journal.set(r.saveFile, "DC", "01").ok());
        EXPECT_EQ(r.clock.idle(), step.syncedAtMs < 0);
        r.clock.run();
        EXPECT_EQ(r.clock.nowMs(), std::max(step.atMs, step.syncedAtMs));
    }
}

// A restore takes a killed Save's records from its journal in memory, reads its
// backup once at the start (only a job that ignores the lock could change it
// later), writes nothing and removes the killed job's hidden copies of the set's
// files, and nothing else; the next Save folds the records into the files, once.
TEST(SaveJournal, WhatAKilledJobLeftGoesIntoTheBackupOnce) {
    JobRig r;
    const QByteArray card5 = "HA0005=0055555555123401FF00FF00";
    ASSERT_TRUE(put(r.saveFile, "[HEAD]\r\nTitle=KT560AX\r\nComplete=0\r\n[Data]\r\nDI=02\r\n" +
                                    card5 + "\r\n"));
    const QString cards = cardFile(r.saveFile, 2001);
    {
        SaveJournal journal(r.saveFile, r.clock);
        ASSERT_TRUE(journal.set(r.saveFile, "DC", "01").ok());
        ASSERT_TRUE(journal.set(cards, "HA2001", "0012345678123401FF00FF00").ok());
        ASSERT_TRUE(journal.fold().ok());
        ASSERT_TRUE(journal.remove(r.saveFile, "HA0005").ok());
        ASSERT_TRUE(journal.set(r.saveFile, "DC", "02").ok()); // the later value holds
    }                                                          // killed: the last two not folded
    EXPECT_EQ(kt::shell::ReadIni(r.saveFile, "Data", "DC"), "01");
    QFile journal(journalFileOf(r.saveFile));
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write("S\t0\tDI\t12"); // cut short by the kill: no record
    journal.close();
    EXPECT_EQ(othersMay(journal.fileName()), QFile::Permissions());
    // An ordinary temporary name, a copy not hidden, an editor's backup, another
    // set's, one of no card file of the set and the lock's stay.
    const QStringList goes = {".01.KT.kt560ax-tmp", ".201.KT.kt560ax-tmp", ".801.KT.kt560ax-tmp"};
    const QStringList stays = {"01.KT.a1B2c3",         "01.KT.kt560ax-tmp",
                               ".01.KT.kt560ax-tmp~",  ".02.KT.kt560ax-tmp",
                               ".1001.KT.kt560ax-tmp", ".01.KT.lock.kt560ax-tmp"};
    for (const QString& name : goes + stays)
        ASSERT_TRUE(put(r.dir.filePath(name), "left"));
    r.request.cardCount = 1;
    ASSERT_TRUE(r.load());
    const QByteArray changed = contents(r.saveFile).replace("DI=02", "DI=77");
    ASSERT_TRUE(put(r.saveFile, changed));
    r.run();
    // DC the journal's; DI the file's at the start, not the cut-short record.
    EXPECT_EQ(r.controller.requests(), (QList<QByteArray>{"01DC02", "01DI02"}));
    EXPECT_EQ(contents(r.saveFile), changed);
    EXPECT_TRUE(journal.exists());
    for (const QString& name : goes + stays)
        EXPECT_EQ(QFile::exists(r.dir.filePath(name)), stays.contains(name)) << name.toStdString();

    r.view.messages.clear();
    ASSERT_TRUE(r.save());
    EXPECT_TRUE(r.view.messages.value(0).contains("held 2 records"))
        << r.view.messages.join('\n').toStdString();
    EXPECT_FALSE(sectionLines(r.saveFile).contains(card5));
    EXPECT_EQ(sectionLines(cards), (QList<QByteArray>{"HA2001=0012345678123401FF00FF00"}));
    EXPECT_FALSE(journal.exists());
    EXPECT_EQ(othersMay(cards), QFile::Permissions());
    r.run();
}

// What a kill leaves at any moment holds every record the job counted as saved:
// each is journalled before the next request, and a fold never loses one.
TEST(SaveJournal, EachRecordIsWrittenBeforeTheNextRequestGoesOut) {
    JobRig r(2100);
    r.choose({"system", "holiday", "cards"});
    r.request.cardCount = 2100;
    // The Save writes its own set until it completes.
    const auto onDisk = [&](const QString& mainFile) {
        qsizetype records = contents(journalFileOf(mainFile)).count('\n');
        for (const QString& file : backupFileSet(mainFile))
            records += sectionLines(file).size();
        return records;
    };
    const QString working = workingFileOf(r.saveFile);
    int checks = 0;
    r.view.onEcho = [&] {
        if (r.job.counts().done != onDisk(working))
            ADD_FAILURE() << r.job.counts().done << " records saved, " << onDisk(working)
                          << " on disk";
        ++checks;
    };
    ASSERT_TRUE(r.runSave());
    EXPECT_EQ(checks, 2 * (2 + 12 + 2100));
    EXPECT_EQ(onDisk(r.saveFile), 2 + 12 + 2100);
    EXPECT_FALSE(QFileInfo::exists(workspaceOf(r.saveFile)));
}

} // namespace
