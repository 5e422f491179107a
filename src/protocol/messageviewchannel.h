#pragma once

#include "framecheck.h"
#include "viewwindow.h"

#include "socket/socketchannel.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace protocol
{

// The console's channel: every received block passes FrameCheck and is shown
// in the bound view as text of single bytes (up to its first NUL; nothing is
// decoded, added or dropped otherwise); every connection event appends a fixed
// line and posts kSocketEventMessage to the view's parent.
//
// Threads: setView() on the UI thread before the channel opens; the hooks and
// their appends on the watcher thread; appendToView() also on the UI thread
// (the echo of a sent frame). Each append is one ViewWindow::appendText() that
// waits at most ViewWindow::kAppendTimeoutMs for the text to be placed (a view
// may queue it and return at once while its queue has room); a text that
// cannot be placed in time is lost, without a report, and the watcher goes on
// reading.
class MessageViewChannel : public net::SocketChannel
{
public:
    // Posted to the view's parent after every event: wParam the event code,
    // lParam the address of the channel.
    static constexpr std::uint32_t kSocketEventMessage = 0x9234; // WM_APP + 0x1234

    // Checks blocks in the mode of `delimiters`, which must outlive the channel.
    explicit MessageViewChannel(const DelimiterSet& delimiters);
    // Stops the channel before anything of this class is destroyed.
    ~MessageViewChannel() override;

    // Binds the view (not owned; nullptr for none). Call before the channel opens.
    void setView(ViewWindow* view);
    ViewWindow* view() const { return view_; }
    // The set whose mode the channel checks in, for whoever composes its frames.
    const DelimiterSet& delimiters() const { return check_.delimiters(); }

    // Appends a text at the end of the view; does nothing without a view or
    // for an empty text.
    void appendToView(std::string_view text);
    // Shows a received block: its first `length` bytes, cut before the first
    // NUL, as single-byte text (nothing decoded, added or replaced).
    void displayData(const std::uint8_t* data, std::uint32_t length);

    // The line shown for an event.
    static std::string_view eventText(net::ChannelEvent event);

protected:
    // FrameCheck over the whole block (in address-header mode the header
    // included), allowed to write anywhere in the watcher's read area, then
    // displayData() of what the check says to show. With an observer set, the
    // block is reported as read, with the check's verdict.
    void handleBlock(std::uint8_t* data, std::uint32_t length) override;
    // Without a view, or once the view's parent is gone: nothing. Otherwise
    // appends eventText() and posts kSocketEventMessage (code, this) to the
    // parent, the post whether or not the append got through.
    void handleEvent(net::ChannelEvent event) override;

private:
    ViewWindow* view_ = nullptr;
    FrameCheck check_;
    std::vector<std::uint8_t> readCopy_; // the block as read, for the observer
};

} // namespace protocol
