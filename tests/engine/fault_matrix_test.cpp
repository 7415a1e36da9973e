// Line faults, and late, repeated and stale replies: a job recovers or stops
// with its error, and keeps no record it cannot vouch for.
#include "engine/transfer_job.h"
#include "link/line_port.h"
#include "shell/ini_file.h"
#include "sim/pty_controller.h"
#include "support/fake_job_view.h"
#include "support/job_rig.h"
#include "support/open_port.h"
#include "support/printers.h"
#include "support/wait_for.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace kt::engine;
using namespace kt::sim;
using namespace kt::test;

// Every fault the controller can inject, and the device vanishing, in a Save
// of DC, DI and GA01..GA12: the job retries or stops with its error, the file
// holds exactly the records accepted before, and nothing is left beside it.
TEST(FaultMatrix, EachFaultEndsAsTheRulesSay) {
    using O = JobOutcome;
    const auto plan = [](Fault f, int count, int after = 0, int drop = 0) {
        FaultPlan p{.fault = f, .startAfter = after, .count = count, .dropEvery = drop};
        p.lateMs = 80; // after the 60 ms time-out, before the next try's write
        return p;
    };
    struct Case {
        const char* name;
        FaultPlan plan;
        int vanishAfter; // replies before the device goes away; -1 never
        int saved;       // 14: the job finishes
        int minFailedTries;
        O outcome = O::Finished;
    };
    const Case cases[] = {
        {"wrong CRC, three times", plan(Fault::WrongCrc, 3, 4), -1, 14, 3},
        {"lower-case CRC, three times", plan(Fault::LowerCaseCrc, 3, 4), -1, 14, 0},
        {"wrong address, three times", plan(Fault::WrongAddress, 3, 4), -1, 14, 3},
        {"garbage before ETX, always", plan(Fault::GarbageBeforeEtx, -1), -1, 14, 0},
        {"SO in the reply, twice", plan(Fault::SoInReply, 2, 7), -1, 14, 2},
        {"split reply, always", plan(Fault::SplitReply, -1), -1, 14, 0},
        {"late reply, once", plan(Fault::LateReply, 1, 5), -1, 14, 1},
        {"flood without CR, once", plan(Fault::FloodWithoutCr, 1, 3), -1, 14, 1},
        {"silence, ten times", plan(Fault::Silence, 10, 2), -1, 14, 10},
        {"every 3rd request unanswered", plan(Fault::None, -1, 0, 3), -1, 14, 6},
        {"silence from the 6th reply on", plan(Fault::Silence, -1, 5), -1, 5, 11, O::NoAnswer},
        {"silence from the start", plan(Fault::Silence, -1), -1, 0, 3, O::NoAnswer},
        {"wrong CRC from the 9th reply on", plan(Fault::WrongCrc, -1, 8), -1, 8, 11, O::Garbled},
        // Gone while the 8th request waits: the job ends at once, retrying no closed port.
        {"device vanishes after 7 replies", plan(Fault::Silence, -1, 7), 7, 7, 1, O::PortLost},
    };
    QList<QByteArray> keys = {"DC", "DI"};
    for (int i = 1; i <= 12; ++i)
        keys << "GA" + QByteArray::number(i).rightJustified(2, '0');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString ini = dir.filePath("Language.ini");
        PtyController sim(10);
        ASSERT_TRUE(sim.mapPort(ini));
        sim.controller.setFaultPlan(c.plan);
        int answered = 0;
        QObject::connect(sim.line.get(), &LineEndpoint::received, [&] {
            if (c.vanishAfter >= 0 && answered++ == c.vanishAfter)
                QTimer::singleShot(0, [&] { sim.line->hangUp(); });
        });
        kt::link::LinePort port(ini);
        kt::link::EventLoopClock clock;
        ASSERT_TRUE(port.setPortNumber(1) && port.setSettings("19200,e,8,1") &&
                    kt::test::openPort(port, clock));
        const kt::link::LineTimes times{.txDelayMs = 1, .rxDelayMs = 1, .rxTimeOutMs = 60};
        FakeJobView view;
        const QString backup = dir.filePath("01.KT");
        TransferJob job(port, clock, view, times);
        job.start({.file = backup,
                   .categories = {findCategory("system"), findCategory("holiday")},
                   .portName = "COM1"});
        ASSERT_TRUE(waitFor([&] { return !job.isActive(); }, 30000));
        QList<QByteArray> records;
        for (const QByteArray& key : keys.mid(0, c.saved))
            records.append(key + '=' + sim.store.value(key));
        EXPECT_EQ(sectionLines(backup), records);
        const bool finished = c.saved == 14;
        const QString message =
            finished ? QRegularExpression::escape(view.savedMessage(14, 0))
            : c.outcome == O::PortLost
                ? "3/1/The adapter .+ went away \\(.*\\)\\. The job stopped; nothing more was sent"
            : c.saved == 0
                ? "3/1/No controller answered at address 01 on COM1\\. Check the "
                  "Controller ID, the cable and the port's settings"
                : "3/1/" +
                      QRegularExpression::escape(view.languageText("CommunicationError") + ".");
        ASSERT_EQ(view.messages.size(), 1);
        EXPECT_TRUE(QRegularExpression("^" + message + "$").match(view.messages[0]).hasMatch())
            << view.messages[0].toStdString();
        EXPECT_EQ(view.summaries.join('|'),
                  finished ? "" : QString("Backup stopped: %1 of 14 records saved").arg(c.saved));
        // No lock, journal or copy left beside the set; no file if nothing was saved.
        EXPECT_EQ(kt::shell::ReadIni(backup, "HEAD", "Complete"),
                  finished ? "1" : (c.saved > 0 ? "0" : ""));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(' '),
                  c.saved > 0 ? "01.KT Language.ini" : "Language.ini");
        EXPECT_EQ(job.outcome(), c.outcome);
        EXPECT_GE(job.link().errorCount(), c.minFailedTries);
        // A finished job failed at most 10 tries of each record.
        EXPECT_LE(job.link().errorCount(), finished ? 14 * 10 : c.outcome == O::PortLost ? 1 : 11);
        EXPECT_EQ(view.runningShown, (QList<bool>{true, false}));
        EXPECT_EQ(port.isOpen(), c.vanishAfter < 0);
    }
}

