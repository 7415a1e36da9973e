// kt560ax: the command line of the KT560AX Data Backup System, for
// schedulers and scripts. Same engine, files and rules as the window.
#include "apply_command.h"
#include "command_support.h"
#include "diff_command.h"
#include "fleet/exit_status.h"
#include "fleet/git_process.h"
#include "fleet_command.h"
#include "fleet_pages.h"
#include "fleet_state_commands.h"
#include "jobs_command.h"
#include "link/port_naming.h"
#include "options.h"
#include "scan_command.h"
#include "shell/ini_location.h"
#include "shell/language.h"
#include "signal_watch.h"
#include "site_source.h"
#include "transfer_command.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // Qt's own event loop costs less a wake-up than the GLib one, and a job
    // wakes three times a record. The choice is made as the application is
    // made; the programs it starts (jobs, hooks) get the environment as it
    // was.
    const bool noGlibGiven = qEnvironmentVariableIsSet("QT_NO_GLIB");
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!noGlibGiven)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(QStringLiteral("kt560ax"));
    kt::cli::ignoreClosedOutput();

    // The settings and texts of the window's Language.ini; when none can be
    // had, the shipped texts and the default settings.
    const kt::shell::Result<QString> ini =
        kt::shell::locateLanguageIni(QCoreApplication::applicationDirPath());
    const QString iniFile = ini.valueOr(kt::shell::shippedIniFile());
    const auto options = kt::cli::parseOptions(QCoreApplication::arguments().mid(1), iniFile);
    if (!options) {
        std::fprintf(stderr, "kt560ax: %s\n", qPrintable(options.error().message));
        return kt::kUsage;
    }
    // A job takes its port mapping and line settings from Language.ini, so a
    // job said to be quiet or a fleet's command (whose jobs say their ports)
    // go on with the defaults without a word.
    static const QStringList needsSettings = {"save", "load", "verify", "scan"};
    if (!ini && !options->quiet && needsSettings.contains(options->command))
        std::fprintf(stderr, "kt560ax: %s; going on with the default settings.\n",
                     qPrintable(ini.error().message));
    if (!options->info.isEmpty()) {
        std::printf("%s", qPrintable(options->info));
        return kt::kDone;
    }
    // The commands that show texts say once what Language.ini lacks of them;
    // a fleet's jobs, being quiet, leave that to their run.
    static const QStringList showsTexts = {"save",   "load", "verify", "diff",
                                           "report", "run",  "apply"};
    if (!options->quiet && showsTexts.contains(options->command))
        if (const QString missing =
                kt::shell::missingLanguageTexts(iniFile, kt::cli::languageOf(*options));
            !missing.isEmpty())
            kt::cli::complain(missing + u'.');
    // A job that only reads goes to the window's port when none is named,
    // and says so: the window may have moved it since the script was written.
    static const QStringList readsController = {"save", "verify", "scan"};
    if (!options->portGiven && readsController.contains(options->command))
        kt::cli::complain(QStringLiteral("no --port given: the window's port %1.")
                              .arg(kt::link::portAndLine(options->port, iniFile)));
    if (options->command == QLatin1String("run"))
        return kt::cli::runFleet(*options, iniFile);
    if (options->command == QLatin1String("apply"))
        return kt::cli::runApply(*options, iniFile);
    if (options->command == QLatin1String("apply-controller"))
        return kt::cli::runApplyController(*options, iniFile);
    if (options->command == QLatin1String("jobs"))
        return kt::cli::runJobs(iniFile);
    // The program a status or report --remote URL started, to fetch.
    if (!options->remote.isEmpty() && qEnvironmentVariableIsSet(kt::fleet::kFetchChildVariable))
        return kt::cli::runFetch(*options);
    if (options->command == QLatin1String("status"))
        return kt::cli::runStatus(*options);
    if (options->command == QLatin1String("report"))
        return kt::cli::runReport(*options, iniFile);
    if (options->command == QLatin1String("push"))
        return kt::cli::runPush(*options);
    if (options->command == QLatin1String("history"))
        return kt::cli::runHistory(*options);
    if (options->command == QLatin1String("accept"))
        return kt::cli::runAccept(*options);
    if (options->command == QLatin1String("scan"))
        return kt::cli::runScan(*options, iniFile);
    if (options->command == QLatin1String("diff"))
        return kt::cli::runDiff(*options, iniFile);
    if (options->command == QLatin1String("log"))
        return kt::cli::runLog(*options);
    return kt::cli::runTransfer(*options, iniFile);
}
