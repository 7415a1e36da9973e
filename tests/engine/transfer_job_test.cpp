// Save and Load jobs on the virtual clock against the in-process
// controller: request order, keys written, progress, captions, stops,
// cancel, card files and card rules, the manifest, and the warnings and
// questions before a risky restore.
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

using namespace kt::sim;
using kt::engine::findCategory;
using kt::shell::ReadIni;
using kt::shell::WriteIni;
using kt::test::cardKey;
using kt::test::JobRig;
using kt::test::keysOf;
using kt::test::put;
using kt::test::sectionLines;

QList<QByteArray> series(const char* code, int first, int last, int digits) {
    QList<QByteArray> keys;
    for (int i = first; i <= last; ++i)
        keys.append(code + QByteArray::number(i).rightJustified(digits, '0'));
    return keys;
}

QList<QByteArray> interleaved(QList<const char*> codes, int last) {
    QList<QByteArray> keys;
    for (int i = 1; i <= last; ++i)
        for (const char* code : codes)
            keys.append(code + QByteArray::number(i).rightJustified(2, '0'));
    return keys;
}

struct CategoryCase {
    const char* name;
    QList<QByteArray> keys; // in request order
    int share;
    QStringList captions; // among those shown, with 100 cards
};

QList<CategoryCase> categoryCases() {
    return {
        {"master",
         series("BA", 1, 3, 1) + series("BB", 1, 3, 1) + series("BC", 1, 8, 1),
         14,
         {"Master Card- Operator:  8"}},
        {"system", {"DC", "DI"}, 2, {"System Database- Module"}},
        {"appset",
         interleaved({"EA", "EB", "EC"}, 16) + QList<QByteArray>{"ED"},
         17,
         {"Application Set- AppSet:  12", "Application Set- Security PIN"}},
        {"timezone", series("FA", 1, 30, 2) + series("FD", 1, 60, 2), 90, {}},
        {"holiday", series("GA", 1, 12, 2), 12, {}},
        {"cards", series("HA", 1, 100, 4), 100, {"Card Data- Card No:  100"}},
        {"flow", series("MD", 1, 250, 3), 250, {}},
        {"doset",
         interleaved({"NA", "NB"}, 16) + QList<QByteArray>{"ND"},
         33,
         {"DO Set Time Zone- DO Set No:  3 (Week)", "DO Set Time Zone- DO Set No:  17 (Type)"}},
        {"diset",
         interleaved({"OA", "OB"}, 4) + QList<QByteArray>{"OD"},
         9,
         {"DI Alarm Time Zone- DI Set No:  5 (Module)"}},
    };
}

// Each category alone: a Save asks for its records in order and writes
// each key; a Load of that file into an empty controller sends each value
// after its key.
TEST(TransferJob, EachCategoryIsSavedAndLoadedRecordByRecord) {
    for (const CategoryCase& c : categoryCases()) {
        SCOPED_TRACE(c.name);
        JobRig r;
        r.choose({c.name});
        r.request.address = 7;
        r.runSave();

        QList<QByteArray> expectedRequests;
        QList<QByteArray> expectedLines;
        QList<QByteArray> expectedWrites;
        for (const QByteArray& key : c.keys) {
            expectedRequests.append("07" + (key.startsWith("HA") ? "HB" + key.mid(2) : key));
            expectedLines.append(key + "=" + r.store.value(key));
            expectedWrites.append("01" + key + r.store.value(key));
        }
        EXPECT_EQ(r.controller.requests(), expectedRequests);
        EXPECT_EQ(sectionLines(r.saveFile), expectedLines);
        EXPECT_EQ(kt::test::othersMay(r.saveFile), QFile::Permissions());
        EXPECT_EQ(r.view.progressMax, 1 + c.share);
        // Caption of the job set-up, then one per progress step: its index
        // after two blanks.
        EXPECT_EQ(r.view.captions.size(), 1 + c.share);
        EXPECT_EQ(r.view.captions.first(), "Communication Step");
        for (const QString& caption : c.captions)
            EXPECT_TRUE(r.view.captions.contains(caption)) << caption.toStdString();
        EXPECT_EQ(r.view.messages, QStringList{r.view.savedMessage(c.keys.size(), 0)});

        JobRig target(0);
        target.loadFile = r.saveFile;
        target.choose({c.name});
        target.runLoad();
        EXPECT_EQ(target.controller.requests(), expectedWrites);
        EXPECT_EQ(target.view.messages, QStringList{target.view.loadedMessage(c.keys.size(), 0)});
    }
}

