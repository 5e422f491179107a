#pragma once

#include "trafficrecord.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace traffic
{

// One device's traffic records, held while it runs (a check, a device a host
// serves) and handed to the recorder whole when it ends, so that each
// device's records make one file of their own even though many devices run at
// once (a record file starts at each connect attempt). Bounded: past kMaxBytes of bytes and texts
// further records are only counted, and a last event record says how many.
//
// Threads: one at a time (the run's event loop).
class TrafficBuffer : public RecordSink
{
public:
    static constexpr std::size_t kMaxBytes = 256 * 1024;

    void record(const Record& record) override;
    // Hands every record to `sink` in order, then forgets them.
    void replayTo(RecordSink& sink);

    std::uint64_t dropped() const { return dropped_; }

private:
    std::vector<Record> records_;
    std::size_t bytes_ = 0;
    std::uint64_t dropped_ = 0;
};

} // namespace traffic
