#include "target.h"

namespace check
{

std::string Target::label() const
{
    return host + ':' + std::to_string(port);
}

} // namespace check
