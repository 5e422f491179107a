#include "devicerow.h"

namespace host
{

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
