#include "trafficbuffer.h"

namespace traffic
{

void TrafficBuffer::record(const Record& record)
{
    const std::size_t size = record.bytes.size() + record.text.size();
    // The records that open and close a connection are always kept, so that
    // every file says where it went and how it ended.
    const bool framing = record.kind != RecordKind::Write && record.kind != RecordKind::Read;
    if (!framing && bytes_ + size > kMaxBytes) {
        ++dropped_;
        return;
    }
    bytes_ += size;
    records_.push_back(record);
}

void TrafficBuffer::replayTo(RecordSink& sink)
{
    for (std::size_t i = 0; i < records_.size(); ++i) {
        // The note on what was left out goes before the last record, the
        // disconnect, so that the file still ends the way the connection did.
        if (dropped_ > 0 && i + 1 == records_.size()) {
            sink.record({records_[i].time,
                         RecordKind::Event,
                         {},
                         std::to_string(dropped_) +
                             " records not kept: the device's traffic "
                             "passed " +
                             std::to_string(kMaxBytes / 1024) + " KiB",
                         {}});
        }
        sink.record(records_[i]);
    }
    records_.clear();
    records_.shrink_to_fit();
    bytes_ = 0;
}

} // namespace traffic
