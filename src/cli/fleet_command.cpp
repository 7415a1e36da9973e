#include "fleet_command.h"

#include "command_support.h"
#include "fleet/exit_status.h"
#include "fleet/fleet_run.h"
#include "fleet/history_encryption.h"
#include "fleet/problem_groups.h"
#include "link/trace.h"
#include "shell/language.h"
#include "shell/text_format.h"
#include "signal_watch.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace kt::cli {

using fleet::ControllerRun;
using fleet::RecordChanges;
using fleet::RunResult;

namespace {

QStringList jobArguments(const CliOptions& options) {
    const auto number = [](float value) {
        return QString::fromLatin1(shell::shortestDecimal(value));
    };
    return {QStringLiteral("--settings"), QString::fromLatin1(options.settings.strSettings),
            QStringLiteral("--tx-delay"), number(options.settings.sngTxDelay),
            QStringLiteral("--rx-delay"), number(options.settings.sngRxDelay),
            QStringLiteral("--timeout"),  number(options.settings.sngRxTimeOut),
            QStringLiteral("--quiet"),    QStringLiteral("--json")};
}

// What the changes column and the progress line say of a run.
QString changeWords(const RunResult& result, int i) {
    const RecordChanges& c = result.changes[i];
    if (!result.runs[i].complete())
        return QStringLiteral("-");
    if (result.suspicious.contains(i))
        return QStringLiteral("suspicious: ") + result.suspicions[i];
    if (c.first)
        return QStringLiteral("first version");
    if (c.uncompared)
        return QLatin1String(fleet::kUncompared);
    if (!c.any())
        return QStringLiteral("unchanged");
    return shell::fillIn(QStringLiteral("changed: +%1 -%2 ~%3 cards"),
                         {QString::number(c.cardsAdded.size()),
                          QString::number(c.cardsRemoved.size()),
                          QString::number(c.cardsChanged.size())});
}

// Prints a run as the place it goes to suits: a line per controller as it
// ends on a terminal, the table at the end elsewhere, and problems on
// standard error.
class RunPrinter final : public fleet::FleetRunView {
  public:
    explicit RunPrinter(const CliOptions& options)
        : quiet_(options.quiet), json_(options.json), terminal_(isatty(STDOUT_FILENO) == 1) {}

    bool lineByLine() const { return terminal_ && !quiet_ && !json_; }

    void controllerEnded(const RunResult& result, int i, int ended, int total) override {
        if (!lineByLine())
            return;
        const ControllerRun& run = result.runs[i];
        QString line = shell::fillIn(QStringLiteral("%1/%2 %3: "),
                                     {QString::number(ended), QString::number(total),
                                      link::displayText(run.controller->name)});
        if (run.complete()) {
            line +=
                shell::fillIn(QStringLiteral("finished in %1 s"),
                              {QString::number(qRound(run.summary.value("seconds").toDouble()))});
            if (run.summary.value("categories").toArray().contains(QStringLiteral("cards")))
                line += shell::fillIn(QStringLiteral(", %1 cards"),
                                      {QString::number(result.changes[i].cards)});
            line += QStringLiteral(", ") + changeWords(result, i);
        } else {
            line = shell::fillIn(QStringLiteral("%1/%2 %3"),
                                 {QString::number(ended), QString::number(total),
                                  link::displayText(result.failureLine(i))});
        }
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    }
    void retrying(int count, int seconds) override {
        if (lineByLine())
            std::printf("trying %d controller%s again in %d s\n", count, count == 1 ? "" : "s",
                        seconds);
    }
    void problem(const QString& text) override { complain(text); }
    void hookOutput(const QString& hook, const QString& line) override {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(hook), qPrintable(link::displayText(line)));
    }

    // The end of the run: the table off a terminal, the headline on one.
    // Off a terminal the controllers that failed or whose backup is
    // suspicious (judged only now) are told as problems, grouped by cause,
    // so that a quiet run of thousands says what needs someone in a few
    // lines.
    void finished(const RunResult& result) const {
        if (!lineByLine())
            for (const QString& line :
                 fleet::problemLines(fleet::groupProblems(fleet::problemsOf(result))))
                complain(line);
        if (quiet_ || json_)
            return;
        if (!terminal_)
            printTable(result);
        std::printf("%s\n", qPrintable(result.headline()));
        if (result.committed)
            std::printf("history: committed\n");
    }

