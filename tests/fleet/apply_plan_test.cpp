// An apply's plan, the backup set of what it writes, and the version it
// commits to the history.
#include "engine/categories.h"
#include "engine/record_compare.h"
#include "fleet/apply_plan.h"
#include "fleet/apply_record.h"
#include "fleet/version_digests.h"
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

// An encrypted history cannot be read on the gateway: an apply commits its
// reading with the written records, and what the reading did not read from
// the controller's last backup. Its change line is told against the
// digests of the committed version, which then stand for the new one.
TEST(ApplyPlan, AnEncryptedVersionIsTheReadingFilledInFromTheLastBackup) {
    QTemporaryDir dir;
    const kt::fleet::AgeIdentity key = *kt::fleet::AgeIdentity::generate();
    Records night = {{"DC", "01"}, {"GA01", "1225"}};
    for (int slot = 1; slot <= 40; ++slot)
        night[card(slot)] = cardValue(char('A' + slot % 20));
    Records reading;
    for (int slot = 1; slot <= 30; ++slot)
        reading[card(slot)] = night[card(slot)];
    const QString last = dir.filePath("night.KT"), before = dir.filePath("before.KT");
    ASSERT_TRUE(kt::fleet::writeRecordSet(last, night, "01", kt::engine::allCategories(), 40).ok());
    ASSERT_TRUE(
        kt::fleet::writeRecordSet(before, reading, "01", {categoryNamed("UserCardDatabase")}, 30)
            .ok());
    kt::fleet::History history;
    ASSERT_TRUE(history.open(dir.filePath("history"), kt::fleet::History::Mode::Write).ok());
    ASSERT_TRUE(history.encryptTo({key.recipient()}).ok());
    kt::fleet::CommittedDigests digests(dir.filePath("site.ini"));
    const auto scopeOf = [](const QString& file) {
        return kt::engine::readScopeOf(kt::engine::readManifest(file));
    };
    ASSERT_TRUE(history.stage("north", last).ok());
    digests.stage("north", digests.digestsOf(night), scopeOf(last));
    ASSERT_TRUE(history.commit("first\n").ok());
    digests.committed(history);

    const Records written = {{card(5), cardValue('X')}};
    ASSERT_TRUE(kt::fleet::commitApplies(history, dir.filePath("list.KT"), "tech@gw",
                                         {{"north", before, written, "01", last}}, &digests)
                    .valueOr(false));
    const QList<kt::fleet::HistoryVersion> versions = history.versions("north");
    ASSERT_EQ(versions.size(), 2);
    EXPECT_EQ(versions.last().changes, "UserCardDatabase; cards changed 5; now 40 cards, 42 "
                                       "records");
    const auto exported =
        history.exportVersion("north", versions.last(), dir.filePath("out"), {key});
    ASSERT_TRUE(exported.ok()) << exported.error().message.toStdString();
    Records applied = night;
    applied.insert(written);
    EXPECT_EQ(kt::engine::readBackupRecords(*exported), applied);
    digests.committed(history);
    EXPECT_FALSE(digests
                     .changesTo("north", history.sectionTree("north"), digests.digestsOf(applied),
                                applied, scopeOf(*exported))
                     .any());
}

} // namespace
