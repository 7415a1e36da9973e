#include "hooks.h"

#include "process_group.h"

#include "shell/text_format.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace kt::fleet {

shell::Status runHook(const QStringList& command, const Variables& variables,
                      const std::function<void(const QString&)>& output, int seconds,
                      const std::function<bool()>& stopped) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    leadOwnGroup(process);
    // Read as it comes, so that a talkative hook costs no memory.
    QByteArray partial;
    const auto relay = [&](bool all) {
        partial += process.readAllStandardOutput();
        qsizetype end;
        while ((end = partial.indexOf('\n')) >= 0 || (all && !partial.isEmpty()) ||
               partial.size() > 4096) {
            const qsizetype cut = end >= 0 ? end : qMin<qsizetype>(partial.size(), 4096);
            output(QString::fromUtf8(partial.left(cut)));
            partial.remove(0, cut + (end >= 0 ? 1 : 0));
        }
    };
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    bool overran = false;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] { relay(false); });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        overran = true;
        killGroup(process);
    });
    QTimer watch;
    bool interrupted = false;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (stopped && !interrupted && stopped()) {
            interrupted = true;
            killGroup(process);
        }
    });
    process.start(command.value(0), command.mid(1));
    if (process.state() != QProcess::NotRunning) {
        limit.start(seconds * 1000);
        watch.start(100);
        loop.exec();
    }
    relay(true);
    const auto failed = [](shell::ErrorCode code, const QString& why) {
        return shell::Error{code, why};
    };
    if (process.error() == QProcess::FailedToStart)
        return failed(shell::ErrorCode::NotFound,
                      shell::fillIn(QStringLiteral("%1 could not be started: %2"),
                                    {command.value(0), process.errorString()}));
    if (interrupted)
        return failed(shell::ErrorCode::Invalid, QStringLiteral("stopped by a signal"));
    if (overran)
        return failed(shell::ErrorCode::Unreachable,
                      QStringLiteral("stopped after %1 s").arg(seconds));
    if (process.exitStatus() != QProcess::NormalExit)
        return failed(shell::ErrorCode::Invalid, QStringLiteral("ended by a signal"));
    if (process.exitCode() != 0)
        return failed(shell::ErrorCode::Invalid,
                      QStringLiteral("exit status %1").arg(process.exitCode()));
    return shell::done();
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
