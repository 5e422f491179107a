#pragma once

#include "endpoint.h"
#include "hostlookup.h"
#include "socketaddress.h"

namespace net
{

// A connected socket and its own address, owned: the descriptor is closed when
// the object is destroyed or reset while it still holds it, so a socket that
// nobody takes is never leaked. Move-only; one thread at a time uses it.
class ConnectedSocket
{
public:
    ConnectedSocket() = default;
    // Takes ownership of `socket` (kInvalidSocket: holds nothing).
    ConnectedSocket(SocketHandle socket, const SocketAddress& local);
    // The same with the own address in either family: local() holds it when
    // it is IPv4 and stays empty for IPv6.
    static ConnectedSocket ofAnyFamily(SocketHandle socket, const Endpoint& local);
    ~ConnectedSocket();
    ConnectedSocket(ConnectedSocket&& other) noexcept;
    ConnectedSocket& operator=(ConnectedSocket&& other) noexcept;
    ConnectedSocket(const ConnectedSocket&) = delete;
    ConnectedSocket& operator=(const ConnectedSocket&) = delete;

    bool valid() const { return socket_ != kInvalidSocket; }
    SocketHandle handle() const { return socket_; }
    // The socket's own address and port as the system bound it.
    const SocketAddress& local() const { return local_; }
    // The same in either family; empty when not known.
    const Endpoint& localEndpoint() const { return localEndpoint_; }

    // Hands the descriptor over; the object holds nothing afterwards.
    SocketHandle release();
    // Closes a descriptor still held.
    void reset();

private:
    SocketHandle socket_ = kInvalidSocket;
    SocketAddress local_;
    Endpoint localEndpoint_;
};

} // namespace net
