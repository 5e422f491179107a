#pragma once

#include "socket/endpoint.h"
#include "socket/eventloop.h"
#include "socket/streamlistener.h"
#include "tls/credentials.h"
#include "tls/tlsstream.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>

// A device on a loop thread of its own for tests: listens on `local` (IPv4
// or IPv6), speaks TLS when given credentials (and asks for a client
// certificate when given authorities for it), and answers every block it
// receives with one frame. Nothing to do with the simulator: a peer small
// enough to trust in tests of the programs that talk to it.
class LoopDevice
{
public:
    static constexpr std::string_view kAnswer = "[A1=ENT-OK]\r\n";

    // With `clientAuthorities` (a PEM file), TLS clients must show a
    // certificate those authorities signed.
    LoopDevice(const net::Endpoint& local, const tls::Credentials& own = {},
               const std::string& clientAuthorities = {});
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    bool listening() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    // Blocks (plaintext) received so far, over all connections.
    std::string received() const;

private:
    void accept(int fd);

    net::EventLoop loop_;
    std::shared_ptr<tls::TlsContext> context_;
    std::unique_ptr<net::StreamListener> listener_;
    std::map<int, std::unique_ptr<net::LoopStream>> plain_;
    std::map<int, std::unique_ptr<tls::TlsStream>> secure_;
    int next_ = 0;
    std::uint16_t port_ = 0;
    mutable std::mutex lock_;
    std::string received_;
    std::thread thread_;
};
