#include "fleet_pages.h"

#include "command_support.h"
#include "fleet/exit_status.h"
#include "fleet/report_page.h"
#include "fleet_command.h"
#include "shell/language.h"
#include "shell/regular_file.h"
#include "site_source.h"

#include <list>

namespace kt::cli {

int runReport(const CliOptions& options, const QString& iniFile) {
    if (options.output.isEmpty()) {
        complain(QStringLiteral("report needs -o PAGE, the file to write.\nkt560ax --help lists "
                                "the commands and options."));
        return kUsage;
    }
    const std::optional<QList<fleet::LoadedFleet>> fleets = fleetsOf(options);
    if (!fleets)
        return kFileError;
    std::list<fleet::History> histories;
    QList<fleet::ReportSource> sources;
    for (const fleet::LoadedFleet& loaded : *fleets) {
        fleet::ReportSource source{&loaded, nullptr};
        if (!loaded.fleet.settings.history.isEmpty()) {
            fleet::History& history = histories.emplace_back();
            if (const shell::Status opened =
                    history.open(loaded.fleet.settings.history, fleet::History::Mode::Read);
                opened)
                source.history = &history;
            else
                complain(shell::fillIn(QStringLiteral("the history of %1: %2; its versions are "
                                                      "left out."),
                                       {loaded.file, opened.error().message}));
        }
        sources.append(source);
    }
    const QByteArray page = fleet::reportPage(
        sources, pageLanguage(options, iniFile), QDateTime::currentDateTime(),
        options.remote.isEmpty() ? fleet::ReportLayout::Fleets : fleet::ReportLayout::Site);
    if (const shell::Status written = shell::replaceFile(options.output, page); !written) {
        complain(shell::fillIn(QStringLiteral("the report: %1."), {written.error().message}));
        return kFileError;
    }
    return kDone;
}

} // namespace kt::cli
