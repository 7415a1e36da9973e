#include "job_processes.h"

#include "exit_status.h"
#include "process_group.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace kt::fleet {

namespace {

QByteArray said(const QString& text) {
    return "kt560ax: " + text.toUtf8() + '\n';
}

} // namespace

struct JobProcesses::Own {
    Ended ended;
    std::unique_ptr<QProcess> process;
    QByteArray errors;
};

struct JobProcesses::Handed {
    QStringList arguments;
    Ended ended;
};

struct JobProcesses::Shared {
    std::unique_ptr<QProcess> process;
    std::map<int, Handed> jobs; // handed to it, not yet ended
    QByteArray partial;         // of its next line
    QByteArray errors;          // what it said itself on standard error
    bool stopping = false;      // told to stop, or to take no more jobs
};

void JobProcesses::keepEnd(QByteArray& kept, const QByteArray& more) {
    kept += more;
    if (kept.size() > kMaxErrorOutput)
        kept.remove(0, kept.size() - kMaxErrorOutput);
}

JobProcesses::JobProcesses(QString program, int perProcess)
    : program_(std::move(program)), perProcess_(perProcess) {}

JobProcesses::~JobProcesses() {
    // Nothing is told of a job now. A shared process with no job ends when
    // its input does; what still runs is killed.
    for (Shared& shared : shared_) {
        shared.process->disconnect(this);
        shared.process->closeWriteChannel();
    }
    for (Own& job : own_)
        job.process->disconnect(this);
    for (Shared& shared : shared_)
        if (!shared.jobs.empty() || !shared.process->waitForFinished(kIdleEndMs))
            shared.process->kill();
    kill();
    for (Shared& shared : shared_)
        shared.process->waitForFinished();
    for (Own& job : own_)
        job.process->waitForFinished();
}

void JobProcesses::start(int id, const QStringList& arguments, Ended ended) {
    if (perProcess_ <= 1 || arguments.value(0) != QLatin1String("save"))
        return startOwn(id, arguments, std::move(ended));
    const QByteArray line =
        QJsonDocument(
            QJsonObject{{"job", id}, {"arguments", QJsonArray::fromStringList(arguments)}})
            .toJson(QJsonDocument::Compact);
    if (line.size() > kMaxJobLine) {
        QMetaObject::invokeMethod(
            this,
            [ended = std::move(ended)] {
                ended(kUsage, {}, said(QStringLiteral("the job's arguments are too long")));
            },
            Qt::QueuedConnection);
        return;
    }
    Shared& shared = sharedWithRoom();
    shared.jobs.emplace(id, Handed{arguments, std::move(ended)});
    shared.process->write(line + '\n');
}

void JobProcesses::startOwn(int id, const QStringList& arguments, Ended ended) {
    Q_UNUSED(id);
    Own& job = own_.emplace_back();
    job.ended = std::move(ended);
    job.process = std::make_unique<QProcess>();
    QProcess* process = job.process.get();
    endWithThisProgram(*process, ParentGone::Stop);
    const auto end = [this, process](int status, const QByteArray& output, const QByteArray& more) {
        const auto found = std::find_if(own_.begin(), own_.end(), [process](const Own& job) {
            return job.process.get() == process;
        });
        if (found == own_.end())
            return;
        const Ended ended = std::move(found->ended);
        QByteArray errors = found->errors;
        keepEnd(errors, more);
        found->process->disconnect(this);
        found->process.release()->deleteLater();
        own_.erase(found);
        ended(status, output, errors);
    };
    connect(process, &QProcess::readyReadStandardError, this, [this, process] {
        for (Own& job : own_)
            if (job.process.get() == process)
                keepEnd(job.errors, process->readAllStandardError());
    });
    connect(
        process, &QProcess::finished, this,
        [process, end](int code, QProcess::ExitStatus how) {
            // The summary is one short line; anything else is not read.
            end(how == QProcess::NormalExit ? code : kInterrupted, process->read(64 * 1024), {});
        },
        Qt::QueuedConnection);
    // A job that cannot be started ends at once, or the run would wait for
    // it for ever.
    connect(
        process, &QProcess::errorOccurred, this,
        [this, process, end](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                end(kFileError, {},
                    said(QStringLiteral("cannot start %1: %2")
                             .arg(program_, process->errorString())));
        },
        Qt::QueuedConnection);
    process->start(program_, arguments);
}

