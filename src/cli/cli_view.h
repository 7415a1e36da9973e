// What a job shows on a terminal or in a scheduler's log: messages and the
// end summary on standard error, questions answered by --yes, and progress
// as a bar on a terminal or one line per category otherwise.
#pragma once

#include "engine/job_view.h"
#include "engine/transfer_job.h"

#include <QElapsedTimer>
#include <functional>

namespace kt::cli {

class CliView : public engine::JobView {
  public:
    // Where a line of its messages goes: standard error when none is given.
    using Say = std::function<void(const QString& line)>;
    // Texts from `iniFile`'s `languageSection`. With `say`, progress comes
    // as lines there, never as a bar.
    CliView(QString iniFile, QByteArray languageSection, bool quiet, bool yes, Say say = {});

    // The job whose progress to show, category by category.
    void attach(const engine::TransferJob* job);
    // Every question was answered with Cancel because --yes was not given.
    bool declined() const { return declined_; }

    void showEcho(const QByteArray&) override {}
    void showLinkState(link::LinkState) override {}
    void showErrorCount(std::int32_t) override {}
    void setActivity(bool) override {}
    QString languageText(const char* key) const override;
    // Prints the message and answers at once.
    void ask(const QString& text, const Question& kind, Answered answered) override;
    void showProgress(double value, double max) override;
    void showJobCaption(const QString&) override {}
    void showJobRunning(bool running) override;
    void showJobSummary(const QString& summary) override;
    const char* noAnswerHintKey() const override { return "CheckAddressScan"; }

  private:
    // Prints a message, or a question without its asking paragraph; the
    // answer: --yes for a question.
    shell::MsgAnswer say(const QString& text, shell::MsgStyle style, shell::MsgButtons buttons);
    // Ends the progress of the category under way: its line, or its bar.
    void finishCategory();
    void drawBar();
    void clearBar();
    void printLine(const QString& text) const;

    Say say_;
    QString iniFile_;
    QByteArray section_;
    bool quiet_;
    bool yes_;
    bool terminal_;
    bool declined_ = false;
    const engine::TransferJob* job_ = nullptr;
    QElapsedTimer elapsed_;
    QElapsedTimer lastDraw_;
    bool barShown_ = false;
    const engine::Category* category_ = nullptr; // the one under way
    int processedAtStart_ = 0;
    double startSeconds_ = 0;
};

} // namespace kt::cli
