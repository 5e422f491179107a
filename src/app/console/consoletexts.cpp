#include "consoletexts.h"

#include "consolecontrols.h"

#include <arpa/inet.h>

namespace app::consoletexts
{

namespace
{

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kTcpConnectText = "Connection established with server: ";
constexpr std::string_view kTcpPortText = " on port ";
constexpr std::string_view kUdpConnectText = "Socket created: ";
constexpr std::string_view kUdpAddressText = "IP: ";
constexpr std::string_view kUdpPortText = ", Port: ";
constexpr double kMillisecondsPerSecond = 1000.0;

} // namespace

std::string tcpConnectLine(std::string_view host, std::string_view port)
{
    std::string line(kTcpConnectText);
    return line.append(host).append(kTcpPortText).append(port).append(kLineEnd);
}

std::string deviceChosenLine(std::string_view device)
{
    std::string line("Now serving device ");
    return line.append(device).append(kLineEnd);
}

std::string udpConnectLine(const net::SocketAddress& local)
{
    std::string line(kUdpConnectText);
    return line.append(kUdpAddressText)
        .append(net::dottedAddressText(local.address))
        .append(kUdpPortText)
        .append(std::to_string(ntohs(local.port)))
        .append(kLineEnd);
}

QString lastAttemptText(std::string_view host, std::string_view port, bool tcp,
                        const net::ConnectOutcome& outcome)
{
    const double seconds = static_cast<double>(outcome.elapsed.count()) / kMillisecondsPerSecond;
    return QStringLiteral("Last attempt: %1:%2 %3, %4 after %5 s")
        .arg(latin1(host), latin1(port), tcp ? QStringLiteral("TCP") : QStringLiteral("UDP"),
             QString::fromStdString(outcome.error.text()), QString::number(seconds, 'f', 1));
}

} // namespace app::consoletexts
