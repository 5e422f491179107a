#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// A UDP peer on 127.0.0.1 for channel tests: receives a datagram (which tells
// it where the channel is) and answers to that sender, never to any other
// address. One thread (the test's) uses it.
class LoopbackUdpPeer
{
public:
    LoopbackUdpPeer();
    ~LoopbackUdpPeer();
    LoopbackUdpPeer(const LoopbackUdpPeer&) = delete;
    LoopbackUdpPeer& operator=(const LoopbackUdpPeer&) = delete;

    bool bound() const { return socket_ >= 0; }
    std::string portText() const { return std::to_string(port_); }

    // Waits at most `limit` for a datagram and remembers its sender. Empty
    // result and false when none came.
    bool receive(std::string& datagram, std::chrono::milliseconds limit);
    // True when the remembered sender is on the loopback network.
    bool senderIsLoopback() const;
    // Sends one datagram (possibly empty) to the remembered sender.
    bool sendToSender(std::string_view bytes);

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
    sockaddr_in sender_{};
    bool haveSender_ = false;
};