// On a line that echoes every request (an RS-485 converter), a Save and a
// Load go through with the Echo setting; without it the echo is taken for
// the reply and the Save fails.
TEST(TransferJob, ALineThatEchoesWorksWithTheEchoSetting) {
    using kt::engine::JobOutcome;
    for (const bool echo : {true, false}) {
        SCOPED_TRACE(echo ? "Echo=1" : "Echo=0");
        JobRig r(5);
        r.controller.setEcho(true);
        r.settings.echo = echo;
        r.choose({"system", "cards"});
        r.request.cardCount = 5;
        ASSERT_TRUE(r.runSave());
        EXPECT_EQ(r.job.outcome(), echo ? JobOutcome::Finished : JobOutcome::Garbled);
        if (!echo)
            continue;
        EXPECT_EQ(ReadIni(r.saveFile, "HEAD", "Complete"), "1");
        const qsizetype saved = r.controller.requests().size();
        ASSERT_TRUE(r.runLoad());
        EXPECT_EQ(r.job.outcome(), JobOutcome::Finished);
        EXPECT_EQ(r.controller.requests().size(), 2 * saved);
    }
}

// A job that stops midway (the link gives up, a reply the file cannot hold,
// a value that would break the request frame) says why, keeps what it had
// and asks for nothing more. The controller's DI cannot be stored.
TEST(TransferJob, AJobThatStopsMidwaySaysWhyAndGoesNoFurther) {
    using kt::engine::JobOutcome;
    const kt::test::FakeJobView view;
    const auto text = [&](const char* key, const QStringList& args) {
        return kt::shell::fillIn(view.languageText(key), args);
    };
    const QByteArray card = "0012345678123401FF00FF00";
    const QList<QByteArray> appset = interleaved({"EA", "EB", "EC"}, 6) + QList<QByteArray>{"EA07"};
    const QByteArray escapeInCard = "HA0001=" + card + "\nHA0002=" + card.left(22) + "\0330\n";
    struct Case {
        const char* category;
        int silentAfter;        // replies before the line goes silent; -1 never
        QByteArray restore;     // a Load of these data lines; empty: a Save
        QList<QByteArray> done; // a Save's keys in the file, a Load's requests
        int total;
        QString message;
    };
    const Case cases[] = {
        {"appset", 19, {}, appset, 49, text("CommunicationError", {})},
        {"system", -1, {}, {"DC"}, 2, text("ReplyNotStorable", {"DI"})},
        {"system", -1, "DC=01\nDI=12\00234\n", {"01DC01"}, 2, text("ValueNotSendable", {"DI"})},
        {"cards", -1, escapeInCard, {"01HA0001" + card}, 2, text("ValueNotSendable", {"HA0002"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        JobRig r;
        r.store.setValue("DI", "AB\nCD"); // a line feed cannot stand in an INI value
        if (c.silentAfter >= 0)
            r.controller.setFaultPlan({.fault = Fault::Silence, .startAfter = c.silentAfter});
        r.choose({c.category});
        r.request.cardCount = 2;
        const bool save = c.restore.isEmpty();
        if (!save) {
            ASSERT_TRUE(put(r.loadFile, "[HEAD]\nTitle=KT560AX\n[Data]\n" + c.restore));
        }
        r.runJob(save ? kt::engine::Direction::Save : kt::engine::Direction::Load, r.loadFile);
        EXPECT_EQ(save ? keysOf(sectionLines(r.saveFile)) : r.controller.requests(), c.done);
        EXPECT_EQ(r.view.messages, QStringList{"3/1/" + c.message + "."});
        EXPECT_EQ(r.view.summaries,
                  QStringList{text(save ? "SaveStopped" : "LoadStopped",
                                   {QString::number(c.done.size()), QString::number(c.total)})});
        EXPECT_EQ(r.view.progressValue, r.view.progressMax);
        EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));
        EXPECT_EQ(r.job.outcome(),
                  c.silentAfter < 0 ? JobOutcome::FileError : JobOutcome::NoAnswer);
    }
}

// Cancel near the 51st flow record (each takes 20 ms: the quiet after the
// previous reply that is the TX delay, write, RX delay 10) sends and writes
// nothing more, and the file says it stopped, with nothing left of an
// earlier Save's end. A Save in the same moment, as a quick double click
// gives, runs whole.
TEST(TransferJob, CancelDuringAWaitSendsAndWritesNothingMore) {
    struct Case {
        double cancelAtMs;
        bool saveAgain;
        int requests;
        int keys;
        int saved; // by the stopped Save
    };
    const Case cases[] = {
        {1005, false, 50, 49, 49}, // in the quiet after the 50th reply: not written
        {1015, false, 51, 50, 50}, // in the 51st's RX delay: its reply is not written
        // And Save again: the cancelled reply may still come, so its first
        // reply is confirmed by a probe.
        {1015, true, 51 + 1 + 250, 250, 50},
    };
    const QList<QByteArray> stoppedHead = {"Title", "Complete", "Started", "Controller",
                                           "Categories"};
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
        const QList<QByteArray> lines = sectionLines(r.saveFile);
        ASSERT_EQ(lines.size(), c.keys);
        for (const QByteArray& line : lines)
            EXPECT_EQ(line.mid(line.indexOf('=') + 1), r.store.value(line.left(line.indexOf('='))));
        EXPECT_EQ(keysOf(sectionLines(r.saveFile, "HEAD")),
                  stoppedHead + (c.saveAgain ? QList<QByteArray>{"Finished", "Records"}
                                             : QList<QByteArray>{}));
        EXPECT_EQ(ReadIni(r.saveFile, "HEAD", "Complete"), c.saveAgain ? "1" : "0");
        EXPECT_EQ(ReadIni(r.saveFile, "HEAD", "Categories"), "FlowControl");
        EXPECT_EQ(r.view.messages,
                  c.saveAgain ? QStringList{r.view.savedMessage(250, 0)} : QStringList{});
        EXPECT_EQ(r.view.summaries,
                  QStringList{QString("Backup stopped: %1 of 250 records saved").arg(c.saved)});
        EXPECT_EQ(r.view.runningShown.size(), c.saveAgain ? 4 : 2);
        EXPECT_FALSE(r.job.isActive());
    }
}

