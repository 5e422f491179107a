#include "timerqueue.h"

namespace net
{

TimerQueue::Id TimerQueue::add(Instant when, Task task)
{
    const Id id = nextId_++;
    heap_.push({when, id});
    tasks_.emplace(id, std::move(task));
    return id;
}

bool TimerQueue::cancel(Id id)
{
    if (tasks_.erase(id) == 0)
        return false;
    // Keeps the heap from filling with the dead entries of timers that are
    // set and cancelled over and over (a write-stall timer at every write).
    if (heap_.size() > 64 && heap_.size() > 2 * tasks_.size()) {
        std::vector<Entry> live;
        live.reserve(tasks_.size());
        while (!heap_.empty()) {
            if (tasks_.count(heap_.top().id) != 0)
                live.push_back(heap_.top());
            heap_.pop();
        }
        heap_ = decltype(heap_)(std::greater<Entry>(), std::move(live));
    }
    return true;
}

void TimerQueue::dropCancelled()
{
    while (!heap_.empty() && tasks_.count(heap_.top().id) == 0)
        heap_.pop();
}

std::optional<TimerQueue::Instant> TimerQueue::nextDue()
{
    dropCancelled();
    if (heap_.empty())
        return std::nullopt;
    return heap_.top().when;
}

std::optional<TimerQueue::Task> TimerQueue::takeDue(Instant now)
{
    dropCancelled();
    if (heap_.empty() || heap_.top().when > now)
        return std::nullopt;
    const Id id = heap_.top().id;
    heap_.pop();
    auto found = tasks_.find(id);
    Task task = std::move(found->second);
    tasks_.erase(found);
    return task;
}

} // namespace net
