#pragma once

#include "protocol/viewwindow.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The console's message view as a test sees it: every append lands at once
// in a text, every posted event in a list, and the test waits for either with
// a deadline. Any thread may call every member.
class RecordingView : public protocol::ViewWindow
{
public:
    bool appendText(std::string_view text, std::uint32_t) override
    {
        {
            std::lock_guard lock(mutex_);
            text_ += text;
        }
        changed_.notify_all();
        return true;
    }

    bool parentExists() const override { return true; }

    void postToParent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override
    {
        {
            std::lock_guard lock(mutex_);
            posted_.push_back({message, wParam});
        }
        changed_.notify_all();
    }

    std::string text() const
    {
        std::lock_guard lock(mutex_);
        return text_;
    }

    // The (message, wParam) pairs posted so far.
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> posted() const
    {
        std::lock_guard lock(mutex_);
        return posted_;
    }

    bool waitForText(const std::function<bool(const std::string&)>& condition,
                     std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return condition(text_); });
    }

    bool waitForTextEqual(const std::string& expected, std::chrono::milliseconds limit)
    {
        return waitForText([&](const std::string& text) { return text == expected; }, limit);
    }

    bool waitForPosts(std::size_t count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return posted_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> posted_;
};
