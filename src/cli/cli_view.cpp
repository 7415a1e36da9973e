#include "cli_view.h"

#include "shell/language.h"

#include <cstdio>
#include <unistd.h>

namespace kt::cli {

namespace {

QString duration(double seconds) {
    const int whole = int(seconds + 0.5);
    return shell::fillIn(
        QStringLiteral("%1:%2"),
        {QString::number(whole / 60), QString::number(whole % 60).rightJustified(2, u'0')});
}

} // namespace

CliView::CliView(QString iniFile, QByteArray languageSection, bool quiet, bool yes, Say say)
    : say_(std::move(say)), iniFile_(std::move(iniFile)), section_(std::move(languageSection)),
      quiet_(quiet), yes_(yes), terminal_(!say_ && isatty(STDERR_FILENO)) {}

void CliView::printLine(const QString& text) const {
    if (say_)
        return say_(text);
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

QString CliView::languageText(const char* key) const {
    return shell::languageText(iniFile_, section_, key);
}

void CliView::ask(const QString& text, const Question& kind, Answered answered) {
    const shell::MsgAnswer answer = say(text, kind.style, kind.buttons);
    if (answered)
        answered(answer, kind.ticked);
}

shell::MsgAnswer CliView::say(const QString& text, shell::MsgStyle style,
                              shell::MsgButtons buttons) {
    clearBar();
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (buttons != shell::MsgButtons::Ok && buttons != shell::MsgButtons::Cancel) {
        // Nobody is asked here, not even on a terminal: the question's last
        // paragraph, which asks, is left out, and --yes is the answer.
        const qsizetype asking = shown.lastIndexOf(QLatin1String("\n\n"));
        printLine(asking > 0 ? shown.left(asking) : shown);
        if (yes_) {
            printLine(QStringLiteral("Going on: --yes was given."));
            return shell::MsgAnswer::Ok;
        }
        declined_ = true;
        printLine(QStringLiteral("This needs --yes to go on; nothing was written."));
        return shell::MsgAnswer::Cancel;
    }
    // A problem is said as every other of this program: "kt560ax: PATH - why".
    if (style != shell::MsgStyle::Information)
        printLine(QStringLiteral("kt560ax: ") + shown);
    else if (!quiet_)
        printLine(shown);
    return shell::MsgAnswer::Ok;
}

void CliView::attach(const engine::TransferJob* job) {
    job_ = job;
    QObject::connect(job, &engine::TransferJob::categoryStarted, job,
                     [this](const engine::Category* category) {
                         category_ = category;
                         processedAtStart_ = job_->processed();
                         startSeconds_ = elapsed_.elapsed() / 1000.0;
                     });
    QObject::connect(job, &engine::TransferJob::categoryFinished, job, [this] {
        if (!quiet_)
            finishCategory();
        category_ = nullptr;
    });
}

void CliView::showProgress(double, double) {
    if (quiet_ || !category_)
        return;
    if (terminal_ && (!lastDraw_.isValid() || lastDraw_.elapsed() >= 100)) {
        drawBar();
        lastDraw_.start();
    }
}

void CliView::finishCategory() {
    if (terminal_) {
        drawBar();
        std::fprintf(stderr, "\n");
        barShown_ = false;
        return;
    }
    const double seconds = elapsed_.elapsed() / 1000.0 - startSeconds_;
    printLine(shell::fillIn(QStringLiteral("%1: %2 records, %3 s"),
                            {languageText(category_->languageKey),
                             QString::number(job_->processed() - processedAtStart_),
                             QString::number(seconds, 'f', 1)}));
}

void CliView::drawBar() {
    const int done = job_->processed();
    const int total = std::max(job_->counts().total, 1);
    const double seconds = std::max(elapsed_.elapsed() / 1000.0, 0.001);
    const double rate = done / seconds;
    const QString left = rate > 0 ? duration((total - done) / rate) : QStringLiteral("?");
    constexpr int kWidth = 24;
    const int filled = done * kWidth / total;
    std::fprintf(stderr, "\r\033[K%s  %d/%d records  %.0f/s  %s left  [%s%s]",
                 qPrintable(languageText(category_->languageKey)), done, total, rate,
                 qPrintable(left), QByteArray(filled, '#').constData(),
                 QByteArray(kWidth - filled, '-').constData());
    std::fflush(stderr);
    barShown_ = true;
}

void CliView::clearBar() {
    if (barShown_) {
        std::fprintf(stderr, "\r\033[K");
        barShown_ = false;
    }
}

void CliView::showJobRunning(bool running) {
    if (running)
        elapsed_.start();
    category_ = nullptr;
}

void CliView::showJobSummary(const QString& summary) {
    clearBar();
    printLine(summary);
    category_ = nullptr; // the stopped category has no line of its own
}

} // namespace kt::cli
