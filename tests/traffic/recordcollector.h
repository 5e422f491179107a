#pragma once

#include "traffic/trafficrecord.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

// A sink for tests: keeps every record and lets a test wait, with a
// deadline, until what it holds meets a condition. Any thread may call it.
class RecordCollector : public traffic::RecordSink
{
public:
    void record(const traffic::Record& record) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back(record);
        }
        changed_.notify_all();
    }

    std::vector<traffic::Record> records() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

    bool waitFor(const std::function<bool(const std::vector<traffic::Record>&)>& condition,
                 std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return condition(records_); });
    }

    // Waits until the last record is of `kind`.
    bool waitForLast(traffic::RecordKind kind, std::chrono::milliseconds limit)
    {
        return waitFor(
            [kind](const std::vector<traffic::Record>& records) {
                return !records.empty() && records.back().kind == kind;
            },
            limit);
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<traffic::Record> records_;
};