// Cards go to the file of their block, a new file private to its owner.
TEST(TransferJob, CardsGoToTheFileOfTheirBlock) {
    JobRig r(0);
    const int indexes[] = {1, 1999, 2000, 3999, 4000, 6000, 7999, 8000, 9999};
    for (const int i : indexes)
        r.store.setValue(cardKey(i), QByteArray::number(i).rightJustified(24, 'C'));
    // A main file there before, readable by all: it stays so.
    ASSERT_TRUE(put(r.saveFile, ""));
    QFile::setPermissions(r.saveFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
    const QFile::Permissions mainFileOthersMay = kt::test::othersMay(r.saveFile);
    r.choose({"cards"});
    r.request.cardCount = 9999;
    r.runSave();
    EXPECT_EQ(r.controller.requests().size(), 9999);
    const std::pair<QString, QList<QByteArray>> files[] = {{"01.KT", {"HA0001", "HA1999"}},
                                                           {"201.KT", {"HA2000", "HA3999"}},
                                                           {"401.KT", {"HA4000"}},
                                                           {"601.KT", {"HA6000", "HA7999"}},
                                                           {"801.KT", {"HA8000", "HA9999"}}};
    EXPECT_EQ(QDir(r.dir.path()).entryList({"*.KT"}, QDir::Files).size(), std::size(files));
    for (const auto& [file, keys] : files) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_EQ(keysOf(sectionLines(r.dir.filePath(file))), keys);
        EXPECT_EQ(kt::test::othersMay(r.dir.filePath(file)),
                  file == "01.KT" ? mainFileOthersMay : QFile::Permissions());
    }
    EXPECT_EQ(ReadIni(r.dir.filePath("201.KT"), "HEAD", "Title"), "");
}

