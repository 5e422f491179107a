#include "consolesettings.h"

#include "protocol/delimiterset.h"
#include "protocol/framedefaults.h"
#include "socket/hostlookup.h"

namespace app
{

std::string ConsoleSettings::port()
{
    std::string port = store_.readText(protocol::kParamsSection, kPortKey, kAbsentPort);
    if (port == kAbsentPort) {
        port = std::string(protocol::kDefaultPortText);
        store_.writeText(protocol::kParamsSection, kPortKey, port);
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
    return store_.readText(protocol::kParamsSection, kServerAddressKey,
                           protocol::kDefaultServerAddress);
}

std::int32_t ConsoleSettings::releaseFlag()
{
    return store_.readInt(protocol::kParamsSection, protocol::kReleaseKey, kDefaultReleaseFlag);
}

void ConsoleSettings::storePort(std::string_view port)
{
    store_.writeText(protocol::kParamsSection, kPortKey, port);
}

void ConsoleSettings::storeServerAddress(std::string_view address)
{
    store_.writeText(protocol::kParamsSection, kServerAddressKey, address);
}

void ConsoleSettings::switchMode(std::string_view modeText)
{
    protocol::DelimiterSet::instance().switchDelimiterMode(modeText, store_);
}

} // namespace app
