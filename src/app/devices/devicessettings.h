#pragma once

#include "listenertls.h"

#include "app/settings/qtsettingsstore.h"

#include "host/devicehost.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace app
{

// The Devices window's remembered values, in a section of their own:
// Protocol (1 TCP, 2 UDP, 3 both), Address ("" for every address), Port, Tls
// (1: TCP with TLS), CertificateFile and KeyFile ("": the console's own), the
// host's bounds MaxDevices and UdpIdleSeconds (read only, set by hand), and
// ConnectTo (the last "Connect to" text, at most kMostConnectToChars). Out-of-range values
// read as their defaults. UI thread only; construct it after the QApplication.
class DevicesSettings
{
public:
    static constexpr std::string_view kSection = "Devices";
    static constexpr std::uint16_t kDefaultPort = 21210;
    // A host name (at most 253 characters), brackets and a port fit.
    static constexpr std::size_t kMostConnectToChars = 300;

    host::DeviceHost::Protocols protocols();
    std::string address();
    std::uint16_t port();
    // The host's bounds as remembered.
    host::HostSettings hostSettings();

    // TLS for listening, as remembered.
    ListenTls tls();

    void store(host::DeviceHost::Protocols protocols, std::string_view address, std::uint16_t port);
    void storeTls(const ListenTls& tls);

    std::string connectTo();
    void storeConnectTo(std::string_view target);

private:
    QtSettingsStore store_;
};

} // namespace app
