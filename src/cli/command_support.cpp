#include "command_support.h"

#include "fleet/exit_status.h"
#include "shell/language.h"

#include <cstdio>

namespace kt::cli {

QByteArray languageOf(const CliOptions& options) {
    const QByteArray section = shell::languageSection(options.settings.intLanguage);
    return section.isEmpty() ? shell::languageSection(0) : section;
}

void complain(const QString& text) {
    std::fprintf(stderr, "kt560ax: %s\n", qPrintable(text));
}

bool openPort(const CliOptions& options, link::LinePort& port) {
    if (port.setPortName(options.port) && port.setSettings(options.settings.strSettings) &&
        port.open())
        return true;
    complain(QStringLiteral("cannot open %1 (%2): %3")
                 .arg(options.port, QString::fromLatin1(options.settings.strSettings),
                      port.errorString()));
    return false;
}

int exitStatusOf(engine::JobOutcome outcome) {
    switch (outcome) {
    case engine::JobOutcome::Finished:
        return kDone;
    case engine::JobOutcome::Cancelled:
        return kInterrupted;
    case engine::JobOutcome::NothingChosen:
        return kUsage;
    case engine::JobOutcome::Differences:
        return kDifferences;
    case engine::JobOutcome::FileError:
    case engine::JobOutcome::Declined:
        return kFileError;
    case engine::JobOutcome::CommunicationError:
    case engine::JobOutcome::None:
        break;
    }
    return kCommError;
}

} // namespace kt::cli
