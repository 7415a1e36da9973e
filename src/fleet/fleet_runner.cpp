#include "fleet_runner.h"

#include "backup_folder.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "exit_status.h"
#include "shell/user_folders.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>
#include <cstdio>

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

QString outcomeOf(const ControllerRun& run) {
    if (run.tries == 0)
        return QStringLiteral("not started");
    return run.summary.value("outcome").toString(
        run.status == kPortError   ? QStringLiteral("port error")
        : run.status == kFileError ? QStringLiteral("file error")
                                   : QStringLiteral("exit status %1").arg(run.status));
}

bool worthRetrying(int status) {
    return status == kCommError || status == kPortError;
}

// One line's controllers, backed up one after another.
struct FleetRunner::Queue {
    QList<int> waiting; // indexes into runs_
    std::unique_ptr<QProcess> running;
};

FleetRunner::FleetRunner(const Fleet& fleet, QString program, QStringList jobArguments,
                         const QList<QStringList>& lines, bool quiet)
    : fleet_(fleet), program_(std::move(program)), jobArguments_(std::move(jobArguments)),
      quiet_(quiet), pause_(std::make_unique<QTimer>()) {
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

QList<ControllerRun> FleetRunner::run(const QString& stamp) {
    stamp_ = stamp;
    QEventLoop loop;
    done_ = [&loop] { loop.quit(); };
    startMore();
    if (running_ > 0 || pause_->isActive())
        loop.exec();
    done_ = nullptr;
    return runs_;
}

void FleetRunner::stop() {
    stopped_ = true;
    for (auto& [line, queue] : queues_) {
        queue.waiting.clear();
        if (queue.running && queue.running->state() != QProcess::NotRunning)
            queue.running->terminate();
    }
    // A job that does not end within its grace is killed: a run that was
    // told to stop never waits for ever.
    QTimer::singleShot(kStopGraceMs, this, [this] {
        for (auto& [line, queue] : queues_)
            if (queue.running && queue.running->state() != QProcess::NotRunning)
                queue.running->kill();
    });
    if (pause_->isActive()) {
        pause_->stop();
        if (done_)
            done_();
    }
}

void FleetRunner::startMore() {
    for (auto& [line, queue] : queues_) {
        while (!stopped_ && running_ < fleet_.settings.jobs && !queue.running &&
               !queue.waiting.isEmpty())
            start(queue, queue.waiting.takeFirst());
    }
    if (running_ == 0)
        finishRound();
}

void FleetRunner::start(Queue& queue, int index) {
    ControllerRun& job = runs_[index];
    const FleetController& controller = *job.controller;
    ++job.tries;
    job.started = engine::localTimeStamp();
    job.summary = {};
    const QString folder = controller.backupFolder();
    job.file = shell::makePrivateFolders(folder) ? claimBackupName(folder, stamp_) : QString();
    if (job.file.isEmpty()) {
        std::fprintf(stderr, "[%s] cannot create a backup file in the folder %s.\n",
                     qPrintable(controller.name), qPrintable(folder));
        job.status = kFileError;
        job.file = QDir(folder).filePath(stamp_ + QStringLiteral(".KT"));
        logUnstarted(job);
        return;
    }
    if (!quiet_)
        std::fprintf(stderr, "[%s] backing up controller %02d on %s into %s%s\n",
                     qPrintable(controller.name), controller.address, qPrintable(controller.port),
                     qPrintable(job.file),
                     job.tries > 1 ? qPrintable(QStringLiteral(" (try %1)").arg(job.tries)) : "");
    QStringList names;
    for (const engine::Category* category : controller.categories)
        names.append(QString::fromLatin1(category->name));
    queue.running = std::make_unique<QProcess>();
    QProcess* process = queue.running.get();
    ++running_;
    const QString name = controller.name;
    connect(process, &QProcess::readyReadStandardError, process, [process, name] {
        for (const QByteArray& line : process->readAllStandardError().split('\n'))
            if (!line.trimmed().isEmpty())
                std::fprintf(stderr, "[%s] %s\n", qPrintable(name), line.constData());
    });
    connect(
        process, &QProcess::finished, this,
        [this, process, index, &queue](int code, QProcess::ExitStatus how) {
            // The summary is one short line; anything else is not read.
            ended(queue, index, how == QProcess::NormalExit ? code : kInterrupted,
                  process->read(64 * 1024));
        },
        Qt::QueuedConnection);
    // A job that cannot be started ends at once, or the run would wait for it
    // for ever.
    connect(
        process, &QProcess::errorOccurred, this,
        [this, process, index, &queue](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            std::fprintf(stderr, "[%s] cannot start %s: %s\n",
                         qPrintable(runs_[index].controller->name), qPrintable(program_),
                         qPrintable(process->errorString()));
            ended(queue, index, kFileError, {});
        },
        Qt::QueuedConnection);
    process->start(program_,
                   QStringList{QStringLiteral("save"), job.file, QStringLiteral("--port"),
                               controller.port, QStringLiteral("--address"),
                               QString::number(controller.address), QStringLiteral("--only"),
                               names.join(u','), QStringLiteral("--cards"),
                               QString::number(controller.cards)} +
                       jobArguments_);
}

void FleetRunner::ended(Queue& queue, int index, int status, const QByteArray& output) {
    ControllerRun& job = runs_[index];
    job.summary = QJsonDocument::fromJson(output.trimmed().split('\n').last()).object();
    job.status = status;
    if (job.status == kPortError)
        logUnstarted(job);
    if (job.status != kDone) {
        if (!dropIfEmpty(job.file))
            partials_[index].append(job.file);
    } else {
        // The backup is whole now: the stopped tries before it go.
        for (const QString& partial : std::as_const(partials_[index]))
            removeSet(partial);
        partials_.erase(index);
    }
    queue.running.release()->deleteLater();
    --running_;
    startMore();
}

void FleetRunner::finishRound() {
    if (pause_->isActive())
        return;
    QList<int> again;
    for (qsizetype i = 0; i < runs_.size(); ++i)
        if (!stopped_ && worthRetrying(runs_[i].status) && runs_[i].tries > 0 &&
            runs_[i].tries <= fleet_.settings.retries)
            again.append(int(i));
    if (again.isEmpty()) {
        if (done_)
            done_();
        return;
    }
    // Each retry goes back into the queue of its line.
    for (const int index : std::as_const(again))
        queues_[queueOf_[index]].waiting.append(index);
    if (!quiet_)
        std::fprintf(stderr, "trying %lld controller%s again in %d s\n",
                     static_cast<long long>(again.size()), again.size() == 1 ? "" : "s",
                     fleet_.settings.retryPauseSeconds);
    pause_->start(fleet_.settings.retryPauseSeconds * 1000);
}

bool FleetRunner::dropIfEmpty(const QString& file) {
    // A try that stored no record leaves nothing worth keeping; without this
    // a controller that stays dead would add a file each night.
    if (!engine::readBackupRecords(file).isEmpty())
        return false;
    removeSet(file);
    return true;
}

void FleetRunner::removeSet(const QString& file) {
    engine::BackupLock lock;
    if (!lock.take(file, true))
        return; // another job holds it: it stays
    for (const QString& member : engine::backupFileSet(file))
        QFile::remove(member);
    lock.release();
    QFile::remove(engine::lockFileOf(file));
}

void FleetRunner::logUnstarted(const ControllerRun& job) const {
    // The job never began, so no job wrote this try into the log; status
    // reads failures from there.
    const FleetController& controller = *job.controller;
    engine::JobEntry entry;
    entry.start = job.started;
    entry.port = controller.port;
    entry.address = controller.address;
    entry.file = job.file;
    entry.categories = controller.categories;
    entry.cards = controller.cards;
    entry.outcome = job.status == kFileError ? engine::JobOutcome::FileError
                                             : engine::JobOutcome::CommunicationError;
    engine::JobLog().append(entry);
}

} // namespace kt::fleet
