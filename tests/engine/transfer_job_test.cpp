// Save and Load jobs on the virtual clock against the in-process controller.
#include "engine/backup_file.h"
#include "engine/load_warnings.h"
#include "shell/ini_file.h"
#include "shell/regular_file.h"
#include "support/job_rig.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

using namespace kt::engine;
using kt::sim::Fault;
using namespace kt::test;
using kt::shell::ReadIni;
using kt::shell::WriteIni;

QList<QByteArray> series(const char* code, int first, int last, int digits) {
    QList<QByteArray> keys;
    for (int i = first; i <= last; ++i)
        keys.append(code + QByteArray::number(i).rightJustified(digits, '0'));
    return keys;
}

// Records 1..last of each code in turn, then the one record `tail`.
QList<QByteArray> interleaved(QList<const char*> codes, int last, const char* tail) {
    QList<QByteArray> keys;
    for (int i = 1; i <= last; ++i)
        for (const char* code : codes)
            keys.append(code + QByteArray::number(i).rightJustified(2, '0'));
    return keys << tail;
}

// Each category alone is saved and restored record by record, in order, also on
// a line that echoes each request (RS-485) with the Echo setting; without, a Save fails.
TEST(TransferJob, EachCategoryIsSavedAndLoadedRecordByRecord) {
    struct Case {
        const char* name;
        QList<QByteArray> keys; // in request order
        int share;
        bool echo;
        const char* captions; // some of those shown with 100 cards, '|' between
    };
    const Case cases[] = {
        {"master", series("BA", 1, 3, 1) + series("BB", 1, 3, 1) + series("BC", 1, 8, 1), 14, false,
         "Master Card- Operator:  8"},
        {"system", {"DC", "DI"}, 2, true, "System Database- Module"},
        {"appset", interleaved({"EA", "EB", "EC"}, 16, "ED"), 17, false,
         "Application Set- AppSet:  12|Application Set- Security PIN"},
        {"timezone", series("FA", 1, 30, 2) + series("FD", 1, 60, 2), 90, false, ""},
        {"holiday", series("GA", 1, 12, 2), 12, false, ""},
        {"cards", series("HA", 1, 100, 4), 100, true, "Card Data- Card No:  100"},
        {"flow", series("MD", 1, 250, 3), 250, false, ""},
        {"doset", interleaved({"NA", "NB"}, 16, "ND"), 33, true,
         "DO Set Time Zone- DO Set No:  3 (Week)|DO Set Time Zone- DO Set No:  17 (Type)"},
        {"diset", interleaved({"OA", "OB"}, 4, "OD"), 9, false,
         "DI Alarm Time Zone- DI Set No:  5 (Module)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig r;
        r.choose({c.name});
        r.controller.setEcho(c.echo);
        r.job.setLineTimes({.echo = c.echo});
        r.request.address = 7;
        r.runSave();
        QList<QByteArray> requests, lines, writes;
        for (const QByteArray& key : c.keys) {
            requests.append("07" + (key.startsWith("HA") ? "HB" + key.mid(2) : key));
            lines.append(key + "=" + r.store.value(key));
            writes.append("07" + key + r.store.value(key));
        }
        EXPECT_EQ(r.controller.requests(), requests);
        EXPECT_EQ(sectionLines(r.saveFile), lines);
        EXPECT_EQ(othersMay(r.saveFile), QFile::Permissions());
        EXPECT_EQ(r.view.progressMax, 1 + c.share);
        EXPECT_EQ(r.view.captions.size(), 1 + c.share);
        EXPECT_EQ(r.view.captions.first(), "Communication Step");
        for (const QString& caption : QString(c.captions).split('|', Qt::SkipEmptyParts))
            EXPECT_TRUE(r.view.captions.contains(caption)) << caption.toStdString();
        r.runLoad();
        EXPECT_EQ(r.controller.requests().mid(c.keys.size()), writes);
        EXPECT_EQ(r.view.messages, (QStringList{r.view.savedMessage(c.keys.size(), 0),
                                                r.view.loadedMessage(c.keys.size(), 0)}));
    }
    JobRig r;
    r.controller.setEcho(true);
    ASSERT_TRUE(r.runSave());
    EXPECT_EQ(r.job.outcome(), JobOutcome::Garbled);
}

// A job that stops midway (the link gives up, a reply the file cannot hold)
// says why, keeps what it had, asks no more.
TEST(TransferJob, AJobThatStopsMidwaySaysWhyAndGoesNoFurther) {
    const auto text = [](const char* key, const QStringList& args) {
        return kt::shell::fillIn(FakeJobView().languageText(key), args);
    };
    const QList<QByteArray> appset = interleaved({"EA", "EB", "EC"}, 6, "EA07");
    struct Case {
        const char* category;
        int silentAfter;        // replies before the line goes silent; -1 never
        QList<QByteArray> done; // the keys in the file
        int total;
        QString message;
    };
    const Case cases[] = {
        {"appset", 19, appset, 49, text("CommunicationError", {})},
        {"system", -1, {"DC"}, 2, text("ReplyNotStorable", {"DI"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        JobRig r;
        r.store.setValue("DI", "AB\nCD"); // a line feed cannot stand in an INI value
        if (c.silentAfter >= 0)
            r.controller.setFaultPlan({.fault = Fault::Silence, .startAfter = c.silentAfter});
        r.choose({c.category});
        r.request.cardCount = 2;
        r.runSave();
        EXPECT_EQ(keysOf(sectionLines(r.saveFile)), c.done);
        EXPECT_EQ(r.view.messages, QStringList{"3/1/" + c.message + "."});
        EXPECT_EQ(r.view.summaries, QStringList{text("SaveStopped", {QString::number(c.done.size()),
                                                                     QString::number(c.total)})});
        EXPECT_EQ(r.view.progressValue, r.view.progressMax);
        EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));
        EXPECT_EQ(r.job.outcome(),
                  c.silentAfter < 0 ? JobOutcome::FileError : JobOutcome::NoAnswer);
    }
}

// A restore checks every value before it sends the first: one that a
// request frame cannot carry stops it before it begins, naming each. One
// that goes ahead names the card slots it left as they were.
TEST(TransferJob, ARestoreChecksItsValuesFirstAndNamesTheSlotsItLeft) {
    const QByteArray card = "0012345678123401FF00FF00";
    JobRig r;
    r.choose({"system", "cards"});
    r.request.cardCount = 9;
    const QByteArray escapes = "[HEAD]\nTitle=KT560AX\n[Data]\nDC=01\nDI=12\00234\nHA0001=" + card +
                               "\nHA0002=" + card.left(22) + "\0330\n";
    // A Save that reads such a value says so and marks the backup.
    r.store.setValue("DC", "AB\033CD");
    ASSERT_TRUE(r.runSave());
    EXPECT_TRUE(r.view.messages.last().endsWith(
        kt::shell::fillIn(r.view.languageText("SaveUnsendable"), {"DC"}) + "."))
        << r.view.messages.last().toStdString();
    EXPECT_EQ(readManifest(r.saveFile).unsendable, QList<QByteArray>{"DC"});

    const qsizetype sent = r.controller.requests().size();
    ASSERT_TRUE(put(r.loadFile, escapes));
    r.view.messages.clear();
    EXPECT_FALSE(r.runLoad());
    EXPECT_EQ(r.controller.requests().size(), sent); // nothing sent
    EXPECT_EQ(r.job.outcome(), JobOutcome::FileError);
    EXPECT_EQ(r.view.messages,
              QStringList{"3/1/" +
                          kt::shell::fillIn(r.view.languageText("ValuesNotSendable"),
                                            {r.loadFile, "DI, HA0002"}) +
                          "."});

    // Cards 2 to 6 and 8 to 9 have no value: whatever the controller holds
    // there stays, and the end says so.
    ASSERT_TRUE(put(r.loadFile, "[HEAD]\nTitle=KT560AX\n[Data]\nDC=01\nDI=1234\nHA0001=" + card +
                                    "\nHA0007=" + card + "\n"));
    r.view.messages.clear();
    ASSERT_TRUE(r.runLoad());
    EXPECT_EQ(r.job.untouchedCards(), (QList<int>{2, 3, 4, 5, 6, 8, 9}));
    EXPECT_TRUE(r.view.messages.last().endsWith(
        kt::shell::fillIn(r.view.languageText("LoadCardsLeft"), {"2-6, 8, 9"}) + "."))
        << r.view.messages.last().toStdString();
}

// A restore that offers a backup first (ticked) reads the controller into
// NAME.before-restore-TIME.KT beside the file before its first write, and its
// end names that backup; cleared, nothing is read first; a backup that
// cannot finish leaves the controller as it was.
TEST(TransferJob, ARestoreBacksTheControllerUpFirstUnlessCleared) {
    struct Case {
        const char* name;
        bool tick;
        int address;
        bool restored;
        int backups;
    } cases[] = {
        {"ticked", true, 1, true, 1},
        {"cleared", false, 1, true, 0},
        {"controller silent", true, 9, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig r(2000);
        r.choose({"system", "cards"});
        r.request.cardCount = 2000;
        ASSERT_TRUE(r.runSave());
        const QByteArray saved = r.store.value("DC");
        r.store.setValue("DC", "77"); // changed since: the restore puts it back
        r.request.offerBackupFirst = true;
        r.request.askBeforeLoad = true;
        r.request.address = c.address;
        r.view.tickOption = c.tick;
        r.view.messages.clear();
        ASSERT_TRUE(r.runLoad());
        EXPECT_EQ(r.store.value("DC"), c.restored ? saved : QByteArray("77"));
        ASSERT_EQ(r.view.options.size(), 1);
        EXPECT_EQ(r.view.options[0],
                  kt::shell::fillIn(r.view.languageText("LoadBackupFirst"), {"2 min"}));
        const QStringList backups = QDir(r.dir.path()).entryList({"01.before-restore-*_*.KT"});
        ASSERT_EQ(backups.size(), c.backups);
        if (c.backups == 1) {
            const QString backup = r.dir.filePath(backups[0]);
            EXPECT_EQ(readBackupRecords(backup).value("DC"), "77");
            EXPECT_EQ(r.job.backedUpFirst(), backup);
            EXPECT_TRUE(r.view.messages.last().endsWith(
                kt::shell::fillIn(r.view.languageText("LoadBackedUpFirst"), {backup}) + "."))
                << r.view.messages.last().toStdString();
        }
        if (!c.restored) {
            EXPECT_TRUE(
                r.view.messages.last().endsWith(r.view.languageText("BackupFirstStopped") + "."))
                << r.view.messages.last().toStdString();
        }
    }
}

// Cancel near the 51st flow record (20 ms each) sends and writes nothing more and
// leaves a file that says it stopped, with nothing of an earlier Save's end.
TEST(TransferJob, CancelDuringAWaitSendsAndWritesNothingMore) {
    struct Case {
        double cancelAtMs;
        bool saveAgain;
        int requests;
        int keys;
        int saved; // by the stopped Save
    };
    const Case cases[] = {
        {1005, false, 50, 49, 49},           // in the quiet after the 50th reply: not written
        {1015, false, 51, 50, 50},           // in the 51st's RX delay: its reply is not written
        {1015, true, 51 + 1 + 250, 250, 50}, // and a Save at once: a probe, then all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cancelAtMs << (c.saveAgain ? " and Save" : ""));
        JobRig r;
        ASSERT_TRUE(put(r.saveFile, "[HEAD]\nTitle=KT560AX\nComplete=1\nCards=3\n"
                                    "Finished=2026-01-01T10:00:00+00:00\nRecords=5\n"));
        r.choose({"flow"});
        r.save();
        r.clock.callAt(c.cancelAtMs, [&] {
            r.job.cancel();
            if (c.saveAgain)
                r.save();
        });
        r.run();
        EXPECT_EQ(r.controller.requests().size(), c.requests);
        QList<QByteArray> records;
        for (const QByteArray& key : series("MD", 1, c.keys, 3))
            records.append(key + '=' + r.store.value(key));
        EXPECT_EQ(sectionLines(r.saveFile), records);
        EXPECT_EQ(keysOf(sectionLines(r.saveFile, "HEAD")).join(' '),
                  "Title Complete Started Controller Categories" +
                      QByteArray(c.saveAgain ? " Finished Records" : ""));
        EXPECT_EQ(ReadIni(r.saveFile, "HEAD", "Complete"), c.saveAgain ? "1" : "0");
        EXPECT_EQ(r.view.messages,
                  c.saveAgain ? QStringList{r.view.savedMessage(250, 0)} : QStringList{});
        EXPECT_EQ(r.view.summaries,
                  QStringList{QString("Backup stopped: %1 of 250 records saved").arg(c.saved)});
        EXPECT_EQ(r.view.runningShown.size(), c.saveAgain ? 4 : 2);
    }
}

// A Save keeps its start's request, changed mid-job (a disabled scroll bar moved by
// an accessibility client), in requests and manifest. Cards go to the file of their
// block, new files private to the owner; a main file readable by all stays so.
TEST(TransferJob, ASaveKeepsItsRequestAndPutsCardsInTheFileOfTheirBlock) {
    JobRig r(0);
    for (const int i : {1, 1999, 2000, 3999, 4000, 6000, 7999, 8000, 9999})
        r.store.setValue(cardKey(i), QByteArray::number(i).rightJustified(24, 'C'));
    ASSERT_TRUE(put(r.saveFile, ""));
    QFile::setPermissions(r.saveFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
    const QFile::Permissions mainFileOthersMay = othersMay(r.saveFile);
    r.choose({"system", "cards"});
    r.request.cardCount = 9999;
    r.save();
    r.clock.callAt(50, [&] {
        r.request.address = 7;
        r.request.cardCount = 5;
    });
    r.run();
    EXPECT_EQ(r.controller.requests().size(), 2 + 9999);
    EXPECT_TRUE(r.controller.requests().last().startsWith("01"));
    EXPECT_EQ(r.view.progressMax, 1 + 2 + 9999);
    const QString stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)";
    const QRegularExpression manifest(
        "^Title=KT560AX\nComplete=1\nStarted=" + stamp +
        "\nController=01\nCategories=SystemDatabase,UserCardDatabase\nCards=9999\nFinished=" +
        stamp + "\nRecords=11$");
    const QString head = QString::fromLatin1(sectionLines(r.saveFile, "HEAD").join('\n'));
    EXPECT_TRUE(manifest.match(head).hasMatch()) << head.toStdString();
    const QStringList files = {"01.KT", "201.KT", "401.KT", "601.KT", "801.KT"};
    const QByteArrayList keys = {"DC DI HA0001 HA1999", "HA2000 HA3999", "HA4000", "HA6000 HA7999",
                                 "HA8000 HA9999"};
    EXPECT_EQ(QDir(r.dir.path()).entryList({"*.KT"}, QDir::Files, QDir::Name), files);
    for (qsizetype i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].toStdString());
        EXPECT_EQ(keysOf(sectionLines(r.dir.filePath(files[i]))).join(' '), keys[i]);
        EXPECT_EQ(othersMay(r.dir.filePath(files[i])),
                  i == 0 ? mainFileOthersMay : QFile::Permissions());
    }
    EXPECT_EQ(ReadIni(r.dir.filePath("201.KT"), "HEAD", "Title"), "");
}

// A card record is the first 24 characters of a reply after leading blanks;
// fewer make an empty slot. Trailing blanks survive the file quoted; a restore
// sends only stored records of 24 characters.
TEST(TransferJob, CardRecordsHaveTwentyFourCharactersThroughASaveAndARestore) {
    const QByteArray plain = "0012345678123401FF00FF00";
    const QByteArray blank = plain.left(23) + ' ';
    const QByteArray tab = plain.left(22) + "\t ";
    const QByteArray quotes = '"' + plain.left(22) + '"';
    const QByteArray replies[] = {plain, plain + "EXTRA", "   " + tab, quotes,
                                  blank, plain.left(23),  ""};
    JobRig r(0);
    for (int i = 1; i <= 7; ++i)
        r.store.setValue(cardKey(i), replies[i - 1]);
    ASSERT_TRUE(WriteIni(r.saveFile, "Data", cardKey(6), "old card from before"));
    r.choose({"cards"});
    r.request.cardCount = 7;
    r.runSave();
    EXPECT_EQ(sectionLines(r.saveFile),
              (QList<QByteArray>{"HA0001=" + plain, "HA0002=" + plain, "HA0003=\"" + tab + '"',
                                 "HA0004=\"" + quotes + '"', "HA0005=\"" + blank + '"'}));
    EXPECT_TRUE(WriteIni(r.loadFile, "HEAD", "Cards", "9"));
    EXPECT_TRUE(WriteIni(r.loadFile, "Data", cardKey(6), plain.left(23)));
    EXPECT_TRUE(WriteIni(r.loadFile, "Data", cardKey(7), plain + "9"));
    EXPECT_TRUE(WriteIni(r.loadFile, "Data", cardKey(8), " " + plain + " "));
    r.request.cardCount = 9;
    r.runLoad();
    EXPECT_EQ(r.view.messages,
              (QStringList{
                  r.view.savedMessage(5, 2),
                  r.view.loadedMessage(6, 3) + '\n' +
                      kt::shell::fillIn(r.view.languageText("LoadCardsLeft"), {"6, 7, 9"}) + '.'}));
    EXPECT_EQ(r.controller.requests().mid(7),
              (QList<QByteArray>{"01HA0001" + plain, "01HA0002" + plain, "01HA0003" + tab,
                                 "01HA0004" + quotes, "01HA0005" + blank, "01HA0008" + plain}));
}

// A job that cannot start says why, names the file (but for no category),
// and sends and writes nothing.
TEST(TransferJob, AJobThatCannotStartSaysWhyAndTouchesNothing) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 7919) % 256);
    const QByteArray backup = "[HEAD]\nTitle=KT560AX\n[Data]\nDC=01\n";
    const QString noCategory = "NothingSelected", notBackup = "FileFormatError",
                  unwritable = "FileOpenError", notRegular = "FileNotRegular", inUse = "FileInUse";
    enum class Odd { None, NoFolder, Fifo, ZeroCards, Huge, Reader, Writer };
    struct Case {
        const char* name;
        bool save;
        QByteArray contents; // of the file, written first when not null
        QString key;         // the message's text; empty: the job starts
        Odd odd = Odd::None; // what else is there
    };
    const Case cases[] = {
        {"nothing ticked, Save", true, {}, noCategory},
        {"nothing ticked, Load", false, backup, noCategory},
        {"a save path in no folder", true, {}, unwritable, Odd::NoFolder},
        {"a missing load file", false, {}, "FileNoFund"},
        {"a title in another case", false, "[HEAD]\nTitle=kt560ax\n", notBackup},
        {"a title with blanks", false, "[HEAD]\nTitle=  KT560AX  \n", ""},
        {"binary garbage", false, garbage, notBackup},
        {"a 10 MB line", false, QByteArray(10 * 1024 * 1024, 'x'), notBackup},
        {"no line ends", false, "[HEAD]Title=KT560AX[Data]DC=01", notBackup},
        {"a header without end", false, "[HEAD\r\nTitle=KT560AX\r\n", notBackup},
        {"an empty file", false, "", notBackup},
#ifdef Q_OS_UNIX
        {"a backup that is a FIFO", false, {}, notRegular, Odd::Fifo},
        {"a save into a FIFO", true, {}, notRegular, Odd::Fifo},
        {"a card file linked to /dev/zero", false, backup, notRegular, Odd::ZeroCards},
        {"a backup larger than any can be", false, backup, "FileTooLarge", Odd::Huge},
        {"a restore while a save runs", false, backup, inUse, Odd::Writer},
        {"a save while a restore runs", true, backup, inUse, Odd::Reader},
        {"two restores side by side", false, backup, "", Odd::Reader},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig r;
        if (c.key == noCategory)
            r.choose({});
        const QString path = r.dir.filePath(c.odd == Odd::NoFolder ? "no/such/dir/01.KT" : "01.KT");
        ASSERT_TRUE(c.contents.isNull() || put(path, c.contents));
        QString named = path; // the file the message names
        BackupLock other;
#ifdef Q_OS_UNIX
        if (c.odd == Odd::Fifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        if (c.odd == Odd::ZeroCards)
            QFile::link("/dev/zero", named = cardFile(path, 2000));
        if (c.odd == Odd::Huge) // sparse: no disk used
            QFile(path).resize(kt::shell::kMaxIniFileBytes + 1);
        if (c.odd == Odd::Reader || c.odd == Odd::Writer) {
            ASSERT_TRUE(other.take(path, c.odd == Odd::Writer));
        }
#endif
        const bool started = r.start(c.save ? Direction::Save : Direction::Load, path);
        EXPECT_EQ(started, c.key.isEmpty());
        EXPECT_EQ(r.job.isActive(), started);
        if (started)
            continue;
        const QString folder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
        const QString cause = kt::shell::fillIn(r.view.languageText("FileNoFolder"), {folder});
        const bool withPath = c.key != noCategory;
        EXPECT_EQ(r.view.messages, QStringList{"3/1/" + (withPath ? named + " - " : "") +
                                               r.view.languageText(qPrintable(c.key)) +
                                               (c.key == unwritable ? ": " + cause : "") + "."});
        QFile left(path);
        if (c.odd != Odd::Fifo && c.odd != Odd::Huge) {
            EXPECT_EQ(left.exists(), !c.contents.isNull());
            EXPECT_EQ(left.open(QIODevice::ReadOnly) ? left.readAll() : QByteArray(), c.contents);
        }
        EXPECT_TRUE(r.view.runningShown.isEmpty());
        EXPECT_TRUE(r.controller.requests().isEmpty());
    }
}

