#pragma once

#include "ioresult.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace net
{

// A bounded first-in-first-out queue of outgoing messages, and the thread
// that writes them when the connection cannot take them at once, so that the
// thread that sends never waits on the socket.
//
// Every message leaves whole and in order. send() writes a message at once
// when nothing waits ahead of it and the write function takes all of it (one
// write call). Otherwise the message, or what did not go out of it, waits
// behind the others, and the writer thread (started at the first message that
// waits) offers the head again every kRetryInterval until it has all gone.
//
// Bounds. A message that would make more than `maxWaitingBytes` wait is
// dropped at once (base::Fault::SendQueueFull). A message not yet started
// when it reaches the head `messageLimit` after send() is dropped (TimedOut).
// Once part of a message is out, the rest goes before any other message and
// no time limit drops it: on a stream a dropped remainder would leave half a
// message followed by the next one. Only close() ends such a message; the
// connection then carries the cut message last, followed by nothing. (The
// channel's write function offers a stream message only while the socket's
// buffer has room for all of it, so in practice nothing is cut.) Such a
// message may exceed the byte bound by its own size.
//
// Reports. `report` hears of every message exactly once, in message order:
// the whole length once it has gone out; for a dropped message its reason
// (SendQueueFull, TimedOut, or the end the write function gave: PeerClosed or
// a failure), or the count that went out of a message cut by close(). The
// write function's NoRoomNow keeps a message waiting. Counts tell the same in
// sum.
//
// Threads. send(), close() and the destructor are called from one owner
// thread, one at a time; counts() from any thread. The write and report
// functions run on the owner's thread (inside send() and close()) or on the
// writer thread, one call at a time, under the queue's lock: they never wait
// (the write function takes what the connection takes now) and never call
// back into the queue. close() returns within a write call and a report per
// message after waking the writer.
class SendQueue
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kMaxWaitingBytes = 1u << 20;
    static constexpr std::chrono::milliseconds kMessageLimit{5000};
    static constexpr std::chrono::milliseconds kRetryInterval{5};

    struct Limits {
        std::size_t maxWaitingBytes = kMaxWaitingBytes;
        std::chrono::milliseconds messageLimit = kMessageLimit;
    };

    // Offers bytes to the connection without waiting: the count taken (any
    // part of them), NoRoomNow when there is no room now, PeerClosed or a
    // failure when the connection cannot take them at all.
    using WriteNow = std::function<IoResult(const std::uint8_t* bytes, std::uint32_t length)>;
    // A message and how it ended (see Reports).
    using Report = std::function<void(const std::uint8_t* message, std::uint32_t length,
                                      const IoResult& result)>;

    enum class Outcome {
        Sent,    // written whole at once
        Queued,  // waits (its report comes later)
        Dropped, // reported as not sent
    };

    struct Counts {
        std::uint64_t sent = 0;            // messages that went out whole
        std::uint64_t dropped = 0;         // messages that did not, or only in part
        std::uint64_t waitingMessages = 0; // messages that wait now
        std::uint64_t waitingBytes = 0;    // their bytes still to go out
    };

    SendQueue(WriteNow write, Report report);
    SendQueue(WriteNow write, Report report, Limits limits);
    // close()
    ~SendQueue();
    SendQueue(const SendQueue&) = delete;
    SendQueue& operator=(const SendQueue&) = delete;

    // Sends one message (length > 0) behind every message still waiting.
    [[nodiscard]] Outcome send(const std::uint8_t* message, std::uint32_t length);

    // Ends the writer thread and drops every message that waits (reported
    // PeerClosed, or the count out of a cut one). The queue stays
    // usable: a later send() starts again.
    void close();

    // Whether the writer thread runs (owner's thread).
    bool writerRunning() const { return writer_.joinable(); }

    // Totals since construction, and what waits now.
    Counts counts() const;

private:
    struct Message {
        std::vector<std::uint8_t> bytes;
        std::uint32_t written = 0;
        Clock::time_point deadline;
    };

    void run();
    // Under the lock: takes the head out, reports and counts it.
    void finishHead(const IoResult& result);

    const WriteNow write_;
    const Report report_;
    const Limits limits_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Message> waiting_;
    std::uint64_t waitingBytes_ = 0;
    std::uint64_t sent_ = 0;
    std::uint64_t dropped_ = 0;
    bool closing_ = false;
    std::thread writer_;
};

} // namespace net
