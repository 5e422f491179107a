#include "qtviewwindow.h"

#include "messageview.h"
#include "socketevent.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <span>

namespace app
{

// What the calling threads and the UI thread share. Kept alive by every caller
// that waits, so a waiter never touches the window after it wakes.
struct QtViewWindow::Shared {
    Shared(std::size_t queueBytes, std::size_t queueTexts) : queue(queueBytes, queueTexts) {}

    // Under `mutex`: the queue refuses while appends cannot show.
    void updateRefusing() { queue.setRefusing(!viewAlive || suspended || context == nullptr); }

    std::mutex mutex;
    bool viewAlive = false;
    bool targetAlive = false;
    bool suspended = false;
    // Receives handed-over work; null once the window is being destroyed.
    QObject* context = nullptr;
    AppendQueue queue;
};

QtViewWindow::QtViewWindow(MessageView* view, QObject* eventTarget, std::size_t queueBytes,
                           std::size_t queueTexts)
    : shared_(std::make_shared<Shared>(queueBytes, queueTexts)),
      uiThread_(std::this_thread::get_id()), view_(view), target_(eventTarget),
      context_(std::make_unique<QObject>())
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->viewAlive = view != nullptr;
        shared_->targetAlive = eventTarget != nullptr;
        shared_->context = context_.get();
        shared_->updateRefusing();
    }

    drainTimer_ = new QTimer(context_.get());
    drainTimer_->setSingleShot(true);
    drainTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(drainTimer_, &QTimer::timeout, context_.get(), [this] { requestDrain(); });

    const std::shared_ptr<Shared> shared = shared_;
    if (view) {
        QObject::connect(view, &QObject::destroyed, context_.get(), [shared] {
            std::lock_guard lock(shared->mutex);
            shared->viewAlive = false;
            shared->updateRefusing();
            shared->queue.clear();
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
    std::lock_guard lock(shared_->mutex);
    shared_->viewAlive = false;
    shared_->targetAlive = false;
    shared_->context = nullptr;
    shared_->updateRefusing();
    shared_->queue.clear();
}

bool QtViewWindow::appendText(std::string_view text, std::uint32_t timeoutMs)
{
    if (std::this_thread::get_id() == uiThread_) {
        if (!view_)
            return false;
        if (view_->pendingChars() == 0) {
            // Shown at once, before what the watcher queued while the UI
            // thread was busy: as when each watcher append waited for the UI
            // thread, the echo of a send comes before anything the send itself
            // provoked. The console flushes the queue before it sends
            // (flush()), so what arrived earlier still shows first.
            view_->appendBytes(text);
            return true;
        }
        // What was taken from the queue and is still pending in the view
        // came first: this text goes after it.
        const auto length = static_cast<std::uint32_t>(text.size());
        view_->queueTexts(text, std::span(&length, 1));
        if (!drainTimer_->isActive())
            drainTimer_->start(kDrainIntervalMs);
        return true;
    }

    // Holds the queue alive should the window go while this call waits.
    const std::shared_ptr<Shared> shared = shared_;
    switch (shared->queue.push(text, std::chrono::milliseconds(timeoutMs))) {
    case AppendQueue::PushResult::QueuedFirst:
        postDrainRequest();
        return true;
    case AppendQueue::PushResult::Queued:
        return true;
    case AppendQueue::PushResult::TimedOut:
    case AppendQueue::PushResult::Refused:
    case AppendQueue::PushResult::TooLarge:
        break;
    }
    return false;
}

void QtViewWindow::postDrainRequest()
{
    std::lock_guard lock(shared_->mutex);
    if (!shared_->context)
        return;
    QMetaObject::invokeMethod(
        shared_->context, [this] { requestDrain(); }, Qt::QueuedConnection);
}

void QtViewWindow::requestDrain()
{
    const qint64 since = lastDrain_.isValid() ? lastDrain_.elapsed() : kDrainIntervalMs;
    if (since >= kDrainIntervalMs)
        drain(false);
    else if (!drainTimer_->isActive())
        drainTimer_->start(static_cast<int>(kDrainIntervalMs - since));
}

void QtViewWindow::flush()
{
    drain(true);
}

void QtViewWindow::drain(bool everything)
{
    // A flush from whatever the view's signals run while a drain is showing
    // text would show texts out of order; the running drain goes on instead.
    if (draining_)
        return;
    draining_ = true;
    lastDrain_.start();
    takeQueued();
    if (view_) {
        // Taking and trimming count against the budget, but showing always
        // gets half of it: under a flood, taking alone could use it all, and
        // the view would show next to nothing.
        const double budgetMs = everything ? kFlushBudgetMs : kDrainBudgetMs;
        const double takenMs = static_cast<double>(lastDrain_.nsecsElapsed()) / 1e6;
        const double showMs = std::max(budgetMs - takenMs, budgetMs / 2);
        showPending(std::max(static_cast<std::size_t>(bytesPerMs_ * showMs), kMinDrainBytes));
    }
    // What came in meanwhile stays queued for the next drain, a frame after
    // this one, as does what is still pending: taken now, it would make the
    // view drop at once what this drain has just shown whenever a flood
    // outruns the view.
    draining_ = false;
    if (view_ && view_->pendingChars() > 0 && !drainTimer_->isActive())
        drainTimer_->start(kDrainIntervalMs);
}

void QtViewWindow::takeQueued()
{
    shared_->queue.take(taken_);
    if (view_ && !taken_.empty())
        view_->queueTexts(taken_.text(), taken_.lengths);
}

void QtViewWindow::showPending(std::size_t budget)
{
    QElapsedTimer showing;
    showing.start();
    const std::size_t shown = view_->showPending(budget);
    // Only pieces of some size say how fast the view takes text.
    const double ms = static_cast<double>(showing.nsecsElapsed()) / 1e6;
    if (shown >= kMinDrainBytes && ms > 0.0)
        bytesPerMs_ = 0.7 * bytesPerMs_ + 0.3 * (static_cast<double>(shown) / ms);
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
    // The event's line, and every block before it, show before the target
    // hears of the event.
    flush();
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
        shared_->updateRefusing();
    }
    flush();
}

} // namespace app
