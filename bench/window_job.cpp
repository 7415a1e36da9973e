// Times a whole Save job through the main window over a pseudo-terminal:
// all nine categories with 1000 cards (1459 records), TX and RX delay
// 10 ms, against the virtual controller. Compares the time with the ideal:
// answering at once, 20 ms a record (the two delays); paced at 19200 baud
// (--paced), the TX delay plus the longer of the RX delay and the time the
// request and reply take on the line.
#include "engine/categories.h"
#include "link/frame.h"
#include "sim/pty_controller.h"
#include "support/window_port.h"
#include "ui/frm_kt550ax.h"
#include "ui/frm_msg_box.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool paced = argc > 1 && std::strcmp(argv[1], "--paced") == 0;
    constexpr int kCards = 1000;
    constexpr double kBaud = 19200, kTx = 10, kRx = 10;

    kt::sim::PtyController sim(kCards);
    std::vector<double> arrivals;
    QElapsedTimer since;
    since.start();
    QObject::connect(sim.line.get(), &kt::sim::LineEndpoint::received,
                     [&] { arrivals.push_back(since.nsecsElapsed() / 1e6); });
    if (paced)
        sim.line->setPacing(int(kBaud));
    QTemporaryDir dir(QDir::currentPath() + "/bench-window-XXXXXX");
    const QString ini = dir.filePath("Language.ini");
    QFile::copy(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), ini);
    QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
    sim.mapPort(ini);

    kt::ui::frmKT550AX window(ini);
    window.show();
    window.setLinkTimes(kTx, kRx, 500);
    if (!kt::test::openWindowPort(window))
        return 1;
    for (QCheckBox* box : window.findChildren<QCheckBox*>())
        box->setChecked(true);
    window.findChild<QScrollBar*>("vslCardNumber")->setValue(kCards);
    window.findChild<QLineEdit*>("txtSave")->setText(dir.filePath("01.KT"));

    // The job's time ends with the job; its success message, which opens
    // then, is closed.
    QElapsedTimer timer;
    double jobMs = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<kt::ui::frmMsgBox*>(QApplication::activeModalWidget()))
            box->findChild<QPushButton*>("cmdOk")->click();
    });
    closer.start(1);
    timer.start();
    QEventLoop ended;
    QObject::connect(&window.job(), &kt::engine::TransferJob::finished, &ended, [&] {
        jobMs = timer.nsecsElapsed() / 1e6;
        ended.quit();
    });
    window.findChild<QPushButton*>("cmdSave")->click();
    if (window.job().isActive())
        ended.exec();

    // The ideal from the frames that actually crossed the line.
    const QList<QByteArray>& requests = sim.controller.requests();
    double idealMs = 0;
    for (const QByteArray& request : requests) {
        const qsizetype requestBytes = kt::link::buildRequestFrame(request).size();
        const QByteArray key = request.mid(2);
        const QByteArray stored =
            key.startsWith("HB") ? sim.store.value("HA" + key.mid(2)) : sim.store.value(key);
        const qsizetype replyBytes = 11 + stored.size();
        const double lineMs = paced ? (requestBytes + replyBytes) * 11000.0 / kBaud : 0;
        idealMs += kTx + std::max(kRx, lineMs);
    }
    std::printf("%s: %lld records, %d failed tries\n",
                paced ? "paced at 19200 baud" : "answering at once", qlonglong(requests.size()),
                int(window.job().link().errorCount()));
    std::printf("measured %.2f s, ideal %.2f s (%s), %+.2f %%\n", jobMs / 1000, idealMs / 1000,
                paced ? "TX delay + max(RX delay, line time) a record" : "20 ms a record",
                (jobMs / idealMs - 1) * 100);
    std::vector<double> gaps;
    for (size_t i = 1; i < arrivals.size(); ++i)
        gaps.push_back(arrivals[i] - arrivals[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    std::printf("gaps: min %.2f p10 %.2f median %.2f p90 %.2f p99 %.2f max %.2f\n", gaps[0],
                gaps[gaps.size() / 10], gaps[gaps.size() / 2], gaps[gaps.size() * 9 / 10],
                gaps[gaps.size() * 99 / 100], gaps.back());
    window.close();
    return 0;
}
