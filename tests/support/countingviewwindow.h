#pragma once

#include "protocol/viewwindow.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// A view that only counts: appends and their bytes, and posted events. Every
// append succeeds at once on the calling thread, so it measures the channel's
// own cost. For benchmarks and fuzzing; any thread may call it.
class CountingViewWindow : public protocol::ViewWindow
{
public:
    bool appendText(std::string_view text, std::uint32_t) override
    {
        bytes_.fetch_add(text.size(), std::memory_order_relaxed);
        appends_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    bool parentExists() const override { return true; }

    void postToParent(std::uint32_t, std::uintptr_t, std::intptr_t) override
    {
        {
            std::lock_guard lock(mutex_);
            ++posts_;
        }
        posted_.notify_all();
    }

    std::uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
    std::uint64_t appends() const { return appends_.load(std::memory_order_relaxed); }

    // Waits until `count` events in all were posted, or `limit` passes.
    bool waitForPosts(int count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return posted_.wait_for(lock, limit, [&] { return posts_ >= count; });
    }

    void reset()
    {
        bytes_ = 0;
        appends_ = 0;
        std::lock_guard lock(mutex_);
        posts_ = 0;
    }

private:
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<std::uint64_t> appends_{0};
    std::mutex mutex_;
    std::condition_variable posted_;
    int posts_ = 0;
};
