// SIGINT and SIGTERM (on Windows: Ctrl+C, Ctrl+Break and the closing of the
// console) as a Qt signal, delivered in the event loop, so that a job can
// be cancelled as the window's Cancel button does it.
#pragma once

#include <QObject>
#include <memory>

namespace kt::cli {

class SignalWatch : public QObject {
    Q_OBJECT
  public:
    SignalWatch();
    ~SignalWatch() override;

    // A signal has arrived since the start, also while no event loop ran
    // (a blocking wait for a server), before arrived() could be emitted.
    bool interrupted() const;

  signals:
    void arrived();

  private slots:
    // A signal came: interrupted, and arrived() said.
    void notice();

  private:
    std::unique_ptr<QObject> notifier_;
    bool interrupted_ = false;
};

// A reader of the output that went away (a closed pipe) must not end a
// job half way: what cannot be shown is dropped.
void ignoreClosedOutput();

} // namespace kt::cli