// Late, repeated and stale replies around the time-out, and lost requests,
// for a Save and for a Load on the virtual clock: a job that finishes
// leaves the file (Save) or the controller (Load) exactly as a clean Save
// reads the controller; one that cannot vouch for its records fails as a
// garbled line and never marks a backup complete.
TEST(FaultMatrix, ALateOrRepeatedReplyNeverBecomesAnotherRecord) {
    const double t = 200; // the rig's time-out
    struct Case {
        QString name;
        FaultPlan plan;
        bool mustFinish; // the link brings the line back in step
    };
    QList<Case> cases;
    // Requests 2, 16 and 21: the system database, a holiday, a card.
    for (const double late : {t + 15, t + 60, 1.5 * t, 2 * t, 2 * t + 30, 3 * t, 4 * t, 6 * t})
        for (const int after : {1, 15, 20})
            cases.append(
                {QString("late %1 ms at reply %2").arg(late).arg(after + 1),
                 {.fault = Fault::LateReply, .startAfter = after, .count = 1, .lateMs = late},
                 late <= 4 * t});
    cases.append(
        {"late 300 ms, every 7th request lost",
         {.fault = Fault::LateReply, .startAfter = 18, .count = 2, .dropEvery = 7, .lateMs = 300},
         true});
    for (const double gap : {5.0, 15.0, 40.0}) {
        cases.append({QString("every reply twice, %1 ms apart").arg(gap),
                      {.fault = Fault::Twice, .gapMs = gap},
                      false});
        cases.append({QString("a card's reply twice, %1 ms apart").arg(gap),
                      {.fault = Fault::Twice, .startAfter = 20, .count = 1, .gapMs = gap},
                      false});
    }
    cases.append({"every reply one request late", {.fault = Fault::Stale}, false});
    cases.append({"two card replies one request late",
                  {.fault = Fault::Stale, .startAfter = 19, .count = 2},
                  false});

    for (const bool load : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE((load ? "load, " : "save, ") + c.name.toStdString());
            kt::test::JobRig r(20);
            r.choose({"system", "holiday", "cards"});
            r.request.cardCount = 20;
            const QString clean = r.dir.filePath("clean.KT");
            if (load) {
                // The backup of one controller goes into a different one.
                ASSERT_TRUE(r.runJob(kt::engine::Direction::Save, clean));
                r.store.seed(20, 7);
                r.controller.setFaultPlan(c.plan);
                ASSERT_TRUE(r.runJob(kt::engine::Direction::Load, clean));
            } else {
                r.controller.setFaultPlan(c.plan);
                ASSERT_TRUE(r.runSave());
            }
            const kt::engine::JobOutcome outcome = r.job.outcome();
            if (c.mustFinish) {
                EXPECT_EQ(outcome, kt::engine::JobOutcome::Finished);
            }
            r.controller.setFaultPlan({});
            const QString done = load ? clean : r.saveFile;
            const QString check = r.dir.filePath("check.KT");
            if (outcome == kt::engine::JobOutcome::Finished) {
                ASSERT_TRUE(r.runJob(kt::engine::Direction::Save, check));
                EXPECT_EQ(kt::test::sectionLines(done), kt::test::sectionLines(check));
            } else {
                EXPECT_EQ(outcome, kt::engine::JobOutcome::Garbled);
                if (!load) {
                    EXPECT_NE(kt::shell::ReadIni(done, "HEAD", "Complete"), "1");
                }
            }
        }
    }
}

} // namespace
