#pragma once

#include "trafficrecord.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace traffic
{

// The bounds of a RecordTail.
struct RecordLimits {
    static constexpr std::size_t kDefaultMaxRecords = 100000;
    static constexpr std::size_t kDefaultMaxBytes = 512ull * 1024 * 1024;

    std::size_t maxRecords = kDefaultMaxRecords; // raised to 1 at least
    std::size_t maxBytes = kDefaultMaxBytes;
};

// The newest records of a stream read back from a file: at most maxRecords of
// them and at most maxBytes of their bytes and texts (each record counted
// with kRecordOverheadBytes more), so that reading any file takes bounded
// memory. When a new record goes beyond a bound the oldest go; leftOut()
// counts them. A record larger than maxBytes on its own is still kept, as the
// only one. Threads: none; one owner.
class RecordTail
{
public:
    using Limits = RecordLimits;
    static constexpr std::size_t kRecordOverheadBytes = 64;

    explicit RecordTail(Limits limits = {});

    void add(Record record);

    std::size_t size() const { return records_.size(); }
    std::uint64_t leftOut() const { return leftOut_; }
    // The records kept, oldest first; the tail is empty afterwards (the
    // left-out count stays).
    std::vector<Record> take();

private:
    static std::size_t weight(const Record& record);

    Limits limits_;
    std::deque<Record> records_;
    std::size_t bytes_ = 0;
    std::uint64_t leftOut_ = 0;
};

} // namespace traffic