  private:
    static void printTable(const RunResult& result) {
        std::printf("%-20s %-28s %4s %8s %8s %5s  %-18s %s\n", "controller", "port", "addr",
                    "records", "seconds", "tries", "outcome", "changes");
        for (qsizetype i = 0; i < result.runs.size(); ++i) {
            const ControllerRun& r = result.runs[i];
            std::printf("%-20s %-28s %4s %8d %8.1f %5d  %-18s %s\n",
                        qPrintable(link::displayText(r.controller->name)),
                        qPrintable(link::displayText(r.controller->port)),
                        shell::formatDigits(r.controller->address, 2).constData(),
                        r.summary.value("records").toInt(), r.summary.value("seconds").toDouble(),
                        r.tries, r.tries > 0 ? engine::wordsOf(r.outcome).name : "not tried",
                        qPrintable(changeWords(result, int(i))));
        }
    }

    bool quiet_;
    bool json_;
    bool terminal_;
};

QJsonObject runJson(const RunResult& result) {
    QJsonArray jobs;
    for (qsizetype i = 0; i < result.runs.size(); ++i) {
        const ControllerRun& run = result.runs[i];
        QJsonObject job = run.summary;
        job.insert("controller", run.controller->name);
        job.insert("file", run.file);
        job.insert("exitStatus", run.status);
        job.insert("tries", run.tries);
        job.insert("outcome", QLatin1String(engine::outcomeName(run.outcome)));
        if (!run.error.isEmpty())
            job.insert("error", run.error);
        if (run.complete()) {
            const RecordChanges& c = result.changes[i];
            job.insert("changed", c.any());
            job.insert("cardsAdded", c.cardsAdded.size());
            job.insert("cardsRemoved", c.cardsRemoved.size());
            job.insert("cardsChanged", c.cardsChanged.size());
            job.insert("suspicious", result.suspicious.contains(int(i)));
            if (result.suspicious.contains(int(i)))
                job.insert("suspicion", result.suspicions[i]);
        }
        jobs.append(job);
    }
    QJsonObject json{{"command", "run"},
                     {"jobs", jobs},
                     {"changed", result.changed.size()},
                     {"failed", result.failed.size()},
                     {"suspicious", result.suspicious.size()},
                     {"committed", result.committed},
                     {"hooks", result.hooks},
                     {"exitStatus", result.status}};
    if (!result.historyProblem.isEmpty())
        json.insert("historyProblem", result.historyProblem);
    if (!result.pushProblem.isEmpty())
        json.insert("pushProblem", result.pushProblem);
    if (result.pushFailures > 0)
        json.insert("pushFailuresInARow", result.pushFailures);
    if (!result.notWritten.isEmpty())
        json.insert("notWritten", QJsonArray::fromStringList(result.notWritten));
    return json;
}

