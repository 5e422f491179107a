#include "trafficqueue.h"

#include <algorithm>
#include <iterator>

namespace app
{

TrafficQueue::TrafficQueue(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void TrafficQueue::record(const traffic::Record& record)
{
    // The copy is made before the lock, so the lock is held only for the
    // pointer moves of a deque append.
    traffic::Record copy = record;
    const std::lock_guard lock(mutex_);
    if (waiting_.size() >= capacity_) {
        waiting_.pop_front();
        ++dropped_;
    }
    waiting_.push_back(std::move(copy));
}

TrafficQueue::Batch TrafficQueue::take()
{
    std::deque<traffic::Record> taken;
    Batch batch;
    {
        const std::lock_guard lock(mutex_);
        taken.swap(waiting_);
        batch.dropped = dropped_;
        dropped_ = 0;
    }
    batch.records.reserve(taken.size());
    std::move(taken.begin(), taken.end(), std::back_inserter(batch.records));
    return batch;
}

} // namespace app
