#pragma once

#include "tlssession.h"

#include "socket/eventloop.h"
#include "socket/loopstream.h"

#include "base/error.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tls
{

// A TLS session over one connected stream on an EventLoop: the session
// (sans-I/O) fed by a net::LoopStream, so every program that serves or
// checks devices on the loop speaks TLS with the same code.
//
// The handshake must end within the handshake limit (else TimedOut); then
// the secure handler is told and decides (its failure, e.g. Untrusted, ends
// the stream); from then on plaintext flows through send() and the read
// handler. The close handler is told once: PeerClosed (the peer's close or
// end of stream), TimedOut, the session's TlsFailed or the transport's
// failure. Bounds are the transport's: what waits to go out is ciphertext,
// at most Limits::maxQueuedBytes.
//
// Threads: the loop's thread only. Handlers may destroy the stream.
class TlsStream
{
public:
    using SecureHandler = std::function<base::Error(const TlsSession& session)>;
    using ReadHandler = net::LoopStream::ReadHandler;
    using CloseHandler = net::LoopStream::CloseHandler;

    TlsStream(net::EventLoop& loop, int fd, std::shared_ptr<TlsContext> context,
              std::string peerName, net::LoopStream::Limits limits,
              net::EventLoop::Millis handshakeLimit);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Starts the handshake (a client sends its first flight).
    [[nodiscard]] base::Error start(SecureHandler onSecure, ReadHandler onRead,
                                    CloseHandler onClose);
    // Plaintext; before the handshake's end it waits for it.
    [[nodiscard]] base::Error send(std::string_view plain);
    // Sends the session's close, then ends the stream once it has gone.
    void finish();
    void close();

    bool secure() const { return secure_; }
    TlsSession& session() { return session_; }
    const TlsSession& session() const { return session_; }
    net::LoopStream& transport() { return transport_; }

private:
    void onBytes(std::string_view cipher);
    void pushOutput();
    void end(const base::Error& why);

    net::EventLoop& loop_;
    TlsSession session_;
    net::LoopStream transport_;
    net::LoopStream::Limits limits_;
    net::EventLoop::Millis handshakeLimit_;
    // Plaintext sent before the peer was accepted.
    std::string waiting_;
    net::EventLoop::TimerId handshakeTimer_ = 0;
    SecureHandler onSecure_;
    ReadHandler onRead_;
    CloseHandler onClose_;
    bool secure_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tls
