#include "command_support.h"

#include "fleet/exit_status.h"
#include "link/trace.h"
#include "shell/language.h"
#include "signal_watch.h"

#include <QCoreApplication>
#include <cstdio>

namespace kt::cli {

QByteArray languageOf(const CliOptions& options) {
    const QByteArray section = shell::languageSection(options.settings.intLanguage);
    return section.isEmpty() ? shell::languageSection(0) : section;
}

QString complaintText(const QString& text) {
    // Names, paths and reasons come from files and servers: a control
    // character reaches the terminal by its name, never raw.
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        line = link::displayText(line);
    return QStringLiteral("kt560ax: ") + lines.join(u'\n');
}

void complain(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(complaintText(text)));
}

int awaitGitProcess(fleet::GitProcess& process) {
    SignalWatch watch;
    QObject::connect(&watch, &SignalWatch::arrived, &process, &fleet::GitProcess::stop);
    bool ended = false;
    QObject::connect(&process, &fleet::GitProcess::ended, &process, [&ended] {
        ended = true;
        QCoreApplication::quit();
    });
    process.start();
    if (!ended)
        QCoreApplication::exec();
    if (const shell::Status& result = process.result(); !result) {
        complain(result.error().message);
        return process.stopped() ? kInterrupted : kFileError;
    }
    return kDone;
}

std::optional<fleet::Fleet> chooseControllers(const fleet::Fleet& fleet, const QString& fleetFile,
                                              const QStringList& names) {
    const QStringList unknown = fleet::unknownControllers(fleet, names);
    for (const QString& name : unknown)
        complain(QStringLiteral("%1 has no controller \"%2\".").arg(fleetFile, name));
    if (!unknown.isEmpty())
        return std::nullopt;
    return fleet::chosenControllers(fleet, names);
}

bool openPort(const CliOptions& options, link::LinePort& port, link::Clock& clock,
              const SignalWatch& watch) {
    bool opened = false;
    if (port.setPortName(options.port) && port.setSettings(options.settings.strSettings)) {
        // The loop ends with the open's report, or at a stop; a quit()
        // before exec() would be lost, so a stop already come is not waited on.
        port.startOpen(clock, [&opened](bool ok) {
            opened = ok;
            QCoreApplication::quit();
        });
        const QObject guard;
        QObject::connect(&watch, &SignalWatch::arrived, &guard, [&port] {
            port.close();
            QCoreApplication::quit();
        });
        if (!watch.interrupted())
            QCoreApplication::exec();
        if (port.isOpening())
            port.close();
    }
    if (opened || watch.interrupted())
        return opened && !watch.interrupted();
    complain(QStringLiteral("cannot open %1 (%2): %3")
                 .arg(options.port, QString::fromLatin1(options.settings.strSettings),
                      port.errorString()));
    return false;
}

void addPortProblem(QJsonObject& summary, const link::SerialPort& port) {
    summary.insert("portProblem", link::SerialPort::openErrorId(port.openError()));
    summary.insert("device", port.errorDevice());
    if (!port.errorReason().isEmpty())
        summary.insert("reason", port.errorReason());
    if (port.openError() == link::SerialPort::OpenError::Busy)
        summary.insert("portBusy", true);
}

int exitStatusOf(engine::JobOutcome outcome) {
    using engine::JobOutcome;
    switch (outcome) {
    case JobOutcome::Finished:
        return kDone;
    case JobOutcome::Cancelled:
        return kInterrupted;
    case JobOutcome::NothingChosen:
        return kUsage;
    case JobOutcome::Differences:
        return kDifferences;
    case JobOutcome::FileError:
    case JobOutcome::Declined:
        return kFileError;
    case JobOutcome::PortUnavailable:
        return kPortError;
    case JobOutcome::NoAnswer:
    case JobOutcome::Garbled:
    case JobOutcome::PortLost:
    case JobOutcome::ServerClosed:
    case JobOutcome::None:
        break;
    }
    return kCommError;
}

} // namespace kt::cli
