#include "fleet_state_commands.h"

#include "command_support.h"
#include "fleet/exit_status.h"
#include "fleet/git_process.h"
#include "fleet/history.h"
#include "fleet/problem_groups.h"
#include "fleet/record_changes.h"
#include "link/trace.h"
#include "shell/append_file.h"
#include "shell/text_format.h"
#include "signal_watch.h"
#include "site_source.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <algorithm>
#include <cstdio>

namespace kt::cli {

std::optional<QList<fleet::LoadedFleet>> loadFleets(const QStringList& files) {
    QList<fleet::LoadedFleet> fleets;
    for (const QString& file : files) {
        shell::Result<fleet::LoadedFleet> loaded = fleet::loadFleet(file);
        if (!loaded) {
            complain(loaded.error().message);
            return std::nullopt;
        }
        if (!loaded->stateProblem.isEmpty())
            complain(loaded->stateProblem + QStringLiteral("; its controllers are unknown."));
        fleets.append(*loaded);
    }
    return fleets;
}

namespace {

// A controller's last apply, for status.
const fleet::AppliedList* appliedTo(const fleet::LoadedFleet& loaded, const QString& controller) {
    const auto found = loaded.state.applies.find(controller);
    return found == loaded.state.applies.end() ? nullptr : &found->second;
}

// "apply of cards.KT failed: why", for a failed one; empty else.
QString applyNote(const fleet::AppliedList* applied) {
    if (!applied || !applied->failed())
        return {};
    return QStringLiteral("apply of %1 %2 (%3 records written): %4")
        .arg(QFileInfo(applied->list).fileName(),
             QLatin1String(engine::wordsOf(applied->outcome).name))
        .arg(applied->written)
        .arg(applied->error);
}

QJsonObject statusJson(const fleet::ControllerView& v, qint64 maxAge,
                       const fleet::AppliedList* applied) {
    QJsonObject json{
        {"fleet", v.fleet},           {"controller", v.controller->name},
        {"port", v.controller->port}, {"state", QLatin1String(fleet::wordsOf(v.state).id)},
        {"fine", v.fine()},           {"maxAgeSeconds", maxAge}};
    if (const fleet::ControllerRecord* r = v.record) {
        json.insert("lastTry", fleet::isoText(r->lastTry));
        json.insert("lastOutcome", QLatin1String(engine::wordsOf(r->outcome).id));
        if (!r->error.isEmpty())
            json.insert("error", r->error);
        json.insert("failuresSinceSuccess", r->failures);
        json.insert("changed", r->changed);
        if (!r->lastComplete.isEmpty()) {
            json.insert("lastComplete", r->lastComplete);
            json.insert("lastCompleteAt", fleet::isoText(r->lastCompleteAt));
            json.insert("clockAhead", v.clockAhead);
            if (v.ageSeconds >= 0)
                json.insert("ageSeconds", v.ageSeconds);
            if (r->readsCards)
                json.insert("cards", r->cards);
            json.insert("records", r->records);
        }
        if (!r->lastGood.file.isEmpty()) {
            json.insert("lastGood", r->lastGood.file);
            json.insert("lastGoodAt", fleet::isoText(r->lastGood.at));
            if (r->readsCards)
                json.insert("lastGoodCards", r->lastGood.held.cards());
        }
        if (r->suspicious) {
            json.insert("suspicion", fleet::suspicionText(*r));
            json.insert("emptied", QJsonArray::fromStringList(r->emptied));
        }
    }
    if (applied)
        json.insert("lastApply", fleet::appliedJson(*applied));
    return json;
}

// The groups of status --problems, for programs: each its state's
// identifier, what went wrong, where, and its controllers.
QJsonArray problemsJson(const QList<fleet::ProblemGroup>& groups) {
    QJsonArray list;
    for (const fleet::ProblemGroup& group : groups) {
        QJsonObject json{{"state", QLatin1String(fleet::wordsOf(group.state).id)},
                         {"what", group.what},
                         {"controllers", QJsonArray::fromStringList(group.members)}};
        if (!group.where.isEmpty())
            json.insert("where", group.where);
        if (!group.check.isEmpty())
            json.insert("check", group.check);
        list.append(json);
    }
    return list;
}

// When `section` names no controller of the fleet: says so, and gives the
// exit status.
std::optional<int> unknownSection(const fleet::Fleet& fleet, const QString& fleetFile,
                                  const QString& section) {
    if (std::any_of(fleet.controllers.cbegin(), fleet.controllers.cend(),
                    [&](const fleet::FleetController& c) { return c.name == section; }))
        return std::nullopt;
    complain(QStringLiteral("%1 has no controller [%2].").arg(fleetFile, section));
    return kUsage;
}

// A gateway of a remote that needs someone: its runs have stopped, or its
// branch holds no state that can be read.
struct GatewayProblem {
    const fleet::LoadedFleet* fleet;
    fleet::ControllerState state; // stale or unknown
    QString why;
};

QList<GatewayProblem> gatewayProblems(const QList<fleet::LoadedFleet>& fleets,
                                      const QDateTime& now) {
    QList<GatewayProblem> problems;
    for (const fleet::LoadedFleet& loaded : fleets) {
        const QString gateway = loaded.gateway.isEmpty()
                                    ? loaded.name
                                    : loaded.name + QStringLiteral(" on ") + loaded.gateway;
        if (!loaded.stateProblem.isEmpty())
            problems.append({&loaded, fleet::ControllerState::Unknown, loaded.stateProblem});
        else if (fleet::runsStopped(loaded, now))
            problems.append(
                {&loaded, fleet::ControllerState::Stale,
                 shell::fillIn(QStringLiteral("no run of %1 since %2, longer ago than its MaxAge "
                                              "(%3): its runs have stopped"),
                               {gateway,
                                loaded.state.lastRun.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                fleet::ageText(loaded.fleet.settings.maxAgeSeconds)})});
    }
    return problems;
}

QJsonArray gatewaysJson(const QList<fleet::LoadedFleet>& fleets,
                        const QList<GatewayProblem>& problems) {
    QJsonArray list;
    for (const fleet::LoadedFleet& loaded : fleets) {
        QJsonObject json{{"fleet", loaded.name},
                         {"gateway", loaded.gateway},
                         {"lastRun", fleet::isoText(loaded.state.lastRun)},
                         {"maxAgeSeconds", loaded.fleet.settings.maxAgeSeconds},
                         {"state", "fine"}};
        for (const GatewayProblem& problem : problems)
            if (problem.fleet == &loaded) {
                json.insert("state", QLatin1String(fleet::wordsOf(problem.state).id));
                json.insert("problem", problem.why);
            }
        list.append(json);
    }
    return list;
}

} // namespace

int runStatus(const CliOptions& options) {
    const std::optional<QList<fleet::LoadedFleet>> fleets = fleetsOf(options);
    if (!fleets)
        return kFileError;
    const bool site = !options.remote.isEmpty();
    const QDateTime now = QDateTime::currentDateTime();
    struct Row {
        fleet::ControllerView view;
        qint64 maxAge;
        const fleet::AppliedList* applied;
    };
    QList<Row> views;
    for (const fleet::LoadedFleet& loaded : *fleets)
        for (fleet::ControllerView view : fleet::viewsOf(loaded.fleet, loaded.state, now)) {
            view.fleet = loaded.name;
            views.append({view, loaded.fleet.settings.maxAgeSeconds,
                          appliedTo(loaded, view.controller->name)});
        }
    const QList<GatewayProblem> gateways =
        site ? gatewayProblems(*fleets, now) : QList<GatewayProblem>{};
    const bool several = fleets->size() > 1 || site;
    const auto nameOf = [several](const fleet::ControllerView& v) {
        return (several ? v.fleet + u'/' : QString()) + v.controller->name;
    };
    // The controllers that need someone first, the most severe first.
    std::stable_sort(views.begin(), views.end(), [&](const Row& a, const Row& b) {
        if (a.view.state != b.view.state)
            return a.view.state < b.view.state;
        return fleet::namedBefore(nameOf(a.view), nameOf(b.view));
    });
    bool allFine = gateways.isEmpty();
    for (const Row& row : views)
        allFine = allFine && row.view.fine();
    const int status = allFine ? kDone : kDifferences;
    QList<fleet::ProblemGroup> groups;
    if (options.problems) {
        views.removeIf([](const Row& row) { return row.view.fine(); });
        QList<fleet::ControllerView> shown;
        for (const Row& row : std::as_const(views))
            shown.append(row.view);
        groups = fleet::problemGroupsOf(shown, several);
    }
    if (options.json) {
        QJsonArray controllers;
        for (const Row& row : views)
            controllers.append(statusJson(row.view, row.maxAge, row.applied));
        QJsonObject json{
            {"command", "status"}, {"controllers", controllers}, {"exitStatus", status}};
        if (options.problems)
            json.insert("problems", problemsJson(groups));
        if (site)
            json.insert("gateways", gatewaysJson(*fleets, gateways));
        std::printf("%s\n", QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
        return status;
    }
    if (options.problems) {
        for (const GatewayProblem& gateway : gateways)
            std::printf("%s: %s\n", fleet::wordsOf(gateway.state).name,
                        qPrintable(link::displayText(gateway.why)));
        for (const QString& line : fleet::problemLines(groups))
            std::printf("%s\n", qPrintable(link::displayText(line)));
        return status;
    }
    std::printf("%-24s %-16s %-16s %-10s %-18s %8s %6s %8s  %s\n", "controller", "state",
                "last complete", "age", "last outcome", "failures", "cards", "records", "error");
    for (const GatewayProblem& gateway : gateways) {
        const QDateTime& lastRun = gateway.fleet->state.lastRun;
        std::printf(
            "%-24s %-16s %-16s %-10s %-18s %8s %6s %8s  %s\n",
            qPrintable(link::displayText(gateway.fleet->name + QStringLiteral(" (gateway)"))),
            fleet::wordsOf(gateway.state).name,
            lastRun.isValid() ? qPrintable(lastRun.toString("yyyy-MM-dd HH:mm")) : "-",
            lastRun.isValid() ? qPrintable(fleet::ageText(lastRun.secsTo(now))) : "-", "-", "-",
            "-", "-", qPrintable(link::displayText(gateway.why)));
    }
    for (const Row& row : views) {
        const fleet::ControllerView& v = row.view;
        const fleet::ControllerRecord* r = v.record;
        const bool backup = r && !r->lastComplete.isEmpty();
        // A suspicious backup says why where a failure says its error; a
        // failed apply, which left the controller part-written, is said too.
        QString note = !r                                              ? QString()
                       : v.state == fleet::ControllerState::Suspicious ? fleet::suspicionText(*r)
                                                                       : r->error;
        if (const QString apply = applyNote(row.applied); !apply.isEmpty())
            note = note.isEmpty() ? apply : note + QStringLiteral("; ") + apply;
        const QString name = nameOf(v);
        const QString last = !backup        ? QStringLiteral("none")
                             : v.clockAhead ? QStringLiteral("clock ahead")
                                            : r->lastCompleteAt.toString("yyyy-MM-dd HH:mm");
        std::printf("%-24s %-16s %-16s %-10s %-18s %8s %6s %8s  %s\n",
                    qPrintable(link::displayText(name)), fleet::wordsOf(v.state).name,
                    qPrintable(last),
                    v.ageSeconds >= 0 ? qPrintable(fleet::ageText(v.ageSeconds)) : "-",
                    r ? engine::wordsOf(r->outcome).name : "-",
                    r ? qPrintable(QString::number(r->failures)) : "-",
                    backup && r->readsCards ? qPrintable(QString::number(r->cards)) : "-",
                    backup ? qPrintable(QString::number(r->records)) : "-",
                    qPrintable(link::displayText(note)));
    }
    return status;
}

int runHistory(const CliOptions& options) {
    const shell::Result<fleet::Fleet> read = fleet::readFleetFile(options.files[0]);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    const QString section = options.files[1];
    if (read->settings.history.isEmpty()) {
        complain(QStringLiteral("%1 has no History in [fleet].").arg(options.files[0]));
        return kFileError;
    }
    if (const std::optional<int> status = unknownSection(*read, options.files[0], section))
        return *status;
    fleet::History history;
    if (const shell::Status opened =
            history.open(read->settings.history, fleet::History::Mode::Read);
        !opened) {
        complain(QStringLiteral("the history: %1.").arg(opened.error().message));
        return kFileError;
    }
    const QList<fleet::HistoryVersion> versions = history.versions(section);
    if (options.exportVersion > 0) {
        if (options.exportVersion > versions.size()) {
            complain(shell::fillIn(QStringLiteral("[%1] has %2 versions, not %3."),
                                   {section, QString::number(versions.size()),
                                    QString::number(options.exportVersion)}));
            return kUsage;
        }
        QList<fleet::AgeIdentity> identities;
        if (!options.identity.isEmpty()) {
            const shell::Result<QList<fleet::AgeIdentity>> read =
                fleet::readAgeIdentities(options.identity);
            if (!read) {
                complain(read.error().message + QStringLiteral(": nothing was written."));
                return kFileError;
            }
            if (shell::othersMayRead(options.identity))
                complain(QStringLiteral("warning: %1 may be read by others: it opens every "
                                        "version of the history; run chmod go-r on it.")
                             .arg(options.identity));
            identities = *read;
        }
        const shell::Result<QString> written = history.exportVersion(
            section, versions[options.exportVersion - 1], options.files[2], identities);
        if (!written) {
            complain(written.error().message +
                     (identities.isEmpty() && written.error().code == shell::ErrorCode::Denied
                          ? QStringLiteral("; give an age identity file that opens it with "
                                           "--identity FILE.")
                          : QStringLiteral(".")));
            return kFileError;
        }
        std::printf("%s\n", qPrintable(link::displayText(*written)));
        return kDone;
    }
    if (versions.isEmpty()) {
        std::fprintf(stderr, "[%s] has no versions in the history yet.\n",
                     qPrintable(link::displayText(section)));
        return kDone;
    }
    std::printf("%7s  %-25s %6s %8s  %s\n", "version", "date", "cards", "records", "changes");
    for (const fleet::HistoryVersion& version : versions) {
        const int cards = version.cards, records = version.records;
        const auto count = [](int n) { return n < 0 ? QStringLiteral("-") : QString::number(n); };
        std::printf("%7d  %-25s %6s %8s  %s%s\n", version.number,
                    qPrintable(version.when.toString(Qt::ISODate)), qPrintable(count(cards)),
                    qPrintable(count(records)), version.suspicious ? fleet::kSuspiciousMark : "",
                    qPrintable(link::displayText(version.changes)));
    }
    return kDone;
}

int runAccept(const CliOptions& options) {
    const QString fleetFile = options.files[0], section = options.files[1];
    const shell::Result<fleet::Fleet> parsed = fleet::readFleetFile(fleetFile);
    if (!parsed) {
        complain(parsed.error().message);
        return kFileError;
    }
    if (const std::optional<int> status = unknownSection(*parsed, fleetFile, section))
        return *status;
    // The run's lock: a run that ends meanwhile would write its state over
    // this one, or this one over the run's.
    const QString path = fleet::statePathOf(fleetFile);
    QLockFile lock(fleet::stateLockPathOf(path));
    if (const shell::Status locked = fleet::lockState(lock); !locked) {
        complain(
            locked.error().code == shell::ErrorCode::InUse
                ? QStringLiteral("the fleet's state %1: a run holds it; try again once it "
                                 "has ended.")
                      .arg(path)
                : QStringLiteral("the fleet's state %1: %2.").arg(path, locked.error().message));
        return kFileError;
    }
    const shell::Result<fleet::FleetState> read = fleet::readFleetState(path);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    fleet::FleetState state = *read;
    const auto found = state.controllers.find(section);
    if (found == state.controllers.end() || !found->second.suspicious) {
        std::fprintf(stderr, "[%s] is not suspicious: nothing to accept.\n",
                     qPrintable(link::displayText(section)));
        return kDone;
    }
    fleet::ControllerRecord& record = found->second;
    const QString before = fleet::suspicionText(record);
    fleet::acceptLastComplete(record);
    if (const shell::Status written = fleet::writeFleetState(path, state); !written) {
        complain(written.error().message);
        return kFileError;
    }
    std::printf("[%s] accepted: its backup of %s is its last good one now (it was: %s).\n",
                qPrintable(link::displayText(section)),
                qPrintable(record.lastGood.at.toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
                qPrintable(link::displayText(before)));
    return kDone;
}

int runPush(const CliOptions& options) {
    const shell::Result<fleet::Fleet> read = fleet::readFleetFile(options.files[0]);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    if (read->settings.history.isEmpty() || read->settings.remote.isEmpty()) {
        complain(options.files[0] + QStringLiteral(" has no History and Remote in [fleet]."));
        return kUsage;
    }
    if (qEnvironmentVariableIsSet(fleet::kPushChildVariable)) {
        // The program a run or a push by hand started: its parent holds the
        // time limit.
        fleet::History history;
        shell::Status pushed = history.open(read->settings.history, fleet::History::Mode::Read);
        if (pushed)
            pushed = history.push(read->settings.remote, read->settings.branch);
        if (!pushed) {
            complain(pushed.error().message);
            return kFileError;
        }
        return kDone;
    }
    // By hand as in a run: in a program of its own, ended at PushTimeout or
    // at a signal.
    const std::unique_ptr<fleet::GitProcess> push =
        fleet::GitProcess::push(QCoreApplication::applicationFilePath(), options.files[0],
                                read->settings.remote, read->settings.pushTimeoutSeconds);
    return awaitGitProcess(*push);
}

} // namespace kt::cli
