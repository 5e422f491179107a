#include "trustpolicy.h"

namespace tls
{

TrustDecision decideTrust(const PeerCheck& peer, const std::optional<std::string>& pinned)
{
    TrustDecision decision;
    if (pinned) {
        decision.pinned = CertificateInfo::normalFingerprint(*pinned);
        decision.trust = peer.presented && peer.certificate.fingerprint == decision.pinned
                             ? Trust::Pinned
                             : Trust::Changed;
        return decision;
    }
    decision.trust = peer.trusted ? Trust::Trusted : Trust::Unknown;
    return decision;
}

std::string TrustDecision::refusal(const PeerCheck& peer) const
{
    switch (trust) {
    case Trust::Trusted:
    case Trust::Pinned:
        return {};
    case Trust::Changed:
        return "the certificate has changed: pinned " + pinned + ", now " +
               (peer.presented ? peer.certificate.fingerprint : std::string("none"));
    case Trust::Unknown:
        break;
    }
    if (!peer.presented)
        return "the device showed no certificate";
    return "the certificate is not trusted (" + peer.problem + "), fingerprint " +
           peer.certificate.fingerprint;
}

} // namespace tls
