#pragma once

#include "base/error.h"
#include "tls/tlscontext.h"

#include <QString>

#include <memory>
#include <string>

namespace app
{

// How the console listens on TCP: plain, or with TLS and a certificate.
struct ListenTls {
    bool on = false;
    // PEM files; both empty: the console's own certificate.
    std::string certificateFile;
    std::string keyFile;
};

// The TLS of the console's listener, ready to use: the context (server role)
// and the certificate's SHA-256 fingerprint, for the user to enter into the
// devices. A value; any thread.
struct ListenerTls {
    std::shared_ptr<tls::TlsContext> context;
    std::string fingerprint;

    // The certificate and key named, or with none named the console's own
    // (made on first use, self-signed, in ownFolder(), owner-only). The
    // library's or the file's reason when they cannot be used.
    [[nodiscard]] static base::Result<ListenerTls> make(const ListenTls& settings);
    // $XDG_DATA_HOME/Quorvel/socketclient/tls (~/.local/share/…).
    static QString ownFolder();
};

} // namespace app
