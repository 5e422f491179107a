#include "consolehost.h"

#include "socket/openfilelimit.h"

#include <QMetaObject>
#include <QPointer>

#include <unistd.h>

namespace app
{

ConsoleHost::ConsoleHost(ConsoleSeat& seat, const ConnectionWatch& watch,
                         host::HostSettings settings, QObject* parent)
    : QObject(parent), seat_(seat), watch_(watch), listenStatus_(tr("Not listening"))
{
    // Every device is a descriptor: room for the bound and the console's own.
    static_cast<void>(net::raiseOpenFileLimit(settings.maxDevices + kOwnDescriptors));
    // The host's callbacks run on its thread: they only queue a call here.
    // A socket offered while this object goes away is closed, not leaked.
    QPointer<ConsoleHost> self(this);
    host_ = std::make_unique<host::DeviceHost>(
        settings,
        [self](const host::DeviceHost::Offer& offer) {
            if (!self ||
                !QMetaObject::invokeMethod(
                    self.data(), [self, offer] { self->offered(offer); }, Qt::QueuedConnection))
                ::close(offer.fd);
        },
        [self](const std::string& line) {
            if (self)
                QMetaObject::invokeMethod(
                    self.data(),
                    [self, text = QString::fromStdString(line)] {
                        if (self)
                            emit self->note(text);
                    },
                    Qt::QueuedConnection);
        });
}

ConsoleHost::~ConsoleHost()
{
    // The host ends before the seat's last call can come.
    host_.reset();
}

base::Result<net::Endpoint> ConsoleHost::listen(host::DeviceHost::Protocols protocols,
                                                const net::Endpoint& local, const ListenTls& tls)
{
    const QString what = protocols == host::DeviceHost::Both  ? tr("TCP and UDP")
                         : protocols == host::DeviceHost::Tcp ? tr("TCP")
                                                              : tr("UDP");
    const bool secure = tls.on && (protocols & host::DeviceHost::Tcp);
    base::Result<ListenerTls> certificate = ListenerTls{};
    if (secure)
        certificate = ListenerTls::make(tls);
    if (!certificate) {
        // Nothing listens on a certificate that cannot be used, not even plain.
        host_->wantDevice(false);
        host_->stopListening();
        listening_ = false;
        listenStatus_ = tr("Cannot listen on %1 %2 with TLS: %3")
                            .arg(what, QString::fromStdString(local.text()),
                                 QString::fromStdString(certificate.error().text()));
        emit listeningChanged();
        return certificate.error();
    }
    base::Result<net::Endpoint> result = host_->listen(protocols, local, certificate->context);
    listening_ = result.ok();
    if (listening_ && secure)
        listenStatus_ =
            tr("Listening on %1 %2 (TCP with TLS, certificate %3%4)")
                .arg(what, QString::fromStdString(result->text()),
                     QString::fromStdString(certificate->fingerprint),
                     protocols == host::DeviceHost::Both ? tr("; UDP without TLS") : QString());
    else if (listening_)
        listenStatus_ = tr("Listening on %1 %2").arg(what, QString::fromStdString(result->text()));
    else
        listenStatus_ = tr("Cannot listen on %1 %2: %3")
                            .arg(what, QString::fromStdString(local.text()),
                                 QString::fromStdString(result.error().text()));
    if (listening_ && !seat_.seatTaken())
        host_->wantDevice(true);
    emit listeningChanged();
    return result;
}

void ConsoleHost::stopListening()
{
    host_->wantDevice(false);
    host_->stopListening();
    listening_ = false;
    listenStatus_ = tr("Not listening");
    emit listeningChanged();
}

bool ConsoleHost::choose(std::uint64_t id)
{
    if (id == 0 || id == consoleDevice_)
        return true;
    if (consoleDevice_ != 0) {
        const int fd = seat_.unseatDevice();
        if (fd >= 0)
            host_->giveBack(consoleDevice_, fd);
        consoleDevice_ = 0;
    } else if (seat_.seatTaken()) {
        return false;
    }
    host_->wantDevice(false);
    chosen_ = id;
    // A device that ended meanwhile is not handed over: the console is free
    // for the next one to connect.
    if (!host_->takeDevice(id)) {
        chosen_ = 0;
        consoleEnded(host::DeviceState::ClosedHere);
    }
    return true;
}

void ConsoleHost::consoleEnded(host::DeviceState state, const std::string& why)
{
    if (consoleDevice_ != 0)
        host_->handedDeviceEnded(consoleDevice_, state, why);
    consoleDevice_ = 0;
    if (listening_ && !seat_.seatTaken())
        host_->wantDevice(true);
}

void ConsoleHost::consoleConnecting()
{
    host_->wantDevice(false);
}

void ConsoleHost::shutdown()
{
    host_->closeAll();
    listening_ = false;
    listenStatus_ = tr("Not listening");
    emit listeningChanged();
}

void ConsoleHost::offered(const host::DeviceHost::Offer& offer)
{
    const bool switched = offer.id == chosen_;
    if (switched)
        chosen_ = 0;
    // The console may have taken a connection of its own meanwhile: the
    // device stays with the host then.
    if (consoleDevice_ != 0 || seat_.seatTaken() ||
        !seat_.seatDevice(offer.fd, offer.peer, offer.transport == host::Transport::Udp, switched,
                          offer.tls)) {
        host_->giveBack(offer.id, offer.fd);
        return;
    }
    consoleDevice_ = offer.id;
}

} // namespace app
