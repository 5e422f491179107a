#pragma once

#include "tlsrequest.h"

#include "tls/tlscontext.h"
#include "tls/tlssession.h"

#include "base/error.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>

namespace app
{

// How the console secures its own connection, remembered in the section
// "Tls": Connect (TLS on the console's TCP connection), ClientCertificate and
// ClientKey (PEM files, for devices that require a client certificate; a
// certificate without a key is a PKCS#12 bundle without a password),
// Authorities (a PEM file of trust anchors besides the system's). Paths are
// kept as the user's text (not Latin-1). `--tls` switches TLS on for one run
// without storing it.
//
// UI thread only; construct it after the QApplication.
class TlsSettings
{
public:
    bool connectWithTls() const;
    void storeConnectWithTls(bool on);
    QString clientCertificate() const;
    QString clientKey() const;
    QString authorities() const;
    void storeFiles(const QString& certificate, const QString& key, const QString& authorities);

    // For this run only (--tls): the console connects with TLS whatever is stored.
    static void forceForThisRun(bool on);
    static bool forcedForThisRun();

    // The client context as the settings say: system authorities plus the
    // named ones, the client certificate when both files are named; the
    // failure names the file that cannot be used.
    [[nodiscard]] base::Result<std::shared_ptr<tls::TlsContext>> clientContext() const;

    // The pinned certificates of known devices: $XDG_DATA_HOME/Quorvel/socketclient/known-devices.
    static std::string knownDevicesPath();

    // The TLS request for the console's connect to `host`:`port` (an IPv6
    // address in brackets): the client context (or why it cannot be made, in
    // `problem`), the names to check and pin, the handshake bounded as a
    // connect is, the key log lines to `keyLog`.
    TlsRequest request(const std::string& host, const std::string& port,
                       tls::TlsSession::KeyLogSink keyLog) const;
};

} // namespace app