// Rewrites the fleet's history with every version encrypted, and says what
// became of it on standard error (standard output may be JSON). False when
// it could not: then nothing runs.
bool reencrypt(const fleet::Fleet& fleet, const QString& fleetFile) {
    const shell::Result<fleet::Reencryption> done = fleet::reencryptHistory(fleet, fleetFile);
    if (!done) {
        complain(QStringLiteral("--reencrypt: %1; nothing was rewritten and nothing runs.")
                     .arg(done.error().message));
        return false;
    }
    const QString& history = fleet.settings.history;
    const fleet::History::Reencrypted& rewritten = done->rewritten;
    if (rewritten.commits == 0) {
        complain(QStringLiteral("--reencrypt: %1 holds no version in clear: nothing to rewrite.")
                     .arg(history));
        return true;
    }
    const auto count = [](int n, const char* one, const char* many) {
        return QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
    };
    complain(shell::fillIn(QStringLiteral("--reencrypt: %1 was rewritten: %2, %3 encrypted, with "
                                          "the same messages, authors and times."),
                           {history, count(rewritten.commits, "commit", "commits"),
                            count(rewritten.files, "file version", "file versions")}));
    if (rewritten.packed > 0)
        complain(shell::fillIn(QStringLiteral("--reencrypt: %1 files in clear stay in git's packs "
                                              "until git -C %2 gc --prune=now removes them."),
                               {QString::number(rewritten.packed), history}));
    if (!done->digestsProblem.isEmpty())
        complain(QStringLiteral("--reencrypt: the digests of the last versions: %1; the next run "
                                "commits each controller without comparing.")
                     .arg(done->digestsProblem));
    // A push only ever extends the remote's branch: it is for a person to
    // replace it, knowingly.
    if (!fleet.settings.remote.isEmpty())
        complain(shell::fillIn(
            QStringLiteral("--reencrypt: the remote %1 still holds the versions in clear, and its "
                           "branch %2 is no part of the rewritten history, so pushes to it are "
                           "refused. Replace it once by hand: git -C %3 push --force %1 main:%2; "
                           "then prune the remote (git gc --prune=now there, or its host's "
                           "means) so that the old objects leave it."),
            {fleet.settings.remote.shown(), fleet.settings.branch, history}));
    return true;
}

} // namespace

fleet::PageLanguage pageLanguage(const CliOptions& options, const QString& iniFile) {
    const QByteArray section = languageOf(options);
    static const char* const tags[] = {"en", "zh-Hant", "zh-Hans"};
    // A page asks for the same few texts thousands of times: each is read once.
    auto known = std::make_shared<QHash<QByteArray, QString>>();
    return {[iniFile, section, known](const char* key) {
                const auto found = known->constFind(key);
                if (found != known->cend())
                    return *found;
                return *known->insert(key, shell::languageText(iniFile, section, key));
            },
            QLatin1String(tags[qBound(0, options.settings.intLanguage, 2)])};
}

int runFleet(const CliOptions& options, const QString& iniFile) {
    const QString fleetFile = options.files[0];
    const shell::Result<fleet::Fleet> read = fleet::readFleetFile(fleetFile);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    const fleet::Fleet& fleet = *read;
    const std::optional<fleet::Fleet> chosen =
        chooseControllers(fleet, fleetFile, options.controllers);
    if (!chosen)
        return kUsage;
    fleet::RunSettings settings{.fleetFile = fleetFile,
                                .program = QCoreApplication::applicationFilePath(),
                                .jobArguments = jobArguments(options),
                                .controllers = options.controllers,
                                .lines = {},
                                .keep = options.keep,
                                .metrics = options.metrics,
                                .language = pageLanguage(options, iniFile)};
    QStringList errors;
    for (const fleet::FleetController& controller : chosen->controllers) {
        const auto address = link::parsePortName(controller.port, iniFile);
        if (!address)
            errors.append(shell::fillIn(
                QStringLiteral("%1 line %2: %3"),
                {fleetFile, QString::number(controller.line), address.error().message}));
        settings.lines.append(address ? fleet::linesOf(*address) : QStringList{});
    }
    if (!errors.isEmpty()) {
        for (const QString& error : std::as_const(errors))
            complain(error);
        return kFileError;
    }
    if (options.reencrypt && !reencrypt(fleet, fleetFile))
        return kFileError;
    RunPrinter printer(options);
    fleet::FleetRun run(fleet, settings, printer);
    SignalWatch watch;
    QObject::connect(&watch, &SignalWatch::arrived, &run, &fleet::FleetRun::stop);
    // The run goes on in the program's event loop, which ends with it. A
    // quit() before exec() would be lost: the flag says it has ended.
    bool ended = false;
    QObject::connect(&run, &fleet::FleetRun::finished, &run, [&ended] {
        ended = true;
        QCoreApplication::quit();
    });
    run.start();
    if (!ended)
        QCoreApplication::exec();
    const RunResult& result = run.result();
    printer.finished(result);
    if (options.json)
        std::printf("%s\n",
                    QJsonDocument(runJson(result)).toJson(QJsonDocument::Compact).constData());
    return result.status;
}

} // namespace kt::cli
