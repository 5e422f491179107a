#pragma once

#include "endpoint.h"
#include "eventloop.h"

#include "base/error.h"

#include <functional>

namespace net
{

// One TCP connect on an EventLoop, never blocking: a non-blocking socket
// (close-on-exec) whose connect the loop watches until it is made, fails, or
// `timeout` passes. The handler is told once: the connected socket (owned by
// the handler from then on) or the failure (TimedOut, or the system's:
// ECONNREFUSED, ENETUNREACH, EMFILE, ...).
//
// Threads: the loop's thread only. Destroying the dialer before the handler
// was told gives the connect up (its socket is closed, nothing is told); the
// handler may destroy the dialer.
class LoopDialer
{
public:
    using Handler = std::function<void(base::Result<int> connected)>;

    LoopDialer(EventLoop& loop, Handler handler);
    ~LoopDialer();
    LoopDialer(const LoopDialer&) = delete;
    LoopDialer& operator=(const LoopDialer&) = delete;

    // Starts connecting to `remote`; `local` (when not empty) is bound first.
    // A failure found at once (no descriptor, an address of no use) is told
    // through the handler at the loop's next turn, like any other. A dialer
    // that is still connecting gives that connect up first.
    void dial(const Endpoint& remote, EventLoop::Millis timeout, const Endpoint& local = {});
    bool dialing() const { return fd_ >= 0 || pendingFailure_ != 0; }

private:
    void onReady(std::uint32_t ready);
    void end(base::Result<int> outcome);
    void giveUp();

    EventLoop& loop_;
    Handler handler_;
    int fd_ = -1;
    EventLoop::TimerId timer_ = 0;
    EventLoop::TimerId pendingFailure_ = 0;
};

} // namespace net
