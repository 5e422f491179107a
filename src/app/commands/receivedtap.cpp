#include "receivedtap.h"

#include <utility>

namespace app
{

void ReceivedTap::record(const traffic::Record& record)
{
    if (record.kind == traffic::RecordKind::Read && !record.bytes.empty() && on_.load()) {
        const Clock::time_point now = Clock::now();
        const std::lock_guard<std::mutex> lock(mutex_);
        const bool wasEmpty = waiting_.bytes.empty();
        if (waiting_.bytes.size() + record.bytes.size() > kMaxBytes) {
            dropped_ += record.bytes.size();
        } else {
            waiting_.bytes += record.bytes;
            if (waiting_.reads.size() >= kMaxReads)
                waiting_.reads.back() = {waiting_.bytes.size(), now};
            else
                waiting_.reads.push_back({waiting_.bytes.size(), now});
            if (wasEmpty && wake_)
                wake_();
        }
    }
    if (next_)
        next_->record(record);
}

void ReceivedTap::setOn(bool on)
{
    on_.store(on);
    if (!on) {
        const std::lock_guard<std::mutex> lock(mutex_);
        waiting_ = {};
    }
}

ReceivedTap::Received ReceivedTap::take()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(waiting_, {});
}

void ReceivedTap::setWake(std::function<void()> wake)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(wake);
}

std::uint64_t ReceivedTap::droppedBytes() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

} // namespace app
