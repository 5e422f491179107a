#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <unordered_map>
#include <vector>

namespace net
{

// Timers by due time: a binary heap of (time, id) and the tasks by id, so
// that adding, cancelling and taking the next due timer cost O(log n) and
// nothing scans every timer. A cancelled timer leaves its heap entry behind,
// skipped when it comes up. One thread uses it (the event loop's).
class TimerQueue
{
public:
    using Clock = std::chrono::steady_clock;
    using Instant = Clock::time_point;
    using Id = std::uint64_t;
    using Task = std::function<void()>;

    // Ids start at 1; 0 is never one.
    Id add(Instant when, Task task);
    // False when `id` is not pending (fired, cancelled, 0 or unknown).
    bool cancel(Id id);
    // When the earliest pending timer is due, or nothing.
    std::optional<Instant> nextDue();
    // Takes the earliest timer due at `now` or before, or nothing: its task,
    // to be run by the caller (which may add or cancel timers meanwhile).
    std::optional<Task> takeDue(Instant now);
    std::size_t pending() const { return tasks_.size(); }

private:
    struct Entry {
        Instant when;
        Id id;
        // Earliest first; equal times in the order added.
        bool operator>(const Entry& other) const
        {
            return when != other.when ? when > other.when : id > other.id;
        }
    };
    void dropCancelled();

    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap_;
    std::unordered_map<Id, Task> tasks_;
    Id nextId_ = 1;
};

} // namespace net
