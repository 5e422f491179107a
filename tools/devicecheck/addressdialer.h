#pragma once

#include "base/error.h"
#include "socket/connectedsocket.h"
#include "socket/endpoint.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace devicetools
{

// Connects to the first of a target's addresses that takes the connect,
// trying them in order: for each a non-blocking socket of `type`
// (SOCK_STREAM or SOCK_DGRAM) and its connect, done at once or in progress.
// A connect in progress is finished by the event loop's report on its socket
// (answer()); one that failed goes on with next().
//
// Results: next() gives the socket of the next address whose connect went
// on, or nothing once none is left (lastError() then says why the last one
// failed). The sockets handed out are the caller's.
//
// Threads: one at a time. The time bound is the caller's.
class AddressDialer
{
public:
    struct Attempt {
        net::ConnectedSocket socket;
        bool connected = false; // else in progress
    };

    AddressDialer(std::vector<net::Endpoint> addresses, int type);

    std::optional<Attempt> next();
    // The loop reported `ready` on `fd`, whose connect was in progress: ok
    // when it connected, else the failure (also kept as lastError()).
    base::Error answer(int fd, std::uint32_t ready);
    // The address of the last attempt; after next() gave one.
    const net::Endpoint& current() const { return addresses_[next_ - 1]; }
    const base::Error& lastError() const { return lastError_; }

private:
    std::vector<net::Endpoint> addresses_;
    int type_;
    std::size_t next_ = 0; // of addresses_, to try next
    base::Error lastError_;
};

} // namespace devicetools
