// What a job reports and leaves behind: a restart right after a cancel,
// choices taken once, the manifest in HEAD, the questions before a risky
// restore, cards that end in blanks, counts, and private backup files.
#include "engine/backup_file.h"
#include "shell/ini_file.h"
#include "support/job_rig.h"
#include "support/printers.h"

#include <QDateTime>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

using kt::shell::ReadIni;
using kt::shell::WriteIni;
using kt::test::JobRig;

QByteArray cardKey(int index) {
    return "HA" + QByteArray::number(index).rightJustified(4, '0');
}

TEST(JobOutcome, ARestartInsideTheCancelledJobsLinkWaitRunsWhole) {
    JobRig r;
    r.choose({"flow"});
    r.save();
    r.tick(); // set up: the next step is flow control
    // Each flow record takes 20 ms; at 1015 ms the 51st waits in its RX
    // delay. Cancel and Save are handled in the same wait, as a quick
    // double click does.
    r.clock.schedule(1015, [&] {
        r.job.cancel();
        r.save();
    });
    r.run();
    EXPECT_EQ(r.controller.requests().size(), 51 + 250);
    const QList<QByteArray> lines = kt::test::sectionLines(r.saveFile);
    ASSERT_EQ(lines.size(), 250);
    for (const QByteArray& line : lines) {
        const QByteArray key = line.left(line.indexOf('='));
        EXPECT_EQ(line.mid(key.size() + 1), r.store.value(key)) << key.constData();
    }
    EXPECT_EQ(r.view.messages, QStringList{r.view.savedMessage(250, 0)});
    EXPECT_EQ(ReadIni(r.saveFile, "HEAD", "Complete"), "1");
}

TEST(JobOutcome, AddressAndCardCountAreTakenOnceAtTheStart) {
    JobRig r;
    r.choose({"system", "cards"});
    r.request.cardCount = 30;
    r.save();
    // The request changed mid-job, as a disabled scroll bar moved by an
    // accessibility client would change it.
    r.clock.schedule(50, [&] {
        r.request.address = 7;
        r.request.cardCount = 5;
    });
    r.run();
    EXPECT_EQ(r.controller.requests().size(), 2 + 30);
    for (const QByteArray& request : r.controller.requests())
        EXPECT_TRUE(request.startsWith("01")) << request.constData();
    EXPECT_EQ(r.view.progressMax, 1 + 2 + 30);
}

TEST(JobOutcome, TheManifestSaysWhetherTheBackupFinished) {
    const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$)");
    JobRig r;
    r.choose({"system", "cards"});
    r.request.cardCount = 3;
    r.save();
    r.run();
    const QList<QByteArray> head = kt::test::sectionLines(r.saveFile, "HEAD");
    ASSERT_EQ(kt::test::keysOf(head),
              (QList<QByteArray>{"Title", "Complete", "Started", "Controller", "Categories",
                                 "Cards", "Finished", "Records"}));
    EXPECT_EQ(head[0], "Title=KT560AX");
    EXPECT_EQ(head[1], "Complete=1");
    EXPECT_EQ(head[3], "Controller=01");
    EXPECT_EQ(head[4], "Categories=SystemDatabase,UserCardDatabase");
    EXPECT_EQ(head[5], "Cards=3");
    EXPECT_EQ(head[7], "Records=5");
    for (const char* key : {"Started", "Finished"})
        EXPECT_TRUE(stamp.match(QString::fromLatin1(ReadIni(r.saveFile, "HEAD", key))).hasMatch())
            << key;

    // A second Save into the same file, cancelled: the file says it stopped,
    // and keeps nothing of the first job's end.
    r.choose({"flow"});
    r.save();
    r.tick(); // set up: the next step is flow control
    r.clock.schedule(r.clock.nowMs() + 300, [&] { r.job.cancel(); });
    r.run();
    EXPECT_EQ(kt::test::keysOf(kt::test::sectionLines(r.saveFile, "HEAD")),
              (QList<QByteArray>{"Title", "Complete", "Started", "Controller", "Categories"}));
    EXPECT_EQ(ReadIni(r.saveFile, "HEAD", "Complete"), "0");
    EXPECT_EQ(ReadIni(r.saveFile, "HEAD", "Categories"), "FlowControl");
}

