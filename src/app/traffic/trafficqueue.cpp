#include "trafficqueue.h"

#include <algorithm>

namespace app
{

std::size_t TrafficQueue::footprint(const Waiting& waiting)
{
    return waiting.record.bytes.size() + waiting.record.text.size() + waiting.frames.size();
}

TrafficQueue::TrafficQueue(std::size_t capacity, std::size_t byteCapacity)
    : capacity_(std::max<std::size_t>(capacity, 1)), byteCapacity_(byteCapacity)
{
}

void TrafficQueue::record(const traffic::Record& record)
{
    // The copy is made before the locks, and the queue's own lock is held
    // only for the pointer moves of a deque append.
    Waiting copy{record, {}};
    const std::lock_guard reading(readingMutex_);
    if (frames_) {
        // Made in a buffer that keeps its room, then copied at its size: no
        // growing string per record, and no room held beyond the text.
        frames_->take(copy.record, reading_);
        copy.frames = reading_;
    }
    const std::size_t size = footprint(copy);
    const std::lock_guard lock(mutex_);
    // The newest record is always kept, even one larger than the byte bound.
    while (!waiting_.empty() &&
           (waiting_.size() >= capacity_ || waitingBytes_ + size > byteCapacity_)) {
        waitingBytes_ -= footprint(waiting_.front());
        waiting_.pop_front();
        ++dropped_;
    }
    waitingBytes_ += size;
    waiting_.push_back(std::move(copy));
}

TrafficQueue::Batch TrafficQueue::take()
{
    std::deque<Waiting> taken;
    Batch batch;
    {
        const std::lock_guard lock(mutex_);
        taken.swap(waiting_);
        waitingBytes_ = 0;
        batch.dropped = dropped_;
        dropped_ = 0;
    }
    batch.records.reserve(taken.size());
    batch.frames.reserve(taken.size());
    for (Waiting& waiting : taken) {
        batch.records.push_back(std::move(waiting.record));
        batch.frames.push_back(std::move(waiting.frames));
    }
    return batch;
}

void TrafficQueue::setDelimiterMode(protocol::DelimiterMode mode)
{
    const std::lock_guard reading(readingMutex_);
    if (frames_)
        frames_->setMode(mode);
    else
        frames_.emplace(mode);
}

std::optional<protocol::DelimiterMode> TrafficQueue::delimiterMode() const
{
    const std::lock_guard reading(readingMutex_);
    return frames_ ? std::optional(frames_->mode()) : std::nullopt;
}

} // namespace app
