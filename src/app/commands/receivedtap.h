#pragma once

#include "check/enginefeed.h"
#include "traffic/trafficrecord.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace app
{

// Sits between the channel's traffic record and the Traffic window's queue:
// passes every record on to `next`, and while switched on keeps the bytes of
// each Read record (exactly as read) for the UI thread, which takes them
// with take(); so the automatic answers see what the device sent the way the
// Traffic window does. Each read keeps the time it was recorded (on the
// steady clock), so that what waited for the UI thread is still timed as it
// came. Bounded: beyond kMaxBytes waiting, the bytes that come are dropped
// and counted, never waited for; beyond kMaxReads reads waiting, a read joins
// the one before it and takes its time.
//
// Threads: record() from any thread (it waits only for a short mutex);
// setOn(), take(), setWake() and the counts from any thread. The wake runs on
// the recording thread under the tap's lock, so it must only post (e.g. a
// queued call); once setWake() has returned, the old wake is never run again.
class ReceivedTap : public traffic::RecordSink
{
public:
    using Clock = check::Clock;
    static constexpr std::size_t kMaxBytes = 1024 * 1024;
    static constexpr std::size_t kMaxReads = 64 * 1024;

    // The bytes received since the last take, in order, and where each read
    // ends in them (ascending, the last at bytes.size()) with its time.
    struct Received {
        struct Read {
            std::size_t end = 0;
            Clock::time_point at;
        };
        std::string bytes;
        std::vector<Read> reads;
    };

    explicit ReceivedTap(traffic::RecordSink* next) : next_(next) {}

    void record(const traffic::Record& record) override;

    // Off: nothing is kept, and what waits is dropped.
    void setOn(bool on);
    bool on() const { return on_.load(); }
    Received take();
    std::uint64_t droppedBytes() const;
    // Called when bytes start to wait (once until the next take()), so that the
    // UI thread takes them at once rather than at its next poll; empty: none.
    void setWake(std::function<void()> wake);

private:
    traffic::RecordSink* const next_;
    std::atomic<bool> on_{false};
    mutable std::mutex mutex_;
    Received waiting_;
    std::function<void()> wake_;
    std::uint64_t dropped_ = 0;
};

} // namespace app
