#pragma once

#include "firstframe.h"
#include "securelink.h"

#include "socket/endpoint.h"
#include "socket/eventloop.h"
#include "socket/streamlistener.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace devicetools
{

// The devices that call in, as they come: accepts TCP connections on a
// listening socket, or takes UDP peers (a peer address that sent a datagram
// to the listening socket), and, when devices are known by id, reads each
// one's first frame before handing it over. Sans check: what becomes of a
// caller is its owner's (see ListenRunner).
//
// Handed over (arrived): a caller with its peer, its id (when read), the
// bytes read so far, and for TCP its connected socket, owned by the receiver
// from then on. A UDP caller's later datagrams go to its owner through
// `datagram` by its serial; forget() ends that (its later datagrams are
// ignored). A caller whose id did not come within the time, or that closed
// first, or sent kMaxBytes without a frame, is told through `unidentified`
// and closed.
//
// TLS (TCP, with useTls()): each caller's handshake is done here, before its
// first frame is read and before it is handed over with its SecureLink (the
// early bytes are plaintext then). A caller whose handshake fails (e.g. a
// client certificate the authority does not vouch for) or does not end
// within the time is told through `unidentified` and closed.
//
// Bounds: at most kMaxPending callers wait for their first frame or their
// handshake at once (the rest are closed or ignored), at most kMaxPeers UDP
// peers are remembered, and at most kMaxHandshakes handshakes are in
// progress: further callers wait accepted, not read, until one ends, so that
// a flood of handshakes cannot take the loop from the devices under check.
//
// Threads: the loop's only. A handler may call close() and forget().
class CallIntake
{
public:
    static constexpr std::size_t kMaxPending = 10000;
    static constexpr std::size_t kMaxPeers = 200000;
    static constexpr std::size_t kMaxHandshakes = 32;

    struct Caller {
        std::uint64_t serial = 0;
        int fd = -1; // TCP: the accepted socket
        net::Endpoint peer;
        std::string id; // empty: not read (devices known by address)
        std::string early;
        std::unique_ptr<SecureLink> link; // TLS: the session, its handshake done
    };
    using Arrived = std::function<void(Caller caller)>;
    using Datagram = std::function<void(std::uint64_t serial, std::string_view bytes)>;
    using Unidentified = std::function<void(const net::Endpoint& peer, std::string reason)>;

    struct Handlers {
        Arrived arrived;
        Datagram datagram;
        Unidentified unidentified;
    };

    // Takes the socket `fd`: listening (TCP) or bound (UDP); closes it when
    // destroyed (UDP: after its sessions, which answer through it, are gone).
    // `byId`: read each caller's first frame; `identifyTime` bounds that.
    CallIntake(net::EventLoop& loop, int fd, bool udp, bool byId,
               net::EventLoop::Millis identifyTime, Handlers handlers);
    ~CallIntake();
    CallIntake(const CallIntake&) = delete;
    CallIntake& operator=(const CallIntake&) = delete;

    // A socket for `local`: listening (TCP) or bound (UDP); the system's
    // failure (naming the address) with nothing left open.
    [[nodiscard]] static base::Result<int> open(const net::Endpoint& local, bool udp);

    // Before start(): callers speak TLS (the server's context).
    void useTls(std::shared_ptr<tls::TlsContext> context) { tls_ = std::move(context); }
    [[nodiscard]] base::Error start();
    // Takes no new callers (TCP: the listening socket is closed); those
    // being identified go on. UDP datagrams still reach the callers handed over.
    void close();
    // A UDP caller handed over is done: its later datagrams are ignored.
    void forget(std::uint64_t serial);
    // Callers still being identified.
    std::size_t pending() const { return pending_.size(); }
    // The UDP socket the sessions answer through; -1 for TCP.
    int datagramSocket() const { return udp_ ? fd_ : -1; }

private:
    struct Pending {
        Caller caller;
        FirstFrame first;
        bool watched = false;
        bool handshaking = false; // started, not yet ended
        net::EventLoop::TimerId timer = 0;
    };

    void accepted(int fd, const net::Endpoint& peer);
    void datagrams();
    void datagram(const net::Endpoint& peer, std::string_view bytes);
    void identify(std::unique_ptr<Pending> pending);
    // Starts the handshakes of waiting callers while there is room.
    void startHandshakes();
    void read(std::uint64_t serial);
    // The caller's handshake went on: on to its first frame, or given up.
    void handshaken(std::uint64_t serial, std::string plain);
    // What the caller sent, as plaintext (TLS undone).
    void firstBytes(std::uint64_t serial, std::string_view bytes);
    void handOver(std::uint64_t serial);
    void giveUp(std::uint64_t serial, std::string reason);
    // Takes a caller out of those being identified, no longer watched.
    std::unique_ptr<Pending> take(std::uint64_t serial);

    net::EventLoop& loop_;
    int fd_;
    bool udp_;
    bool byId_;
    net::EventLoop::Millis identifyTime_;
    Handlers handlers_;
    std::unique_ptr<net::StreamListener> listener_;
    std::shared_ptr<tls::TlsContext> tls_;
    std::size_t handshakes_ = 0;                  // in progress
    std::deque<std::uint64_t> waitingHandshakes_; // accepted, not yet started
    bool open_ = false;
    std::uint64_t nextSerial_ = 1;
    std::unordered_map<std::uint64_t, std::unique_ptr<Pending>> pending_;
    // UDP: every peer seen, and the serial its datagrams go to (0: ignored).
    std::unordered_map<net::Endpoint, std::uint64_t, net::EndpointHash> peers_;
    std::unordered_set<std::uint64_t> handedOver_;
};

} // namespace devicetools