// A card record is the first 24 characters of a reply after its leading
// blanks; fewer make an empty slot, whose older record goes. Records that
// end in blanks are quoted in the file and come back whole; a restore sends
// only stored records of 24 characters.
TEST(TransferJob, CardRecordsHaveTwentyFourCharactersThroughASaveAndARestore) {
    const QByteArray plain = "0012345678123401FF00FF00";
    const QByteArray blank = plain.left(23) + ' ';
    const QByteArray tab = plain.left(22) + "\t ";
    const QByteArray quotes = '"' + plain.left(22) + '"';
    const QByteArray replies[] = {plain, plain + "EXTRA", "   " + tab, quotes,
                                  blank, plain.left(23),  ""};
    JobRig source(0);
    for (int i = 1; i <= 7; ++i)
        source.store.setValue(cardKey(i), replies[i - 1]);
    ASSERT_TRUE(WriteIni(source.saveFile, "Data", cardKey(6), "old card from before"));
    source.choose({"cards"});
    source.request.cardCount = 7;
    source.runSave();
    EXPECT_EQ(source.view.messages, QStringList{source.view.savedMessage(5, 2)});
    EXPECT_EQ(sectionLines(source.saveFile),
              (QList<QByteArray>{"HA0001=" + plain, "HA0002=" + plain, "HA0003=\"" + tab + '"',
                                 "HA0004=\"" + quotes + '"', "HA0005=\"" + blank + '"'}));

    // Stored records too short, too long, between blanks, none.
    JobRig target(0);
    target.loadFile = source.saveFile;
    EXPECT_TRUE(WriteIni(target.loadFile, "HEAD", "Cards", "9"));
    EXPECT_TRUE(WriteIni(target.loadFile, "Data", cardKey(6), plain.left(23)));
    EXPECT_TRUE(WriteIni(target.loadFile, "Data", cardKey(7), plain + "9"));
    EXPECT_TRUE(WriteIni(target.loadFile, "Data", cardKey(8), " " + plain + " "));
    target.choose({"cards"});
    target.request.cardCount = 9;
    target.runLoad();
    EXPECT_EQ(target.view.messages, QStringList{target.view.loadedMessage(6, 3)});
    EXPECT_EQ(target.controller.requests(),
              (QList<QByteArray>{"01HA0001" + plain, "01HA0002" + plain, "01HA0003" + tab,
                                 "01HA0004" + quotes, "01HA0005" + blank, "01HA0008" + plain}));
}

