#include "hooks.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace kt::fleet {

HookRun runHook(const QStringList& command, const QList<std::pair<QString, QString>>& variables,
                const std::function<void(const QString&)>& output, int seconds,
                const std::function<bool()>& stopped) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
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
        process.kill();
    });
    QTimer watch;
    bool interrupted = false;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (stopped && !interrupted && stopped()) {
            interrupted = true;
            process.kill();
        }
    });
    process.start(command.value(0), command.mid(1));
    if (process.state() != QProcess::NotRunning) {
        limit.start(seconds * 1000);
        watch.start(100);
        loop.exec();
    }
    relay(true);
    HookRun run;
    if (process.error() == QProcess::FailedToStart)
        run.problem = QStringLiteral("%1 could not be started: %2")
                          .arg(command.value(0), process.errorString());
    else if (interrupted)
        run.problem = QStringLiteral("stopped by a signal");
    else if (overran)
        run.problem = QStringLiteral("stopped after %1 s").arg(seconds);
    else if (process.exitStatus() != QProcess::NormalExit)
        run.problem = QStringLiteral("ended by a signal");
    else if (process.exitCode() != 0)
        run.problem = QStringLiteral("exit status %1").arg(process.exitCode());
    run.ok = run.problem.isEmpty();
    return run;
}

} // namespace kt::fleet
