// An apply's plan, the backup set of what it writes, and the version it
// commits to the history.
#include "engine/categories.h"
#include "engine/record_compare.h"
#include "fleet/apply_plan.h"
#include "fleet/apply_record.h"
#include "history_support.h"
#include "support/printers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::test::card;
using kt::test::Records;
using kt::test::writeBackup;

const kt::engine::Category* categoryNamed(const char* key) {
    for (const kt::engine::Category& c : kt::engine::categories())
        if (QByteArray(c.languageKey) == key)
            return &c;
    ADD_FAILURE() << key;
    return nullptr;
}

QByteArray cardValue(char digit) {
    return QByteArray(24, digit);
}

// A record the list holds and the controller does not, or holds otherwise,
// is written; one the controller holds and the list does not is left, and
// named; anything outside the chosen categories and card slots is neither.
TEST(ApplyPlan, WritesWhatDiffersLeavesWhatTheListLacksWithinItsScope) {
    const auto* cards = categoryNamed("UserCardDatabase");
    const auto* system = categoryNamed("SystemDatabase");
    const Records controller = {{card(1), cardValue('1')},
                                {card(2), cardValue('2')},
                                {card(4), cardValue('4')},
                                {card(9), cardValue('9')},
                                {"DC", "01"}};
    const Records list = {{card(1), cardValue('1')},  {card(2), cardValue('X')},
                          {card(3), cardValue('3')},  {card(8), cardValue('8')},
                          {card(12), cardValue('C')}, {"DC", "02"}};
    struct Case {
        const char* name;
        QList<const kt::engine::Category*> categories;
        int cards;
        QList<int> written, intoEmpty, left;
        int writes;
    } cases[] = {
        {"cards 1-10", {cards}, 10, {2, 3, 8}, {3, 8}, {4, 9}, 3},
        {"cards 1-3", {cards}, 3, {2, 3}, {3}, {}, 2},
        {"cards and system", {system, cards}, 12, {2, 3, 8, 12}, {3, 8, 12}, {4, 9}, 5},
        {"system alone", {system}, 12, {}, {}, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const kt::fleet::ApplyPlan plan =
            kt::fleet::planApply(controller, list, c.categories, c.cards);
        EXPECT_EQ(plan.writtenCards(), c.written);
        EXPECT_EQ(plan.cardsIntoEmpty(), c.intoEmpty);
        EXPECT_EQ(plan.leftCards(), c.left);
        EXPECT_EQ(plan.writes.size(), c.writes);
        EXPECT_EQ(plan.any(), c.writes > 0);
        EXPECT_EQ(plan.highestWrittenCard(), c.written.isEmpty() ? 0 : c.written.last());
    }
}

// The set an apply sends, or commits, reads back as exactly its records,
// cards in their block's file and a card that ends in a blank kept whole.
TEST(ApplyPlan, ARecordSetReadsBackAsItsRecords) {
    QTemporaryDir dir;
    const Records records = {{"DC", "01"},
                             {card(5), "0055555555123401FF00FF0 "},
                             {card(2001), cardValue('2')},
                             {card(9999), cardValue('9')}};
    const QString file = dir.filePath("set.KT");
    ASSERT_TRUE(kt::fleet::writeRecordSet(
                    file, records, "01",
                    {categoryNamed("SystemDatabase"), categoryNamed("UserCardDatabase")}, 9999)
                    .ok());
    EXPECT_EQ(kt::engine::readBackupRecords(file), records);
    const kt::engine::Manifest manifest = kt::engine::readManifest(file);
    EXPECT_EQ(manifest.complete, true);
    EXPECT_EQ(manifest.cards, 9999);
}

// The version an apply commits is the committed one with the written
// records in it; a controller without one starts from its reading.
TEST(ApplyPlan, TheCommittedVersionIsTheLastOneWithTheWrittenRecords) {
    QTemporaryDir dir;
    const Records night = {{"DC", "01"}, {card(1), cardValue('1')}, {card(2), cardValue('2')}};
    const Records reading = {{card(1), cardValue('1')}};
    const QString committed = writeBackup(dir.filePath("night.KT"), night);
    const QString before = writeBackup(dir.filePath("before.KT"), reading);
    kt::fleet::History history;
    ASSERT_TRUE(history.open(dir.filePath("history"), kt::fleet::History::Mode::Write).ok());
    ASSERT_TRUE(history.stage("north", committed).ok());
    ASSERT_TRUE(history.commit("first\n").ok());

    const Records written = {{card(2), cardValue('X')}, {card(7), cardValue('7')}};
    ASSERT_TRUE(kt::fleet::commitApplies(
                    history, dir.filePath("list.KT"), "tech@gw",
                    {{"north", before, written, "01"}, {"south", before, written, "02"}})
                    .valueOr(false));
    Records north = night;
    north.insert(written);
    EXPECT_EQ(kt::engine::readBackupRecords(history.committedFile("north")), north);
    Records south = reading;
    south.insert(written);
    EXPECT_EQ(kt::engine::readBackupRecords(history.committedFile("south")), south);
    const QList<kt::fleet::HistoryVersion> versions = history.versions("north");
    ASSERT_EQ(versions.size(), 2);
    EXPECT_EQ(versions.last().changes, "UserCardDatabase; cards added 7; cards changed 2; now 3 "
                                       "cards, 4 records");
    EXPECT_EQ(versions.last().cards, 3);
}

} // namespace
