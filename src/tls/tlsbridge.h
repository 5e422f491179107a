#pragma once

#include "tlsstream.h"

#include "base/error.h"
#include "socket/eventloop.h"
#include "socket/loopstream.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tls
{

// Ends TLS for a consumer that reads and writes plaintext as from any
// socket: a TlsStream on the device's connection on one side, one end of a
// local stream pair (AF_UNIX) on the other. The other end is the consumer's
// (the console's channel, the host's device list), which never learns of TLS.
//
// Steps. start() runs the handshake, bounded by Settings::handshakeLimit; its
// end is told to the Secured handler, with the session (peer check, version,
// cipher). The consumer decides whether to trust the peer, for as long as it
// takes (asking the operator), then calls open(), which makes the pair and
// hands over the consumer's end; or close(). Plaintext the device sends
// meanwhile waits (reads pause beyond half the output bound).
//
// Flow. Once open, bytes flow both ways; each side stops reading while the
// other side's output holds more than half its bound, and resumes when that
// has gone out, so a fast sender waits in its own buffers and nothing is
// dropped.
//
// Ends. The consumer closing its end sends the session's close to the device;
// the device closing (or the connection failing) shuts the pair down for
// writing once everything it sent is there, so the consumer reads all of it
// and then the end of the stream. The Ended handler is told once, when both
// sides are done, with the first reason (PeerClosed for an orderly end from
// either side, TimedOut, TlsFailed, the transport's failure); the owner may
// destroy the bridge from it. close() ends everything without telling it.
//
// Threads: the loop's thread only; handlers run there.
class TlsBridge
{
public:
    struct Settings {
        std::shared_ptr<TlsContext> context;
        // Client: the name or address the certificate must name (empty: none).
        std::string peerName;
        net::LoopStream::Limits limits;
        net::EventLoop::Millis handshakeLimit{10000};
        // The session's key log lines (only when the user asked for them).
        TlsSession::KeyLogSink keyLog;
    };
    using Secured = std::function<void(const TlsSession& session)>;
    using Ended = std::function<void(const base::Error& why)>;

    // Takes the connected socket `fd` (closed by the bridge).
    TlsBridge(net::EventLoop& loop, int fd, Settings settings);
    ~TlsBridge();
    TlsBridge(const TlsBridge&) = delete;
    TlsBridge& operator=(const TlsBridge&) = delete;

    // Starts the handshake. The failure when the loop refuses the socket.
    [[nodiscard]] base::Error start(Secured onSecured, Ended onEnded);
    // After Secured: the consumer's end of the pair (blocking, close-on-exec,
    // now the caller's), or why there is none (the device has gone, the
    // pair could not be made: the bridge then ends as told).
    [[nodiscard]] base::Result<int> open();
    // Ends both sides now, without telling the Ended handler.
    void close();

    bool secured() const { return secured_; }
    const TlsSession& session() const { return stream_.session(); }
    const net::Endpoint& peer() const { return peer_; }

private:
    void fromDevice(std::string_view plain);
    void fromConsumer(std::string_view plain);
    void deviceEnded(const base::Error& why);
    void consumerEnded(const base::Error& why);
    void endIfDone();
    void note(const base::Error& why);

    net::EventLoop& loop_;
    Settings settings_;
    net::Endpoint peer_;
    TlsStream stream_;
    std::unique_ptr<net::LoopStream> plain_;
    // What the device sent before open().
    std::string held_;
    Ended onEnded_;
    std::optional<base::Error> why_;
    bool secured_ = false;
    bool deviceDone_ = false;
    bool consumerDone_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tls
