#include "user_folders.h"

#include "text_format.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace kt::shell {

namespace {

// A folder of the user's profile named by `variable`, else the one Qt
// finds for `fallback`.
QString profileFolder(const char* variable, QStandardPaths::StandardLocation fallback) {
    QString folder = QDir::fromNativeSeparators(qEnvironmentVariable(variable));
    if (!QDir::isAbsolutePath(folder))
        folder = QStandardPaths::writableLocation(fallback);
    return folder + QStringLiteral("/kt560ax");
}

} // namespace

QString configFolder() {
    return profileFolder("APPDATA", QStandardPaths::GenericConfigLocation);
}

QString stateFolder() {
    return profileFolder("LOCALAPPDATA", QStandardPaths::GenericDataLocation);
}

Result<QString> runtimeFolder() {
    // The profile's folders are the user's alone by their permissions.
    const QString folder = stateFolder() + QStringLiteral("/run");
    if (const Status made = makePrivateFolders(folder); !made)
        return made.error();
    return folder;
}

bool mayWriteIn(const QString& folder) {
    // The read-only mark says nothing of a folder's permissions (Program
    // Files has none, and only an administrator may write there): try.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".kt560ax-probe-XXXXXX")));
    return probe.open();
}

} // namespace kt::shell
