// Verify over a pseudo-terminal against the virtual controller, with cards
// in the main file and in a card file.
#include "engine/transfer_job.h"
#include "link/line_port.h"
#include "sim/pty_controller.h"
#include "support/fake_job_view.h"
#include "support/printers.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using kt::engine::Direction;

TEST(PtyVerify, EqualAndAlteredControllersOverALine) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    const QString backup = dir.filePath("01.KT");
    kt::sim::PtyController sim(2010);
    ASSERT_TRUE(sim.mapPort(ini)) << sim.error.toStdString();
    kt::link::LinePort port(ini);
    ASSERT_TRUE(port.setPortNumber(1) && port.setSettings("19200,e,8,1") && port.open());
    kt::link::EventLoopClock clock;
    kt::shell::Settings settings;
    settings.sngTxDelay = 0;
    settings.sngRxDelay = 0;
    settings.sngRxTimeOut = 300;
    kt::test::FakeJobView view;
    kt::engine::TransferJob job(port, clock, view, settings);
    const auto run = [&](Direction direction) {
        EXPECT_TRUE(job.start({.direction = direction,
                               .file = backup,
                               .categories = {kt::engine::findCategory("cards")},
                               .cardCount = 2010}));
        return QTest::qWaitFor([&] { return !job.isActive(); }, 60000);
    };
    ASSERT_TRUE(run(Direction::Save));
    ASSERT_TRUE(run(Direction::Verify));
    EXPECT_EQ(job.outcome(), kt::engine::JobOutcome::Finished);
    EXPECT_TRUE(job.differences().isEmpty());

    kt::sim::FaultPlan plan;
    plan.alterEvery = 1005; // cards 1005 and 2010, the second in card file "2"
    sim.controller.setFaultPlan(plan);
    ASSERT_TRUE(run(Direction::Verify));
    EXPECT_EQ(job.outcome(), kt::engine::JobOutcome::Differences);
    QList<QByteArray> keys;
    for (const kt::engine::RecordDifference& d : job.differences())
        keys.append(d.key);
    EXPECT_EQ(keys, (QList<QByteArray>{"HA1005", "HA2010"}));
}

} // namespace
