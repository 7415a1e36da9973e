// The KT560AX Data Backup System: back up a KT550AX access controller into
// a file and restore it.
#include "shell/file_lock.h"
#include "shell/ini_location.h"
#include "shell/language.h"
#include "shell/settings.h"
#include "shell/user_folders.h"
#include "single_instance.h"
#include "ui/frm_kt550ax.h"
#include "ui/frm_msg_box.h"

#include <QApplication>
#include <cstdio>

namespace {

// Shows why the window cannot start until the user closes the message; 1.
int failed(const QString& text) {
    kt::ui::ShowMessage(nullptr, QStringLiteral("KT560AX Data Backup System V2.00"),
                        kt::shell::MsgStyle::Critical, kt::shell::MsgButtons::Ok, text,
                        [](kt::shell::MsgAnswer, bool) { QCoreApplication::quit(); });
    QApplication::exec();
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KT560AX Data Backup System"));

    // One copy at a time; a copy that crashed holds no lock. A second start
    // brings the running copy's window to the front. Lock and socket live in
    // a folder of the user's own, where no other user can take their names.
    const kt::shell::Result<QString> runtime = kt::shell::runtimeFolder();
    if (!runtime) {
        const QString why = runtime.error().message;
        std::fprintf(stderr, "kt560ax-backup: %s.\n", qPrintable(why));
        return failed(why + '.');
    }
    const QString socket = kt::app::instanceSocket(*runtime);
    // The system lets go of the lock when the process ends, however it ends.
    kt::shell::FileLock lock;
    if (lock.take(kt::app::instanceLock(*runtime), kt::shell::FileLock::Mode::Exclusive) !=
        kt::shell::FileLock::Outcome::Held) {
        if (kt::app::bringRunningCopyToFront(socket))
            std::fprintf(stderr, "kt560ax-backup: it runs already; its window is in front now.\n");
        else
            std::fprintf(stderr, "kt560ax-backup: another copy runs already.\n");
        return 0;
    }

    const kt::shell::Result<QString> ini =
        kt::shell::locateLanguageIni(QCoreApplication::applicationDirPath());
    if (!ini) {
        const QString text =
            ini.error().message +
            QStringLiteral(". The program keeps its settings there: make that folder writable.");
        std::fprintf(stderr, "kt560ax-backup: %s\n", qPrintable(text));
        return failed(text);
    }
    const QString strIniFile = *ini;
    // Said once, here: each text the window shows has its built-in form.
    if (const QString missing = kt::shell::missingLanguageTexts(
            strIniFile,
            kt::shell::languageSection(kt::shell::readSettings(strIniFile).intLanguage));
        !missing.isEmpty())
        std::fprintf(stderr, "kt560ax-backup: %s.\n", qPrintable(missing));

    kt::ui::frmKT550AX window(strIniFile);
    const kt::app::InstanceServer later(socket, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    window.show();
    return app.exec();
}
