#include "transfer_command.h"

#include "signal_watch.h"
#include "transfer_run.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace kt::cli {

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

int runTransfer(const CliOptions& options, const QString& iniFile) {
    // A signal while the port opens (a server may take up to its time-out)
    // stops the run as one while the job runs does.
    SignalWatch watch;
    TransferRun run(options, iniFile);
    bool ended = false;
    QObject::connect(&run, &TransferRun::ended, [&ended] {
        ended = true;
        QCoreApplication::quit();
    });
    QObject::connect(&watch, &SignalWatch::arrived, &run, &TransferRun::cancel);
    run.start();
    if (!ended)
        QCoreApplication::exec();
    if (options.json) {
        if (!run.summary().isEmpty())
            std::printf("%s\n",
                        QJsonDocument(run.summary()).toJson(QJsonDocument::Compact).constData());
    } else {
        std::printf("%s", qPrintable(run.differencesText()));
    }
    std::fflush(stdout);
    return run.status();
}

} // namespace kt::cli