JobProcesses::Shared& JobProcesses::sharedWithRoom() {
    for (Shared& shared : shared_)
        if (!shared.stopping && int(shared.jobs.size()) < perProcess_)
            return shared;
    Shared& shared = shared_.emplace_back();
    shared.process = std::make_unique<QProcess>();
    QProcess* process = shared.process.get();
    endWithThisProgram(*process, ParentGone::Stop);
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, &shared] { readLines(shared); });
    connect(process, &QProcess::readyReadStandardError, this,
            [&shared] { keepEnd(shared.errors, shared.process->readAllStandardError()); });
    connect(
        process, &QProcess::finished, this,
        [this, &shared](int code, QProcess::ExitStatus how) {
            if (!readLines(shared))
                return;
            sharedGone(
                shared, kInterrupted,
                how == QProcess::NormalExit
                    ? QStringLiteral("the job process ended (status %1) before this job").arg(code)
                    : QStringLiteral("the job process was killed during this job"),
                Retry::Alone);
        },
        Qt::QueuedConnection);
    connect(
        process, &QProcess::errorOccurred, this,
        [this, &shared](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                sharedGone(shared, kFileError,
                           QStringLiteral("cannot start %1: %2")
                               .arg(program_, shared.process->errorString()),
                           Retry::No);
        },
        Qt::QueuedConnection);
    process->start(program_, {QStringLiteral("jobs")});
    return shared;
}

bool JobProcesses::readLines(Shared& shared) {
    shared.partial += shared.process->readAllStandardOutput();
    for (qsizetype end; (end = shared.partial.indexOf('\n')) >= 0;) {
        const QJsonObject line = QJsonDocument::fromJson(shared.partial.left(end)).object();
        shared.partial.remove(0, end + 1);
        const auto found = shared.jobs.find(line.value("job").toInt(-1));
        if (found == shared.jobs.end()) {
            sharedGone(shared, kInterrupted,
                       QStringLiteral("the job process said what is not the end of a job"),
                       Retry::Alone);
            return false;
        }
        const Ended ended = std::move(found->second.ended);
        shared.jobs.erase(found);
        const QJsonObject summary = line.value("summary").toObject();
        QByteArray errors;
        keepEnd(errors, line.value("errors").toString().toUtf8());
        ended(line.value("status").toInt(kInterrupted),
              summary.isEmpty() ? QByteArray()
                                : QJsonDocument(summary).toJson(QJsonDocument::Compact),
              errors);
    }
    if (shared.partial.size() <= kMaxLine)
        return true;
    sharedGone(shared, kInterrupted, QStringLiteral("the job process said a line too long"),
               Retry::Alone);
    return false;
}

void JobProcesses::sharedGone(Shared& shared, int status, const QString& why, Retry retry) {
    const std::map<int, Handed> jobs = std::move(shared.jobs);
    QByteArray errors = shared.errors;
    keepEnd(errors, said(why));
    shared.process->disconnect(this);
    if (shared.process->state() != QProcess::NotRunning) { // it said what it should not
        shared.process->kill();
        shared.process->waitForFinished();
    }
    shared.process.release()->deleteLater();
    shared_.remove_if([&shared](const Shared& one) { return &one == &shared; });
    for (const auto& [id, job] : jobs) {
        if (retry == Retry::No || stopped_) {
            job.ended(status, {}, errors);
            continue;
        }
        // A job that shared the process may be no cause of its end: it is
        // tried again at once, alone, so that only a job that fails on its
        // own fails, as it would in a process of its own from the start.
        QByteArray before = errors;
        keepEnd(before, said(QStringLiteral("this job is tried again in a process of its own")));
        startOwn(id, job.arguments,
                 [before, ended = job.ended](int again, const QByteArray& output,
                                             const QByteArray& more) {
                     QByteArray all = before;
                     keepEnd(all, more);
                     ended(again, output, all);
                 });
    }
}

void JobProcesses::stop() {
    stopped_ = true;
    for (Own& job : own_)
        if (job.process->state() != QProcess::NotRunning)
            job.process->terminate();
    for (Shared& shared : shared_) {
        shared.stopping = true;
        shared.process->write("{\"stop\":true}\n");
        shared.process->closeWriteChannel();
    }
}

void JobProcesses::close() {
    for (Shared& shared : shared_) {
        shared.stopping = true;
        shared.process->closeWriteChannel();
    }
}

void JobProcesses::kill() {
    stopped_ = true;
    for (Own& job : own_)
        if (job.process->state() != QProcess::NotRunning)
            job.process->kill();
    for (Shared& shared : shared_)
        if (shared.process->state() != QProcess::NotRunning)
            shared.process->kill();
}

} // namespace kt::fleet
