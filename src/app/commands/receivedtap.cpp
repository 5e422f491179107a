#include "receivedtap.h"

#include <utility>

namespace app
{

void ReceivedTap::record(const traffic::Record& record)
{
    if (record.kind == traffic::RecordKind::Read && on_.load()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.size() + record.bytes.size() <= kMaxBytes)
            waiting_ += record.bytes;
        else
            dropped_ += record.bytes.size();
    }
    if (next_)
        next_->record(record);
}

void ReceivedTap::setOn(bool on)
{
    on_.store(on);
    if (!on) {
        const std::lock_guard<std::mutex> lock(mutex_);
        waiting_.clear();
    }
}

std::string ReceivedTap::take()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(waiting_, {});
}

std::uint64_t ReceivedTap::droppedBytes() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

} // namespace app
