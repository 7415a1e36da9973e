#include "git_process.h"

#include "process_group.h"
#include "shell/text_format.h"

#include <QProcessEnvironment>

namespace kt::fleet {

namespace {

// How long a killed push may take to end before it is left behind.
constexpr int kGraceMs = 5000;

} // namespace

GitProcess::GitProcess(QString program, QStringList arguments, const char* childVariable,
                       RemoteAddress remote, int seconds, QString limitName, QString what)
    : program_(std::move(program)), arguments_(std::move(arguments)), remote_(std::move(remote)),
      seconds_(seconds), limitName_(std::move(limitName)), what_(std::move(what)) {
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(childVariable), QStringLiteral("1"));
    process_.setProcessEnvironment(environment);
    leadOwnGroup(process_);
    endWithThisProgram(process_, ParentGone::Kill);
    connect(&process_, &QProcess::finished, this, &GitProcess::finish);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish();
    });
    limit_.setSingleShot(true);
    grace_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] {
        timedOut_ = true;
        kill();
    });
    connect(&grace_, &QTimer::timeout, this, &GitProcess::finish);
}

std::unique_ptr<GitProcess> GitProcess::push(const QString& program, const QString& fleetFile,
                                             const RemoteAddress& remote, int seconds) {
    return std::make_unique<GitProcess>(program, QStringList{QStringLiteral("push"), fleetFile},
                                        kPushChildVariable, remote, seconds,
                                        QStringLiteral("PushTimeout"), QStringLiteral("push"));
}

std::unique_ptr<GitProcess> GitProcess::fetch(const QString& program, const RemoteAddress& remote,
                                              int seconds) {
    return std::make_unique<GitProcess>(
        program, QStringList{QStringLiteral("status"), QStringLiteral("--remote"), remote.forGit()},
        kFetchChildVariable, remote, seconds, QStringLiteral("--fetch-timeout"),
        QStringLiteral("fetch"));
}

GitProcess::~GitProcess() {
    if (process_.state() != QProcess::NotRunning)
        killGroup(process_);
}

void GitProcess::start() {
    process_.start(program_, arguments_);
    if (!finished_)
        limit_.start(seconds_ * 1000);
}

void GitProcess::stop() {
    if (finished_ || stopped_)
        return;
    stopped_ = true;
    if (process_.state() == QProcess::NotRunning)
        return finish();
    kill();
}

void GitProcess::kill() {
    limit_.stop();
    killGroup(process_);
    grace_.start(kGraceMs);
}

void GitProcess::finish() {
    if (finished_)
        return;
    finished_ = true;
    limit_.stop();
    grace_.stop();
    const auto failed = [this](shell::ErrorCode code, const QString& why) {
        result_ = shell::Error{code, why};
    };
    if (process_.error() == QProcess::FailedToStart) {
        failed(shell::ErrorCode::NotFound, process_.errorString());
    } else if (stopped_) {
        failed(shell::ErrorCode::Invalid, QStringLiteral("stopped by a signal"));
    } else if (timedOut_) {
        failed(shell::ErrorCode::Unreachable,
               shell::fillIn(QStringLiteral("it did not end within %1 s (%2)"),
                             {QString::number(seconds_), limitName_}));
    } else if (process_.exitStatus() != QProcess::NormalExit || process_.exitCode() != 0) {
        // Its last line says why, after the program's name.
        const QByteArray said = process_.readAllStandardError().left(4096).trimmed();
        QString why = QString::fromUtf8(said.split('\n').last());
        if (why.startsWith(QLatin1String("kt560ax: ")))
            why = why.mid(9);
        failed(shell::ErrorCode::Unwritable,
               why.isEmpty() ? QStringLiteral("the %1 failed").arg(what_) : remote_.scrubbed(why));
    }
    // Its end may be seen inside start() or inside a signal of the process:
    // the caller hears of it once those have returned.
    QMetaObject::invokeMethod(this, &GitProcess::ended, Qt::QueuedConnection);
}

} // namespace kt::fleet
