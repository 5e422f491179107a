#pragma once

#include "base/error.h"
#include "tls/tlssession.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace devicetools
{

// The TLS session of one simulator connection between its non-blocking
// socket and the device's session: the bytes read from the socket go in,
// plaintext comes out; plaintext sent is encrypted into a queue of
// ciphertext that goes out as the socket takes it. The handshake is part of
// the same flow: a client sends its first flight from the constructor on.
//
// Bounds: the caller sends only while nothing waits (wantsWrite() false), so
// the queue holds at most one answer's ciphertext besides the handshake.
//
// One thread (the connection's); the context may be shared.
class TlsLink
{
public:
    // `peerName`: a client's host name or address that the certificate must
    // name (empty: none); unused by a server.
    TlsLink(std::shared_ptr<tls::TlsContext> context, std::string peerName);

    // Takes bytes read from the socket and sends what the session answers
    // (handshake flights); the plaintext that came in.
    std::string receive(int fd, std::string_view cipher);
    // Encrypts `plain` and sends what the socket takes. The session's
    // failure, or the socket's (NoRoomNow is none: the rest waits).
    [[nodiscard]] base::Error send(int fd, std::string_view plain);
    // Sends what waits; the socket's failure (NoRoomNow is none).
    [[nodiscard]] base::Error flush(int fd);
    // The session's close_notify, sent as far as the socket takes it.
    void close(int fd);

    bool wantsWrite() const { return !waiting_.empty(); }
    bool handshaking() const { return session_.state() == tls::TlsSession::State::Handshaking; }
    // True once, for the first call after the handshake ended well.
    bool takeOpened();
    const tls::TlsSession& session() const { return session_; }

private:
    tls::TlsSession session_;
    std::string waiting_;
    // Of waiting_: the bytes already sent.
    std::size_t sent_ = 0;
    bool opened_ = false;
};

} // namespace devicetools
