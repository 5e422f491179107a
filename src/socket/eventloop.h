#pragma once

#include "timerqueue.h"

#include "base/error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace net
{

// One event loop (epoll) for many sockets: descriptors with a handler each,
// timers, and tasks posted from other threads. The building block of every
// program that serves or checks many devices at once: each holds one loop on
// one thread, whatever the number of connections.
//
// Costs: a wake-up touches only the descriptors that are ready and the timers
// that are due (a heap), never every descriptor; the handlers are kept in a
// table indexed by descriptor.
//
// Threads. The thread that calls run() or runOnce() is the loop's thread.
// watch(), setInterest(), unwatch(), at(), after() and cancel() are called on
// the loop's thread (or on any one thread before the loop first runs). post()
// and quit() may be called from any thread, at any time, also while the loop
// waits: they wake it.
//
// Handlers. A handler may call every loop operation, also unwatch() of its
// own descriptor or of any other, and may destroy the object that owns it:
// the loop keeps a handler it removed alive until the turn ends, and drops
// every event still queued for a descriptor unwatched in the same turn. The
// loop never closes a descriptor: its owner unwatches, then closes it.
//
// Results: nothing throws. A failure of the system is returned as a
// base::Error (the errno kept); a loop that could not be made says so in
// error() and fails every run.
class EventLoop
{
public:
    using Clock = std::chrono::steady_clock;
    using Instant = Clock::time_point;
    using Millis = std::chrono::milliseconds;

    // What a handler is told (a mask of these).
    enum Ready : std::uint32_t {
        Readable = 1u << 0,
        Writable = 1u << 1,
        // The peer hung up: half (it sends no more; told only while reads
        // are wanted) or whole. Reads give what is left, then the end.
        HangUp = 1u << 2,
        Failed = 1u << 3, // an error is pending on the socket (SO_ERROR says which)
    };
    // What the loop waits for on a descriptor (a mask of these; 0: nothing,
    // though HangUp and Failed are still told).
    enum Interest : std::uint32_t {
        WantRead = 1u << 0,
        WantWrite = 1u << 1,
    };
    using Handler = std::function<void(std::uint32_t ready)>;
    using Task = std::function<void()>;
    using TimerId = TimerQueue::Id;

    // Events taken from the system in one wait, at most.
    static constexpr int kEventBatch = 256;
    // Room that one turn's reads may share (scratch()).
    static constexpr std::size_t kScratchBytes = 64 * 1024;

    EventLoop();
    // Closes the loop's own descriptors; never those it watches.
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Why the loop could not be made, or none.
    const base::Error& error() const { return error_; }

    // Watches `fd` for `interest` and calls `handler` with what is ready. A
    // descriptor is watched once: watching it again fails (EEXIST).
    [[nodiscard]] base::Error watch(int fd, std::uint32_t interest, Handler handler);
    // Changes what the loop waits for on a watched descriptor; does nothing
    // when the interest is unchanged.
    [[nodiscard]] base::Error setInterest(int fd, std::uint32_t interest);
    // Forgets `fd` (nothing when it is not watched). Call before closing it.
    void unwatch(int fd);
    bool watching(int fd) const;
    std::size_t watchedCount() const { return watched_; }

    // Runs `task` once on the loop's thread at `when` (or at the next turn when
    // that has passed). Ids are never 0 and never reused.
    TimerId at(Instant when, Task task);
    TimerId after(Millis delay, Task task);
    // Cancels a timer that has not fired; nothing for 0, a fired or unknown id.
    void cancel(TimerId id);

    // Any thread: runs `task` on the loop's thread, in the order posted, at
    // the loop's next turn, waking it. Tasks posted after the loop has ended
    // are run by the next run() or runOnce(), or dropped with the loop.
    void post(Task task);
    // Any thread: run() returns after the turn under way.
    void quit();

    // Runs turns until quit(). The failure when the loop could not be made or
    // its wait failed; an interrupting signal is not a failure.
    [[nodiscard]] base::Error run();
    // One turn: waits at most `maxWait` (and no longer than the next timer)
    // for anything to do, then does it. For programs and tests that drive the
    // loop from a loop of their own.
    [[nodiscard]] base::Error runOnce(Millis maxWait);

    // The time at the start of the current turn (before the first: when the
    // loop was made). Handlers use it instead of asking the clock again.
    Instant now() const { return now_; }
    // A read buffer of kScratchBytes for handlers on the loop's thread; what a
    // handler reads into it is valid until the handler returns.
    char* scratch() { return scratch_.data(); }

private:
    struct Entry {
        std::unique_ptr<Handler> handler;
        std::uint32_t generation = 0;
        std::uint32_t interest = 0;
        bool active = false;
    };

    void runPosted();
    void runTimers();
    int waitMs(Millis maxWait);
    static std::uint32_t systemEvents(std::uint32_t interest);

    base::Error error_;
    int epoll_ = -1;
    int wake_ = -1;              // an eventfd: posted tasks and quit()
    std::vector<Entry> entries_; // by descriptor
    std::size_t watched_ = 0;
    std::uint32_t nextGeneration_ = 1;
    // Handlers removed in this turn, destroyed when it ends.
    std::vector<std::unique_ptr<Handler>> removed_;
    TimerQueue timers_;
    Instant now_;
    std::vector<char> scratch_;
    bool quit_ = false;

    std::mutex postedLock_;
    std::vector<Task> posted_;
    bool wakePending_ = false;   // guarded by postedLock_
    bool quitRequested_ = false; // guarded by postedLock_
};

} // namespace net
