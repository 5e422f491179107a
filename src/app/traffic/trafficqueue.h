#pragma once

#include "traffic/recordframes.h"
#include "traffic/trafficrecord.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace app
{

// The Traffic window's intake: a RecordSink that any thread may feed and the
// UI thread empties in batches (TrafficWindow's timer).
//
// record() copies the record into a queue under a mutex and returns; it never
// waits for the UI thread. The queue holds at most `capacity` records and
// `byteCapacity` bytes of record bytes, texts and frames: beyond either, the
// oldest waiting records are dropped and counted, so a UI thread that falls
// behind, or a window that was never opened and so never takes anything, costs
// bounded memory (under a flood of 2 KB blocks, 100,000 records alone would be
// some 200 MB), and the window can say how much it lost.
// (The window keeps only the newest records anyway, so a dropped record is one
// the window would have dropped itself.)
//
// Frames: once setDelimiterMode() was called (the window does, when it is
// made), record() reads each record for frames with one traffic::RecordFrames
// in that mode, before the record waits, so every record is read once and in
// the channel's order, also one dropped later, and the reading is done by the
// thread that gives the record (the channel's watcher for reads), never by the
// UI thread that takes the batch. Records are queued in the order they were
// read, so a record() may wait while another thread's record is read (tens
// of microseconds for a 2 KB block of frames); take() never waits for that.
//
// Threads: record() from any thread; take(), setDelimiterMode() and the
// counts from any thread.
class TrafficQueue : public traffic::RecordSink
{
public:
    static constexpr std::size_t kCapacity = 100000;
    static constexpr std::size_t kByteCapacity = 16u << 20;

    struct Batch {
        std::vector<traffic::Record> records; // oldest first
        // The frames of each record (empty before setDelimiterMode()).
        std::vector<std::string> frames;
        std::uint64_t dropped = 0; // dropped since the previous take()
    };

    explicit TrafficQueue(std::size_t capacity = kCapacity,
                          std::size_t byteCapacity = kByteCapacity);

    void record(const traffic::Record& record) override;

    // Everything waiting, and how many records were dropped since the last
    // take(). Leaves the queue empty.
    Batch take();

    // Reads the records given from now on for frames in `mode`.
    void setDelimiterMode(protocol::DelimiterMode mode);
    std::optional<protocol::DelimiterMode> delimiterMode() const;

    std::size_t capacity() const { return capacity_; }

private:
    struct Waiting {
        traffic::Record record;
        std::string frames;
    };
    static std::size_t footprint(const Waiting& waiting);

    const std::size_t capacity_;
    const std::size_t byteCapacity_;
    // Held while a record is read for frames and queued, so the queue keeps
    // the reading order; never by take().
    mutable std::mutex readingMutex_;
    std::optional<traffic::RecordFrames> frames_;
    std::string reading_; // the frames of the record being read, its room kept
    std::mutex mutex_;
    std::deque<Waiting> waiting_;
    std::size_t waitingBytes_ = 0;
    std::uint64_t dropped_ = 0;
};

} // namespace app
