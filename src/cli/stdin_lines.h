// The lines of standard input, read by a thread of their own (a pipe cannot
// be watched by the event loop on every system) and handed to the event
// loop one by one. A line longer than kMaxLine is dropped whole.
#pragma once

#include <QByteArray>
#include <QObject>
#include <memory>

namespace kt::cli {

class StdinLines : public QObject {
    Q_OBJECT
  public:
    static constexpr qsizetype kMaxLine = 64 * 1024;

    StdinLines();
    // What the thread reads after this is dropped; a thread still waiting
    // for input ends with the program.
    ~StdinLines() override;

  signals:
    // A line, without its line break.
    void line(const QByteArray& text);
    // A line was longer than kMaxLine and was dropped.
    void tooLong();
    // The input has ended.
    void ended();

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace kt::cli
