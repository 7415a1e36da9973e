// Views that show nothing, for programs that drive the link or a job
// without a window: benchmarks, fuzz targets, the crash test.
#pragma once

#include "engine/job_view.h"

#include <cstdio>

namespace kt::test {

// A view that shows nothing but its messages, when asked to, and records
// whether one other than information was shown; as a link view it shows
// nothing at all.
class QuietJobView : public engine::JobView {
  public:
    void showEcho(const QByteArray&) override {}
    void showLinkState(link::LinkState) override {}
    void showErrorCount(std::int32_t) override {}
    void setActivity(bool) override {}
    QString languageText(const char* key) const override { return QString::fromLatin1(key); }
    void ask(const QString& text, const Question& kind, Answered answered) override {
        failed = failed || kind.style != shell::MsgStyle::Information;
        ++messages;
        if (printMessages)
            std::printf("%s\n", qPrintable(text));
        if (answered)
            answered(shell::MsgAnswer::Ok, kind.ticked);
    }
    void showProgress(double, double) override {}
    void showJobCaption(const QString&) override {}
    void showJobRunning(bool) override {}
    void showJobSummary(const QString&) override {}

    bool printMessages = false;
    int messages = 0;
    bool failed = false; // a message other than information was shown
};

} // namespace kt::test
