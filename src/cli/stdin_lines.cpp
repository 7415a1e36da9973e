#include "stdin_lines.h"

#include <cstdio>
#include <mutex>
#include <thread>

namespace kt::cli {

// What the reading thread and the event loop's side share: the thread hands
// over nothing once the receiver is gone.
struct StdinLines::Shared {
    std::mutex mutex;
    StdinLines* receiver = nullptr;

    template <typename Call> void hand(Call call) {
        const std::lock_guard lock(mutex);
        if (receiver)
            QMetaObject::invokeMethod(
                receiver, [receiver = receiver, call] { call(receiver); }, Qt::QueuedConnection);
    }
};

StdinLines::StdinLines() : shared_(std::make_shared<Shared>()) {
    shared_->receiver = this;
    std::thread([shared = shared_] {
        char chunk[4096];
        QByteArray text;
        bool dropping = false; // the rest of a line too long
        while (std::fgets(chunk, sizeof chunk, stdin)) {
            const QByteArray part(chunk);
            const bool whole = part.endsWith('\n');
            if (!dropping)
                text += whole ? part.chopped(1) : part;
            if (text.size() > kMaxLine) {
                text.clear();
                dropping = true;
            }
            if (!whole)
                continue;
            if (dropping)
                shared->hand([](StdinLines* receiver) { emit receiver->tooLong(); });
            else
                shared->hand([text](StdinLines* receiver) { emit receiver->line(text); });
            text.clear();
            dropping = false;
        }
        // A last line without its line break is not whole: it is dropped.
        shared->hand([](StdinLines* receiver) { emit receiver->ended(); });
    }).detach();
}

StdinLines::~StdinLines() {
    const std::lock_guard lock(shared_->mutex);
    shared_->receiver = nullptr;
}

} // namespace kt::cli
