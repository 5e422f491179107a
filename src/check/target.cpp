#include "target.h"

namespace check
{

std::string Target::label() const
{
    // Port 0: a device known by its address alone or by its id (one
    // expected to call in that did not).
    if (port == 0) {
        return host;
    }
    // An IPv6 address's colons would run into the port's.
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? '[' + host + ']' : host) + ':' + std::to_string(port);
}

} // namespace check
