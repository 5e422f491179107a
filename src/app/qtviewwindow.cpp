#include "qtviewwindow.h"

#include "messageview.h"
#include "socketevent.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace app
{

// What the calling threads and the UI thread share. Kept alive by every caller
// that waits, so a waiter never touches the window after it wakes.
struct QtViewWindow::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool viewAlive = false;
    bool targetAlive = false;
    bool suspended = false;
    // Receives handed-over work; null once the window is being destroyed.
    QObject* context = nullptr;
};

// One handed-over append. Its state decides, under Shared::mutex, whether the
// UI thread carries it out or its caller has given up: never both.
struct QtViewWindow::Request {
    enum class State { Pending, Applying, Done, Cancelled };
    State state = State::Pending;
    std::string text;
};

QtViewWindow::QtViewWindow(MessageView* view, QObject* eventTarget)
    : shared_(std::make_shared<Shared>()), uiThread_(std::this_thread::get_id()), view_(view),
      target_(eventTarget), context_(std::make_unique<QObject>())
{
    shared_->viewAlive = view != nullptr;
    shared_->targetAlive = eventTarget != nullptr;
    shared_->context = context_.get();

    const std::shared_ptr<Shared> shared = shared_;
    if (view) {
        QObject::connect(view, &QObject::destroyed, context_.get(), [shared] {
            {
                std::lock_guard lock(shared->mutex);
                shared->viewAlive = false;
            }
            shared->changed.notify_all();
        });
    }
    if (eventTarget) {
        QObject::connect(eventTarget, &QObject::destroyed, context_.get(), [shared] {
            std::lock_guard lock(shared->mutex);
            shared->targetAlive = false;
        });
    }
}

QtViewWindow::~QtViewWindow()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->viewAlive = false;
        shared_->targetAlive = false;
        shared_->context = nullptr;
    }
    shared_->changed.notify_all();
}

bool QtViewWindow::appendText(std::string_view text, std::uint32_t timeoutMs)
{
    if (std::this_thread::get_id() == uiThread_) {
        if (!view_)
            return false;
        view_->appendBytes(text);
        return true;
    }

    const std::shared_ptr<Shared> shared = shared_;
    auto request = std::make_shared<Request>();
    request->text.assign(text);

    std::unique_lock lock(shared->mutex);
    if (!shared->viewAlive || shared->suspended || !shared->context)
        return false;
    // Queued calls to one receiver run in the order they were made, so appends
    // from one thread keep their order.
    QMetaObject::invokeMethod(
        shared->context, [this, request] { deliver(*request); }, Qt::QueuedConnection);

    using State = Request::State;
    const auto settled = [&] {
        return request->state == State::Done || request->state == State::Cancelled ||
               (request->state == State::Pending && (!shared->viewAlive || shared->suspended));
    };
    shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), settled);
    // An append the UI thread has begun is finished rather than torn.
    if (request->state == State::Applying)
        shared->changed.wait(lock, [&] { return request->state == State::Done; });
    if (request->state == State::Done)
        return true;
    request->state = State::Cancelled;
    return false;
}

void QtViewWindow::deliver(Request& request)
{
    using State = Request::State;
    {
        std::lock_guard lock(shared_->mutex);
        if (request.state != State::Pending)
            return;
        if (!view_ || !shared_->viewAlive || shared_->suspended) {
            request.state = State::Cancelled;
            shared_->changed.notify_all();
            return;
        }
        request.state = State::Applying;
    }
    // Appended without the lock, so whatever the view's signals run may call
    // back into this window.
    view_->appendBytes(request.text);
    {
        std::lock_guard lock(shared_->mutex);
        request.state = State::Done;
    }
    shared_->changed.notify_all();
}

bool QtViewWindow::parentExists() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->viewAlive && shared_->targetAlive;
}

void QtViewWindow::postToParent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    std::lock_guard lock(shared_->mutex);
    if (!shared_->targetAlive || !shared_->context)
        return;
    QMetaObject::invokeMethod(
        shared_->context, [this, message, wParam, lParam] { forward(message, wParam, lParam); },
        Qt::QueuedConnection);
}

void QtViewWindow::forward(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!target_)
        return;
    SocketEvent event(message, wParam, lParam);
    QCoreApplication::sendEvent(target_, &event);
}

void QtViewWindow::setAppendsSuspended(bool suspended)
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->suspended = suspended;
    }
    shared_->changed.notify_all();
}

} // namespace app
