// Save and Load jobs on the virtual clock against the in-process
// controller: request order, keys written, progress, captions, failures,
// cancel, card files and card rules.
#include "engine/backup_file.h"
#include "shell/ini_file.h"
#include "shell/regular_file.h"
#include "support/job_rig.h"
#include "support/printers.h"

#include <QDir>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

using namespace kt::sim;
using kt::test::JobRig;
using kt::test::keysOf;

QList<QByteArray> dataLines(const QString& path) {
    return kt::test::sectionLines(path);
}

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
};

QList<CategoryCase> categoryCases() {
    return {
        {"master", series("BA", 1, 3, 1) + series("BB", 1, 3, 1) + series("BC", 1, 8, 1), 14},
        {"system", {"DC", "DI"}, 2},
        {"appset", interleaved({"EA", "EB", "EC"}, 16) + QList<QByteArray>{"ED"}, 17},
        {"timezone", series("FA", 1, 30, 2) + series("FD", 1, 60, 2), 90},
        {"holiday", series("GA", 1, 12, 2), 12},
        {"cards", series("HA", 1, 100, 4), 100},
        {"flow", series("MD", 1, 250, 3), 250},
        {"doset", interleaved({"NA", "NB"}, 16) + QList<QByteArray>{"ND"}, 33},
        {"diset", interleaved({"OA", "OB"}, 4) + QList<QByteArray>{"OD"}, 9},
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
        r.save();
        ASSERT_TRUE(r.job.isActive());
        r.run();

        QList<QByteArray> expectedRequests;
        QList<QByteArray> expectedLines;
        QList<QByteArray> expectedWrites;
        for (const QByteArray& key : c.keys) {
            expectedRequests.append(key.startsWith("HA") ? "HB" + key.mid(2) : key);
            expectedLines.append(key + "=" + r.store.value(key));
            expectedWrites.append(key + r.store.value(key));
        }
        EXPECT_EQ(r.requestsWithoutAddress(), expectedRequests);
        EXPECT_TRUE(r.controller.requests().first().startsWith("07"));
        EXPECT_EQ(dataLines(r.saveFile), expectedLines);
        EXPECT_EQ(kt::shell::ReadIni(r.saveFile, "HEAD", "Title"), "KT560AX");
        EXPECT_EQ(r.view.progressMax, 1 + c.share);
        EXPECT_EQ(r.view.progressValue, r.view.progressMax);
        // Caption of the job set-up, then one per progress step.
        EXPECT_EQ(r.view.captions.size(), 1 + c.share);
        EXPECT_EQ(r.view.messages, QStringList{r.view.savedMessage(c.keys.size(), 0)});
        EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));

        JobRig target(0);
        target.loadFile = r.saveFile;
        target.choose({c.name});
        target.load();
        target.run();
        EXPECT_EQ(target.requestsWithoutAddress(), expectedWrites);
        EXPECT_EQ(target.view.messages, QStringList{target.view.loadedMessage(c.keys.size(), 0)});
    }
}

TEST(TransferJob, CaptionsShowTheIndexAfterTwoBlanks) {
    JobRig r;
    r.choose({"master", "system", "appset", "cards", "doset", "diset"});
    r.request.cardCount = 12;
    r.save();
    r.run();
    const QStringList expected = {"Communication Step",
                                  "Master Card- Operator:  8",
                                  "System Database- Module",
                                  "Application Set- AppSet:  12",
                                  "Application Set- Security PIN",
                                  "Card Data- Card No:  12",
                                  "DO Set Time Zone- DO Set No:  3 (Week)",
                                  "DO Set Time Zone- DO Set No:  17 (Type)",
                                  "DI Alarm Time Zone- DI Set No:  5 (Module)"};
    for (const QString& caption : expected)
        EXPECT_TRUE(r.view.captions.contains(caption)) << caption.toStdString();
}

