// Views that show nothing, for programs that drive the link or a job
// without a window: benchmarks, fuzz targets, the crash test.
#pragma once

#include "engine/job_view.h"

#include <cstdio>

namespace kt::sim {

class QuietLinkView : public link::LinkView {
  public:
    void showEcho(const QByteArray&) override {}
    void showLinkState(link::LinkState) override {}
    void showErrorCount(std::int32_t) override {}
    void setActivity(bool) override {}
    QString languageText(const char* key) const override { return QString::fromLatin1(key); }
    int showMessage(int styleCode, int, const QString& text) override {
        failed = failed || styleCode != 4;
        ++messages;
        if (printMessages)
            std::printf("%s\n", qPrintable(text));
        return 1;
    }

    bool printMessages = false;
    int messages = 0;
    bool failed = false; // a message other than information was shown
};

// Every category ticked, controller 1, a given card count and backup file.
class QuietJobView : public engine::JobView {
  public:
    QuietJobView(QString backupFile, int cards) : backup_(std::move(backupFile)), cards_(cards) {}

    void showEcho(const QByteArray& frame) override { link_.showEcho(frame); }
    void showLinkState(link::LinkState state) override { link_.showLinkState(state); }
    void showErrorCount(std::int32_t count) override { link_.showErrorCount(count); }
    void setActivity(bool running) override { link_.setActivity(running); }
    QString languageText(const char* key) const override { return link_.languageText(key); }
    int showMessage(int styleCode, int buttonCode, const QString& text) override {
        return link_.showMessage(styleCode, buttonCode, text);
    }
    int checkValue(const char*) const override { return 1; }
    int controllerId() const override { return 1; }
    int cardCount() const override { return cards_; }
    QString saveFileText() const override { return backup_; }
    QString loadFileText() const override { return backup_; }
    void showProgress(double, double) override {}
    void showJobCaption(const QString&) override {}
    void showJobRunning(bool) override {}
    void showJobSummary(const QString&) override {}

    QuietLinkView& messages() { return link_; }

  private:
    QString backup_;
    int cards_;
    QuietLinkView link_;
};

} // namespace kt::sim
