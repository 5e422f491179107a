#include "simulatorarguments.h"

#include "nettext.h"

#include "socket/addresslookup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace devicetools
{

namespace
{

constexpr std::uint32_t kMsPerSecond = 1000;

// Ascending offsets above 0, at most FaultModes::kMaxSplitPoints; nothing for
// any other text.
std::optional<std::vector<std::uint32_t>> parseOffsets(std::string_view text)
{
    std::vector<std::uint32_t> out;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t comma = text.find(',', from);
        if (comma == std::string_view::npos) {
            comma = text.size();
        }
        const std::optional<std::uint32_t> offset =
            CommandLine::parseNumber(text.substr(from, comma - from), 1, UINT32_MAX);
        if (!offset || (!out.empty() && *offset <= out.back()) ||
            out.size() >= FaultModes::kMaxSplitPoints) {
            return std::nullopt;
        }
        out.push_back(*offset);
        from = comma + 1;
    }
    if (out.empty()) {
        return std::nullopt;
    }
    return out;
}

// "%g" of a rate: "0.001", "1000".
std::string rateText(double rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", rate);
    return text;
}

// A decimal rate within the events' bounds ("1", "0.5"), or nothing.
std::optional<double> parseRate(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double rate = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(rate >= SimulatorConfig::kMinEventRate) ||
        rate > SimulatorConfig::kMaxEventRate) {
        return std::nullopt;
    }
    return rate;
}

// HOST:PORT into the configuration; for anything else, why not.
base::Error hostAndPort(const std::string& text, SimulatorConfig& config)
{
    const base::Result<net::HostAndPort> split = net::splitHostAndPort(text);
    const std::optional<std::uint32_t> port =
        split ? CommandLine::parseNumber(split->port, 1, kMaxPort) : std::nullopt;
    if (!port || split->host.empty()) {
        return badArgument("--connect takes HOST:PORT, the port 1 to 65535 (an IPv6 address in "
                           "brackets: [::1]:21210), not \"" +
                           text + '"');
    }
    config.connectHost = split->host;
    config.connectPort = static_cast<std::uint16_t>(*port);
    return {};
}

} // namespace

