#include "watcherthread.h"

#include "lasterror.h"

#include <unistd.h>

#include <chrono>
#include <system_error>

namespace net
{

WatcherThread::~WatcherThread()
{
    if (thread_.joinable()) {
        join();
    }
}

bool WatcherThread::start(std::function<void()> body)
{
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            body();
            const std::lock_guard<std::mutex> guard(mutex_);
            ended_ = true;
            endedSignal_.notify_all();
        });
    } catch (const std::system_error& error) {
        setLastError(static_cast<std::uint32_t>(error.code().value()));
        return false;
    }
    return true;
}

bool WatcherThread::waitEnded(std::uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return endedSignal_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return ended_; });
}

void WatcherThread::join()
{
    thread_.join();
    if (retired_ != kInvalidSocket) {
        ::close(retired_);
        retired_ = kInvalidSocket;
    }
}

} // namespace net
