#include "consolesettings.h"

#include "protocol/framedefaults.h"
#include "socket/hostlookup.h"

namespace app
{

std::string ConsoleSettings::port()
{
    std::string port = store_.readText(kParamsSection, kPortKey, kAbsentPort);
    if (port == kAbsentPort) {
        port = std::string(protocol::kDefaultPortText);
        store_.writeText(kParamsSection, kPortKey, port);
    }
    return port;
}

std::string ConsoleSettings::serverAddress()
{
    char local[kLocalAddressSize] = {};
    if (!net::localDottedAddress(local, sizeof local))
        local[0] = '\0';
    // A host that knows itself only by the loopback address has no network to
    // reach a device on: the console then starts on the loopback address.
    if (std::string_view(local) == protocol::kLoopbackAddress)
        return std::string(protocol::kLoopbackAddress);
    return store_.readText(kParamsSection, kServerAddressKey, protocol::kDefaultServerAddress);
}

std::int32_t ConsoleSettings::releaseFlag()
{
    return store_.readInt(kParamsSection, kReleaseKey, kDefaultReleaseFlag);
}

void ConsoleSettings::storePort(std::string_view port)
{
    store_.writeText(kParamsSection, kPortKey, port);
}

void ConsoleSettings::storeServerAddress(std::string_view address)
{
    store_.writeText(kParamsSection, kServerAddressKey, address);
}

void ConsoleSettings::storeReleaseFlag(std::int32_t flag)
{
    store_.writeInt(kParamsSection, kReleaseKey, flag);
}

} // namespace app
