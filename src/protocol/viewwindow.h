#pragma once

#include <cstdint>
#include <string_view>

namespace protocol
{

// The message view as the channel reaches it: a text window owned by a UI
// thread, with a parent window that takes posted events. The console gives it
// a Qt implementation; tests give it a double that runs its own UI thread.
//
// Any thread may call these. Nothing here may block without a bound.
class ViewWindow
{
public:
    // How long a watcher waits for one append to be placed.
    static constexpr std::uint32_t kAppendTimeoutMs = 1000;

    virtual ~ViewWindow() = default;

    // Appends `text` (no NUL inside) at the end of the view, carried out on the
    // view's own thread. From another thread it waits at most `timeoutMs` for
    // the text to be placed, that is appended, or queued to be appended after
    // every text placed before it, and then returns true. An append that was
    // not placed in time (or whose view is gone, or that is refused) returns
    // false and never takes effect later, so no text shows out of order or
    // after the channel has stopped. Called on the view's own thread it
    // appends at once, after whatever was placed before.
    virtual bool appendText(std::string_view text, std::uint32_t timeoutMs) = 0;

    // True while the view and its parent window still exist.
    virtual bool parentExists() const = 0;

    // Posts an event to the parent window and returns at once; the parent
    // handles it on its own thread later (or drops it when it is gone).
    virtual void postToParent(std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) = 0;
};

} // namespace protocol
