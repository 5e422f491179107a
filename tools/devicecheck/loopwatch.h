#pragma once

#include "check/enginefeed.h"
#include "socket/eventloop.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace devicetools
{

// What a device session has the event loop do for it: watch its one socket
// for what it wants now, and keep one timer at its next deadline. Each call
// brings the loop up to date and asks it nothing when nothing changed (a
// timer is set again only when its time moves).
//
// Results: a loop that cannot watch (only when short of memory) leaves the
// socket unwatched, so that the owner's time bound ends what waits on it.
// The hooks are called from the loop: onReady with the ready bits, onTimer
// when the timer is due (it is spent then).
//
// Threads: the loop's only. Cancels its timer when destroyed; the owner
// unwatches its socket before closing it (unwatch()).
class LoopWatch
{
public:
    LoopWatch(net::EventLoop& loop, std::function<void(std::uint32_t)> onReady,
              std::function<void()> onTimer);
    ~LoopWatch();
    LoopWatch(const LoopWatch&) = delete;
    LoopWatch& operator=(const LoopWatch&) = delete;

    // Watches `fd` for `wanted` (net::EventLoop::WantRead, WantWrite).
    void watch(int fd, std::uint32_t wanted);
    // Forgets `fd`; nothing when it is not watched.
    void unwatch(int fd);
    // The timer at `due`; nothing: none.
    void wakeAt(std::optional<check::Instant> due);

private:
    net::EventLoop& loop_;
    std::function<void(std::uint32_t)> onReady_;
    std::function<void()> onTimer_;
    std::uint32_t interest_ = 0; // what the loop watches; 0: not watched
    net::EventLoop::TimerId timer_ = 0;
    check::Instant timerAt_;
};

} // namespace devicetools
