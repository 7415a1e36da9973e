// A JobView for headless jobs: the operator's choices are set by the test,
// and everything shown is recorded. Language texts are the English ones of
// the shipped Language.ini.
#pragma once

#include "engine/job_view.h"
#include "shell/language.h"
#include "support/recording_view.h"

#include <QMap>

namespace kt::test {

class FakeJobView : public engine::JobView {
  public:
    // LinkView
    void showEcho(const QByteArray&) override {}
    void showLinkState(link::LinkState state) override { linkStates.append(state); }
    void showErrorCount(std::int32_t count) override { errorCounts.append(count); }
    void setActivity(bool) override {}
    QString languageText(const char* key) const override {
        return shell::languageText(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), "English", key);
    }
    int showMessage(int styleCode, int buttonCode, const QString& text) override {
        messages.append(QString("%1/%2/%3").arg(styleCode).arg(buttonCode).arg(text));
        return answer;
    }

    // JobView
    int checkValue(const char* checkBox) const override { return checks.value(checkBox, 0); }
    int controllerId() const override { return id; }
    int cardCount() const override { return cards; }
    QString saveFileText() const override { return saveFile; }
    QString loadFileText() const override { return loadFile; }
    void showProgress(double value, double max) override {
        progressValue = value;
        progressMax = max;
        ++progressUpdates;
    }
    void showJobCaption(const QString& caption) override { captions.append(caption); }
    void showJobRunning(bool running) override { runningShown.append(running); }
    void showJobSummary(const QString& summary) override { summaries.append(summary); }

    // The success message of a finished job with its counts.
    QString savedMessage(int saved, int emptySlots) const {
        return "4/1/" + languageText("ProcessSaveOk") + ".\n" +
               shell::fillIn(languageText("SaveSummary"),
                             {QString::number(saved), QString::number(emptySlots)}) +
               '.';
    }
    QString loadedMessage(int sent, int skipped) const {
        return "4/1/" + languageText("ProcessLoadOk") + ".\n" +
               shell::fillIn(languageText("LoadSummary"),
                             {QString::number(sent), QString::number(skipped)}) +
               '.';
    }

    void tickOnly(const char* checkBox) {
        checks.clear();
        checks[checkBox] = 1;
    }

    QMap<QString, int> checks;
    int id = 1;
    int cards = 100;
    QString saveFile;
    QString loadFile;

    double progressValue = 0;
    double progressMax = 0;
    int progressUpdates = 0;
    QStringList captions;
    QStringList messages;
    QList<link::LinkState> linkStates;
    QList<std::int32_t> errorCounts;
    QList<bool> runningShown;
    QStringList summaries;
    int answer = 1; // the button pressed in every message box
};

} // namespace kt::test
