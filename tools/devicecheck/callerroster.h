#pragma once

#include "base/error.h"
#include "check/fleetreport.h"
#include "check/target.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace devicetools
{

// Who the devices that call in are. Each caller is known by its address or
// by the device id of its first frame (Key). With a list of the devices
// expected (a targets file), a caller is the row of its address or id, and
// one that is not listed, or calls in again, is unknown; without a list every
// caller is a device of its own (by address: each connection; by id: each id
// once). Pure; one thread.
class CallerRoster
{
public:
    enum class Key { Address, Id };

    // What a caller is.
    struct Call {
        bool known = false;
        // known: the device's index among rows(); its target, as the row has
        // it but with the caller's address and port (and {host} {port}).
        std::size_t row = 0;
        check::Target target;
        // Not known: why (for the report).
        std::string reason;
        // Not known as it called in before: a device that dials again, or
        // (by address) another one behind the same address.
        bool again = false;
    };

    // Without `listed` every caller is a device of its own. BadInput when
    // two rows name the same address or id (they could not be told apart).
    [[nodiscard]] static base::Result<CallerRoster>
    make(Key key, std::optional<std::vector<check::Target>> listed);

    // The caller from `address` (numeric, as Endpoint::addressText() gives
    // it) and `port`, with `id` (Key::Id: the 2-character id of its first
    // frame; else ignored).
    Call admit(std::string_view address, std::uint16_t port, std::string_view id);

    Key key() const { return key_; }
    bool listed() const { return listed_; }
    // The rows: the listed ones in the file's order, or the callers admitted
    // so far in the order they came.
    const std::vector<check::Target>& rows() const { return rows_; }
    bool called(std::size_t row) const { return called_[row]; }
    std::size_t calledCount() const { return calledCount_; }

    // After the run: in `report` (whose first rows are rows() when listed),
    // each listed device that did not call in fails, and so does each of
    // `expected` devices that did not come (unlisted): "did not call in
    // within `seconds` s".
    void reportMissing(check::FleetReport& report, std::size_t expected,
                       std::uint32_t seconds) const;

    // "10.0.0.5" from "::ffff:10.0.0.5": an IPv4 caller on an IPv6 socket
    // is known by its IPv4 address.
    static std::string plainAddress(std::string_view address);

private:
    CallerRoster(Key key, bool listed) : key_(key), listed_(listed) {}
    std::string keyOf(const check::Target& row) const;

    Key key_;
    bool listed_;
    std::vector<check::Target> rows_;
    std::vector<bool> called_;
    std::size_t calledCount_ = 0;
    std::unordered_map<std::string, std::size_t> byKey_;
};

} // namespace devicetools
