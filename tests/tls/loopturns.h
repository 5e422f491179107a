#pragma once

#include "socket/eventloop.h"

#include <chrono>
#include <functional>

// Turns `loop` until `done` holds (true) or 20 s pass (false).
inline bool turnUntil(net::EventLoop& loop, const std::function<bool()>& done)
{
    const auto deadline = net::EventLoop::Clock::now() + std::chrono::seconds(20);
    while (!done())
        if (net::EventLoop::Clock::now() >= deadline ||
            !loop.runOnce(net::EventLoop::Millis(20)).ok())
            return false;
    return true;
}