TEST(JobOutcome, ALoadAsksOnceBeforeARiskyRestore) {
    struct Case {
        const char* name;
        QList<std::pair<const char*, QByteArray>> head;
        int held; // cards 1..held in the file
        int cards;
        QStringList reasons; // empty: no question
        kt::shell::MsgAnswer answer;
        bool starts;
        QString note = {}; // said without a question
    };
    using enum kt::shell::MsgAnswer;
    const QString incomplete = "the backup stopped before its end, the file is incomplete";
    const QString more = "the backup holds 50 cards; 100 will be restored";
    const QString fewer = "the backup holds 50 cards; 40 will be restored";
    const QString stale = "the backup's header says 3 cards, but its files hold cards up to 5";
    const QString holidays = "Holiday Table was not part of the last backup into this file";
    const Case cases[] = {
        {"an older backup without manifest", {}, 0, 100, {}, Ok, true},
        {"a finished backup that holds it all",
         {{"Complete", "1"}, {"Cards", "100"}, {"Categories", "HolidayTable,UserCardDatabase"}},
         90,
         100,
         {},
         Ok,
         true},
        {"a stopped backup, cancelled", {{"Complete", "0"}}, 0, 100, {incomplete}, Cancel, false},
        {"more cards than saved", {{"Cards", "50"}}, 50, 100, {more}, Ok, true},
        {"fewer cards than saved", {{"Cards", "50"}}, 50, 40, {fewer}, Ok, true},
        {"more cards held than the header says", {{"Cards", "3"}}, 5, 5, {}, Ok, true, stale},
        {"a category not saved",
         {{"Categories", " userCardDatabase "}},
         0,
         100,
         {holidays},
         Ok,
         true},
        {"all three in one box",
         {{"Complete", "0"}, {"Cards", "50"}, {"Categories", "UserCardDatabase"}},
         50,
         100,
         {incomplete, more, holidays},
         Cancel,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobRig r;
        WriteIni(r.loadFile, "HEAD", "Title", "KT560AX");
        for (const auto& [key, value] : c.head)
            WriteIni(r.loadFile, "HEAD", key, value);
        for (int i = 1; i <= c.held; ++i)
            WriteIni(r.loadFile, "Data", cardKey(i), "0012345678123401FF00FF00");
        r.choose({"holiday", "cards"});
        r.request.cardCount = c.cards;
        r.view.answer = c.answer;
        r.load();
        EXPECT_EQ(r.job.isActive(), c.starts);
        if (c.reasons.isEmpty()) {
            EXPECT_EQ(r.view.messages,
                      c.note.isEmpty() ? QStringList{} : QStringList{"3/1/" + c.note + "."});
            continue;
        }
        QString text = "2/0/This backup may not restore the controller as it was:";
        for (const QString& reason : c.reasons)
            text += "\n- " + reason + ".";
        EXPECT_EQ(r.view.messages, QStringList{text + "\n\nRestore anyway?"});
        r.run();
        EXPECT_EQ(r.controller.requests().isEmpty(), !c.starts);
    }
}

TEST(JobOutcome, CardsEndingInBlanksSurviveABackupAndARestore) {
    const QByteArray plain = "0012345678123401FF00FF00";
    const QByteArray blank = plain.left(23) + ' ';
    const QByteArray tab = plain.left(22) + "\t ";
    const QByteArray quotes = '"' + plain.left(22) + '"';
    JobRig source(0);
    source.store.setValue(cardKey(1), plain);
    source.store.setValue(cardKey(2), blank);
    source.store.setValue(cardKey(3), "   " + tab); // leading blanks go, the rest stays
    source.store.setValue(cardKey(4), quotes);
    source.store.setValue(cardKey(5), plain.left(23)); // too short: an empty slot
    source.choose({"cards"});
    source.request.cardCount = 6;
    source.save();
    source.run();
    EXPECT_EQ(source.view.messages, QStringList{source.view.savedMessage(4, 2)});
    EXPECT_EQ(kt::test::sectionLines(source.saveFile),
              (QList<QByteArray>{"HA0001=" + plain, "HA0002=\"" + blank + '"',
                                 "HA0003=\"" + tab + '"', "HA0004=\"" + quotes + '"'}));

    JobRig target(0);
    target.loadFile = source.saveFile;
    target.choose({"cards"});
    target.request.cardCount = 6;
    target.load();
    target.run();
    EXPECT_EQ(target.view.messages, QStringList{target.view.loadedMessage(4, 2)});
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(target.store.value(cardKey(i)),
                  kt::engine::cardRecordOfReply(source.store.value(cardKey(i))))
            << i;
    EXPECT_EQ(target.store.value(cardKey(2)), blank);
}

TEST(JobOutcome, BackupFilesAreReadableByTheirOwnerOnly) {
    const auto othersMay =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    JobRig r(2001);
    const QString existing = r.dir.filePath("shared.KT");
    WriteIni(existing, "HEAD", "Title", "KT560AX");
    QFile::setPermissions(existing, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                        QFile::ReadOther);
    r.choose({"cards"});
    r.request.cardCount = 2001;
    r.save();
    r.run();
    for (const QString& file : {r.saveFile, kt::engine::cardFile(r.saveFile, 2000)}) {
        ASSERT_TRUE(QFile::exists(file));
        EXPECT_EQ(QFile::permissions(file) & othersMay, 0) << file.toStdString();
    }
    r.saveFile = existing;
    r.choose({"system"});
    r.save();
    r.run();
    EXPECT_EQ(QFile::permissions(existing) & othersMay, QFile::ReadGroup | QFile::ReadOther);
}

} // namespace
