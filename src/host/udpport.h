#pragma once

#include "base/error.h"
#include "socket/endpoint.h"
#include "socket/eventloop.h"

#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace host
{

// The host's UDP socket and the relays of UDP devices handed to the console.
//
// Every datagram that arrives goes to the Datagram handler with its sender's
// address, a batch a turn. A relay is a local packet pair (AF_UNIX,
// SOCK_SEQPACKET) for one device: its other end is the console's, each
// message one datagram; what the console sends goes out to the device's
// address from this socket (told to the Relayed handler), and toRelay()
// passes on what the device sent. A datagram that cannot go now (a full
// socket, a console's end that reads nothing) is dropped, as a busy network
// would drop it.
//
// Threads: the loop's thread only; handlers run there.
class UdpPort
{
public:
    using Datagram = std::function<void(const net::Endpoint& peer, std::string_view bytes)>;
    // A datagram from device `id`'s relay went out to it whole (`bytes` long).
    using Relayed = std::function<void(std::uint64_t id, std::size_t bytes)>;

    UdpPort(net::EventLoop& loop, Datagram onDatagram, Relayed onRelayed);
    ~UdpPort();
    UdpPort(const UdpPort&) = delete;
    UdpPort& operator=(const UdpPort&) = delete;

    // Binds a socket to `where` (no SO_REUSEADDR) and reads it: the address
    // bound, or the system's failure with nothing open.
    [[nodiscard]] base::Result<net::Endpoint> open(const net::Endpoint& where);
    // Closes the socket and every relay.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const net::Endpoint& local() const { return local_; }

    // One datagram to `peer`: none, or why it did not go.
    [[nodiscard]] base::Error sendTo(const net::Endpoint& peer, std::string_view bytes);

    // A relay for device `id` at `peer`: the console's end (non-blocking,
    // close-on-exec, now the caller's), or the system's failure.
    [[nodiscard]] base::Result<int> openRelay(std::uint64_t id, const net::Endpoint& peer);
    // A datagram the device sent, to the console's end.
    void toRelay(std::uint64_t id, std::string_view datagram);
    void closeRelay(std::uint64_t id);

private:
    struct Relay {
        int fd = -1;
        net::Endpoint peer;
    };

    void readable();
    void relayReadable(std::uint64_t id);

    net::EventLoop& loop_;
    Datagram onDatagram_;
    Relayed onRelayed_;
    int fd_ = -1;
    net::Endpoint local_;
    std::unordered_map<std::uint64_t, Relay> relays_;
};

} // namespace host
