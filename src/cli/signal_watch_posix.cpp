#include "signal_watch.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kt::cli {

namespace {

int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

void onSignal(int) {
    signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
}

} // namespace

SignalWatch::SignalWatch() {
    signalled = 0;
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto notifier = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        notice();
    });
    notifier_ = std::move(notifier);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void SignalWatch::notice() {
    interrupted_ = true;
    emit arrived();
}

bool SignalWatch::interrupted() const {
    return interrupted_ || signalled != 0;
}

SignalWatch::~SignalWatch() {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

void ignoreClosedOutput() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace kt::cli