TEST(TransferJob, ALinkFailureLeavesExactlyTheEarlierKeys) {
    JobRig r;
    r.choose({"appset"});
    FaultPlan plan;
    plan.fault = Fault::Silence;
    plan.startAfter = 19; // EA01..EC06 and EA07 are answered, EB07 is not
    r.controller.setFaultPlan(plan);
    r.save();
    r.run();
    EXPECT_EQ(keysOf(dataLines(r.saveFile)),
              interleaved({"EA", "EB", "EC"}, 6) + QList<QByteArray>{"EA07"});
    EXPECT_EQ(r.requestsWithoutAddress().last(), "EB07");
    EXPECT_EQ(r.view.messages,
              QStringList{"3/1/" + r.view.languageText("CommunicationError") + "."});
    EXPECT_FALSE(r.job.isActive());
    EXPECT_EQ(r.view.progressValue, r.view.progressMax);
    EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));
    EXPECT_EQ(r.view.summaries, QStringList{"Backup stopped: 19 of 49 records saved"});
}

TEST(TransferJob, CancelDuringAWaitSendsAndWritesNothingMore) {
    struct Case {
        double cancelAtMs;
        int requests;
        int keys;
    };
    // Each flow record takes 20 ms: TX delay 10, write, RX delay 10.
    const Case cases[] = {
        {1005, 50, 50}, // during the TX delay of the 51st: it is never sent
        {1015, 51, 50}, // during the RX delay of the 51st: its reply is not written
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancelAtMs);
        JobRig r;
        r.choose({"flow"});
        r.save();
        r.tick(); // set up: the next step is flow control
        r.clock.schedule(c.cancelAtMs, [&] { r.job.cancel(); });
        r.job.tmrProcess_Timer(); // flow control, cancelled within
        r.run();
        EXPECT_EQ(r.controller.requests().size(), c.requests);
        EXPECT_EQ(dataLines(r.saveFile).size(), c.keys);
        EXPECT_FALSE(r.job.isActive());
        EXPECT_TRUE(r.view.messages.isEmpty());
        EXPECT_EQ(r.view.runningShown, (QList<bool>{true, false}));
        EXPECT_EQ(r.view.summaries, QStringList{"Backup stopped: 50 of 250 records saved"});
    }
}

TEST(TransferJob, CardsGoToTheFileOfTheirBlock) {
    JobRig r(0);
    const int indexes[] = {1, 1999, 2000, 3999, 4000, 6000, 7999, 8000, 9999};
    for (const int i : indexes)
        r.store.setValue("HA" + QByteArray::number(i).rightJustified(4, '0'),
                         QByteArray::number(i).rightJustified(24, 'C'));
    r.choose({"cards"});
    r.request.cardCount = 9999;
    r.save();
    r.run();
    EXPECT_EQ(r.controller.requests().size(), 9999);
    EXPECT_EQ(QDir(r.dir.path()).entryList({"*.KT"}, QDir::Files),
              (QStringList{"01.KT", "201.KT", "401.KT", "601.KT", "801.KT"}));
    for (const int i : indexes) {
        const QString file = kt::engine::cardFile(r.saveFile, i);
        EXPECT_EQ(
            kt::shell::ReadIni(file, "Data", "HA" + QByteArray::number(i).rightJustified(4, '0')),
            QByteArray::number(i).rightJustified(24, 'C'))
            << i;
    }
    EXPECT_EQ(kt::shell::ReadIni(r.dir.filePath("201.KT"), "HEAD", "Title"), "");
    EXPECT_EQ(keysOf(dataLines(r.dir.filePath("201.KT"))), (QList<QByteArray>{"HA2000", "HA3999"}));

    JobRig target(0);
    target.loadFile = r.saveFile;
    target.choose({"cards"});
    target.request.cardCount = 9999;
    target.load();
    target.run();
    EXPECT_EQ(target.controller.requests().size(), std::size(indexes));
    EXPECT_EQ(target.store.records(), r.store.records());
}

