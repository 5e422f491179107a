#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls `condition` every few milliseconds until it holds or `limit` passes;
// true when it held. For state that gives no signal of its own to wait on.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    constexpr std::chrono::milliseconds kPollInterval{5};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}
