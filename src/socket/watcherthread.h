#pragma once

#include "hostlookup.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace net
{

// The thread a SocketChannel's watcher runs on, with what ending it safely
// takes: a flag the thread sets as its very last step, so that the owner can
// wait for it with a time limit before it joins, and the listening socket an
// accepted one replaced in server role, closed only after the join.
//
// Threads: start(), waitEnded() and join() on the owner's thread; retire()
// on the watcher thread itself, before the owner joins it.
class WatcherThread
{
public:
    WatcherThread() = default;
    // Joins a thread still running (join() has not been called).
    ~WatcherThread();
    WatcherThread(const WatcherThread&) = delete;
    WatcherThread& operator=(const WatcherThread&) = delete;

    // Runs `body` on a new thread. False when the thread cannot be started;
    // the thread's last-error code (lasterror.h) then says why.
    bool start(std::function<void()> body);
    // Waits at most `timeoutMs` for the body to return; false while it runs on.
    bool waitEnded(std::uint32_t timeoutMs);
    // Waits for the thread without limit, then closes the retired socket.
    void join();
    // Hands over a socket the watcher no longer uses, closed by join().
    void retire(SocketHandle socket) { retired_ = socket; }

private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable endedSignal_;
    bool ended_ = false;
    SocketHandle retired_ = kInvalidSocket;
};

} // namespace net
