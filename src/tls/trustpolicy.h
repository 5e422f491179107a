#pragma once

#include "tlssession.h"

#include <optional>
#include <string>

namespace tls
{

// What to do with a peer's certificate once the handshake is done.
enum class Trust {
    Trusted, // a trusted authority vouches for it and it names the peer
    Pinned,  // the user accepted this very certificate before (its fingerprint is pinned)
    Unknown, // neither: show it and ask (tools refuse unless told otherwise)
    Changed, // a different certificate was pinned: refuse, showing both fingerprints
};

struct TrustDecision {
    Trust trust = Trust::Unknown;
    // The pinned fingerprint, when there is one.
    std::string pinned;

    bool accepted() const { return trust == Trust::Trusted || trust == Trust::Pinned; }
    // Why a certificate is refused, for a record, a report or a tooltip:
    // "the certificate is not trusted (self-signed certificate), fingerprint
    // SHA256:..." or "the certificate has changed: pinned SHA256:..., now
    // SHA256:...". Empty when accepted.
    std::string refusal(const PeerCheck& peer) const;
};

// A pin, when there is one, decides (the way SSH treats a known host): the
// same fingerprint is accepted, a different one refused even when an
// authority vouches for it. Without a pin, the authorities decide.
TrustDecision decideTrust(const PeerCheck& peer, const std::optional<std::string>& pinned);

} // namespace tls
