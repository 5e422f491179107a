#pragma once

#include "base/error.h"
#include "socket/connectattempt.h"
#include "tls/tlscontext.h"
#include "tls/tlssession.h"

#include <chrono>
#include <memory>
#include <string>

namespace app
{

// How the console's connection is to be secured (TlsSettings::request() makes
// one from the settings). A value.
struct TlsRequest {
    std::shared_ptr<tls::TlsContext> context; // client role
    // What the certificate must name: the host name or address connected to.
    std::string peerName;
    // The device's key in the known-devices file: "host:port", "[v6]:port".
    std::string device;
    std::string knownDevicesPath;
    // The session's key log lines, only when the user asked for them.
    tls::TlsSession::KeyLogSink keyLog;
    // Why TLS cannot be set up (a client certificate that cannot be read):
    // the connect then ends with it at once.
    base::Error problem;
    // The handshake's bound, as long as a connect's by default.
    std::chrono::milliseconds handshakeLimit{net::ConnectAttempt::kDefaultConnectBoundMs};
};

} // namespace app
