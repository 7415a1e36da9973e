// The state of a fleet's controllers from their files and the job log, and
// the hooks a run calls.
#include "engine/backup_file.h"
#include "fleet/fleet_status.h"
#include "fleet/hooks.h"
#include "shell/ini_file.h"
#include "support/printers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::fleet::ControllerStatus;

TEST(FleetStatus, StaleWhenTheLastCompleteBackupIsOldFailingWhenTheLastJobFailed) {
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    kt::fleet::Fleet fleet;
    for (const char* name : {"old", "failing", "never", "fine"})
        fleet.controllers.append({.name = name, .port = "COM1", .folder = dir.path()});
    // A complete backup `hours` ago in a controller's folder.
    const auto backup = [&](const char* name, int hours, const char* complete = "1") {
        QDir(dir.path()).mkpath(name);
        const QString file = QStringLiteral("%1/%2/2026-01-%3_020000.KT")
                                 .arg(dir.path(), name)
                                 .arg(hours, 2, 10, QChar(u'0'));
        kt::shell::WriteIni(file, "HEAD", "Title", "KT560AX");
        kt::shell::WriteIni(file, "HEAD", "Complete", complete);
        kt::shell::WriteIni(file, "HEAD", "Finished",
                            now.addSecs(-hours * 3600).toString(Qt::ISODate).toLatin1());
        kt::shell::WriteIni(file, "Data", "HA0001", "0012345678123401FF00FF00");
        kt::shell::WriteIni(file, "Data", "DC", "01");
        return file;
    };
    backup("old", 27);
    const QString failing = backup("failing", 2);
    backup("fine", 25);
    backup("fine", 1, "0"); // a stopped one after it changes nothing
    const auto entry = [](const QString& file, const char* outcome,
                          const char* direction = "save") {
        return QJsonObject{{"direction", direction}, {"file", file}, {"outcome", outcome}};
    };
    const QList<QJsonObject> log = {
        entry(failing, "communication error"), entry(failing, "finished"),
        entry(dir.filePath("failing/x.KT"), "communication error"),
        entry(failing, "file error", "load"), // a restore is not a backup
        entry(dir.filePath("failing/y.KT"), "communication error")};

    const QList<ControllerStatus> states = kt::fleet::fleetStatus(fleet, log, now);
    ASSERT_EQ(states.size(), 4);
    EXPECT_TRUE(states[0].stale);
    EXPECT_EQ(states[0].cards, 1);
    EXPECT_EQ(states[0].records, 2);
    EXPECT_FALSE(states[1].stale);
    EXPECT_EQ(states[1].lastOutcome, "communication error");
    EXPECT_EQ(states[1].failuresSinceSuccess, 2);
    EXPECT_FALSE(states[1].fine());
    EXPECT_TRUE(states[2].stale);
    EXPECT_EQ(states[2].lastComplete, "");
    EXPECT_TRUE(states[3].fine()) << states[3].ageSeconds;
    fleet.settings.maxAgeSeconds = 24 * 3600;
    EXPECT_TRUE(kt::fleet::fleetStatus(fleet, log, now)[3].stale);
}

TEST(Hooks, RunWithTheirVariablesWithinTheirTimeAndSayWhyTheyFailed) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const kt::fleet::HookRun ran = kt::fleet::runHook(
        {"/bin/sh", "-c", "printf '%s|%s' \"$KT560AX_CONTROLLER\" \"$1\" >\"$0\"", out, "a b"},
        {{"KT560AX_CONTROLLER", "north"}}, "test");
    EXPECT_TRUE(ran.ok) << ran.problem.toStdString();
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "north|a b");

    const std::pair<QStringList, QString> failures[] = {
        {{"/bin/sh", "-c", "exit 3"}, "exit status 3"},
        {{"/bin/sh", "-c", "sleep 10"}, "stopped after 1 s"},
        {{"/bin/sh", "-c", "kill -9 $$"}, "ended by a signal"},
        {{dir.filePath("missing")}, dir.filePath("missing") + " could not be started"},
    };
    for (const auto& [command, problem] : failures) {
        const kt::fleet::HookRun run = kt::fleet::runHook(command, {}, "test", 1);
        EXPECT_FALSE(run.ok);
        EXPECT_TRUE(run.problem.startsWith(problem)) << run.problem.toStdString();
    }
    // A signal to the run stops the hook at once.
    QElapsedTimer took;
    took.start();
    const kt::fleet::HookRun stopped =
        kt::fleet::runHook({"/bin/sh", "-c", "sleep 10"}, {}, "test", 60, [] { return true; });
    EXPECT_EQ(stopped.problem, "stopped by a signal");
    EXPECT_LT(took.elapsed(), 5000);
}

} // namespace
