#include "site_source.h"

#include "command_support.h"
#include "fleet/exit_status.h"
#include "fleet/site_states.h"
#include "fleet_state_commands.h"

#include <QCoreApplication>

namespace kt::cli {

std::optional<QList<fleet::LoadedFleet>> fleetsOf(const CliOptions& options) {
    if (options.remote.isEmpty())
        return loadFleets(options.files);
    const fleet::RemoteAddress remote(options.remote);
    QString folder = options.remote;
    if (!fleet::isLocalRepository(options.remote)) {
        const std::unique_ptr<fleet::GitProcess> fetch = fleet::GitProcess::fetch(
            QCoreApplication::applicationFilePath(), remote, options.fetchSeconds);
        if (awaitGitProcess(*fetch) != kDone) {
            complain(QStringLiteral("%1 could not be read: the state of its fleets is unknown.")
                         .arg(remote.shown()));
            return std::nullopt;
        }
        folder = fleet::siteCacheOf(remote);
    }
    const shell::Result<QList<fleet::LoadedFleet>> site = fleet::readSite(folder, remote.shown());
    if (!site) {
        complain(site.error().message + u'.');
        return std::nullopt;
    }
    if (site->isEmpty())
        complain(QStringLiteral("%1 has no branch.").arg(remote.shown()));
    for (const fleet::LoadedFleet& loaded : *site)
        if (!loaded.stateProblem.isEmpty())
            complain(loaded.stateProblem + QStringLiteral("; its controllers are unknown."));
    return *site;
}

int runFetch(const CliOptions& options) {
    if (const shell::Status fetched = fleet::fetchSite(fleet::RemoteAddress(options.remote));
        !fetched) {
        complain(fetched.error().message);
        return kFileError;
    }
    return kDone;
}

} // namespace kt::cli
