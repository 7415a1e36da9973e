// Watches the lines of one thread with one epoll set. A simulator serving
// hundreds of lines then wakes for the lines that are ready, instead of
// having its event loop poll every line at each turn. Linux only.
#pragma once

#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

namespace kt::sim {

class LinePoller final {
  public:
    // The poller of the calling thread, made when its first line needs it
    // and gone with its last line.
    static std::shared_ptr<LinePoller> ofThisThread();
    ~LinePoller();

    // Calls readable() while fd has bytes (or has hung up), and writable()
    // while it can take more and writes are wanted. Returns 0 on failure.
    std::uint64_t watch(int fd, std::function<void()> readable, std::function<void()> writable);
    void wantWrites(std::uint64_t id, bool want);
    void forget(std::uint64_t id);

    LinePoller(const LinePoller&) = delete;
    LinePoller& operator=(const LinePoller&) = delete;

  private:
    LinePoller();
    void dispatch();

    struct Watch {
        int fd;
        bool writes;
        std::function<void()> readable;
        std::function<void()> writable;
    };

    int epollFd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unordered_map<std::uint64_t, Watch> watches_;
    std::uint64_t nextId_ = 1;
};

} // namespace kt::sim
