#pragma once

#include "socket/endpoint.h"
#include "socket/streamlistener.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

// What the benchmarks of the command-line tools share: their own options and
// a loopback port to hand a program.

// The number after `name` on the command line, or `fallback`.
inline int intOption(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    return fallback;
}

// A loopback port that was free a moment ago (0 when none could be had).
inline std::uint16_t freeLoopbackPort()
{
    const base::Result<int> fd =
        net::StreamListener::open(*net::Endpoint::fromNumeric("127.0.0.1", 0));
    if (!fd)
        return 0;
    const std::uint16_t port = net::Endpoint::localOf(*fd).port();
    ::close(*fd);
    return port;
}
