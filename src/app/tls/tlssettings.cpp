#include "tlssettings.h"

#include "app/settings/qtsettingsstore.h"

#include "tls/credentials.h"

#include <QCoreApplication>
#include <QSettings>

namespace app
{

namespace
{

const QString kConnect = QStringLiteral("Tls/Connect");
const QString kCertificate = QStringLiteral("Tls/ClientCertificate");
const QString kKey = QStringLiteral("Tls/ClientKey");
const QString kAuthorities = QStringLiteral("Tls/Authorities");

bool forced = false;

QSettings settings()
{
    return QSettings(
        QString::fromLatin1(QtSettingsStore::kOrganisation.data(),
                            static_cast<qsizetype>(QtSettingsStore::kOrganisation.size())),
        QCoreApplication::applicationName());
}

} // namespace

bool TlsSettings::connectWithTls() const
{
    return forced || settings().value(kConnect, false).toBool();
}

void TlsSettings::storeConnectWithTls(bool on)
{
    settings().setValue(kConnect, on);
}

QString TlsSettings::clientCertificate() const
{
    return settings().value(kCertificate).toString();
}

QString TlsSettings::clientKey() const
{
    return settings().value(kKey).toString();
}

QString TlsSettings::authorities() const
{
    return settings().value(kAuthorities).toString();
}

void TlsSettings::storeFiles(const QString& certificate, const QString& key,
                             const QString& authorities)
{
    QSettings stored = settings();
    stored.setValue(kCertificate, certificate);
    stored.setValue(kKey, key);
    stored.setValue(kAuthorities, authorities);
}

void TlsSettings::forceForThisRun(bool on)
{
    forced = on;
}

bool TlsSettings::forcedForThisRun()
{
    return forced;
}

base::Result<std::shared_ptr<tls::TlsContext>> TlsSettings::clientContext() const
{
    tls::ContextSettings context;
    context.role = tls::Role::Client;
    context.caFile = authorities().toStdString();
    const QString certificate = clientCertificate();
    const QString key = clientKey();
    if (!certificate.isEmpty() || !key.isEmpty()) {
        // A certificate without a key file is a PKCS#12 bundle.
        base::Result<tls::Credentials> own =
            tls::Credentials::load(certificate.toStdString(), key.toStdString());
        if (!own)
            return own.error();
        context.own = *own;
    }
    return tls::TlsContext::make(context);
}

std::string TlsSettings::knownDevicesPath()
{
    return (QtSettingsStore::dataFolder() + QStringLiteral("/known-devices")).toStdString();
}

TlsRequest TlsSettings::request(const std::string& host, const std::string& port,
                                tls::TlsSession::KeyLogSink keyLog) const
{
    TlsRequest tls;
    base::Result<std::shared_ptr<tls::TlsContext>> context = clientContext();
    if (context)
        tls.context = *context;
    else
        tls.problem = context.error();
    // The certificate names an IPv6 address without the brackets the record
    // and the known devices keep it in.
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    tls.peerName = bracketed ? host.substr(1, host.size() - 2) : host;
    tls.device = host + ":" + port;
    tls.knownDevicesPath = knownDevicesPath();
    tls.handshakeLimit = std::chrono::milliseconds(net::ConnectAttempt::connectBoundMs());
    tls.keyLog = std::move(keyLog);
    return tls;
}

} // namespace app
