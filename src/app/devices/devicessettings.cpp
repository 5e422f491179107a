#include "devicessettings.h"

namespace app
{

namespace
{

constexpr std::string_view kProtocolKey = "Protocol";
constexpr std::string_view kAddressKey = "Address";
constexpr std::string_view kPortKey = "Port";
constexpr std::string_view kTlsKey = "Tls";
constexpr std::string_view kCertificateKey = "CertificateFile";
constexpr std::string_view kKeyKey = "KeyFile";
constexpr std::string_view kMaxDevicesKey = "MaxDevices";
constexpr std::string_view kUdpIdleKey = "UdpIdleSeconds";
constexpr std::string_view kConnectToKey = "ConnectTo";
constexpr std::int32_t kMostDevices = 100000;
constexpr std::int32_t kLongestIdleSeconds = 24 * 3600;

} // namespace

host::DeviceHost::Protocols DevicesSettings::protocols()
{
    const std::int32_t value = store_.readInt(kSection, kProtocolKey, host::DeviceHost::Both);
    if (value < host::DeviceHost::Tcp || value > host::DeviceHost::Both)
        return host::DeviceHost::Both;
    return static_cast<host::DeviceHost::Protocols>(value);
}

std::string DevicesSettings::address()
{
    return store_.readText(kSection, kAddressKey, "");
}

std::uint16_t DevicesSettings::port()
{
    const std::int32_t value = store_.readInt(kSection, kPortKey, kDefaultPort);
    return value >= 1 && value <= 65535 ? static_cast<std::uint16_t>(value) : kDefaultPort;
}

host::HostSettings DevicesSettings::hostSettings()
{
    host::HostSettings settings;
    const std::int32_t most =
        store_.readInt(kSection, kMaxDevicesKey, static_cast<std::int32_t>(settings.maxDevices));
    if (most >= 1 && most <= kMostDevices)
        settings.maxDevices = static_cast<std::size_t>(most);
    const std::int32_t idle = store_.readInt(
        kSection, kUdpIdleKey,
        static_cast<std::int32_t>(host::HostSettings::kDefaultUdpIdle.count() / 1000));
    if (idle >= 1 && idle <= kLongestIdleSeconds)
        settings.udpIdle = std::chrono::seconds(idle);
    return settings;
}

ListenTls DevicesSettings::tls()
{
    ListenTls tls;
    tls.on = store_.readInt(kSection, kTlsKey, 0) == 1;
    tls.certificateFile = store_.readText(kSection, kCertificateKey, "");
    tls.keyFile = store_.readText(kSection, kKeyKey, "");
    return tls;
}

void DevicesSettings::storeTls(const ListenTls& tls)
{
    store_.writeInt(kSection, kTlsKey, tls.on ? 1 : 0);
    store_.writeText(kSection, kCertificateKey, tls.certificateFile);
    store_.writeText(kSection, kKeyKey, tls.keyFile);
}

void DevicesSettings::store(host::DeviceHost::Protocols protocols, std::string_view address,
                            std::uint16_t port)
{
    store_.writeInt(kSection, kProtocolKey, protocols);
    store_.writeText(kSection, kAddressKey, address);
    store_.writeInt(kSection, kPortKey, port);
}

std::string DevicesSettings::connectTo()
{
    std::string target = store_.readText(kSection, kConnectToKey, "");
    if (target.size() > kMostConnectToChars)
        target.clear();
    return target;
}

void DevicesSettings::storeConnectTo(std::string_view target)
{
    store_.writeText(kSection, kConnectToKey, target.substr(0, kMostConnectToChars));
}

} // namespace app
