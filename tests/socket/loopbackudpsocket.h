#pragma once

#include "socket/hostlookup.h"
#include "socket/socketaddress.h"

#include <chrono>
#include <cstdint>
#include <string>

// An unconnected UDP socket on 127.0.0.1 with a port picked by the system, for
// the socket tests: a peer that sends to and hears from a channel. Used from
// the test's thread only.
class LoopbackUdpSocket
{
public:
    LoopbackUdpSocket();
    ~LoopbackUdpSocket();
    LoopbackUdpSocket(const LoopbackUdpSocket&) = delete;
    LoopbackUdpSocket& operator=(const LoopbackUdpSocket&) = delete;

    bool bound() const { return socket_ >= 0; }
    const net::SocketAddress& address() const { return address_; }
    std::string portText() const;

    // Sends one datagram (possibly empty) to `to`, which must be on 127.0.0.1.
    bool sendTo(const net::SocketAddress& to, const std::string& bytes);
    // The next datagram within `limit`; false when none came.
    bool receive(std::string& datagram, std::chrono::milliseconds limit);
    // Hands the socket over (e.g. to a channel); this object forgets it.
    net::SocketHandle release();

private:
    net::SocketHandle socket_ = net::kInvalidSocket;
    net::SocketAddress address_;
};
