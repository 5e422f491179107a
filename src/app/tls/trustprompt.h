#pragma once

#include "tls/tlssession.h"

#include <QDialog>

#include <string>

namespace app
{

// Asks the operator whether to trust a device's certificate that no trusted
// authority vouches for (most devices carry a self-signed one): shows the
// device, why the certificate is not trusted, its subject, issuer, validity
// and SHA-256 fingerprint (selectable, to compare with the device's own
// display), and offers "Trust and remember" (accept(): the caller pins it)
// or "Refuse" (reject(), also Escape and closing the window).
//
// Not modal, so that the console's Disconnect still gives the connect up
// (the caller then closes it). UI thread only.
class TrustPrompt : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char* kObjectName = "trustPrompt";

    TrustPrompt(const std::string& device, const tls::PeerCheck& peer, QWidget* parent);
};

} // namespace app
