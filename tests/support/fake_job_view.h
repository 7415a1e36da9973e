// A JobView for headless jobs that records everything shown and answers
// every question with `answer`. Language texts are the English ones of the
// shipped Language.ini.
#pragma once

#include "engine/job_view.h"
#include "shell/language.h"

#include <QStringList>
#include <functional>

namespace kt::test {

class FakeJobView : public engine::JobView {
  public:
    // LinkView
    void showEcho(const QByteArray&) override {
        if (onEcho)
            onEcho();
    }
    void showLinkState(link::LinkState) override {}
    void showErrorCount(std::int32_t) override {}
    void setActivity(bool) override {}
    QString languageText(const char* key) const override {
        return shell::languageText(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), "English", key);
    }
    // JobView
    // Keeps each message as "style/buttons/text" and an option's text, and
    // answers at once: `answer`, with the option set to `tickOption`.
    void ask(const QString& text, const Question& kind, Answered answered) override {
        messages.append(
            QString("%1/%2/%3")
                .arg(QString::number(int(kind.style)), QString::number(int(kind.buttons)), text));
        if (!kind.option.isEmpty())
            options.append(kind.option);
        if (whileShown)
            whileShown();
        if (answered)
            answered(answer, kind.option.isEmpty() ? kind.ticked : tickOption);
    }
    void showProgress(double value, double max) override {
        progressValue = value;
        progressMax = max;
    }
    void showJobCaption(const QString& caption) override { captions.append(caption); }
    void showJobRunning(bool running) override { runningShown.append(running); }
    void showJobSummary(const QString& summary) override { summaries.append(summary); }

    // The success message of a finished job with its counts.
    QString savedMessage(int saved, int emptySlots) const {
        return doneMessage("ProcessSaveOk", "SaveSummary", saved, emptySlots);
    }
    QString loadedMessage(int sent, int skipped) const {
        return doneMessage("ProcessLoadOk", "LoadSummary", sent, skipped);
    }
    QString doneMessage(const char* done, const char* summary, int first, int second) const {
        return "4/1/" + languageText(done) + ".\n" +
               shell::fillIn(languageText(summary),
                             {QString::number(first), QString::number(second)}) +
               '.';
    }

    shell::MsgAnswer answer = shell::MsgAnswer::Ok;
    bool tickOption = true;
    QStringList options;
    // Called as each frame goes out and as each reply comes in.
    std::function<void()> onEcho;
    std::function<void()> whileShown; // runs while a message is up, as a user reads it
    double progressValue = 0;
    double progressMax = 0;
    QStringList captions;
    QStringList messages;
    QList<bool> runningShown;
    QStringList summaries;
};

} // namespace kt::test
