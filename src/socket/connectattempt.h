#pragma once

#include "base/error.h"
#include "connectedsocket.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace net
{

// What a client connect needs: the same inputs as SocketChannel::openClient.
struct ConnectRequest {
    std::optional<std::string> host;    // nullopt: the local host (as a null text)
    std::optional<std::string> service; // nullopt: no service (port 0)
    // AF_INET: the IPv4 steps (host a dotted address or a name, looked up
    // for IPv4; the socket bound to the local host's address first).
    // AF_UNSPEC: host is a name, an IPv4 or an IPv6 address (brackets
    // allowed); its addresses of both families are tried in turn, in the
    // system's order, all within the bound; no bind. The failure names the
    // real problem: a host that does not resolve (BadArgument with the
    // resolver's words), or the last address's connect failure.
    int family = 0;
    int type = 0; // SOCK_STREAM or SOCK_DGRAM (a connected datagram socket)
    // The TCP connect's bound in ms; nullopt: ConnectAttempt::connectBoundMs().
    std::optional<std::uint32_t> boundMs;
};

// How an attempt ended. `error` is none when connected (`socket` holds the
// connected socket); else Fault::TimedOut (the TCP connect did not finish
// within the bound, ETIMEDOUT), Fault::Cancelled (cancel() ended it: the
// operator gave the connect up, ECANCELED), or the failed step's errno
// (AF_UNSPEC: also BadArgument for a host that does not resolve). A socket
// left in it is closed with it.
struct ConnectOutcome {
    ConnectedSocket socket;
    base::Error error = connectFailed();
    std::chrono::milliseconds elapsed{}; // from the start to the end of the attempt

    bool connected() const { return error.ok(); }

    // The connect's own ends, told in the system's words.
    static base::Error connectTimedOut() { return base::Error(base::Fault::TimedOut, ETIMEDOUT); }
    static base::Error connectCancelled() { return base::Error(base::Fault::Cancelled, ECANCELED); }
    // An attempt that has not ended yet counts as failed.
    static base::Error connectFailed() { return base::Error(base::Fault::System); }
};

// One client connect - look-up, socket, bind, connect - run on a thread of its
// own, so that the thread that asked stays free.
//
// Threads. The owner (e.g. the console's UI thread) calls every member; the
// steps run on the attempt's thread. The completion callback runs on the
// attempt's thread, once, right after the outcome is ready: the owner must
// hand it over to its own thread (e.g. a queued call) and must not call into
// the attempt from inside it. It never runs after cancel() has returned.
//
// The socket belongs to the attempt until take() hands it over; a cancelled
// attempt closes it, and so does an attempt destroyed with its outcome untaken.
// cancel() ends a pending connect within a few milliseconds: the connect waits
// on the socket and on a cancel descriptor at once. A host-name look-up cannot
// be cut short; cancel() does not wait for it, and the thread ends by itself
// when the look-up returns, closing what it made.
class ConnectAttempt
{
public:
    using DoneCallback = std::function<void()>;

    // The bound of a TCP connect, unless a test has shortened it.
    static constexpr std::uint32_t kDefaultConnectBoundMs = 20000;
    // How long cancel() waits for the thread before leaving it to end alone.
    static constexpr std::chrono::milliseconds kCancelGrace{100};

    explicit ConnectAttempt(ConnectRequest request);
    // Cancels a pending attempt.
    ~ConnectAttempt();
    ConnectAttempt(const ConnectAttempt&) = delete;
    ConnectAttempt& operator=(const ConnectAttempt&) = delete;

    // Starts the thread. False when started before, or when no thread can be
    // made: the outcome then holds that error, and `onDone` is not called.
    bool start(DoneCallback onDone = {});
    // Ends the attempt: a pending connect stops, its socket is closed, and the
    // outcome becomes Cancelled unless it was taken already. Idempotent.
    void cancel();

    bool finished() const;
    // Waits at most `limit` for the outcome; true once it is there.
    bool waitFinished(std::chrono::milliseconds limit) const;
    // The outcome, once finished (else nullopt); later calls give nullopt.
    std::optional<ConnectOutcome> take();

    // The same steps on the calling thread, without a way to cancel them; a
    // failure also becomes the thread's last-error code. This is what
    // SocketChannel::openClient does.
    static ConnectOutcome connectNow(const ConnectRequest& request);

    // The address a client socket binds to: `local` as it stands, except that
    // its address becomes the wildcard address when it is a loopback address
    // (127.0.0.0/8) and `server`'s is not, since a socket bound to a loopback
    // address can reach no other host, or when it is 255.255.255.255 (the
    // local host's name did not resolve), which no socket can be bound to.
    static SocketAddress clientBindAddress(const SocketAddress& local, const SocketAddress& server);

    // The TCP connect bound in force: kDefaultConnectBoundMs unless shortened.
    static std::uint32_t connectBoundMs();
    // For tests only (not a user setting): shortens the bound for every later
    // attempt and openClient(); 0 restores the default.
    static void setConnectBoundForTesting(std::uint32_t boundMs);

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
    bool started_ = false;
};

} // namespace net
