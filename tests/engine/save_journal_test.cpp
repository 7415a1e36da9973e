// A Save's journal: the files it leaves are those that writing each record
// on its own would leave, byte for byte, and a journal left by a killed job
// goes into the backup when the next job opens it.
#include "engine/backup_file.h"
#include "engine/save_journal.h"
#include "shell/ini_file.h"
#include "support/job_rig.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <gtest/gtest.h>

namespace {

using kt::test::cardKey;
using kt::test::JobRig;

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

TEST(SaveJournal, LeavesTheFilesThatWritingEachRecordOnItsOwnWould) {
    JobRig r(2100);
    for (const int slot : {5, 17, 2050})
        r.store.setValue(cardKey(slot), ""); // empty slots: their old cards go
    // An older backup in the file: records to replace, cards to remove.
    const QByteArray older = "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nGA03=0101\r\nHA0005=old\r\n"
                             "HA0017=old\r\nZZ=kept\r\n";
    const QString expected = r.dir.filePath("expected/01.KT");
    QDir(r.dir.path()).mkpath("expected");
    for (const QString& file : {r.saveFile, expected})
        ASSERT_TRUE(kt::test::put(file, older));
    ASSERT_TRUE(kt::test::put(kt::engine::cardFile(r.saveFile, 2050), "[Data]\r\nHA2050=old\r\n"));
    ASSERT_TRUE(kt::test::put(kt::engine::cardFile(expected, 2050), "[Data]\r\nHA2050=old\r\n"));
    r.choose({"system", "holiday", "cards"});
    r.request.cardCount = 2100;
    ASSERT_TRUE(r.runSave());

    // The same records written one by one, as each reply came.
    ASSERT_TRUE(kt::engine::writeSaveStart(
        expected, "01", {"SystemDatabase", "HolidayTable", "UserCardDatabase"}, 2100));
    int records = 0;
    for (const QByteArray& request : r.controller.requests()) {
        const QByteArray key =
            request.mid(2).startsWith("HB") ? "HA" + request.mid(4) : request.mid(2);
        const QString file =
            key.startsWith("HA") ? kt::engine::cardFile(expected, key.mid(2).toInt()) : expected;
        QByteArray value = r.store.value(key);
        if (key.startsWith("HA") && !(value = kt::engine::cardRecordOfReply(value)).isEmpty())
            value = kt::engine::storedCardValue(value);
        if (value.isEmpty()) {
            ASSERT_TRUE(kt::shell::RemoveIni(file, "Data", key));
        } else {
            ASSERT_TRUE(kt::engine::createPrivateFile(file));
            ASSERT_TRUE(kt::shell::WriteIni(file, "Data", key, value));
            ++records;
        }
    }
    ASSERT_TRUE(kt::engine::writeSaveEnd(expected, records));
    for (const QString& file : {r.saveFile, expected})
        for (const char* key : {"Started", "Finished"})
            EXPECT_TRUE(kt::shell::WriteIni(file, "HEAD", key, "(time)"));
    const QStringList made = kt::engine::backupFileSet(r.saveFile);
    const QStringList wanted = kt::engine::backupFileSet(expected);
    for (qsizetype i = 0; i < made.size(); ++i)
        EXPECT_TRUE(contents(made[i]) == contents(wanted[i])) << made[i].toStdString();
    EXPECT_FALSE(QFile::exists(kt::engine::journalFileOf(r.saveFile)));
}

// A restore takes a killed Save's records from its journal in memory and
// writes nothing; the next Save folds them into the files, once.
TEST(SaveJournal, AJournalLeftByAKilledJobGoesIntoTheBackupOnce) {
    JobRig r;
    ASSERT_TRUE(kt::test::put(r.saveFile, "[HEAD]\r\nTitle=KT560AX\r\nComplete=0\r\n[Data]\r\n"
                                          "HA0005=0055555555123401FF00FF00\r\n"));
    const QString cards = kt::engine::cardFile(r.saveFile, 2001);
    {
        kt::engine::SaveJournal journal(r.saveFile);
        ASSERT_TRUE(journal.set(r.saveFile, "DC", "01").ok());
        ASSERT_TRUE(journal.set(cards, "HA2001", "0012345678123401FF00FF00").ok());
        ASSERT_TRUE(journal.fold().ok());
        ASSERT_TRUE(journal.remove(r.saveFile, "HA0005").ok());
        ASSERT_TRUE(journal.set(r.saveFile, "DC", "02").ok()); // the later value holds
    }                                                          // killed: the last two not folded
    EXPECT_EQ(kt::shell::ReadIni(r.saveFile, "Data", "DC"), "01");
    QFile journal(kt::engine::journalFileOf(r.saveFile));
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write("S\t0\tDI\t12"); // cut short by the kill: no record
    journal.close();
    EXPECT_EQ(kt::test::othersMay(journal.fileName()), QFile::Permissions());

    r.choose({"system"});
    r.request.cardCount = 1;
    r.view.answer = kt::shell::MsgAnswer::Ok;
    const QByteArray filesBefore = contents(r.saveFile);
    ASSERT_TRUE(r.load());
    r.run();
    EXPECT_EQ(r.controller.requests().value(0), "01DC02"); // the journal's value
    EXPECT_EQ(contents(r.saveFile), filesBefore);
    EXPECT_TRUE(journal.exists());

    r.view.messages.clear();
    ASSERT_TRUE(r.save());
    ASSERT_FALSE(r.view.messages.isEmpty());
    EXPECT_TRUE(r.view.messages.first().contains("held 2 records"))
        << r.view.messages.first().toStdString();
    EXPECT_FALSE(kt::test::sectionLines(r.saveFile).contains("HA0005=0055555555123401FF00FF00"));
    EXPECT_EQ(kt::test::sectionLines(cards),
              (QList<QByteArray>{"HA2001=0012345678123401FF00FF00"}));
    EXPECT_FALSE(journal.exists());
    EXPECT_EQ(kt::test::othersMay(cards), QFile::Permissions());
    r.run();
}

// What a kill leaves at any moment holds every record the job has counted
// as saved: each goes into the journal before the next request goes out,
// and a fold moves records from the journal into the files, never past.
TEST(SaveJournal, EachRecordIsWrittenBeforeTheNextRequestGoesOut) {
    JobRig r(2100);
    r.choose({"system", "holiday", "cards"});
    r.request.cardCount = 2100;
    const auto onDisk = [&] {
        qsizetype records = 0;
        for (const QString& file : kt::engine::backupFileSet(r.saveFile))
            records += kt::test::sectionLines(file).size();
        return records + contents(kt::engine::journalFileOf(r.saveFile)).count('\n');
    };
    int checks = 0;
    r.view.onEcho = [&] {
        if (r.job.counts().done != onDisk())
            ADD_FAILURE() << r.job.counts().done << " records saved, " << onDisk() << " on disk";
        ++checks;
    };
    ASSERT_TRUE(r.runSave());
    EXPECT_EQ(checks, 2 * (2 + 12 + 2100));
    EXPECT_EQ(onDisk(), 2 + 12 + 2100);
}

// A restore reads its backup once, at the start: what happens to the file
// later (only a job that ignores the lock could change it) changes nothing.
TEST(SaveJournal, ARestoreReadsItsBackupOnceAtTheStart) {
    JobRig r(0);
    ASSERT_TRUE(
        kt::test::put(r.loadFile, "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nDC=01\r\nDI=02\r\n"));
    r.choose({"system"});
    ASSERT_TRUE(r.load());
    ASSERT_TRUE(kt::test::put(r.loadFile, "[HEAD]\r\nTitle=KT560AX\r\n[Data]\r\nDC=77\r\n"));
    r.run();
    EXPECT_EQ(r.controller.requests(), (QList<QByteArray>{"01DC01", "01DI02"}));
}

} // namespace