// A job that cannot start says why, names the file, and sends and writes
// nothing: no category, no backup, a backup of garbage, a file set that is
// no plain files or that another job holds.
TEST(TransferJob, AJobThatCannotStartSaysWhyAndTouchesNothing) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 7919) % 256);
    const QByteArray backup = "[HEAD]\nTitle=KT560AX\n[Data]\nDC=01\n";
    const QString noCategory = "NothingSelected", notFound = "FileNoFund",
                  notBackup = "FileFormatError", unwritable = "FileOpenError",
                  notRegular = "FileNotRegular", inUse = "FileInUse";
    enum class Odd { None, Fifo, ZeroCards, Huge, Reader, Writer };
    struct Case {
        const char* name;
        bool save;
        QString file;        // in the scratch folder, as typed
        QByteArray contents; // written there first when not null
        QString key;         // the message's text; empty: the job starts
        bool withPath;       // the message begins with the path and " - "
        Odd odd = Odd::None; // what else is there
    };
    const Case cases[] = {
        {"nothing ticked, Save", true, "01.KT", {}, noCategory, false},
        {"nothing ticked, Load", false, "01.KT", backup, noCategory, false},
        {"a save path in no folder", true, "no/such/dir/01.KT", {}, unwritable, true},
        {"a missing load file", false, "missing.KT", {}, notFound, true},
        {"a title in another case", false, "01.KT", "[HEAD]\nTitle=kt560ax\n", notBackup, false},
        {"a title with blanks", false, "01.KT", "[HEAD]\nTitle=  KT560AX  \n", "", false},
        {"binary garbage", false, "01.KT", garbage, notBackup, false},
        {"a 10 MB line", false, "01.KT", QByteArray(10 * 1024 * 1024, 'x'), notBackup, false},
        {"no line ends", false, "01.KT", "[HEAD]Title=KT560AX[Data]DC=01", notBackup, false},
        {"a header without end", false, "01.KT", "[HEAD\r\nTitle=KT560AX\r\n", notBackup, false},
        {"an empty file", false, "01.KT", "", notBackup, false},
#ifdef Q_OS_UNIX
        {"a backup that is a FIFO", false, "01.KT", {}, notRegular, true, Odd::Fifo},
        {"a save into a FIFO", true, "01.KT", {}, notRegular, true, Odd::Fifo},
        {"a card file linked to /dev/zero", false, "01.KT", backup, notRegular, true,
         Odd::ZeroCards},
        {"a backup larger than any can be", false, "01.KT", backup, "FileTooLarge", true,
         Odd::Huge},
        {"a save while another runs", true, "01.KT", backup, inUse, true, Odd::Writer},
        {"a restore while a save runs", false, "01.KT", backup, inUse, true, Odd::Writer},
        {"a save while a restore runs", true, "01.KT", backup, inUse, true, Odd::Reader},
        {"two restores side by side", false, "01.KT", backup, "", false, Odd::Reader},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig r;
        if (c.key == noCategory)
            r.choose({});
        const QString path = r.dir.filePath(c.file);
        if (!c.contents.isNull()) {
            ASSERT_TRUE(put(path, c.contents));
        }
        QString named = path;
        kt::engine::BackupLock other;
#ifdef Q_OS_UNIX
        if (c.odd == Odd::Fifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        if (c.odd == Odd::ZeroCards)
            QFile::link("/dev/zero", named = kt::engine::cardFile(path, 2000));
        if (c.odd == Odd::Huge) // sparse: no disk used
            QFile(path).resize(kt::shell::kMaxIniFileBytes + 1);
        if (c.odd == Odd::Reader || c.odd == Odd::Writer) {
            ASSERT_TRUE(other.take(path, c.odd == Odd::Writer));
        }
#endif
        const bool started =
            r.start(c.save ? kt::engine::Direction::Save : kt::engine::Direction::Load, path);
        EXPECT_EQ(started, c.key.isEmpty());
        EXPECT_EQ(r.job.isActive(), started);
        if (started)
            continue;
        // A file that cannot be written comes with its cause: here, no folder.
        const QString text =
            r.view.languageText(qPrintable(c.key)) +
            (c.key == unwritable
                 ? ": " +
                       kt::shell::fillIn(r.view.languageText("FileNoFolder"),
                                         {QDir::toNativeSeparators(QFileInfo(path).absolutePath())})
                 : QString()) +
            ".";
        EXPECT_EQ(r.view.messages, QStringList{"3/1/" + (c.withPath ? named + " - " : "") + text});
        // Nothing was written: a file that was there is as it was.
        QFile left(path);
        if (c.odd == Odd::None && c.contents.isNull()) {
            EXPECT_FALSE(left.exists());
        } else if (c.odd != Odd::Huge && c.odd != Odd::Fifo && left.open(QIODevice::ReadOnly)) {
            EXPECT_EQ(left.readAll(), c.contents);
        }
        EXPECT_TRUE(r.view.runningShown.isEmpty());
        EXPECT_TRUE(r.controller.requests().isEmpty());
    }
}

// The request changed mid-job, as a disabled scroll bar moved by an
// accessibility client would change it: the job and its manifest keep what
// was asked at the start.
TEST(JobOutcome, TheJobAndItsManifestKeepTheRequestOfTheStart) {
    JobRig r;
    r.choose({"system", "cards"});
    r.request.cardCount = 30;
    r.save();
    r.clock.callAt(50, [&] {
        r.request.address = 7;
        r.request.cardCount = 5;
    });
    r.run();
    EXPECT_EQ(r.controller.requests().size(), 2 + 30);
    EXPECT_TRUE(r.controller.requests().last().startsWith("01"));
    EXPECT_EQ(r.view.progressMax, 1 + 2 + 30);
    const QString stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)";
    const QRegularExpression manifest(
        "^Title=KT560AX\nComplete=1\nStarted=" + stamp +
        "\nController=01\nCategories=SystemDatabase,UserCardDatabase\nCards=30\nFinished=" + stamp +
        "\nRecords=32$");
    const QString head = QString::fromLatin1(sectionLines(r.saveFile, "HEAD").join('\n'));
    EXPECT_TRUE(manifest.match(head).hasMatch()) << head.toStdString();
}

