#pragma once

#include "protocol/viewwindow.h"

#include <QPointer>

#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>

class QObject;

namespace app
{

class MessageView;

// The Qt side of the channel's view: appends land in a MessageView on the UI
// thread, and events reach the console window as SocketEvent.
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
    // `view` and `eventTarget` live on the calling thread; neither is owned,
    // and either may be null (then appends or events have no effect).
    QtViewWindow(MessageView* view, QObject* eventTarget);
    ~QtViewWindow() override;
    QtViewWindow(const QtViewWindow&) = delete;
    QtViewWindow& operator=(const QtViewWindow&) = delete;

    // On the UI thread: appends at once and returns true (false without a
    // view). From another thread: hands the text to the UI thread and waits at
    // most `timeoutMs` for it to be appended. True when it was appended; false
    // when it was not in time, the view is gone or appends are suspended, and
    // then it never shows up later. Appends from one thread land in call order,
    // each in one piece.
    bool appendText(std::string_view text, std::uint32_t timeoutMs) override;

    // True while both the view and the event target exist.
    bool parentExists() const override;

    // Delivers SocketEvent(message, wParam, lParam) to the event target on the
    // UI thread, after the appends handed over before it; returns at once. The
    // event goes through a context object of this window, so nothing is
    // delivered once the target or this window is gone.
    void postToParent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // While suspended, appends from other threads fail at once, also one that
    // is waiting already; appends on the UI thread still show. The console
    // suspends them around stopping its channel: the UI thread then waits for
    // the watcher and serves no append, so a watcher waiting on one would
    // otherwise hold the stop up for a whole append time-out.
    void setAppendsSuspended(bool suspended);

private:
    struct Shared;
    struct Request;

    // Runs on the UI thread: carries out a handed-over append unless its
    // caller has given up on it.
    void deliver(Request& request);
    // Runs on the UI thread: hands an event to the target if it still exists.
    void forward(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    const std::shared_ptr<Shared> shared_;
    const std::thread::id uiThread_;
    const QPointer<MessageView> view_;
    const QPointer<QObject> target_;
    // Lives on the UI thread and receives the handed-over work; destroying it
    // discards work not yet carried out.
    std::unique_ptr<QObject> context_;
};

} // namespace app
