// The KT560AX Data Backup System: back up a KT550AX access controller into
// a file and restore it.
#include "shell/settings.h"
#include "ui/frm_kt550ax.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KT560AX Data Backup System"));

    // One copy at a time. A copy that crashed leaves a lock naming a dead
    // process, which the next start takes over.
    QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    user.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")));
    QLockFile lock(
        QDir(QDir::tempPath()).filePath(QStringLiteral("kt560ax-backup-%1.lock").arg(user)));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return 0;

    const QString strAppPath = kt::shell::AppendBackslash(QCoreApplication::applicationDirPath());
    const QString strIniFile = strAppPath.trimmed() + QStringLiteral("Language.ini");
    if (!QFileInfo::exists(strIniFile))
        return 0;

    kt::ui::frmKT550AX window(strIniFile);
    window.show();
    return app.exec();
}
