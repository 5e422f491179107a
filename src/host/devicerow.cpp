#include "devicerow.h"

namespace host
{

std::string TlsFacts::text() const
{
    if (!on())
        return {};
    return version + ", " + cipher + ", " +
           (clientCertificate.empty() ? std::string("no client certificate")
                                      : "client certificate " + clientCertificate);
}

std::string stateText(DeviceState state)
{
    switch (state) {
    case DeviceState::Connected:
        return "connected";
    case DeviceState::WithConsole:
        return "the console's device";
    case DeviceState::ClosedByDevice:
        return "closed by the device";
    case DeviceState::Dropped:
        return "dropped";
    case DeviceState::ClosedHere:
        return "closed here";
    }
    return {};
}

std::string transportText(Transport transport)
{
    return transport == Transport::Tcp ? "TCP" : "UDP";
}

} // namespace host
