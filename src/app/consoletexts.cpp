#include "consoletexts.h"

#include "consolecontrols.h"

#include <arpa/inet.h>
#include <cstdio>

namespace app::consoletexts
{

namespace
{

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kTcpConnectText = "Connection established with server: ";
constexpr std::string_view kTcpPortText = " on port ";
constexpr std::string_view kUdpConnectText = "Socket created: ";
constexpr char kUdpAddressFormat[] = "IP: %u.%u.%u.%u, Port: %d";
// "IP: 255.255.255.255, Port: 65535" and its zero, with room to spare.
constexpr std::size_t kUdpAddressTextSize = 64;
constexpr double kMillisecondsPerSecond = 1000.0;

} // namespace

std::string tcpConnectLine(std::string_view host, std::string_view port)
{
    std::string line(kTcpConnectText);
    return line.append(host).append(kTcpPortText).append(port).append(kLineEnd);
}

std::string udpConnectLine(const net::SocketAddress& local)
{
    const auto* octets = reinterpret_cast<const unsigned char*>(&local.address);
    char addressText[kUdpAddressTextSize] = {};
    std::snprintf(addressText, sizeof addressText, kUdpAddressFormat, octets[0], octets[1],
                  octets[2], octets[3], static_cast<int>(ntohs(local.port)));
    std::string line(kUdpConnectText);
    return line.append(addressText).append(kLineEnd);
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
