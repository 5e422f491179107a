#pragma once

#include <string>
#include <vector>

namespace app
{

// The machine's own IPv4 addresses, numeric ("127.0.0.1", "10.0.0.5"), each
// once, in the system's order; empty when the system cannot list them. Any
// thread.
std::vector<std::string> localAddresses();

} // namespace app