// Of a restore of the holiday table and the cards.
TEST(LoadWarnings, EachRiskOfARestoreIsFoundInOrder) {
    using kt::engine::LoadWarning;
    using K = LoadWarning::Kind;
    const QList<QByteArray> cards = {"UserCardDatabase"},
                            both = {"HolidayTable", "UserCardDatabase"};
    const LoadWarning stopped = {.kind = K::Incomplete};
    const LoadWarning notSaved = {.kind = K::CategoryNotSaved, .category = findCategory("holiday")};
    struct Case {
        const char* name;
        std::optional<bool> complete; // the manifest's
        QList<QByteArray> categories;
        std::optional<int> saved;
        int held; // cards 1..held in the files
        int chosen;
        QList<LoadWarning> warnings;
    };
    const LoadWarning stale45 = {.kind = K::StaleCards, .stale = {4, 5}};
    const Case cases[] = {
        {"an older backup without manifest", {}, {}, {}, 0, 100, {}},
        {"a finished backup that holds it all", true, both, 100, 90, 100, {}},
        {"fewer cards than saved", true, {}, 50, 50, 40, {{K::CardNumbers, 50, 40}}},
        {"5 then 3 cards saved, 3 chosen", true, {}, 3, 5, 3, {stale45}},
        {"5 then 3 cards saved, 5 chosen", true, {}, 3, 5, 5, {{K::CardNumbers, 3, 5}}},
        {"5 then 3 cards saved, 4 chosen",
         true,
         {},
         3,
         5,
         4,
         {{K::CardNumbers, 3, 4}, {.kind = K::StaleCards, .stale = {5}}}},
        {"a stopped backup covers every slot held", false, {}, 3, 5, 5, {stopped}},
        {"no manifest covers every slot held", {}, {}, {}, 5, 3, {{K::CardNumbers, 5, 3}}},
        {"all three", false, cards, 50, 50, 100, {stopped, {K::CardNumbers, 50, 100}, notSaved}},
    };
    kt::engine::JobRequest request;
    request.categories = {findCategory("holiday"), findCategory("cards")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::engine::Manifest manifest;
        manifest.complete = c.complete;
        manifest.categories = c.categories;
        manifest.cards = c.saved;
        request.cardCount = c.chosen;
        QList<int> held;
        for (int slot = 1; slot <= c.held; ++slot)
            held.append(slot);
        EXPECT_EQ(kt::engine::loadWarnings(manifest, held, request), c.warnings);
    }
}

// A Load asks once, with every reason and note, and Cancel starts nothing; a
// manifest that names fewer cards than the files hold is only said when
// there is nothing to ask.
TEST(JobOutcome, ALoadAsksOnceBeforeARiskyRestore) {
    const QString question = "2/3/This backup may not restore the controller as it was:\n"
                             "- the backup stopped before its end, the file is incomplete.\n"
                             "- the backup holds 50 cards; 100 will be restored.\n"
                             "- Holiday Table was not part of the last backup into this file.\n"
                             "\nRestore anyway?";
    const QString note = "3/1/the files also hold cards in slots 4, 5, left by an older backup: "
                         "they will not be restored.";
    const std::tuple<QByteArray, int, int, QString, bool> cases[] = {
        {"Complete=0\nCards=40\nCategories= userCardDatabase \n", 50, 100, question, false},
        {"Complete=1\nCards=3\n", 5, 3, note, true},
    };
    for (const auto& [head, held, cards, message, starts] : cases) {
        SCOPED_TRACE(head.constData());
        JobRig r;
        QByteArray file = "[HEAD]\nTitle=KT560AX\n" + head + "[Data]\n";
        for (int i = 1; i <= held; ++i)
            file += cardKey(i) + "=0012345678123401FF00FF00\n";
        ASSERT_TRUE(put(r.loadFile, file));
        r.choose({"holiday", "cards"});
        r.request.cardCount = cards;
        r.view.answer = kt::shell::MsgAnswer::Cancel;
        r.load();
        EXPECT_EQ(r.view.messages, QStringList{message});
        r.run();
        EXPECT_EQ(r.controller.requests().isEmpty(), !starts);
    }
}

} // namespace
