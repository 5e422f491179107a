#include "tlsoptions.h"

#include "tls/certificateinfo.h"
#include "tls/trustpolicy.h"

#include <array>

namespace devicetools
{

namespace
{

constexpr std::array<std::string_view, 6> kOptions{"--tls",      "--ca",   "--pin",
                                                   "--insecure", "--cert", "--key"};

constexpr std::string_view kUsage =
    R"(  --tls             speak TLS with the device (TCP only)
  --ca FILE         also trust the certificate authorities in FILE (PEM)
  --pin FINGERPRINT accept the device whose certificate has this SHA-256
                    fingerprint ("SHA256:AB:CD:..."), and no other
  --insecure        accept any certificate (its fingerprint is still shown)
  --cert FILE       a client certificate (PEM) for devices that require one,
                    or alone a PKCS#12 bundle without a password
  --key FILE        its private key (PEM, not encrypted)
)";

} // namespace

bool TlsOptions::isOption(std::string_view option)
{
    for (const std::string_view ours : kOptions)
        if (option == ours)
            return true;
    return false;
}

base::Error TlsOptions::take(std::string_view option, CommandLine& line)
{
    if (option == "--tls") {
        on = true;
        return line.noValue();
    }
    if (option == "--insecure") {
        insecure = true;
        return line.noValue();
    }
    base::Result<std::string> value = line.value();
    if (!value)
        return value.error();
    if (option == "--ca") {
        caFile = *value;
    } else if (option == "--cert") {
        certificateFile = *value;
    } else if (option == "--key") {
        keyFile = *value;
    } else if (option == "--pin") {
        pin = tls::CertificateInfo::normalFingerprint(*value);
        if (pin.empty())
            return badArgument("--pin takes a SHA-256 fingerprint (64 hex digits, colons "
                               "optional), not \"" +
                               *value + '"');
    }
    return {};
}

base::Error TlsOptions::complete() const
{
    if (certificateFile.empty() && !keyFile.empty())
        return badArgument("--key needs --cert");
    if (!on && (!caFile.empty() || !pin.empty() || insecure || !certificateFile.empty()))
        return badArgument("--ca, --pin, --insecure, --cert and --key need --tls");
    return {};
}

base::Result<std::shared_ptr<tls::TlsContext>> TlsOptions::clientContext() const
{
    tls::ContextSettings settings;
    settings.caFile = caFile;
    if (!certificateFile.empty()) {
        base::Result<tls::Credentials> own = keyFile.empty()
                                                 ? tls::Credentials::loadPkcs12(certificateFile, "")
                                                 : tls::Credentials::load(certificateFile, keyFile);
        if (!own)
            return own.error();
        settings.own = std::move(*own);
    }
    return tls::TlsContext::make(settings);
}

base::Error TlsOptions::judge(const tls::TlsSession& session, const std::string& devicePin) const
{
    const std::string& chosen = devicePin.empty() ? pin : devicePin;
    const tls::TrustDecision decision = tls::decideTrust(
        session.peer(), chosen.empty() ? std::nullopt : std::optional<std::string>(chosen));
    if (decision.accepted() || (insecure && decision.trust != tls::Trust::Changed))
        return {};
    return base::Error::input(base::Fault::Untrusted, "TLS", decision.refusal(session.peer()));
}

std::string_view TlsOptions::usage()
{
    return kUsage;
}

} // namespace devicetools
