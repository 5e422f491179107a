#include "startupconnect.h"

#include "consoledialog.h"
#include "consoletemplate.h"
#include "ipv4addressedit.h"

#include "socket/endpoint.h"

#include <QLineEdit>
#include <QPushButton>

#include <sys/socket.h>

namespace app
{

void connectAtStart(ConsoleDialog& console, const net::HostAndPort& target)
{
    const QString host = QString::fromStdString(target.host);
    const QString port = QString::fromStdString(target.port);
    const std::optional<net::Endpoint> numeric = net::Endpoint::fromNumeric(target.host, 0);
    if (!numeric || numeric->family() != AF_INET) {
        static_cast<void>(console.connectTo(host, port));
        return;
    }
    auto* address =
        qobject_cast<Ipv4AddressEdit*>(console.control(ConsoleTemplate::kServerAddress));
    auto* portEdit = qobject_cast<QLineEdit*>(console.control(ConsoleTemplate::kPortEdit));
    auto* connect = qobject_cast<QPushButton*>(console.control(ConsoleTemplate::kConnect));
    if (address == nullptr || portEdit == nullptr || connect == nullptr)
        return;
    address->setText(host);
    if (!port.isEmpty())
        portEdit->setText(port);
    connect->click();
}

} // namespace app
