#include "callerroster.h"

#include <cstdint>

namespace devicetools
{

namespace
{

constexpr std::string_view kMappedPrefix = "::ffff:";

} // namespace

base::Result<CallerRoster> CallerRoster::make(Key key,
                                              std::optional<std::vector<check::Target>> listed)
{
    CallerRoster roster(key, listed.has_value());
    if (!listed) {
        return roster;
    }
    roster.rows_ = std::move(*listed);
    roster.called_.assign(roster.rows_.size(), false);
    for (std::size_t i = 0; i < roster.rows_.size(); ++i) {
        const std::string name = roster.keyOf(roster.rows_[i]);
        if (const auto [at, added] = roster.byKey_.emplace(name, i); !added) {
            const check::Target& first = roster.rows_[at->second];
            return base::Error(
                base::Fault::BadInput, 0,
                "line " + std::to_string(roster.rows_[i].csvLine) + " names " +
                    (key == Key::Id ? "device id " : "address ") + name + " as line " +
                    std::to_string(first.csvLine) + " does" +
                    (key == Key::Address ? " (--identify-by id tells them apart)" : ""));
        }
    }
    return roster;
}

std::string CallerRoster::keyOf(const check::Target& row) const
{
    if (key_ == Key::Id) {
        const auto id = row.values.find("id");
        return id == row.values.end() ? std::string() : id->second;
    }
    return row.addresses.empty() ? row.host : plainAddress(row.addresses.front().addressText());
}

void CallerRoster::reportMissing(check::FleetReport& report, std::size_t expected,
                                 std::uint32_t seconds) const
{
    const auto missing = [seconds](check::DeviceResult& device) {
        device.outcome = check::DeviceOutcome::Failed;
        device.failedStep = "listen";
        device.reason = "did not call in within " + std::to_string(seconds) + " s";
    };
    if (listed_) {
        for (std::size_t row = 0; row < rows_.size() && row < report.devices.size(); ++row) {
            if (!called_[row]) {
                missing(report.devices[row]);
            }
        }
        return;
    }
    for (std::size_t count = calledCount_ + 1; count <= expected; ++count) {
        check::DeviceResult device;
        device.target.host =
            "expected device " + std::to_string(count) + " of " + std::to_string(expected);
        missing(device);
        report.devices.push_back(std::move(device));
    }
}

std::string CallerRoster::plainAddress(std::string_view address)
{
    if (address.size() > kMappedPrefix.size() &&
        address.substr(0, kMappedPrefix.size()) == kMappedPrefix &&
        address.find('.') != std::string_view::npos) {
        address.remove_prefix(kMappedPrefix.size());
    }
    return std::string(address);
}

CallerRoster::Call CallerRoster::admit(std::string_view address, std::uint16_t port,
                                       std::string_view id)
{
    Call call;
    const std::string from = plainAddress(address);
    const std::string name = key_ == Key::Id ? std::string(id) : from;
    const std::string who = key_ == Key::Id ? "device id " + name : name;
    std::size_t row = 0;
    if (listed_) {
        const auto found = byKey_.find(name);
        if (found == byKey_.end()) {
            call.reason = who + " is not in the targets file";
            return call;
        }
        row = found->second;
        if (called_[row]) {
            call.reason = who + " called in again";
            call.again = true;
            return call;
        }
        call.target = rows_[row];
    } else {
        // By address every connection is a device of its own; by id each id
        // is one device.
        if (key_ == Key::Id) {
            if (const auto [at, added] = byKey_.emplace(name, rows_.size()); !added) {
                call.reason = who + " called in again";
                call.again = true;
                return call;
            }
            call.target.values["id"] = name;
        }
        row = rows_.size();
        rows_.emplace_back();
        called_.push_back(false);
    }
    called_[row] = true;
    ++calledCount_;
    check::Target& target = call.target;
    target.host = from;
    target.port = port;
    if (target.name.empty() && key_ == Key::Id) {
        target.name = "id " + name;
    }
    target.values["host"] = from;
    target.values["port"] = std::to_string(port);
    target.values["name"] = target.name.empty() ? target.label() : target.name;
    if (!listed_) {
        rows_[row] = target;
    }
    call.known = true;
    call.row = row;
    return call;
}

} // namespace devicetools
