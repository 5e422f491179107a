#include "socketevent.h"

namespace app
{

SocketEvent::SocketEvent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
    : QEvent(eventType()), message(message), wParam(wParam), lParam(lParam)
{
}

QEvent::Type SocketEvent::eventType()
{
    // A function-local static is initialised once, also when threads race here.
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace app
