#include "fleet_runner.h"

#include "shell/write_problem.h"

#include "backup_folder.h"
#include "engine/record_compare.h"
#include "exit_status.h"
#include "fleet_advice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonDocument>
#include <QTimer>

namespace kt::fleet {

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

engine::JobOutcome outcomeOf(int status, const QJsonObject& summary) {
    using engine::JobOutcome;
    if (const auto said = engine::outcomeFromId(summary.value("outcome").toString()))
        return *said;
    switch (status) {
    case kDone:
        return JobOutcome::Finished;
    case kPortError:
        return JobOutcome::PortUnavailable;
    case kCommError:
        return JobOutcome::NoAnswer;
    case kInterrupted:
        return JobOutcome::Cancelled;
    default:
        return JobOutcome::FileError;
    }
}

namespace {

// The last line a job printed on standard error, without the program's
// name: the reason it gave when its summary has none.
QString lastProblem(const QByteArray& output) {
    const QList<QByteArray> lines = output.trimmed().split('\n');
    QString line = QString::fromUtf8(lines.last().trimmed());
    if (line.startsWith(QLatin1String("kt560ax: ")))
        line = line.mid(9);
    return line;
}

} // namespace

// One line's controllers, backed up one after another.
struct FleetRunner::Queue {
    QList<int> waiting; // indexes into runs_
    bool running = false;
    std::unique_ptr<QTimer> busyWait; // runs while its next try waits for a busy port
    bool waitingForPort() const { return busyWait && busyWait->isActive(); }
};

FleetRunner::FleetRunner(const Fleet& fleet, QString program, QStringList jobArguments,
                         const QList<QStringList>& lines)
    : fleet_(fleet), program_(std::move(program)), jobArguments_(std::move(jobArguments)),
      pause_(std::make_unique<QTimer>()) {
    // Controllers that share a line share a queue, also through a third:
    // the queues are the groups of a union of their lines.
    QList<int> group(fleet.controllers.size());
    const std::function<int(int)> root = [&](int i) {
        return group[i] == i ? i : group[i] = root(group[i]);
    };
    std::map<QString, int> firstOnLine;
    for (int i = 0; i < int(fleet.controllers.size()); ++i) {
        group[i] = i;
        for (const QString& line : lines[i]) {
            const auto [known, added] = firstOnLine.emplace(line, i);
            if (!added)
                group[root(i)] = root(known->second);
        }
    }
    for (int i = 0; i < int(fleet.controllers.size()); ++i) {
        ControllerRun run;
        run.controller = &fleet.controllers[i];
        runs_.append(run);
        queues_[root(i)].waiting.append(i);
        queueOf_.append(root(i));
    }
    pause_->setSingleShot(true);
    connect(pause_.get(), &QTimer::timeout, this, &FleetRunner::startMore);
}

FleetRunner::~FleetRunner() = default;

void FleetRunner::setCommand(QString command, QStringList files) {
    command_ = std::move(command);
    files_ = std::move(files);
}

void FleetRunner::setScope(QList<const engine::Category*> categories, int cards) {
    scopeCategories_ = std::move(categories);
    scopeCards_ = cards;
}

void FleetRunner::start(const QString& stamp) {
    stamp_ = stamp;
    processes_ = std::make_unique<JobProcesses>(program_, fleet_.settings.jobsPerProcess);
    startMore();
}

void FleetRunner::finish() {
    if (finished_)
        return;
    finished_ = true;
    if (processes_)
        processes_->close();
    // The end may be found inside start(): the caller hears of it once that
    // has returned.
    QMetaObject::invokeMethod(this, &FleetRunner::finished, Qt::QueuedConnection);
}

void FleetRunner::stop() {
    stopped_ = true;
    bool pausing = pause_->isActive();
    if (processes_)
        processes_->stop();
    for (auto& [line, queue] : queues_) {
        queue.waiting.clear();
        if (queue.waitingForPort()) {
            queue.busyWait->stop();
            pausing = true;
        }
    }
    // A job that does not end within its grace is killed: a run that was
    // told to stop never waits for ever.
    QTimer::singleShot(kStopGraceMs, this, [this] {
        if (processes_)
            processes_->kill();
    });
    pause_->stop();
    if (pausing && running_ == 0)
        finish();
}

void FleetRunner::startMore() {
    for (auto& [line, queue] : queues_) {
        while (!stopped_ && running_ < fleet_.settings.jobs && !queue.running &&
               !queue.waitingForPort() && !queue.waiting.isEmpty())
            startJob(queue, queue.waiting.takeFirst());
    }
    if (running_ == 0)
        finishRound();
}

void FleetRunner::startJob(Queue& queue, int index) {
    ControllerRun& job = runs_[index];
    const FleetController& controller = *job.controller;
    ++job.tries;
    job.started = QDateTime::currentDateTime();
    job.summary = {};
    job.error.clear();
    const QString folder = controller.backupFolder();
    const shell::Result<QString> claimed = claimBackupName(folder, stamp_);
    if (!claimed) {
        job.file = QDir(folder).filePath(stamp_ + QStringLiteral(".KT"));
        job.status = kFileError;
        job.outcome = engine::JobOutcome::FileError;
        job.error = claimed.error().message;
        if (text_) {
            if (const QString cause = shell::writeProblem(job.file, text_); !cause.isEmpty())
                job.error += QStringLiteral("; ") + cause;
        }
        emit tryStarted(index);
        emit controllerEnded(index); // a folder that takes no file is not the line's fault
        return;
    }
    job.file = *claimed;
    emit tryStarted(index);
    QStringList names;
    const bool scoped = !scopeCategories_.isEmpty();
    for (const engine::Category* category : scoped ? scopeCategories_ : controller.categories)
        names.append(QString::fromLatin1(category->name));
    queue.running = true;
    ++running_;
    processes_->start(
        index,
        QStringList{command_, job.file} + files_ +
            QStringList{QStringLiteral("--port"), controller.port, QStringLiteral("--address"),
                        QString::number(controller.address), QStringLiteral("--only"),
                        names.join(u','), QStringLiteral("--cards"),
                        QString::number(scoped ? scopeCards_ : controller.cards)} +
            (controller.echo ? QStringList{QStringLiteral("--echo")} : QStringList{}) +
            jobArguments_,
        [this, index, &queue](int status, const QByteArray& output, const QByteArray& errors) {
            ended(queue, index, status, output, errors);
        });
}

void FleetRunner::ended(Queue& queue, int index, int status, const QByteArray& output,
                        const QByteArray& errors) {
    ControllerRun& job = runs_[index];
    job.summary = QJsonDocument::fromJson(output.trimmed().split('\n').last()).object();
    job.status = status;
    job.outcome = outcomeOf(status, job.summary);
    if (!job.complete()) {
        job.error = job.summary.value("error").toString();
        if (job.error.isEmpty())
            job.error = lastProblem(errors);
        job.error = fleetError(fleet_, *job.controller, job.outcome, job.summary, job.error);
    }
    if (!job.complete()) {
        if (!dropIfEmpty(job.file))
            partials_[index].append(job.file);
    } else {
        // The backup is whole now: the stopped tries before it go.
        for (const QString& partial : std::as_const(partials_[index]))
            static_cast<void>(removeBackupSet(partial)); // one a job holds stays
        partials_.erase(index);
    }
    queue.running = false;
    --running_;
    if (!stopped_ && job.outcome == engine::JobOutcome::PortUnavailable &&
        job.summary.value("portBusy").toBool() && job.busyTries < kBusyPortTries) {
        ++job.busyTries;
        queue.waiting.prepend(index);
        if (!queue.busyWait) {
            queue.busyWait = std::make_unique<QTimer>();
            queue.busyWait->setSingleShot(true);
            connect(queue.busyWait.get(), &QTimer::timeout, this, &FleetRunner::startMore);
        }
        queue.busyWait->start(kBusyPortWaitMs);
        return startMore();
    }
    if (lastTry(job))
        emit controllerEnded(index);
    startMore();
}

bool FleetRunner::lastTry(const ControllerRun& job) const {
    return job.complete() || stopped_ || !engine::isLineFailure(job.outcome) ||
           job.tries - job.busyTries > fleet_.settings.retries;
}

void FleetRunner::finishRound() {
    if (pause_->isActive())
        return;
    for (const auto& [line, queue] : queues_)
        if (queue.waitingForPort())
            return; // its try comes once the wait is over
    QList<int> again;
    for (qsizetype i = 0; i < runs_.size(); ++i)
        if (runs_[i].tries > 0 && !lastTry(runs_[i]))
            again.append(int(i));
    if (again.isEmpty())
        return finish();
    // Each retry goes back into the queue of its line.
    for (const int index : std::as_const(again))
        queues_[queueOf_[index]].waiting.append(index);
    // The pause begins first, so that a stop told of the retries ends it.
    pause_->start(fleet_.settings.retryPauseSeconds * 1000);
    emit retrying(int(again.size()), fleet_.settings.retryPauseSeconds);
}

bool FleetRunner::dropIfEmpty(const QString& file) {
    // A try that stored no record leaves nothing worth keeping; without this
    // a controller that stays dead would add a file each night.
    if (!engine::readBackupRecords(file).isEmpty())
        return false;
    return removeBackupSet(file).ok(); // one a job holds stays a partial
}

} // namespace kt::fleet
