#include "fleet_command.h"

#include "command_support.h"
#include "engine/backup_file.h"
#include "exit_status.h"
#include "fleet.h"
#include "link/port_naming.h"
#include "shell/regular_file.h"
#include "shell/text_format.h"
#include "shell/user_folders.h"
#include "signal_watch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <cstdio>
#include <map>
#include <memory>

namespace kt::cli {

namespace {

// Far more than a fleet of hundreds of controllers needs.
constexpr qint64 kMaxFleetBytes = 1024 * 1024;

struct JobResult {
    const FleetController* controller;
    QString file;
    int status = kInterrupted;
    QJsonObject summary; // the child's --json line
    bool started = false;
};

// One port's controllers, backed up one after another.
struct PortQueue {
    QList<JobResult*> jobs;
    qsizetype next = 0;
    std::unique_ptr<QProcess> running;
};

// What makes two port names one line: the device by its resolved path, or
// the server by each address its name resolves to, with its port.
QStringList linesOf(const link::PortAddress& address) {
    if (address.kind == link::PortAddress::Kind::Device) {
        const QString canonical = QFileInfo(address.device).canonicalFilePath();
        return {canonical.isEmpty() ? address.device : canonical};
    }
    const QString port = QString::number(address.tcpPort);
    QStringList lines;
    for (const QHostAddress& host : QHostInfo::fromName(address.host).addresses()) {
        bool mapped = false;
        const QHostAddress v4(host.toIPv4Address(&mapped));
        lines.append((mapped ? v4 : host).toString() + '#' + port);
    }
    if (lines.isEmpty()) // not resolved now: its name stands for it
        lines.append(address.host.toLower() + '#' + port);
    return lines;
}

QStringList childArguments(const CliOptions& options, const FleetController& controller,
                           const QString& file) {
    QStringList names;
    for (const engine::Category* category : controller.categories)
        names.append(QString::fromLatin1(category->name));
    const auto number = [](float value) {
        return QString::fromLatin1(shell::shortestDecimal(value));
    };
    return {QStringLiteral("save"),       file,
            QStringLiteral("--port"),     controller.port,
            QStringLiteral("--address"),  QString::number(controller.address),
            QStringLiteral("--only"),     names.join(u','),
            QStringLiteral("--cards"),    QString::number(controller.cards),
            QStringLiteral("--settings"), QString::fromLatin1(options.settings.strSettings),
            QStringLiteral("--tx-delay"), number(options.settings.sngTxDelay),
            QStringLiteral("--rx-delay"), number(options.settings.sngRxDelay),
            QStringLiteral("--timeout"),  number(options.settings.sngRxTimeOut),
            QStringLiteral("--quiet"),    QStringLiteral("--json")};
}

void prune(const QString& folder, int keep, const QString& justMade) {
    for (const QString& name : backupsToRemove(storedBackups(folder), keep, justMade)) {
        const QString mainFile = QDir(folder).filePath(name);
        engine::BackupLock lock;
        if (!lock.take(mainFile, true))
            continue; // in use: the next run removes it
        for (const QString& file : engine::backupFileSet(mainFile))
            QFile::remove(file);
        QFile::remove(engine::lockFileOf(mainFile));
    }
}

void printTable(const QList<JobResult>& results) {
    std::fprintf(stderr, "\n%-20s %-28s %7s %8s %8s  %s\n", "controller", "port", "address",
                 "records", "seconds", "outcome");
    for (const JobResult& r : results) {
        const QString outcome = r.started ? r.summary.value("outcome").toString(
                                                QStringLiteral("exit status %1").arg(r.status))
                                          : QStringLiteral("not started");
        std::fprintf(stderr, "%-20s %-28s %7s %8d %8.1f  %s\n", qPrintable(r.controller->name),
                     qPrintable(r.controller->port),
                     shell::formatDigits(r.controller->address, 2).constData(),
                     r.summary.value("records").toInt(), r.summary.value("seconds").toDouble(),
                     qPrintable(outcome));
    }
}

} // namespace

int runFleet(const CliOptions& options, const QString& iniFile) {
    const QString fleetFile = options.files[0];
    const shell::Result<QByteArray> text = shell::readRegularFile(fleetFile, kMaxFleetBytes);
    if (!text) {
        complain(QStringLiteral("the fleet file: %1.").arg(text.error().message));
        return kFileError;
    }
    Fleet fleet = parseFleet(*text, fleetFile, QFileInfo(fleetFile).absolutePath());
    // Controllers on one line share a queue: a queue per line, and each
    // line names the queue it belongs to.
    std::map<int, PortQueue> queues;
    std::map<QString, int> queueOfLine;
    QList<JobResult> results;
    results.reserve(fleet.controllers.size());
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    for (const FleetController& controller : std::as_const(fleet.controllers)) {
        const auto address = link::parsePortName(controller.port, iniFile);
        if (!address) {
            fleet.errors.append(QStringLiteral("%1 line %2: %3")
                                    .arg(fleetFile)
                                    .arg(controller.line)
                                    .arg(address.error().message));
            continue;
        }
        JobResult result;
        result.controller = &controller;
        results.append(result);
        const QStringList lines = linesOf(*address);
        int queue = int(queues.size());
        for (const QString& line : lines)
            if (const auto known = queueOfLine.find(line); known != queueOfLine.end())
                queue = known->second;
        for (const QString& line : lines)
            queueOfLine.emplace(line, queue);
        queues[queue].jobs.append(&results.last());
    }
    if (!fleet.errors.isEmpty()) {
        for (const QString& error : std::as_const(fleet.errors))
            complain(error);
        return kFileError;
    }

    SignalWatch watch;
    QEventLoop loop;
    int running = 0;
    std::function<void(PortQueue&)> startNext = [&](PortQueue& queue) {
        if (watch.interrupted() || queue.next >= queue.jobs.size())
            return;
        JobResult* job = queue.jobs[queue.next++];
        const QString folder = QDir(job->controller->folder).filePath(job->controller->name);
        if (shell::makePrivateFolders(folder))
            job->file = claimBackupName(folder, stamp);
        if (job->file.isEmpty()) {
            complain(QStringLiteral("[%1] cannot create a backup file in the folder %2.")
                         .arg(job->controller->name, folder));
            job->status = kFileError;
            job->started = true;
            return startNext(queue);
        }
        if (!options.quiet)
            std::fprintf(stderr, "[%s] backing up controller %02d on %s into %s\n",
                         qPrintable(job->controller->name), job->controller->address,
                         qPrintable(job->controller->port), qPrintable(job->file));
        queue.running = std::make_unique<QProcess>();
        QProcess* process = queue.running.get();
        job->started = true;
        ++running;
        QObject::connect(process, &QProcess::readyReadStandardError, process, [process, job] {
            for (const QByteArray& line : process->readAllStandardError().split('\n'))
                if (!line.trimmed().isEmpty())
                    std::fprintf(stderr, "[%s] %s\n", qPrintable(job->controller->name),
                                 line.constData());
        });
        QObject::connect(
            process, &QProcess::finished, &loop,
            [&, process, job, &queue = queue](int code, QProcess::ExitStatus how) {
                const QByteArray output = process->readAllStandardOutput().trimmed();
                job->summary = QJsonDocument::fromJson(output.split('\n').last()).object();
                job->status = how == QProcess::NormalExit ? code : kInterrupted;
                if (options.keep > 0)
                    prune(QFileInfo(job->file).absolutePath(), options.keep,
                          QFileInfo(job->file).fileName());
                --running;
                startNext(queue);
                if (running == 0)
                    loop.quit();
            },
            Qt::QueuedConnection);
        process->start(QCoreApplication::applicationFilePath(),
                       childArguments(options, *job->controller, job->file));
    };
    QObject::connect(&watch, &SignalWatch::arrived, &loop, [&] {
        for (auto& [line, queue] : queues)
            if (queue.running && queue.running->state() != QProcess::NotRunning)
                queue.running->terminate();
    });
    for (auto& [line, queue] : queues)
        startNext(queue);
    if (running > 0)
        loop.exec();

    int status = kDone;
    QJsonArray summaries;
    for (const JobResult& result : std::as_const(results)) {
        status = worse(status, result.status);
        QJsonObject summary = result.summary;
        summary.insert("controller", result.controller->name);
        summary.insert("file", result.file);
        summary.insert("exitStatus", result.status);
        summaries.append(summary);
    }
    if (!options.quiet)
        printTable(results);
    if (options.json)
        std::printf("%s\n", QJsonDocument(QJsonObject{{"command", "run"},
                                                      {"jobs", summaries},
                                                      {"exitStatus", status}})
                                .toJson(QJsonDocument::Compact)
                                .constData());
    return status;
}

} // namespace kt::cli
