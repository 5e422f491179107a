#pragma once

#include "tlsoptions.h"

#include "base/error.h"
#include "tls/tlscontext.h"
#include "tls/tlssession.h"

#include <memory>
#include <string>
#include <string_view>

namespace devicetools
{

// TLS for the devices dialled: the context every session shares and the
// options that judge each device's certificate. Made once per run.
struct DialTls {
    std::shared_ptr<tls::TlsContext> context;
    TlsOptions options;
};

// The TLS layer of one device's connection on the event loop: a
// tls::TlsSession between a non-blocking socket and the check, and the
// encrypted bytes that still wait for room in the socket. The check sees
// plaintext only; the socket carries only what the session says.
//
// Threads: the loop's only. Does not own the socket.
class SecureLink
{
public:
    explicit SecureLink(std::unique_ptr<tls::TlsSession> session) : session_(std::move(session)) {}

    // Client: starts the handshake (its first flight waits for flush()).
    void start();
    // Bytes read from the socket: the plaintext they carried.
    std::string receive(std::string_view cipher);
    // Plaintext to send: encrypted into what flush() writes.
    [[nodiscard]] base::Error send(std::string_view plain);
    // Writes what waits, as far as the socket takes it: the system's failure,
    // else ok (also when some still waits: wantsWrite()).
    [[nodiscard]] base::Error flush(int fd);
    bool wantsWrite() const { return written_ < output_.size(); }

    tls::TlsSession& session() { return *session_; }
    const tls::TlsSession& session() const { return *session_; }
    // For the record at the handshake's end: "TLS TLSv1.3, cipher
    // TLS_AES_256_GCM_SHA384, peer certificate SHA256:AB:..." ("no peer
    // certificate" when none was shown).
    std::string description() const;

private:
    void take();

    std::unique_ptr<tls::TlsSession> session_;
    std::string output_;      // encrypted, to write
    std::size_t written_ = 0; // of output_
};

} // namespace devicetools
