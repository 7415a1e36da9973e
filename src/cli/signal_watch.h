// SIGINT and SIGTERM as a Qt signal, delivered in the event loop, so that
// a job can be cancelled as the window's Cancel button does it.
#pragma once

#include <QObject>
#include <QSocketNotifier>
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

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
    bool interrupted_ = false;
};

} // namespace kt::cli
