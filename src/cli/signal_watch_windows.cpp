#include "signal_watch.h"

#include <atomic>
#include <mutex>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kt::cli {

namespace {

std::atomic<bool> signalled = false;
// The watch to tell, under a lock that its destructor takes too, so that
// it is not freed while the handler tells it; and an event set once it is
// gone (the job has ended), for the closing of the console, which ends the
// process when its handler returns.
std::mutex watchingLock;
SignalWatch* watching = nullptr;
HANDLE watchEnded = nullptr;

// Runs on a thread of the system's: the flag, and an event for the loop.
BOOL WINAPI onConsoleEvent(DWORD event) {
    signalled = true;
    {
        const std::lock_guard lock(watchingLock);
        if (watching)
            QMetaObject::invokeMethod(watching, "notice", Qt::QueuedConnection);
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The system gives a closing console a few seconds: the job ends
        // its request and writes what it has meanwhile.
        if (watchEnded)
            WaitForSingleObject(watchEnded, 4500);
    }
    return TRUE;
}

} // namespace

SignalWatch::SignalWatch() {
    signalled = false;
    {
        const std::lock_guard lock(watchingLock);
        watching = this;
    }
    if (!watchEnded)
        watchEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(watchEnded);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void SignalWatch::notice() {
    interrupted_ = true;
    emit arrived();
}

bool SignalWatch::interrupted() const {
    return interrupted_ || signalled;
}

SignalWatch::~SignalWatch() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    {
        const std::lock_guard lock(watchingLock);
        watching = nullptr;
    }
    SetEvent(watchEnded);
}

// A closed pipe is a failed write on Windows, not a signal.
void ignoreClosedOutput() {}

} // namespace kt::cli
