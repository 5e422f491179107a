#include "threadedviewwindow.h"

ThreadedViewWindow::ThreadedViewWindow() : ui_([this] { uiLoop(); }) {}

ThreadedViewWindow::~ThreadedViewWindow()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        uiBlocked_ = false;
    }
    queueChanged_.notify_all();
    stateChanged_.notify_all();
    ui_.join();
}

bool ThreadedViewWindow::appendText(std::string_view text, std::uint32_t timeoutMs)
{
    if (std::this_thread::get_id() == ui_.get_id()) {
        std::lock_guard lock(mutex_);
        ++appendRequests_;
        text_.append(text);
        stateChanged_.notify_all();
        return true;
    }

    auto task = std::make_shared<AppendTask>();
    task->text.assign(text);
    std::unique_lock lock(mutex_);
    ++appendRequests_;
    stateChanged_.notify_all();
    if (stopping_) {
        return false;
    }
    queue_.push_back([this, task] {
        std::lock_guard applyLock(mutex_);
        if (task->state == AppendState::Pending) {
            text_.append(task->text);
            task->state = AppendState::Done;
            stateChanged_.notify_all();
        }
    });
    queueChanged_.notify_one();
    const bool done = stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return task->state == AppendState::Done || stopping_;
    });
    if (done && task->state == AppendState::Done) {
        return true;
    }
    // Still under the lock: the UI thread cannot be applying it right now.
    task->state = AppendState::Cancelled;
    ++timedOutAppends_;
    stateChanged_.notify_all();
    return false;
}

bool ThreadedViewWindow::parentExists() const
{
    std::lock_guard lock(mutex_);
    return parentExists_;
}

void ThreadedViewWindow::postToParent(std::uint32_t message, std::uintptr_t wParam,
                                      std::intptr_t lParam)
{
    post([this, message, wParam, lParam] {
        std::lock_guard lock(mutex_);
        if (parentExists_) {
            posted_.push_back({message, wParam, lParam});
            stateChanged_.notify_all();
        }
    });
}

void ThreadedViewWindow::setParentExists(bool exists)
{
    std::lock_guard lock(mutex_);
    parentExists_ = exists;
}

std::string ThreadedViewWindow::text() const
{
    std::lock_guard lock(mutex_);
    return text_;
}

std::vector<ThreadedViewWindow::Posted> ThreadedViewWindow::posted() const
{
    std::lock_guard lock(mutex_);
    return posted_;
}

int ThreadedViewWindow::appendRequests() const
{
    std::lock_guard lock(mutex_);
    return appendRequests_;
}

int ThreadedViewWindow::timedOutAppends() const
{
    std::lock_guard lock(mutex_);
    return timedOutAppends_;
}

bool ThreadedViewWindow::waitForText(const std::function<bool(const std::string&)>& condition,
                                     std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return stateChanged_.wait_for(lock, limit, [&] { return condition(text_); });
}

bool ThreadedViewWindow::waitForTextEqual(const std::string& expected,
                                          std::chrono::milliseconds limit)
{
    return waitForText([&](const std::string& text) { return text == expected; }, limit);
}

bool ThreadedViewWindow::waitForPosts(std::size_t count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return stateChanged_.wait_for(lock, limit, [&] { return posted_.size() >= count; });
}

bool ThreadedViewWindow::waitForTimedOutAppends(int count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return stateChanged_.wait_for(lock, limit, [&] { return timedOutAppends_ >= count; });
}

bool ThreadedViewWindow::waitForAppendRequests(int count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return stateChanged_.wait_for(lock, limit, [&] { return appendRequests_ >= count; });
}

void ThreadedViewWindow::blockUi(std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    bool entered = false;
    queue_.push_back([this, limit, &entered] {
        std::unique_lock blockLock(mutex_);
        uiBlocked_ = true;
        entered = true;
        stateChanged_.notify_all();
        stateChanged_.wait_for(blockLock, limit, [this] { return !uiBlocked_; });
        uiBlocked_ = false;
    });
    queueChanged_.notify_one();
    stateChanged_.wait(lock, [&] { return entered || stopping_; });
}

void ThreadedViewWindow::releaseUi()
{
    {
        std::lock_guard lock(mutex_);
        uiBlocked_ = false;
    }
    stateChanged_.notify_all();
}

void ThreadedViewWindow::runOnUiThread(std::function<void()> work)
{
    std::unique_lock lock(mutex_);
    bool done = false;
    queue_.push_back([this, &work, &done] {
        work();
        std::lock_guard doneLock(mutex_);
        done = true;
        stateChanged_.notify_all();
    });
    queueChanged_.notify_one();
    stateChanged_.wait(lock, [&] { return done || stopping_; });
}

void ThreadedViewWindow::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        queue_.push_back(std::move(task));
    }
    queueChanged_.notify_one();
}

void ThreadedViewWindow::uiLoop()
{
    std::unique_lock lock(mutex_);
    while (true) {
        queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}
