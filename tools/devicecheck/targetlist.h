#pragma once

#include "base/error.h"
#include "check/checkfile.h"
#include "check/target.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// One device to check (the reports' type, used here under its own name).
using check::Target;

// The devices of a run, in the order given: from target texts on the command
// line and from CSV targets files. Parsing is pure; resolve() looks names up.
// One thread.
//
// Target texts: HOST, HOST:PORT, HOST:P1-P2 (every port of the range) and
// A.B.C.D-E (every address from D to E of the last part), also with :PORT or
// :P1-P2. HOST is a dotted IPv4 address, an IPv6 address (in brackets when a
// port follows: "[2001:db8::5]:21210") or a host name; without a port the
// default port counts.
//
// Targets files: CSV with a header row naming the columns; `host` is
// required, `port`, `name` and `fingerprint` (the TLS certificate's pinned
// SHA-256 fingerprint) are optional, every other column becomes a
// placeholder of the device's values under its header's name. A row names
// one device (no ranges). For devices that call in and are known by their
// id (Key::Id), the file's `id` column is required instead of `host`: each
// row's id is its {id} value, and a row without a host is labelled "id XX".
class TargetList
{
public:
    enum class Key { Host, Id };

    // The most devices one run takes.
    static constexpr std::size_t kMaxTargets = 100000;
    // The largest targets file read.
    static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

    explicit TargetList(std::uint16_t defaultPort) : defaultPort_(defaultPort) {}

    // Before addCsv(): of a targets file's other columns, keep the values of
    // these only (the placeholders the check file uses), so that a wide file
    // takes memory for what is used, not for every cell. All by default.
    void keepOnly(std::set<std::string, std::less<>> columns) { keepOnly_ = std::move(columns); }
    // Before addCsv(): which column names a row's device.
    void setKey(Key key) { key_ = key; }

    // Adds the devices of one target text; a BadInput error saying what is
    // wrong when it is malformed or there would be too many.
    base::Error add(std::string_view text);
    // Adds the rows of a targets file's text; `fileName` names it in errors
    // ("sites.csv:4: ...").
    base::Error addCsv(std::string_view text, std::string_view fileName);
    // Reads a targets file (a regular file of at most kMaxFileBytes), then addCsv().
    base::Error loadCsv(const std::string& path);

    // Looks up every host name once, both families, for sockets of
    // `socketType` (SOCK_STREAM, SOCK_DGRAM); numeric addresses need no
    // look-up. A name that does not resolve leaves its devices without
    // addresses, lookUpProblem saying why. Blocks for as long as the
    // system's name service takes.
    void resolve(int socketType);

    const std::vector<Target>& targets() const { return targets_; }
    std::vector<Target> take() { return std::move(targets_); }

private:
    base::Error addOne(Target target);

    std::uint16_t defaultPort_;
    std::optional<std::set<std::string, std::less<>>> keepOnly_;
    Key key_ = Key::Host;
    std::vector<Target> targets_;
};

} // namespace devicetools
