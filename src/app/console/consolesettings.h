#pragma once

#include "app/settings/qtsettingsstore.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace app
{

// The console's remembered values, in kParamsSection of the per-user
// settings: SocketPort, SocketIp and the delimiter mode bRelease. Texts are
// single-byte. UI thread only; construct it after the QApplication.
class ConsoleSettings
{
public:
    static constexpr std::string_view kParamsSection = "Params";
    static constexpr std::string_view kPortKey = "SocketPort";
    static constexpr std::string_view kServerAddressKey = "SocketIp";
    static constexpr std::string_view kReleaseKey = "bRelease"; // integer: 0 DEMO, other RELEASE
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
    // Stores the delimiter mode flag. Called at every switch, also when the
    // mode did not change, so the stored value is always 0 or 1 after the
    // first switch.
    void storeReleaseFlag(std::int32_t flag);

private:
    QtSettingsStore store_;
};

} // namespace app
