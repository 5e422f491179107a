#include "receivedtap.h"

#include <utility>

namespace app
{

void ReceivedTap::record(const traffic::Record& record)
{
    if (record.kind == traffic::RecordKind::Read && on_.load()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const bool wasEmpty = waiting_.empty();
        if (waiting_.size() + record.bytes.size() <= kMaxBytes) {
            waiting_ += record.bytes;
            if (!record.bytes.empty())
                ends_.push_back(waiting_.size());
        } else
            dropped_ += record.bytes.size();
        if (wasEmpty && !waiting_.empty() && wake_)
            wake_();
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
        ends_.clear();
    }
}

std::string ReceivedTap::take()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    ends_.clear();
    return std::exchange(waiting_, {});
}

std::vector<std::string> ReceivedTap::takeRecords()
{
    std::string bytes;
    std::vector<std::size_t> ends;
    {
        // Cut outside the lock: the recording thread waits for it.
        const std::lock_guard<std::mutex> lock(mutex_);
        bytes = std::exchange(waiting_, {});
        ends = std::exchange(ends_, {});
    }
    std::vector<std::string> records;
    std::size_t start = 0;
    for (const std::size_t end : ends) {
        records.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return records;
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
