#pragma once

#include "socket/hostlookup.h"
#include "socket/socketaddress.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The far end of UDP traffic in tests and benchmarks: an unconnected socket
// bound to 127.0.0.1 on a port the system picks. It hears datagrams,
// remembering who sent the last one, and sends to that sender or to a given
// address, but only ever on the loopback network. One thread at a time uses
// it; every wait has a deadline.
class LoopbackUdpPeer
{
public:
    // Binds at once; check bound().
    LoopbackUdpPeer();
    ~LoopbackUdpPeer();
    LoopbackUdpPeer(const LoopbackUdpPeer&) = delete;
    LoopbackUdpPeer& operator=(const LoopbackUdpPeer&) = delete;

    bool bound() const { return socket_ >= 0; }
    // Where it is bound; still known after release().
    const net::SocketAddress& address() const { return address_; }
    std::uint16_t port() const;
    std::string portText() const { return std::to_string(port()); }

    // The next datagram (possibly empty) within `limit`, its sender
    // remembered. False, with `datagram` empty, when none came.
    bool receive(std::string& datagram, std::chrono::milliseconds limit);
    // The sender of the last datagram received; all zero before the first.
    const net::SocketAddress& sender() const { return sender_; }
    // The sender's port in host order; 0 before the first datagram.
    std::uint16_t senderPort() const;
    bool senderIsLoopback() const;

    // Sends one datagram (possibly empty) to `to`. False, with nothing sent,
    // when `to` is not on the loopback network.
    bool sendTo(const net::SocketAddress& to, std::string_view bytes);
    // The same to the sender of the last datagram received.
    bool sendToSender(std::string_view bytes) { return sendTo(sender_, bytes); }

    // Hands the socket over (e.g. to a channel); this object forgets it.
    net::SocketHandle release();

private:
    net::SocketHandle socket_ = net::kInvalidSocket;
    net::SocketAddress address_;
    net::SocketAddress sender_;
};
