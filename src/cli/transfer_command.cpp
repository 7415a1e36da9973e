#include "transfer_command.h"

#include "cli_view.h"
#include "command_support.h"
#include "engine/backup_file.h"
#include "engine/load_warnings.h"
#include "engine/record_compare.h"
#include "fleet/exit_status.h"
#include "link/port_naming.h"
#include "shell/ini_file.h"
#include "shell/text_format.h"
#include "signal_watch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace kt::cli {

namespace {

// The card count of a job: --cards, else for a Load or a Verify the slots
// the backup covers.
int cardCountOf(const CliOptions& options, engine::Direction direction) {
    if (options.cards)
        return *options.cards;
    if (direction != engine::Direction::Save) {
        const int saved = engine::backupCardCount(options.files[0]);
        if (saved >= 1 && saved <= engine::kMaxCards)
            return saved;
    }
    return engine::kMaxCards;
}

} // namespace

QJsonArray differencesJson(const QList<engine::RecordDifference>& differences, const char* before,
                           const char* after) {
    static const char* kinds[] = {"added", "removed", "changed"};
    QJsonArray list;
    for (const engine::RecordDifference& d : differences) {
        const engine::Category* category = engine::categoryOfKey(d.key);
        list.append(QJsonObject{
            {"key", QString::fromLatin1(d.key)},
            {"category", category ? QString::fromLatin1(category->name) : QStringLiteral("other")},
            {"kind", kinds[int(d.kind)]},
            {before, QString::fromLatin1(d.before)},
            {after, QString::fromLatin1(d.after)}});
    }
    return list;
}

namespace {

// The one-line summary of --json. `job` is null when the port could not be
// opened and no job began; `failedPort` is then that port.
void printJson(const CliOptions& options, const engine::JobRequest& request,
               const engine::TransferJob* job, engine::JobOutcome outcome, const QString& error,
               double seconds, int status, const link::SerialPort* failedPort = nullptr) {
    QJsonArray categories;
    for (const engine::Category* category : request.categories)
        categories.append(QString::fromLatin1(category->name));
    const engine::TransferJob::Counts counts = job ? job->counts() : engine::TransferJob::Counts{};
    QJsonObject summary{
        {"command", options.command},
        {"file", request.file},
        {"port", options.port},
        {"address", request.address},
        {"categories", categories},
        {"cards", request.cardCount},
        {"records", counts.done},
        {"emptyCardSlots", counts.empty},
        {"skipped", counts.skipped},
        {"failedTries", job ? int(job->link().errorCount()) : 0},
        {"seconds", qRound(seconds * 10) / 10.0},
        {"outcome", QString::fromLatin1(engine::outcomeName(outcome))},
        {"exitStatus", status},
    };
    if (!error.isEmpty())
        summary.insert("error", error.left(engine::JobLog::kMaxErrorChars));
    if (failedPort)
        addPortProblem(summary, *failedPort);
    if (job && request.direction == engine::Direction::Load && !job->untouchedCards().isEmpty())
        summary.insert("cardSlotsLeft", engine::slotList(job->untouchedCards()));
    if (job && job->keptIn().size())
        summary.insert("keptIn", job->keptIn());
    if (job && outcome == engine::JobOutcome::Finished && job->replacedBackup())
        summary.insert(
            "replacedComplete",
            QJsonObject{{"controller", QString::fromLatin1(job->replacedBackup()->controller)},
                        {"finished", QString::fromLatin1(job->replacedBackup()->finished)}});
    if (job && request.direction == engine::Direction::Verify)
        summary.insert("differences", differencesJson(job->differences(), "file", "controller"));
    std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// A job whose port could not be opened: logged and summed up like any other.
int portFailed(const CliOptions& options, const engine::JobRequest& request,
               const link::LinePort& port) {
    const engine::JobOutcome outcome = port.openError() == link::SerialPort::OpenError::Server
                                           ? engine::JobOutcome::ServerClosed
                                           : engine::JobOutcome::PortUnavailable;
    engine::JobEntry entry = engine::entryOf(request, outcome);
    entry.failedTries = 1; // the one try to open the port
    entry.error = port.errorString();
    if (const shell::Status logged = engine::JobLog().append(entry); !logged && !options.quiet)
        complain(QStringLiteral("the job log: %1").arg(logged.error().message));
    const int status = kPortError; // whatever kind of port it is
    if (options.json)
        printJson(options, request, nullptr, outcome, port.errorString(), 0, status, &port);
    return status;
}

} // namespace

int runTransfer(const CliOptions& options, const QString& iniFile) {
    const engine::Direction direction =
        options.command == QLatin1String("save")   ? engine::Direction::Save
        : options.command == QLatin1String("load") ? engine::Direction::Load
                                                   : engine::Direction::Verify;
    const engine::JobRequest request{.direction = direction,
                                     .file = options.files[0],
                                     .address = options.address,
                                     .categories = options.categories,
                                     .cardCount = cardCountOf(options, direction),
                                     .portName = link::portAndLine(options.port, iniFile)};
    // A signal while a server is being reached (up to its time-out) is an
    // interruption too.
    SignalWatch watch;
    link::LinePort port(iniFile);
    link::EventLoopClock clock;
    if (!openPort(options, port, clock, watch))
        return watch.interrupted() ? kInterrupted : portFailed(options, request, port);
    if (watch.interrupted())
        return kInterrupted;
    CliView view(iniFile, languageOf(options), options.quiet, options.yes);
    engine::TransferJob job(port, clock, view, link::lineTimesOf(options.settings));
    const engine::JobLog log;
    job.setJobLog(&log);
    QObject::connect(&job, &engine::TransferJob::logFailed, [](const QString& reason) {
        complain(QStringLiteral("the job log: %1").arg(reason));
    });
    view.attach(&job);
    QElapsedTimer elapsed;
    elapsed.start();

    // The job goes on in the program's event loop, which ends with it. A
    // quit() before exec() would be lost: the flag says it has ended.
    bool ended = false;
    const auto end = [&ended] {
        ended = true;
        QCoreApplication::quit();
    };
    QObject::connect(&watch, &SignalWatch::arrived, &job, [&job, end] {
        job.cancel();
        end();
    });
    QObject::connect(&job, &engine::TransferJob::finished, &job, end);
    if (job.start(request) && !watch.interrupted() && !ended)
        QCoreApplication::exec();
    job.cancel();
    port.close();

    const int status = exitStatusOf(job.outcome());
    // Categories by their names in the window, as the report beside the
    // backup names them.
    if (!job.differences().isEmpty() && !options.json)
        std::printf("%s", qPrintable(engine::describeDifferences(
                              job.differences(), QStringLiteral("file"),
                              QStringLiteral("controller"), [&](const engine::Category& category) {
                                  return view.languageText(category.languageKey);
                              })));
    if (options.json)
        printJson(options, job.request().file.isEmpty() ? request : job.request(), &job,
                  job.outcome(), job.error(), elapsed.elapsed() / 1000.0, status);
    return status;
}

} // namespace kt::cli
