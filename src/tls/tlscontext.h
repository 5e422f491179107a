#pragma once

#include "credentials.h"

#include "base/error.h"

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace tls
{

enum class Role { Client, Server };

// What a context is made from.
struct ContextSettings {
    Role role = Role::Client;
    // Server: the certificate shown to clients (required). Client: a client
    // certificate for devices that require one (optional).
    Credentials own;
    // Trust anchors (PEM file) besides the system's, e.g. a site's own
    // authority; empty: none.
    std::string caFile;
    // Also trust the system's authorities (clients; the default).
    bool systemTrust = true;
    // Server: ask each client for a certificate and refuse one without a
    // certificate that the trust anchors vouch for.
    bool requireClientCertificate = false;
    // Server: ask each client for a certificate but take the client with any
    // or none; the session's peer() tells what it showed.
    bool askClientCertificate = false;
};

// The settings that many sessions share (OpenSSL's SSL_CTX): role, own
// certificate, trust anchors; TLS 1.2 at least. Made once per program or
// listener and shared by its sessions (shared_ptr); immutable once made, so
// sessions on any thread may use it.
class TlsContext
{
public:
    // The failure (BadInput for a certificate or key that cannot be used,
    // with the library's reason; the file's error for a CA file) or the
    // context.
    [[nodiscard]] static base::Result<std::shared_ptr<TlsContext>>
    make(const ContextSettings& settings);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    Role role() const { return role_; }
    bool requiresClientCertificate() const { return requireClientCertificate_; }
    SSL_CTX* native() const { return context_; }

private:
    TlsContext(SSL_CTX* context, Role role, bool requireClientCertificate)
        : context_(context), role_(role), requireClientCertificate_(requireClientCertificate)
    {
    }

    SSL_CTX* context_;
    Role role_;
    bool requireClientCertificate_;
};

// The library's newest error as text ("certificate verify failed"), taken off
// its queue (the whole queue is cleared); `fallback` when it holds none.
std::string takeLibraryError(const std::string& fallback);

} // namespace tls
