#pragma once

#include "protocol/viewwindow.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A view for tests that behaves like a window owned by a UI thread: it runs its
// own thread with a task queue. appendText() from another thread queues the
// append and waits for it at most the time-out; an append that timed out is
// marked cancelled under the same lock the UI thread applies it with, so it can
// never take effect later. On the UI thread itself appendText() appends at
// once. Posted events are queued to the UI thread and recorded there.
//
// Any thread may call every member. Destroy it only after every channel bound
// to it has stopped.
class ThreadedViewWindow : public protocol::ViewWindow
{
public:
    struct Posted {
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };

    ThreadedViewWindow();
    ~ThreadedViewWindow() override;
    ThreadedViewWindow(const ThreadedViewWindow&) = delete;
    ThreadedViewWindow& operator=(const ThreadedViewWindow&) = delete;

    bool appendText(std::string_view text, std::uint32_t timeoutMs) override;
    bool parentExists() const override;
    void postToParent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // While false, parentExists() says so and posts are dropped.
    void setParentExists(bool exists);

    std::string text() const;
    std::vector<Posted> posted() const;
    int appendRequests() const;
    int timedOutAppends() const;

    // Wait until the condition holds or `limit` passes; true when it held.
    bool waitForText(const std::function<bool(const std::string&)>& condition,
                     std::chrono::milliseconds limit);
    bool waitForTextEqual(const std::string& expected, std::chrono::milliseconds limit);
    bool waitForPosts(std::size_t count, std::chrono::milliseconds limit);
    bool waitForTimedOutAppends(int count, std::chrono::milliseconds limit);
    bool waitForAppendRequests(int count, std::chrono::milliseconds limit);

    // Blocks the UI thread until releaseUi() or until `limit` passes, as a busy
    // user interface would; returns once the UI thread is blocked.
    void blockUi(std::chrono::milliseconds limit);
    void releaseUi();
    // Runs `work` on the UI thread and waits until it is done (after every
    // task queued before it).
    void runOnUiThread(std::function<void()> work);

private:
    enum class AppendState { Pending, Done, Cancelled };
    struct AppendTask {
        std::string text;
        AppendState state = AppendState::Pending;
    };

    void post(std::function<void()> task);
    void uiLoop();

    mutable std::mutex mutex_;
    std::condition_variable queueChanged_;
    std::condition_variable stateChanged_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    bool uiBlocked_ = false;
    bool parentExists_ = true;
    std::string text_;
    std::vector<Posted> posted_;
    int appendRequests_ = 0;
    int timedOutAppends_ = 0;
    std::thread ui_;
};
