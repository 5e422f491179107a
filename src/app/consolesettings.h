#pragma once

#include "qtsettingsstore.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace app
{

// The console's remembered values, in protocol::kParamsSection of the per-user
// settings: SocketPort, SocketIp and the delimiter mode bRelease. Texts are
// single-byte. UI thread only; construct it after the QApplication.
class ConsoleSettings
{
public:
    static constexpr std::string_view kPortKey = "SocketPort";
    static constexpr std::string_view kServerAddressKey = "SocketIp";
    static constexpr std::string_view kAbsentPort = "0";
    static constexpr std::int32_t kDefaultReleaseFlag = 0;
    // Text room for the local host's dotted address.
    static constexpr std::size_t kLocalAddressSize = 256;

    // The remembered port text. On the first start (none stored) the default
    // port, which is stored at once.
    std::string port();
    // The address to show: the loopback address on a host that knows itself
    // only by it, otherwise the remembered one (the default server address when
    // none is stored).
    std::string serverAddress();
    // The remembered delimiter mode flag: 0 DEMO, any other value RELEASE.
    std::int32_t releaseFlag();

    void storePort(std::string_view port);
    void storeServerAddress(std::string_view address);
    // Switches the process-wide delimiter set to `modeText` ("RELEASE" exactly,
    // or DEMO) and stores the flag.
    void switchMode(std::string_view modeText);

private:
    QtSettingsStore store_;
};

} // namespace app
