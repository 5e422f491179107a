#include "target.h"

namespace check
{

std::string Target::label() const
{
    // Port 0: a device known by its address alone or by its id (one
    // expected to call in that did not).
    return port == 0 ? host : host + ':' + std::to_string(port);
}

} // namespace check
