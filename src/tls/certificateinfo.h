#pragma once

#include "base/error.h"

#include <string>
#include <string_view>

typedef struct x509_st X509;

namespace tls
{

// A certificate as a user reads it before trusting it: subject, issuer, the
// validity period (UTC, "2026-12-08 10:00:00") and the SHA-256 fingerprint
// ("SHA256:" and 32 colon-separated hex pairs, as devices print it). A value;
// any thread.
struct CertificateInfo {
    std::string subject;
    std::string issuer;
    std::string notBefore;
    std::string notAfter;
    std::string fingerprint;

    bool empty() const { return fingerprint.empty(); }
    // Of a certificate held by the TLS library.
    static CertificateInfo of(X509* certificate);
    // Of the first certificate in PEM text; BadInput when there is none.
    [[nodiscard]] static base::Result<CertificateInfo> ofPem(std::string_view pem);
    // "SHA256:AB:..." with any case and with or without the prefix and the
    // colons, as a user may type it: the canonical form, or empty when the
    // text is no SHA-256 fingerprint.
    static std::string normalFingerprint(std::string_view text);
};

} // namespace tls
