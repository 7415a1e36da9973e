#include "line_poller.h"

#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace kt::sim {

std::shared_ptr<LinePoller> LinePoller::ofThisThread() {
    thread_local std::weak_ptr<LinePoller> current;
    std::shared_ptr<LinePoller> poller = current.lock();
    if (!poller) {
        poller.reset(new LinePoller);
        current = poller;
    }
    return poller;
}

LinePoller::LinePoller() : epollFd_(epoll_create1(EPOLL_CLOEXEC)) {
    if (epollFd_ < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(epollFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { dispatch(); });
}

LinePoller::~LinePoller() {
    notifier_.reset();
    if (epollFd_ >= 0)
        ::close(epollFd_);
}

std::uint64_t LinePoller::watch(int fd, std::function<void()> readable,
                                std::function<void()> writable) {
    if (epollFd_ < 0)
        return 0;
    const std::uint64_t id = nextId_++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0)
        return 0;
    watches_.emplace(id, Watch{fd, false, std::move(readable), std::move(writable)});
    return id;
}

void LinePoller::wantWrites(std::uint64_t id, bool want) {
    const auto found = watches_.find(id);
    if (found == watches_.end() || found->second.writes == want)
        return;
    found->second.writes = want;
    epoll_event event{};
    event.events = want ? EPOLLIN | EPOLLOUT : EPOLLIN;
    event.data.u64 = id;
    epoll_ctl(epollFd_, EPOLL_CTL_MOD, found->second.fd, &event);
}

void LinePoller::forget(std::uint64_t id) {
    const auto found = watches_.find(id);
    if (found == watches_.end())
        return;
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, found->second.fd, nullptr);
    watches_.erase(found);
}

void LinePoller::dispatch() {
    epoll_event events[64];
    int n;
    do
        n = epoll_wait(epollFd_, events, 64, 0);
    while (n < 0 && errno == EINTR);
    for (int i = 0; i < n; ++i) {
        // A handler may forget its own line or another: look each one up.
        const std::uint64_t id = events[i].data.u64;
        // Each call runs from a copy, which outlives the watch it came from.
        auto found = watches_.find(id);
        if (found != watches_.end() && (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
            const std::function<void()> readable = found->second.readable;
            readable();
        }
        found = watches_.find(id);
        if (found != watches_.end() && found->second.writes && (events[i].events & EPOLLOUT)) {
            const std::function<void()> writable = found->second.writable;
            writable();
        }
    }
}

} // namespace kt::sim
