#pragma once

#include "certificateinfo.h"
#include "tlscontext.h"

#include "base/error.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

typedef struct ssl_st SSL;

namespace tls
{

// What the trusted authorities say of the peer's certificate, read once the
// handshake is done.
struct PeerCheck {
    bool presented = false; // the peer showed a certificate
    // The chain leads to a trusted authority, is valid now and names the
    // host name or address the client asked for.
    bool trusted = false;
    // Why it is not trusted ("self-signed certificate", "certificate has
    // expired", "hostname mismatch", ...); empty when trusted.
    std::string problem;
    CertificateInfo certificate;
};

// One TLS session, without I/O: fed the bytes that came from the wire, it
// says which bytes go on the wire and which plaintext came in, so an event
// loop, a watcher thread or a test drives the same code over its own socket
// or none (OpenSSL on memory buffers).
//
// Client: start() puts the first handshake flight into output(); the peer
// name (a host name, sent as SNI, or an address) is what the certificate must
// name. Server: the client's first flight starts it.
//
// States: Handshaking until the handshake ends, then Open (peer() says what
// the certificate is worth; plaintext flows), Closed when the peer sent its
// close (close_notify), Failed with failure() (TlsFailed, the library's
// reason). Plaintext given before the handshake ends waits and goes out with
// its end.
//
// Key log: with a sink set, every secret the session makes is handed to it
// as one line of the NSS key log format ("CLIENT_RANDOM ..." or the TLS 1.3
// lines), for a capture to be decrypted later. Only when asked.
//
// Threads: one at a time (the owner's).
class TlsSession
{
public:
    enum class State { Handshaking, Open, Closed, Failed };
    using KeyLogSink = std::function<void(const std::string& line)>;

    // `peerName`: client only (empty: no name is checked).
    TlsSession(std::shared_ptr<TlsContext> context, std::string peerName = {});
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    void setKeyLog(KeyLogSink sink) { keyLog_ = std::move(sink); }

    // Client: starts the handshake. Server: nothing (the client starts).
    void start();
    // Bytes that came from the wire.
    void receive(std::string_view bytes);
    // Plaintext to send: encrypted now when the session is Open, else kept
    // for the handshake's end. PeerClosed when Closed, the failure when Failed.
    [[nodiscard]] base::Error send(std::string_view plain);
    // Ends the session in order: its close goes into output().
    void close();

    // What goes on the wire now (taken: a second call gives only what is new).
    std::string takeOutput();
    // The plaintext that came in (taken).
    std::string takeReceived();

    State state() const { return state_; }
    const base::Error& failure() const { return failure_; }
    // Once Open (or Closed after being Open).
    const PeerCheck& peer() const { return peer_; }
    // "TLSv1.3", "TLS_AES_256_GCM_SHA384"; empty before the handshake's end.
    std::string version() const;
    std::string cipher() const;

    // OpenSSL's key log callback for every context (see TlsContext).
    static void keyLogHook(const SSL* ssl, const char* line);

private:
    void advance();
    void finishHandshake();
    void readPlain();
    void writePending();
    // After an OpenSSL call returned `result`: false when the session ended.
    bool settle(int result);
    void fail(std::string reason);

    std::shared_ptr<TlsContext> context_;
    SSL* ssl_ = nullptr;
    State state_ = State::Handshaking;
    base::Error failure_;
    PeerCheck peer_;
    std::string pendingPlain_;
    std::string received_;
    KeyLogSink keyLog_;
};

} // namespace tls
