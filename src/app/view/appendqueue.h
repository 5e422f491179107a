#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

namespace app
{

// A bounded queue of texts between the threads that append to a view and the
// view's own thread, which takes everything queued at once. Texts keep the
// order in which push() queued them, each whole.
//
// Bounds: at most byteCapacity bytes and textCapacity texts wait at a time. Both
// buffers are allocated once (the constructor and the first take()), so a
// push() never allocates: it copies the text under a lock.
//
// Threads: push() from any number of threads; take(), setRefusing() and clear()
// from any thread (the view's thread in practice). A push() that waits for room
// returns as soon as there is room, refusing starts, or its time-out passes.
class AppendQueue
{
public:
    enum class PushResult {
        Queued,      // queued behind texts the taker has already been told of
        QueuedFirst, // queued into an empty queue: the taker must be told to take
        TimedOut,    // no room within the time-out; not queued, never will be
        Refused,     // refusing (now or while waiting); not queued
        TooLarge,    // longer than byteCapacity: could never fit; not queued
    };

    // What take() hands over: the texts back to back in `bytes`, their lengths
    // in order in `lengths`.
    struct Batch {
        std::vector<char> bytes;
        std::vector<std::uint32_t> lengths;
        bool empty() const { return lengths.empty(); }
        std::string_view text() const { return {bytes.data(), bytes.size()}; }
    };

    AppendQueue(std::size_t byteCapacity, std::size_t textCapacity);
    AppendQueue(const AppendQueue&) = delete;
    AppendQueue& operator=(const AppendQueue&) = delete;

    // Queues `text`, waiting at most `timeout` while the queue is full. An empty
    // text is queued like any other (it takes one text place).
    PushResult push(std::string_view text, std::chrono::milliseconds timeout);

    // Moves everything queued into `batch` (whatever it held is dropped; keep
    // one Batch and pass it every time, so its buffers go round and no
    // allocation happens), wakes the pushes waiting for room, and makes the
    // next push() report QueuedFirst.
    void take(Batch& batch);

    // While refusing, push() returns Refused at once, also one already waiting.
    // What is queued stays queued.
    void setRefusing(bool refusing);

    // Drops everything queued.
    void clear();

    std::size_t byteCapacity() const { return byteCapacity_; }
    std::size_t textCapacity() const { return textCapacity_; }

private:
    const std::size_t byteCapacity_;
    const std::size_t textCapacity_;

    std::mutex mutex_;
    std::condition_variable room_;
    Batch queued_;
    bool refusing_ = false;
    // True from a QueuedFirst until the next take(): the taker has been told.
    bool takerTold_ = false;
};

} // namespace app
