// When a complete backup is suspicious: its cards, or a category, against
// the last good backup's, and MaxLoss from the fleet file.
#include "fleet/collapse.h"
#include "fleet/fleet_file.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

using kt::fleet::HeldCounts;

HeldCounts held(int cards, int holidays = 0, QList<QByteArray> read = {}) {
    HeldCounts counts{{{"SystemDatabase", 4}}, std::move(read)};
    if (cards > 0)
        counts.byCategory["UserCardDatabase"] = cards;
    if (holidays > 0)
        counts.byCategory["HolidayTable"] = holidays;
    return counts;
}

TEST(Collapse, CardsThatFellTooFarOrACategoryThatCameBackEmpty) {
    const struct {
        const char* name;
        std::optional<HeldCounts> good; // none: a first backup
        HeldCounts now;
        int maxLoss;
        bool cardsFell;
        QStringList emptied;
    } cases[] = {
        {"40 to 19 cards, 50 %", held(40), held(19), 50, true, {}},
        {"40 to 20 cards, 50 %: just within", held(40), held(20), 50, false, {}},
        {"40 to 30 cards, 20 %", held(40), held(30), 20, true, {}},
        {"40 to 1 card, 100 %: no loss of cards alone is one", held(40), held(1), 100, false, {}},
        {"40 to 0 cards, 100 %: the cards came back empty",
         held(40),
         held(0),
         100,
         false,
         {"UserCardDatabase"}},
        {"the holidays came back empty", held(40, 3), held(40), 50, false, {"HolidayTable"}},
        {"both", held(40, 3), held(0), 50, true, {"HolidayTable", "UserCardDatabase"}},
        {"cards and holidays not read now",
         held(40, 3),
         held(0, 0, {"SystemDatabase"}),
         50,
         false,
         {}},
        {"more cards than before", held(10), held(40), 50, false, {}},
        {"a good backup without cards", held(0), held(0), 50, false, {}},
        {"a first backup", std::nullopt, held(0), 50, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const kt::fleet::GoodBackup good{"/b/north/good.KT", {}, c.good.value_or(HeldCounts{})};
        const kt::fleet::Collapse collapse =
            kt::fleet::collapseOf(c.good ? &good : nullptr, c.now, c.maxLoss);
        EXPECT_EQ(collapse.cardsFell, c.cardsFell);
        EXPECT_EQ(collapse.emptied, c.emptied);
    }
}

// A controller's MaxLoss is its section's, else the fleet's wherever
// [fleet] stands in the file, else 50.
TEST(Collapse, MaxLossOfASectionOverridesTheFleets) {
    const struct {
        QByteArray text;
        QList<int> maxLoss;
    } cases[] = {
        {"[a]\nPort=COM1\n", {50}},
        {"[fleet]\nMaxLoss=30\n[a]\nPort=COM1\nmaxloss = 80\n[b]\nPort=COM2\n", {80, 30}},
        {"[a]\nPort=COM1\n[b]\nPort=COM2\nMaxLoss=100\n[fleet]\nMaxLoss=1\n", {1, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.constData());
        const auto fleet = kt::fleet::parseFleet(c.text, "f.ini", "/");
        ASSERT_TRUE(fleet.ok()) << fleet.error().message.toStdString();
        QList<int> maxLoss;
        for (const kt::fleet::FleetController& controller : fleet->controllers)
            maxLoss.append(controller.maxLoss);
        EXPECT_EQ(maxLoss, c.maxLoss);
    }
}

} // namespace
