#pragma once

#include <QEvent>

#include <cstdint>

namespace app
{

// A connection event of the message-view channel, delivered to the console
// window on its own thread (see QtViewWindow::postToParent). It carries the
// channel's message number and both parameters unchanged: for the console's
// channel `wParam` is the event code and `lParam` the channel's address.
class SocketEvent : public QEvent
{
public:
    SocketEvent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    // The event's type, registered with Qt once per process on first use. Safe
    // to call from any thread.
    static QEvent::Type eventType();

    const std::uint32_t message;
    const std::uintptr_t wParam;
    const std::intptr_t lParam;
};

} // namespace app
