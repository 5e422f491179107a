#include "recordsplitter.h"

namespace protocol
{

void RecordSplitter::feed(std::string_view bytes, const Sink& sink)
{
    for (const char c : bytes) {
        // The NUL the console sends after CR LF belongs to that line end,
        // even when it arrives in the next read.
        const bool trailingNul = afterLineFeed_ && c == '\0';
        afterLineFeed_ = false;
        if (trailingNul) {
            continue;
        }
        if (c == '\n') {
            if (!pending_.empty() && pending_.back() == '\r') {
                pending_.pop_back();
            }
            handOver(sink);
            afterLineFeed_ = true;
        } else if (c == '\0') {
            handOver(sink);
        } else {
            pending_ += c;
            if (pending_.size() >= kMaxRecordLength) {
                handOver(sink);
            }
        }
    }
}

void RecordSplitter::finish(const Sink& sink)
{
    handOver(sink);
    afterLineFeed_ = false;
}

void RecordSplitter::handOver(const Sink& sink)
{
    if (pending_.empty()) {
        return;
    }
    std::string record;
    record.swap(pending_);
    sink(record);
}

} // namespace protocol
