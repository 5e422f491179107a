#include "listenertls.h"

#include "app/settings/qtsettingsstore.h"

#include "tls/certificateinfo.h"
#include "tls/credentials.h"
#include "tls/selfsigned.h"

#include <QDir>
#include <QFile>

namespace app
{

QString ListenerTls::ownFolder()
{
    return QtSettingsStore::dataFolder() + QStringLiteral("/tls");
}

base::Result<ListenerTls> ListenerTls::make(const ListenTls& settings)
{
    base::Result<tls::Credentials> own = base::Error(base::Fault::BadParameter);
    if (settings.certificateFile.empty() && settings.keyFile.empty()) {
        // The folder is the user's alone before the key goes into it.
        const QString folder = ownFolder();
        if (!QDir().mkpath(folder) ||
            !QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner))
            return base::Error::input(base::Fault::CannotCreateFolder, folder.toStdString(),
                                      "cannot be made owner-only");
        own = tls::ownCredentials(QFile::encodeName(folder).toStdString(), "socketclient");
    } else if (settings.certificateFile.empty() || settings.keyFile.empty()) {
        return base::Error::input(base::Fault::BadInput, "certificate",
                                  "name both the certificate and the key file");
    } else {
        own = tls::Credentials::load(settings.certificateFile, settings.keyFile);
    }
    if (!own)
        return own.error();
    tls::ContextSettings context;
    context.role = tls::Role::Server;
    context.own = *own;
    // A device's client certificate is noted, never required.
    context.askClientCertificate = true;
    context.systemTrust = false;
    base::Result<std::shared_ptr<tls::TlsContext>> made = tls::TlsContext::make(context);
    if (!made)
        return made.error();
    base::Result<tls::CertificateInfo> info = tls::CertificateInfo::ofPem(own->certificatePem);
    if (!info)
        return info.error();
    return ListenerTls{*made, info->fingerprint};
}

} // namespace app
