#include "trafficqueue.h"

#include <algorithm>
#include <iterator>

namespace app
{

namespace
{

std::size_t footprint(const traffic::Record& record)
{
    return record.bytes.size() + record.text.size();
}

} // namespace

TrafficQueue::TrafficQueue(std::size_t capacity, std::size_t byteCapacity)
    : capacity_(std::max<std::size_t>(capacity, 1)), byteCapacity_(byteCapacity)
{
}

void TrafficQueue::record(const traffic::Record& record)
{
    // The copy is made before the lock, so the lock is held only for the
    // pointer moves of a deque append.
    traffic::Record copy = record;
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
    std::deque<traffic::Record> taken;
    Batch batch;
    {
        const std::lock_guard lock(mutex_);
        taken.swap(waiting_);
        waitingBytes_ = 0;
        batch.dropped = dropped_;
        dropped_ = 0;
    }
    batch.records.reserve(taken.size());
    std::move(taken.begin(), taken.end(), std::back_inserter(batch.records));
    return batch;
}

} // namespace app
