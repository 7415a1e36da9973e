// Measures the main window's start-up: from process start to the window
// shown on screen, and the resident memory then. Run under an X server
// (xvfb-run -a build/bench/bench_startup) or with QT_QPA_PLATFORM=offscreen.
#include "ui/frm_kt550ax.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Milliseconds since the process started, from the kernel's record of it.
double sinceProcessStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(' ');
    const double startTicks = fields.value(21).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9 - startTicks / sysconf(_SC_CLK_TCK)) * 1000;
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    QFile::copy(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), ini);

    kt::ui::frmKT550AX window(ini);
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double shownMs = sinceMain.nsecsElapsed() / 1e6;
    const double processMs = sinceProcessStart();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("window shown %.1f ms after main(), about %.0f ms after process start "
                "(10 ms resolution); peak resident memory %.1f MB\n",
                shownMs, processMs, usage.ru_maxrss / 1024.0);
    return 0;
}
