#pragma once

#include "appendqueue.h"

#include "protocol/viewwindow.h"

#include <QElapsedTimer>
#include <QPointer>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>

class QObject;
class QTimer;

namespace app
{

class MessageView;

// The Qt side of the channel's view: appends land in a MessageView on the UI
// thread, and events reach the console window as SocketEvent.
//
// Appends from other threads go into a bounded queue (AppendQueue) and return
// as soon as they are queued. The UI thread takes everything queued at most
// once every kDrainIntervalMs, hands it to the view as pending text
// (MessageView::queueTexts(), which only converts it and applies the view's
// limits), and shows as much of what is pending as fits in about
// kDrainBudgetMs (judged by how fast the last pieces went); the rest shows at
// the next drains. The view's limits apply to what is pending too, so when a
// device sends faster than the view can show, the lines that the limits would
// drop before their turn are never inserted, the queue still empties every
// frame and the watcher does not wait: the intake is not held to the view's
// pace, input and painting get their turn between drains, and once the flood
// ends the view shows exactly what one edit per block would have left.
//
// Threads. The constructor, the destructor and setAppendsSuspended() run on the
// UI thread, the thread that owns the view and the event target. appendText(),
// parentExists() and postToParent() may be called from any thread.
//
// Lifetime. The owner stops every thread that calls in (the channel) before it
// destroys this object. Short of that, late calls are harmless: once the view
// is gone appends return false, once the target is gone nothing is posted, and
// a caller waiting on an append when this object or its view goes away returns
// false at once.
class QtViewWindow : public protocol::ViewWindow
{
public:
    // Bounds of the queue: what can wait for the UI thread between two
    // drains. A frame's intake at tens of MB/s, so that a fast device is not
    // held up by the queue, while every drain takes it all in a few
    // milliseconds of conversion.
    static constexpr std::size_t kQueueBytes = 2 * 1024 * 1024;
    static constexpr std::size_t kQueueTexts = 32 * 1024;
    // The least time between two drains: a frame.
    static constexpr int kDrainIntervalMs = 16;
    // The UI time one drain aims to take, taking and trimming included, and
    // the least it shows (so that it always gets on). Half a frame: the other
    // half is the operator's, and an event waits behind one short drain at
    // most, also on a busy machine.
    static constexpr int kDrainBudgetMs = 8;
    static constexpr std::size_t kMinDrainBytes = 4 * 1024;
    // What flush() shows at once at most; the rest follows at the next drains.
    static constexpr int kFlushBudgetMs = 16;

    // `view` and `eventTarget` live on the calling thread; neither is owned,
    // and either may be null (then appends or events have no effect).
    QtViewWindow(MessageView* view, QObject* eventTarget, std::size_t queueBytes = kQueueBytes,
                 std::size_t queueTexts = kQueueTexts);
    ~QtViewWindow() override;
    QtViewWindow(const QtViewWindow&) = delete;
    QtViewWindow& operator=(const QtViewWindow&) = delete;

    // On the UI thread: returns true (false without a view) and appends at
    // once, ahead of what is queued and not taken yet, as if every queued
    // append were still waiting for the UI thread (call flush() first for the
    // other order); when the view still has text pending, after that text.
    // From another thread: queues the text for the UI thread, waiting at most
    // `timeoutMs` while the queue is full. True once queued: the text then
    // shows (unless the view goes away first) after everything queued before
    // it. False when there was no room in time, the view is gone, appends are
    // suspended or the text is longer than the whole queue; then it never
    // shows up. Appends from one thread land in call order, each in one piece.
    bool appendText(std::string_view text, std::uint32_t timeoutMs) override;

    // True while both the view and the event target exist.
    bool parentExists() const override;

    // Delivers SocketEvent(message, wParam, lParam) to the event target on the
    // UI thread, after the appends queued before it have been taken (see
    // flush()); returns at once. The event goes through a context object of
    // this window, so nothing is delivered once the target or this window is
    // gone.
    void postToParent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // While suspended, appends from other threads fail at once, also one that
    // is waiting for room already; appends on the UI thread still show. Either
    // way, what was queued before is flushed now. The console suspends appends
    // around stopping its channel: the UI thread then waits for the watcher
    // and drains nothing, so a watcher waiting for room would otherwise hold
    // the stop up for a whole append time-out.
    void setAppendsSuspended(bool suspended);

    // UI thread: takes everything queued into the view's pending text and
    // shows what is pending, all of it when that takes less than about
    // kFlushBudgetMs (as it does unless a flood outruns the view), otherwise
    // that much, the rest at the next drains. Either way, an append on the UI
    // thread after a flush lands after everything queued before it.
    void flush();

private:
    struct Shared;

    // Runs on the UI thread when an append found the queue empty, and by the
    // timer: drains now, or once kDrainIntervalMs have passed since the last
    // drain.
    void requestDrain();
    // UI thread: takes what is queued and shows about kDrainBudgetMs' worth
    // of what is pending in the view (kFlushBudgetMs' with `everything`).
    // Schedules the next drain while anything is left.
    void drain(bool everything);
    // Hands everything queued to the view as pending text.
    void takeQueued();
    // Shows about `budget` pending characters.
    void showPending(std::size_t budget);
    // Any thread: asks the UI thread for requestDrain().
    void postDrainRequest();
    // Runs on the UI thread: hands an event to the target if it still exists.
    void forward(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    const std::shared_ptr<Shared> shared_;
    const std::thread::id uiThread_;
    const QPointer<MessageView> view_;
    const QPointer<QObject> target_;
    // Lives on the UI thread and receives the handed-over work; destroying it
    // discards work not yet carried out.
    std::unique_ptr<QObject> context_;
    // UI thread only: the delayed drain, when the last drain was made, how
    // many bytes a millisecond of showing has shown lately, and the buffers
    // that go round with the queue's.
    QTimer* drainTimer_ = nullptr;
    QElapsedTimer lastDrain_;
    double bytesPerMs_ = 1000.0;
    AppendQueue::Batch taken_;
    bool draining_ = false;
};

} // namespace app