// The risks of a restore of the holiday table and the cards, in order. A Load
// asks once, with every reason, and Cancel starts nothing; stale cards alone
// are only said.
TEST(LoadWarnings, EachRiskOfARestoreIsFoundInOrderAndAskedOnce) {
    using K = LoadWarning::Kind;
    const QList<QByteArray> cards = {"UserCardDatabase"},
                            both = {"HolidayTable", "UserCardDatabase"};
    const LoadWarning stopped = {.kind = K::Incomplete},
                      notSaved = {.kind = K::CategoryNotSaved, .category = findCategory("holiday")},
                      stale5 = {.kind = K::StaleCards, .stale = {5}};
    struct Case {
        const char* name;
        std::optional<bool> complete; // the manifest's
        QList<QByteArray> categories;
        std::optional<int> saved;
        int held; // cards 1..held in the files
        int chosen;
        QList<LoadWarning> warnings;
    };
    const Case cases[] = {
        {"an older backup without manifest", {}, {}, {}, 0, 100, {}},
        {"a finished backup that holds it all", true, both, 100, 90, 100, {}},
        {"fewer cards than saved", true, {}, 50, 50, 40, {{K::CardNumbers, 50, 40}}},
        {"5 then 3 cards saved, 5 chosen", true, {}, 3, 5, 5, {{K::CardNumbers, 3, 5}}},
        {"5 then 3 cards saved, 4 chosen", true, {}, 3, 5, 4, {{K::CardNumbers, 3, 4}, stale5}},
        {"a stopped backup covers every slot held", false, {}, 3, 5, 5, {stopped}},
        {"no manifest covers every slot held", {}, {}, {}, 5, 3, {{K::CardNumbers, 5, 3}}},
        {"all three", false, cards, 50, 50, 100, {stopped, {K::CardNumbers, 50, 100}, notSaved}},
    };
    JobRequest request;
    request.categories = {findCategory("holiday"), findCategory("cards")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Manifest manifest;
        manifest.complete = c.complete;
        manifest.categories = c.categories;
        manifest.cards = c.saved;
        request.cardCount = c.chosen;
        QList<int> held;
        for (int slot = 1; slot <= c.held; ++slot)
            held.append(slot);
        EXPECT_EQ(loadWarnings(manifest, held, request), c.warnings);
    }

    const QString question = "2/3/This backup may not restore the controller as it was:\n"
                             "- the backup stopped before its end, the file is incomplete.\n"
                             "- the backup holds 50 cards; 100 will be restored.\n"
                             "- Holiday Table was not part of the last backup into this file.\n"
                             "\nRestore anyway?";
    const QString note = "3/1/the files also hold cards in slots 4, 5, left by an older backup: "
                         "they will not be restored.";
    const std::tuple<QByteArray, int, int, QString, bool> loads[] = {
        {"Complete=0\nCards=40\nCategories= userCardDatabase \n", 50, 100, question, false},
        {"Complete=1\nCards=3\n", 5, 3, note, true},
    };
    for (const auto& [head, held, chosen, message, starts] : loads) {
        SCOPED_TRACE(head.constData());
        JobRig r;
        QByteArray file = "[HEAD]\nTitle=KT560AX\n" + head + "[Data]\n";
        for (int i = 1; i <= held; ++i)
            file += cardKey(i) + "=0012345678123401FF00FF00\n";
        ASSERT_TRUE(put(r.loadFile, file));
        r.choose({"holiday", "cards"});
        r.request.cardCount = chosen;
        r.view.answer = kt::shell::MsgAnswer::Cancel;
        r.load();
        EXPECT_EQ(r.view.messages, QStringList{message});
        r.run();
        EXPECT_EQ(r.controller.requests().isEmpty(), !starts);
    }
}

} // namespace
