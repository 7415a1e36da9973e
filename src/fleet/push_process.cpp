#include "push_process.h"

#include "process_group.h"
#include "shell/text_format.h"

#include <QProcessEnvironment>

namespace kt::fleet {

namespace {

// How long a killed push may take to end before it is left behind.
constexpr int kGraceMs = 5000;

} // namespace

PushProcess::PushProcess(QString program, QString fleetFile, RemoteAddress remote, int seconds)
    : program_(std::move(program)), fleetFile_(std::move(fleetFile)), remote_(std::move(remote)),
      seconds_(seconds) {
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kPushChildVariable), QStringLiteral("1"));
    process_.setProcessEnvironment(environment);
    leadOwnGroup(process_);
    endWithThisProgram(process_, ParentGone::Kill);
    connect(&process_, &QProcess::finished, this, &PushProcess::finish);
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
    connect(&grace_, &QTimer::timeout, this, &PushProcess::finish);
}

PushProcess::~PushProcess() {
    if (process_.state() != QProcess::NotRunning)
        killGroup(process_);
}

void PushProcess::start() {
    process_.start(program_, {QStringLiteral("push"), fleetFile_});
    if (!finished_)
        limit_.start(seconds_ * 1000);
}

void PushProcess::stop() {
    if (finished_ || stopped_)
        return;
    stopped_ = true;
    if (process_.state() == QProcess::NotRunning)
        return finish();
    kill();
}

void PushProcess::kill() {
    limit_.stop();
    killGroup(process_);
    grace_.start(kGraceMs);
}

void PushProcess::finish() {
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
               shell::fillIn(QStringLiteral("it did not end within %1 s (PushTimeout)"),
                             {QString::number(seconds_)}));
    } else if (process_.exitStatus() != QProcess::NormalExit || process_.exitCode() != 0) {
        // Its last line says why, after the program's name.
        const QByteArray said = process_.readAllStandardError().left(4096).trimmed();
        QString why = QString::fromUtf8(said.split('\n').last());
        if (why.startsWith(QLatin1String("kt560ax: ")))
            why = why.mid(9);
        failed(shell::ErrorCode::Unwritable,
               why.isEmpty() ? QStringLiteral("the push failed") : remote_.scrubbed(why));
    }
    // Its end may be seen inside start() or inside a signal of the process:
    // the caller hears of it once those have returned.
    QMetaObject::invokeMethod(this, &PushProcess::ended, Qt::QueuedConnection);
}

} // namespace kt::fleet
