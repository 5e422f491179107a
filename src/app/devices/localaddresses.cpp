#include "localaddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>

namespace app
{

std::vector<std::string> localAddresses()
{
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr)
            continue;
        const int family = entry->ifa_addr->sa_family;
        char text[INET6_ADDRSTRLEN] = {};
        if (family == AF_INET) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr)
                continue;
        } else if (family == AF_INET6) {
            const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            // A link-local address needs its interface to be listened on:
            // the window offers the addresses that stand on their own.
            if (IN6_IS_ADDR_LINKLOCAL(&address->sin6_addr) ||
                ::inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text) == nullptr)
                continue;
        } else {
            continue;
        }
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
            addresses.emplace_back(text);
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace app
