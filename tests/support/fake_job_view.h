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
    shell::MsgAnswer showMessage(shell::MsgStyle style, shell::MsgButtons buttons,
                                 const QString& text) override {
        messages.append(QString("%1/%2/%3")
                            .arg(QString::number(int(style)), QString::number(int(buttons)), text));
        if (whileShown)
            whileShown();
        return answer;
    }

    // JobView
    // A question with an option: its text is kept and the option set to
    // `tickOption`.
    shell::MsgAnswer askWithOption(shell::MsgStyle style, shell::MsgButtons buttons,
                                   const QString& text, const QString& option,
                                   bool& ticked) override {
        options.append(option);
        ticked = tickOption;
        return showMessage(style, buttons, text);
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
