// The fleet's git history and the change lines it commits.
#include "engine/record_compare.h"
#include "fleet/history.h"
#include "fleet/record_changes.h"
#include "history_support.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Mode = kt::fleet::History::Mode;
using kt::test::card;
using kt::test::Records;
using kt::test::writeBackup;

// A history commits what was staged, once, and gives each version back; on
// opening it heals what a killed run left (git's locks, a work tree changed
// by hand), and it stays private with one writer at a time.
TEST(History, CommitsWhatWasStagedOnceAndGivesEachVersionBack) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("history");
    const Records first = {{"DC", "01"},
                           {card(1), "0011111111123401FF00FF00"},
                           {card(2500), "0022222222123401FF00FF00"}};
    Records second = first;
    second.remove(card(2500)); // its card file goes from the history too
    second[card(3)] = "0033333333123401FF00FF00";
    QDir(dir.path()).mkpath("b");
    const QString v1 = writeBackup(dir.filePath("a.KT"), first);
    const QString v2 = writeBackup(dir.filePath("b/a.KT"), second);
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)); // rwxr-xr-x
    {
        kt::fleet::History history;
        ASSERT_TRUE(history.open(folder, Mode::Write).ok());
        kt::fleet::History other;
        EXPECT_EQ(other.open(folder, Mode::Write).error().code, kt::shell::ErrorCode::InUse);
        kt::fleet::History reader; // reads while a run writes
        EXPECT_TRUE(reader.open(folder, Mode::Read).ok());
        EXPECT_EQ(history.committedFile("north"), "");
        ASSERT_TRUE(history.stage("north", v1).ok());
        EXPECT_TRUE(history.commit("1 controller changed, 0 failed\n\nnorth: first version\n")
                        .valueOr(false));
        EXPECT_FALSE(history.commit("nothing new").valueOr(true));
        ASSERT_TRUE(history.stage("north", v2).ok());
        ASSERT_TRUE(history
                        .commit("x\n\nsuspicious: north: UserCardDatabase; cards added 3\n\n"
                                "Kt560ax-Counts: south 7 9\nKt560ax-Counts: north 2 4\n")
                        .ok());
        EXPECT_FALSE(QFile::exists(folder + "/north/2north.KT"));
    }
    EXPECT_TRUE(kt::shell::WriteIni(folder + "/north/north.KT", "Data", "DC", "99"));
    for (const char* lock : {"/.git/index.lock", "/.git/refs/heads/main.lock"})
        ASSERT_TRUE(QFile(folder + lock).open(QIODevice::WriteOnly));
    kt::fleet::History history;
    ASSERT_TRUE(history.open(folder, Mode::Write).ok());
    EXPECT_EQ(kt::engine::readBackupRecords(history.committedFile("north")),
              kt::engine::readBackupRecords(v2));
    EXPECT_EQ(kt::test::othersMay(folder), QFile::Permissions());

    const QList<kt::fleet::HistoryVersion> versions = history.versions("north");
    ASSERT_EQ(versions.size(), 2);
    EXPECT_EQ(versions[0].changes, "first version");
    EXPECT_EQ(versions[1].changes, "UserCardDatabase; cards added 3");
    EXPECT_EQ(std::pair(versions[0].suspicious, versions[1].suspicious), std::pair(false, true));
    EXPECT_EQ(std::pair(versions[0].cards, versions[1].cards), std::pair(-1, 2)); // its own counts
    EXPECT_EQ(versions[1].records, 4);
    EXPECT_TRUE(history.versions("south").isEmpty());
    const auto exported = history.exportVersion("north", versions[0], dir.filePath("out"));
    ASSERT_TRUE(exported.ok()) << exported.error().message.toStdString();
    EXPECT_EQ(kt::engine::readBackupRecords(*exported), kt::engine::readBackupRecords(v1));
    // A second export into the same folder writes nothing over it, nor
    // beside a card file left there: version 2 has none, and the card of
    // version 1 would be loaded with it.
    const auto again = history.exportVersion("north", versions[1], dir.filePath("out"));
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().code, kt::shell::ErrorCode::InUse);
    EXPECT_EQ(kt::engine::readBackupRecords(*exported), kt::engine::readBackupRecords(v1));
    ASSERT_TRUE(QFile::remove(*exported));
    const auto beside = history.exportVersion("north", versions[1], dir.filePath("out"));
    ASSERT_FALSE(beside.ok());
    EXPECT_TRUE(beside.error().message.contains("2north.KT"));
    EXPECT_FALSE(QFile::exists(*exported));
    ASSERT_TRUE(history.stage("south", v1).ok()); // git's locks are gone
    EXPECT_TRUE(history.commit("x\n\nsouth: first version\n").valueOr(false));

    kt::fleet::History missing;
    EXPECT_EQ(missing.open(dir.filePath("none"), Mode::Read).error().code,
              kt::shell::ErrorCode::NotFound);
}

// A change line names categories and slots, never a value, and lists at
// most 50 slots of a kind.
TEST(History, ChangeLinesNameSlotsAndNeverAValue) {
    Records before = {{"DC", "01"}, {"GA01", "1225"}, {card(7), "0077777777999901FF00FF00"}};
    Records after = before;
    after["GA01"] = "0101";
    after.remove(card(7));
    for (int slot = 100; slot < 160; ++slot)
        after[card(slot)] =
            "00" + QByteArray::number(slot).rightJustified(8, '5') + "424201FF00FF00";
    const kt::fleet::RecordChanges changes = kt::fleet::changesBetween(before, after, false);
    const QString line = kt::fleet::describeChanges("north", changes);
    EXPECT_TRUE(line.startsWith("north: HolidayTable, UserCardDatabase; cards added 100, 101, "))
        << line.toStdString();
    EXPECT_TRUE(line.endsWith(", 149 and 10 more; cards removed 7; now 60 cards, 62 records"))
        << line.toStdString();
    const auto counts = kt::fleet::countsOfTrailer(kt::fleet::countsTrailer("north", changes));
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(std::tuple(counts->section, counts->cards, counts->records),
              std::tuple(QString("north"), 60, 62));
    EXPECT_FALSE(kt::fleet::countsOfTrailer(line).has_value());      // prose is not read for counts
    for (const QByteArray& value : before.values() + after.values()) // a record, a holiday's date
        EXPECT_TRUE(value.size() < 4 || !line.contains(QString::fromLatin1(value))) << value.data();
    EXPECT_FALSE(kt::fleet::changesBetween(before, before, false).any());
    EXPECT_EQ(kt::fleet::describeChanges("gate", kt::fleet::changesBetween({}, before, true)),
              "gate: first version, 1 cards, 3 records");
    // A newer Save of 100 card slots did not remove the cards beyond them.
    const kt::fleet::RecordChanges fewer =
        kt::fleet::changesBetween(after, before, false, {{}, 200}, {{}, 100});
    EXPECT_EQ(kt::fleet::describeChanges("north", fewer),
              "north: HolidayTable, UserCardDatabase; cards added 7; cards removed 100; not "
              "read by the newer backup: cards 101-159; now 1 cards, 3 records");
}

} // namespace