TEST(TransferJob, CardRecordsMustHaveTwentyFourCharacters) {
    const QByteArray card = "0012345678123401FF00FF00";
    struct SaveCase {
        QByteArray reply;
        QByteArray stored; // empty: no key
    };
    const SaveCase saves[] = {
        {card, card},
        {card + "EXTRA", card},
        {card.left(23), ""},
        {"", ""},
    };
    for (const SaveCase& c : saves) {
        SCOPED_TRACE(c.reply.constData());
        JobRig r(0);
        ASSERT_TRUE(kt::shell::WriteIni(r.saveFile, "Data", "HA0001", "old card from before"));
        r.store.setValue("HA0001", c.reply);
        r.choose({"cards"});
        r.request.cardCount = 1;
        r.save();
        r.run();
        EXPECT_EQ(kt::shell::ReadIni(r.saveFile, "Data", "HA0001"), c.stored);
        EXPECT_EQ(dataLines(r.saveFile).size(), c.stored.isEmpty() ? 0 : 1);
    }
    struct LoadCase {
        QByteArray stored;
        bool sent;
    };
    const LoadCase loads[] = {{card, true},
                              {" " + card + " ", true},
                              {card.left(23), false},
                              {card + "9", false},
                              {"", false}};
    for (const LoadCase& c : loads) {
        SCOPED_TRACE(c.stored.constData());
        JobRig r(0);
        kt::shell::WriteIni(r.loadFile, "HEAD", "Title", "KT560AX");
        if (!c.stored.isEmpty())
            kt::shell::WriteIni(r.loadFile, "Data", "HA0001", c.stored);
        r.choose({"cards"});
        r.request.cardCount = 1;
        r.load();
        r.run();
        EXPECT_EQ(r.controller.requests(),
                  c.sent ? QList<QByteArray>{"01HA0001" + card} : QList<QByteArray>{});
        EXPECT_EQ(r.view.progressMax, 2);
    }
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
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.contents);
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
        const QString text = r.view.languageText(qPrintable(c.key)) + ".";
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

TEST(TransferJob, AValueTheFileCannotHoldStopsTheJob) {
    JobRig r;
    r.store.setValue("DI", "AB\nCD"); // a line feed cannot stand in an INI value
    r.choose({"system"});
    r.save();
    r.run();
    EXPECT_EQ(keysOf(dataLines(r.saveFile)), QList<QByteArray>{"DC"});
    EXPECT_EQ(r.view.messages,
              QStringList{"3/1/The controller's reply for record DI cannot be stored in a backup "
                          "file (it holds a line break or a NUL byte)."});
    EXPECT_FALSE(r.job.isActive());
}

// A value with a control character would break the request frame: the
// restore stops there and names the record.
TEST(TransferJob, ARestoreNeverSendsAControlCharacter) {
    const std::pair<const char*, QByteArray> cases[] = {
        {"system", "DI=12\x02"
                   "34"},
        {"cards", "HA0002=0012345678123401FF00FF\x1b"
                  "0"},
    };
    for (const auto& [category, line] : cases) {
        SCOPED_TRACE(category);
        JobRig r;
        const QByteArray key = line.left(line.indexOf('='));
        QFile file(r.loadFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[HEAD]\nTitle=KT560AX\n[Data]\nHA0001=0012345678123401FF00FF00\n" + line +
                   "\n");
        file.close();
        r.choose({category});
        r.request.cardCount = 3;
        r.load();
        r.run();
        EXPECT_EQ(r.view.messages.last(),
                  "3/1/The backup's value of record " + key +
                      " holds a control character and cannot be sent to the controller.");
        for (const QByteArray& request : r.controller.requests())
            EXPECT_FALSE(request.contains(key)) << request.constData();
        EXPECT_EQ(r.job.outcome(), kt::engine::JobOutcome::FileError);
    }
}

} // namespace
