#pragma once

#include "base/error.h"

#include <map>
#include <optional>
#include <string>

namespace tls
{

// The certificates the user has accepted, by device: one line per device,
// "<address>:<port> SHA256:<fingerprint>", the way SSH keeps its known hosts.
// A later, different certificate for the same address and port is refused
// (see decideTrust). Lines that are not of that form are kept as they are
// but never match.
//
// The file lives in the user's data folder, owner-only, is read whole (at
// most kMaxBytes) and written safely (a private temporary renamed over it),
// its missing folders made owner-only first.
// A value; one thread at a time.
class KnownDevices
{
public:
    static constexpr std::size_t kMaxBytes = 1024 * 1024;

    // The file's pins; a missing file is an empty list, a file too large or
    // unreadable is the failure.
    [[nodiscard]] static base::Result<KnownDevices> load(const std::string& path);
    static KnownDevices parse(const std::string& text);

    // The pinned fingerprint of `device` ("host:port", "[v6]:port"), or nothing.
    std::optional<std::string> pinned(const std::string& device) const;
    // Pins `fingerprint` for `device`, replacing an older pin.
    void pin(const std::string& device, const std::string& fingerprint);
    bool forget(const std::string& device);
    std::size_t size() const { return pins_.size(); }

    std::string text() const;
    [[nodiscard]] base::Error save(const std::string& path) const;

private:
    std::map<std::string, std::string> pins_;
    std::string unknownLines_;
};

} // namespace tls
