#pragma once

#include "devicerow.h"

#include "base/error.h"
#include "socket/endpoint.h"
#include "socket/eventloop.h"
#include "socket/loopstream.h"
#include "tls/tlsbridge.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <unordered_map>

namespace host
{

// Ends TLS for the TCP devices that call in on a listener with TLS, so that
// the host serves them as plain connections: each accepted connection goes
// into a tls::TlsBridge (server role); once its handshake is done, the
// consumer's end of the bridge (an AF_UNIX stream socket) goes to the
// Secured handler with the device's TCP address and the session's facts, as
// an accepted connection would.
//
// Bounds. At most Settings::maxHandshakes handshakes run at once; while that
// many run, Room(false) asks the owner to stop accepting (connections wait
// in the listen backlog) and Room(true) to take it up again, so a flood of
// connections that never finish their handshake holds a bounded number of
// descriptors and never delays the devices already served. Each handshake
// ends within Settings::handshakeLimit; one that fails or runs out is closed
// and its reason goes to the Failed handler (`secured` false). A device
// handed on whose connection fails later (not its orderly close) is told
// there too (`secured` true): its consumer sees only the end of the stream.
//
// A bridge lives until both its sides have ended: the device's (it closed or
// failed) and the consumer's (the host or the console closed its end).
//
// Threads: the loop's thread only; handlers run there and may call take()
// and closeHandshakes(), never destroy the intake.
class SecureIntake
{
public:
    static constexpr std::size_t kMaxHandshakes = 32;
    static constexpr net::EventLoop::Millis kHandshakeLimit{10000};

    struct Settings {
        net::LoopStream::Limits limits;
        std::size_t maxHandshakes = kMaxHandshakes;
        net::EventLoop::Millis handshakeLimit = kHandshakeLimit;
    };
    // The consumer's end (now the handler's), the device's address, its session.
    using Secured = std::function<void(int fd, const net::Endpoint& peer, const TlsFacts& tls)>;
    using Failed =
        std::function<void(const net::Endpoint& peer, const base::Error& why, bool secured)>;
    using Room = std::function<void(bool accept)>;

    SecureIntake(net::EventLoop& loop, Settings settings, Secured onSecured, Failed onFailed,
                 Room onRoom);
    // Closes every bridge: the devices' connections end.
    ~SecureIntake();
    SecureIntake(const SecureIntake&) = delete;
    SecureIntake& operator=(const SecureIntake&) = delete;

    // Takes an accepted TCP connection (closed by the intake) and starts its
    // handshake with `context` (server role).
    void take(int fd, const net::Endpoint& peer, std::shared_ptr<tls::TlsContext> context);
    // Closes the connections still in their handshake (the listener went);
    // bridges already handed on stay.
    void closeHandshakes();

    std::size_t handshaking() const { return handshaking_; }
    std::size_t bridges() const { return bridges_.size(); }

private:
    struct Bridge {
        std::unique_ptr<tls::TlsBridge> bridge;
        net::Endpoint peer;
        bool handedOn = false;
    };

    void secured(std::uint64_t key, const tls::TlsSession& session);
    void ended(std::uint64_t key, const base::Error& why);
    void handshakeOver();

    net::EventLoop& loop_;
    Settings settings_;
    Secured onSecured_;
    Failed onFailed_;
    Room onRoom_;
    std::uint64_t nextKey_ = 1;
    std::unordered_map<std::uint64_t, Bridge> bridges_;
    std::size_t handshaking_ = 0;
    bool full_ = false;
};

} // namespace host