base::Result<ParseResult> parseSimulatorArguments(CommandLine& line, SimulatorConfig& config)
{
    FaultModes& faults = config.faults;
    std::string value;
    std::string rulesPath;
    bool listening = false;
    bool idleGiven = false;
    base::Error error;
    // Each takes the current option's value into its target and tells
    // whether it could; `error` says why not.
    const auto number = [&](std::string_view option, std::uint32_t min, std::uint32_t max,
                            std::uint32_t& target) {
        base::Result<std::uint32_t> read = line.numberValue(option, min, max);
        if (!read) {
            error = read.error();
            return false;
        }
        target = *read;
        return true;
    };
    const auto text = [&](std::string& target) {
        base::Result<std::string> read = line.value();
        if (!read) {
            error = read.error();
            return false;
        }
        target = std::move(*read);
        return true;
    };
    const auto flag = [&](bool& target) {
        target = true;
        error = line.noValue();
        return error.ok();
    };
    while (!line.atEnd()) {
        const std::string option(line.nextOption());
        bool ok = true;
        if (option == "--help") {
            return ParseResult::Help;
        } else if (TlsOptions::isOption(option)) {
            error = config.tls.take(option, line);
            ok = error.ok();
        } else if (option == "--listen" || option == "--address") {
            ok = text(config.listenHost);
            listening = true;
        } else if (option == "--port") {
            listening = true;
            std::uint32_t port = 0;
            ok = number(option, 0, kMaxPort, port);
            config.port = static_cast<std::uint16_t>(port);
        } else if (option == "--connect") {
            ok = text(value);
            if (ok) {
                error = hostAndPort(value, config);
                ok = error.ok();
            }
        } else if (option == "--dial-rate") {
            ok = number(option, 1, SimulatorConfig::kMaxDialRate, config.dialRate);
        } else if (option == "--events") {
            ok = text(value);
            const std::optional<double> rate = parseRate(value);
            if (ok && !rate) {
                error = badArgument("--events takes events a second per device, " +
                                    rateText(SimulatorConfig::kMinEventRate) + " to " +
                                    rateText(SimulatorConfig::kMaxEventRate) + ", not \"" + value +
                                    '"');
                ok = false;
            } else if (ok) {
                config.eventsPerSecond = *rate;
            }
        } else if (option == "--event-mode") {
            ok = text(value);
            if (ok && (value == "demo" || value == "release")) {
                config.eventMode = value == "demo" ? protocol::DelimiterMode::Demo
                                                   : protocol::DelimiterMode::Release;
            } else if (ok) {
                error = badArgument("--event-mode takes demo or release, not \"" + value + '"');
                ok = false;
            }
        } else if (option == "--devices") {
            ok = number(option, 1, SimulatorConfig::kMaxDevices, config.devices);
        } else if (option == "--max-clients") {
            ok = number(option, 1, SimulatorConfig::kMaxClientsLimit, config.maxClients);
        } else if (option == "--idle-timeout") {
            std::uint32_t seconds = 0;
            ok = number(option, 0, SimulatorConfig::kMaxIdleTimeoutSeconds, seconds);
            config.idleTimeoutMs = seconds * kMsPerSecond;
            idleGiven = true;
        } else if (option == "--log-rate") {
            ok = number(option, 0, SimulatorConfig::kMaxLogRate, config.logRate);
        } else if (option == "--rules") {
            ok = text(rulesPath);
        } else if (option == "--no-echo") {
            bool noEcho = false;
            ok = flag(noEcho);
            config.echo = !noEcho;
        } else if (option == "--verbose") {
            ok = flag(config.verbose);
        } else if (option == "--close-after") {
            ok = number(option, 1, FaultModes::kMaxCloseAfter, faults.closeAfterFrames);
        } else if (option == "--malformed") {
            ok = flag(faults.malformed);
        } else if (option == "--nul-inside") {
            ok = flag(faults.nulInside);
        } else if (option == "--split-at") {
            ok = text(value);
            std::optional<std::vector<std::uint32_t>> offsets = parseOffsets(value);
            if (ok && !offsets) {
                error = badArgument(
                    "--split-at takes ascending byte offsets above 0, comma-separated, at most " +
                    std::to_string(FaultModes::kMaxSplitPoints) + ", not \"" + value + '"');
                ok = false;
            } else if (ok) {
                faults.splitAt = std::move(*offsets);
            }
        } else if (option == "--split-pause") {
            ok = number(option, 1, FaultModes::kMaxSplitPauseMs, faults.splitPauseMs);
        } else if (option == "--flood") {
            ok = number(option, 1, FaultModes::kMaxFloodRate, faults.floodRate);
        } else if (option == "--flood-for") {
            ok = number(option, 1, FaultModes::kMaxFloodForMs, faults.floodForMs);
        } else {
            error = badArgument("unknown option \"" + option + '"');
            ok = false;
        }
        if (!ok) {
            return error;
        }
    }
    if (listening && !config.connectHost.empty()) {
        return badArgument(
            "--connect dials out: --listen and --port are for a device that listens");
    }
    if (base::Error tlsError = config.tls.complete(); !tlsError.ok()) {
        return tlsError;
    }
    if (config.connectHost.empty() &&
        (!config.tls.pin.empty() || config.tls.insecure || !config.tls.caFile.empty())) {
        return badArgument("--pin, --insecure and --ca judge the host a device dials (--connect)");
    }
    // A device keeps the connection it made to its host however quiet the
    // host is, unless told otherwise.
    if (!config.connectHost.empty() && !idleGiven) {
        config.idleTimeoutMs = 0;
    }
    if (config.devices != 0 && config.connectHost.empty() && config.port != 0 &&
        config.port + config.devices - 1 > kMaxPort) {
        return badArgument(std::to_string(config.devices) + " devices from port " +
                           std::to_string(config.port) + " pass port " + std::to_string(kMaxPort));
    }
    if (!rulesPath.empty()) {
        base::Result<ReplyRules> rules = ReplyRules::load(rulesPath);
        if (!rules) {
            return rules.error();
        }
        config.rules = std::move(*rules);
    }
    return ParseResult::Run;
}

} // namespace devicetools
