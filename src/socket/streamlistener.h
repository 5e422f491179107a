#pragma once

#include "endpoint.h"
#include "eventloop.h"

#include "base/error.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace net
{

// A listening TCP socket on an EventLoop: accepts connections as they come,
// a batch a turn so that a storm of connects cannot hold up the loop's other
// work, and hands each accepted socket (non-blocking, close-on-exec) to its
// owner. When accepting fails for want of descriptors or memory, it rests
// kRetryMs and tries again; the failure is told once until an accept works
// again.
//
// Threads: the loop's thread only. The handlers run on it; a handler may
// destroy the listener (nothing of it is used once a handler returns).
class StreamListener
{
public:
    // The accepted socket, owned by the handler from now on, and its peer.
    using AcceptHandler = std::function<void(int fd, const Endpoint& peer)>;
    using FailureHandler = std::function<void(const base::Error& error)>;

    static constexpr int kAcceptsPerTurn = 64;
    static constexpr std::uint32_t kRetryMs = 100;
    static constexpr int kBacklog = 4096; // the system caps it at somaxconn

    // Opens a TCP socket bound to `local` (SO_REUSEADDR; for IPv6 also taking
    // IPv4 unless the system says otherwise) and listening. The socket, or
    // the failure with nothing left open (EADDRINUSE, EACCES, ...).
    [[nodiscard]] static base::Result<int> open(const Endpoint& local, int backlog = kBacklog);

    // Takes the listening socket `fd` (closed when the listener is destroyed).
    StreamListener(EventLoop& loop, int fd, AcceptHandler onAccept, FailureHandler onFailure = {});
    ~StreamListener();
    StreamListener(const StreamListener&) = delete;
    StreamListener& operator=(const StreamListener&) = delete;

    // Starts accepting. The failure when the loop refuses the descriptor.
    [[nodiscard]] base::Error start();
    // Stops accepting (connections wait in the backlog) or takes it up again;
    // a pause from a handler ends the batch.
    void setAccepting(bool on);
    // The address it listens on (the port the system chose for port 0).
    Endpoint local() const { return Endpoint::localOf(fd_); }
    int fd() const { return fd_; }

private:
    void acceptSome();
    void rest(const base::Error& error);

    EventLoop& loop_;
    int fd_;
    AcceptHandler onAccept_;
    FailureHandler onFailure_;
    EventLoop::TimerId retry_ = 0;
    bool failureTold_ = false;
    bool paused_ = false;
    // Gone with the listener: a handler that destroyed it ends the batch.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace net
