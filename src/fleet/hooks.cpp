#include "hooks.h"

#include "process_group.h"

#include "shell/text_format.h"

namespace kt::fleet {

Hook::Hook(QStringList command, const Variables& variables,
           std::function<void(const QString&)> output, int seconds)
    : command_(std::move(command)), output_(std::move(output)), seconds_(seconds) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardInputFile(QProcess::nullDevice());
    leadOwnGroup(process_);
    limit_.setSingleShot(true);
    // Read as it comes, so that a talkative hook costs no memory.
    connect(&process_, &QProcess::readyReadStandardOutput, this, [this] { relay(false); });
    connect(&process_, &QProcess::finished, this, &Hook::finish);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finish();
    });
    connect(&limit_, &QTimer::timeout, this, [this] {
        overran_ = true;
        killGroup(process_);
    });
}

Hook::~Hook() {
    // Nothing it started outlives it.
    if (process_.state() != QProcess::NotRunning)
        killGroup(process_);
}

void Hook::start() {
    process_.start(command_.value(0), command_.mid(1));
    if (process_.state() != QProcess::NotRunning)
        limit_.start(seconds_ * 1000);
    else
        finish(); // failed at once: no signal of its end would come
}

void Hook::stop() {
    if (finished_ || interrupted_ || process_.state() == QProcess::NotRunning)
        return;
    interrupted_ = true;
    killGroup(process_);
}

void Hook::relay(bool all) {
    partial_ += process_.readAllStandardOutput();
    qsizetype end;
    while ((end = partial_.indexOf('\n')) >= 0 || (all && !partial_.isEmpty()) ||
           partial_.size() > 4096) {
        const qsizetype cut = end >= 0 ? end : qMin<qsizetype>(partial_.size(), 4096);
        output_(QString::fromUtf8(partial_.left(cut)));
        partial_.remove(0, cut + (end >= 0 ? 1 : 0));
    }
}

void Hook::finish() {
    if (finished_)
        return;
    finished_ = true;
    limit_.stop();
    relay(true);
    const auto failed = [](shell::ErrorCode code, const QString& why) {
        return shell::Status(shell::Error{code, why});
    };
    if (process_.error() == QProcess::FailedToStart)
        result_ = failed(shell::ErrorCode::NotFound,
                         shell::fillIn(QStringLiteral("%1 could not be started: %2"),
                                       {command_.value(0), process_.errorString()}));
    else if (interrupted_)
        result_ = failed(shell::ErrorCode::Invalid, QStringLiteral("stopped by a signal"));
    else if (overran_)
        result_ = failed(
            shell::ErrorCode::Unreachable,
            shell::fillIn(QStringLiteral("stopped after %1 s"), {QString::number(seconds_)}));
    else if (process_.exitStatus() != QProcess::NormalExit)
        result_ = failed(shell::ErrorCode::Invalid, QStringLiteral("ended by a signal"));
    else if (process_.exitCode() != 0)
        result_ = failed(shell::ErrorCode::Invalid,
                         shell::fillIn(QStringLiteral("exit status %1"),
                                       {QString::number(process_.exitCode())}));
    // Its end may be seen inside start() or inside a signal of the process:
    // the caller hears of it once those have returned.
    QMetaObject::invokeMethod(this, &Hook::ended, Qt::QueuedConnection);
}

namespace {

// What one variable may hold: far below the 128 KiB Linux takes.
constexpr qsizetype kMaxVariableBytes = 16 * 1024;

QString oneLine(QString text) {
    for (QChar& c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return text;
}

// At most kMaxVariableBytes of whole lines, then how many were left out.
QString bounded(const QStringList& lines) {
    QString text;
    qsizetype bytes = 0, kept = 0;
    for (; kept < lines.size(); ++kept) {
        const qsizetype size = lines[kept].toUtf8().size() + 1;
        if (bytes + size > kMaxVariableBytes - 100)
            break;
        bytes += size;
        text += (kept ? QStringLiteral("\n") : QString()) + lines[kept];
    }
    if (kept < lines.size())
        text += shell::fillIn(QStringLiteral("\n... and %1 more lines: see KT560AX_LIST"),
                              {QString::number(lines.size() - kept)});
    return text;
}

} // namespace

HookDetails hookDetails(const QList<HookEntry>& entries, const Variables& common) {
    HookDetails details;
    QStringList columns[5], list;
    for (const HookEntry& e : entries) {
        const QString fields[] = {e.controller, e.port, e.address, e.file, e.error};
        for (int c = 0; c < 5; ++c)
            columns[c].append(oneLine(fields[c]));
        list.append(oneLine(e.controller) + u'\t' + oneLine(e.port) + u'\t' + oneLine(e.address) +
                    u'\t' + oneLine(e.file) + u'\t' + oneLine(e.outcome) + u'\t' +
                    oneLine(e.error));
    }
    const char* names[] = {"KT560AX_CONTROLLER", "KT560AX_PORT", "KT560AX_ADDRESS", "KT560AX_FILE",
                           "KT560AX_ERROR"};
    for (int c = 0; c < 5; ++c)
        details.variables.append({QLatin1String(names[c]), bounded(columns[c])});
    for (const auto& [name, value] : common)
        details.variables.append({name, bounded(value.split(u'\n'))});
    details.list = std::make_unique<QTemporaryFile>();
    if (details.list->open()) {
        const QByteArray text = list.join(u'\n').toUtf8() + '\n';
        if (details.list->write(text) == text.size() && details.list->flush())
            details.variables.append({QStringLiteral("KT560AX_LIST"), details.list->fileName()});
    }
    return details;
}

} // namespace kt::fleet
