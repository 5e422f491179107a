#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace devicetools
{

// The simulator's output: one line per frame, answer or connection event,
// each starting with the local time (HH:MM:SS.mmm) and the peer.
//
// Lines go through a bounded queue to a log thread of its own, which hands
// them to the sink one whole line (without its line end) at a time, in the
// order they were written. A sink that does not keep up never holds a writer
// up: once the queue holds kQueueLines lines or kQueueBytes bytes (besides
// the batch the sink is writing), further lines are dropped and counted, and the log thread reports
// "N log lines dropped" as soon as it has written what was queued before them.
//
// Threads: write(), flush() and dropped() from any thread; close() and the
// destructor from the owner. The sink runs on the log thread only.
class SimulatorLog
{
public:
    using Sink = std::function<void(std::string_view line)>;

    static constexpr std::size_t kQueueLines = 4096;
    static constexpr std::size_t kQueueBytes = 1024 * 1024;
    // How long the destructor lets the sink write what is queued.
    static constexpr std::chrono::milliseconds kCloseLimit{500};

    // Starts the log thread; without one (no threads left) write() drops
    // every line.
    explicit SimulatorLog(Sink sink);
    // close(kCloseLimit) without an interrupt: the sink must return by itself.
    ~SimulatorLog();
    SimulatorLog(const SimulatorLog&) = delete;
    SimulatorLog& operator=(const SimulatorLog&) = delete;

    // Queues "<time> <peer> <text>" (an empty peer is left out); never waits
    // for the sink.
    void write(std::string_view peer, std::string_view text);

    // Waits at most `limit` until every line written before the call has
    // reached the sink; true when it has.
    bool flush(std::chrono::milliseconds limit);

    // Lets the sink write what is queued for at most `limit`, then calls
    // `interrupt` (which must make a sink that is still writing return), drops
    // the rest and ends the log thread. Later writes are dropped. True when
    // every line reached the sink. A second call does nothing.
    bool close(std::chrono::milliseconds limit, const std::function<void()>& interrupt = {});

    // Lines dropped so far.
    std::uint64_t dropped() const;

    // The local time as HH:MM:SS.mmm.
    static std::string timeText();
    // A count with a comma between groups of three digits: "12,345".
    static std::string groupedCount(std::uint64_t count);
    // "60 s" for whole seconds, else "250 ms".
    static std::string durationText(std::uint32_t ms);

private:
    void run();
    bool idle() const;

    Sink sink_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::deque<std::string> queue_;
    std::size_t queuedBytes_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t reported_ = 0;
    bool writing_ = false;
    bool closing_ = false;
    bool abandon_ = false;
    bool closed_ = false;
    std::thread thread_;
};

} // namespace devicetools
