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
// (1: TCP with TLS), CertificateFile and KeyFile ("": the console's own), and
// the host's bounds MaxDevices and UdpIdleSeconds (read only, set by hand). Out-of-range values
// read as their defaults. UI thread only; construct it after the QApplication.
class DevicesSettings
{
public:
    static constexpr std::string_view kSection = "Devices";
    static constexpr std::uint16_t kDefaultPort = 21210;

    host::DeviceHost::Protocols protocols();
    std::string address();
    std::uint16_t port();
    // The host's bounds as remembered.
    host::HostSettings hostSettings();

    // TLS for listening, as remembered.
    ListenTls tls();

    void store(host::DeviceHost::Protocols protocols, std::string_view address, std::uint16_t port);
    void storeTls(const ListenTls& tls);

private:
    QtSettingsStore store_;
};

} // namespace app
