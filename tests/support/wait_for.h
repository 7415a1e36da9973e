// Waits for a condition while the event loop runs freely: unlike
// QTest::qWaitFor, which sleeps 10 ms between batches of events, it never
// holds back a job whose every step is an event.
#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace kt::test {

inline bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    if (condition())
        return true;
    check.start(1);
    loop.exec();
    return condition();
}

} // namespace kt::test
