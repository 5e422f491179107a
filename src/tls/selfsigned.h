#pragma once

#include "credentials.h"

#include "base/error.h"

#include <string>
#include <vector>

namespace tls
{

// Makes a self-signed certificate and its key (ECDSA P-256, SHA-256), valid
// from an hour ago for `days` days, for a program that listens with TLS and
// was given no certificate: `commonName` as its subject, `names` (host names
// or addresses) as its subject alternative names. Threads: any.
[[nodiscard]] base::Result<Credentials> makeSelfSigned(const std::string& commonName,
                                                       const std::vector<std::string>& names,
                                                       int days = 3650);

// The certificate kept in `folder` (certificate.pem, key.pem), made and
// written owner-only on first use. The failure when the folder cannot hold
// them or a file there cannot be read.
[[nodiscard]] base::Result<Credentials> ownCredentials(const std::string& folder,
                                                       const std::string& commonName);

} // namespace tls
