#include "targetlist.h"

#include "csvreader.h"

#include "base/error.h"
#include "fileio/regularfile.h"
#include "socket/addresslookup.h"
#include "tls/certificateinfo.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>

namespace devicetools
{

namespace
{

constexpr std::uint32_t kMaxPort = 65535;
constexpr std::uint32_t kMaxOctet = 255;
constexpr std::size_t kMaxHostName = 253;
constexpr std::size_t kOctets = 4;
constexpr int kOctetBits = 8;
constexpr std::uint32_t kDecimal = 10;

std::optional<std::uint32_t> decimal(std::string_view text, std::uint32_t max)
{
    if (text.empty() || text.size() > std::to_string(max).size()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * kDecimal + static_cast<std::uint32_t>(c - '0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

// A dotted IPv4 address of four decimal parts, host order.
std::optional<std::uint32_t> dottedAddress(std::string_view text)
{
    std::uint32_t address = 0;
    for (std::size_t part = 0; part < kOctets; ++part) {
        const std::size_t dot = part + 1 < kOctets ? text.find('.') : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        const std::optional<std::uint32_t> octet = decimal(text.substr(0, dot), kMaxOctet);
        if (!octet) {
            return std::nullopt;
        }
        address = (address << kOctetBits) | *octet;
        text.remove_prefix(std::min(dot + 1, text.size()));
    }
    return address;
}

std::string dottedText(std::uint32_t address)
{
    std::string text;
    for (int shift = 3 * kOctetBits; shift >= 0; shift -= kOctetBits) {
        text += std::to_string((address >> shift) & kMaxOctet);
        if (shift > 0) {
            text += '.';
        }
    }
    return text;
}

bool isHostName(std::string_view text)
{
    return !text.empty() && text.size() <= kMaxHostName && text.front() != '-' &&
           text.front() != '.' && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
                      c == '_';
           });
}

// A text of digits, dots and dashes only is a mistyped address or range,
// never a name.
bool looksNumeric(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.' || c == '-'; });
}

// Addresses no device has: "this host" and the limited broadcast address.
bool isDeviceAddress(std::uint32_t address)
{
    return address != 0 && address != 0xFFFFFFFFu;
}

base::Error refused(std::string what)
{
    return base::Error(base::Fault::BadInput, 0, std::move(what));
}

std::string quoted(std::string_view text)
{
    return '"' + std::string(text) + '"';
}

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

struct HostRange {
    std::string host;        // a name or an IPv6 address, or empty for IPv4 addresses
    bool v6 = false;         // `host` is an IPv6 address
    std::uint32_t first = 0; // IPv4 addresses, host order
    std::uint32_t last = 0;
};

// `endpoint` with another port.
net::Endpoint withPort(net::Endpoint endpoint, std::uint16_t port)
{
    if (endpoint.family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&endpoint.storage)->sin6_port = htons(port);
    } else if (endpoint.family() == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&endpoint.storage)->sin_port = htons(port);
    }
    return endpoint;
}

base::Result<HostRange> parseHost(std::string_view text, bool allowRange)
{
    HostRange range;
    const std::size_t dash = text.rfind('-');
    if (allowRange && dash != std::string_view::npos) {
        const std::optional<std::uint32_t> first = dottedAddress(text.substr(0, dash));
        const std::optional<std::uint32_t> end = decimal(text.substr(dash + 1), kMaxOctet);
        if (first && end) {
            const std::uint32_t last = (*first & ~kMaxOctet) | *end;
            if (last < *first) {
                return refused(quoted(text) + ": the address range ends below its start");
            }
            range.first = *first;
            range.last = last;
            if (!isDeviceAddress(range.first) || !isDeviceAddress(range.last)) {
                return refused(quoted(text) + ": no device has that address");
            }
            return range;
        }
    }
    if (const std::optional<std::uint32_t> address = dottedAddress(text)) {
        if (!isDeviceAddress(*address)) {
            return refused(quoted(text) + ": no device has that address");
        }
        range.first = range.last = *address;
        return range;
    }
    if (text.find(':') != std::string_view::npos) {
        const std::optional<net::Endpoint> v6 = net::Endpoint::fromNumeric(text, 0);
        if (!v6 || v6->family() != AF_INET6) {
            return refused(quoted(text) + " is no IPv6 address");
        }
        range.host = std::string(text);
        range.v6 = true;
        return range;
    }
    if (looksNumeric(text) || !isHostName(text)) {
        return refused(quoted(text) + " is no IPv4 or IPv6 address" +
                       (allowRange ? ", address range" : "") + " or host name");
    }
    range.host = std::string(text);
    return range;
}

struct PortRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};

base::Result<PortRange> parsePorts(std::string_view text, bool allowRange)
{
    const std::size_t dash = allowRange ? text.find('-') : std::string_view::npos;
    const std::optional<std::uint32_t> from = decimal(text.substr(0, dash), kMaxPort);
    const std::optional<std::uint32_t> to =
        dash == std::string_view::npos ? from : decimal(text.substr(dash + 1), kMaxPort);
    if (!from || !to || *from == 0 || *to == 0) {
        return refused(quoted(text) + " is no port (1 to 65535)" +
                       (allowRange ? " or port range (P1-P2)" : ""));
    }
    if (*to < *from) {
        return refused(quoted(text) + ": the port range ends below its start");
    }
    return PortRange{*from, *to};
}

} // namespace

base::Error TargetList::addOne(Target target)
{
    if (targets_.size() >= kMaxTargets) {
        return refused("more than " + std::to_string(kMaxTargets) + " devices");
    }
    // Numeric addresses need no look-up.
    if (std::optional<net::Endpoint> numeric =
            net::Endpoint::fromNumeric(target.host, target.port)) {
        target.addresses.push_back(*numeric);
    }
    target.values["host"] = target.host;
    target.values["port"] = std::to_string(target.port);
    target.values["name"] = target.name.empty() ? target.label() : target.name;
    targets_.push_back(std::move(target));
    return {};
}

base::Error TargetList::add(std::string_view text)
{
    // "[V6]:PORT", a bare IPv6 address, or HOST[:PORT].
    const base::Result<net::HostAndPort> split = net::splitHostAndPort(text);
    if (!split) {
        return refused(quoted(text) + ": " + split.error().reason());
    }
    const bool bracketed = !text.empty() && text.front() == '[';
    if (bracketed && split->host.find(':') == std::string::npos) {
        return refused(quoted(text) + ": only an IPv6 address stands in brackets");
    }
    const base::Result<HostRange> parsedHost = parseHost(split->host, true);
    if (!parsedHost) {
        return parsedHost.error();
    }
    const HostRange& host = *parsedHost;
    std::uint32_t firstPort = defaultPort_;
    std::uint32_t lastPort = defaultPort_;
    if (!split->port.empty() || (text.ends_with(':') && (bracketed || !host.v6))) {
        const base::Result<PortRange> ports = parsePorts(split->port, true);
        if (!ports) {
            return ports.error();
        }
        firstPort = ports->first;
        lastPort = ports->last;
    }
    const std::uint64_t count =
        (std::uint64_t{host.last} - host.first + 1) * (std::uint64_t{lastPort} - firstPort + 1);
    if (targets_.size() + count > kMaxTargets) {
        return refused(quoted(text) + " makes more than " + std::to_string(kMaxTargets) +
                       " devices");
    }
    for (std::uint64_t address = host.first; address <= host.last; ++address) {
        for (std::uint32_t port = firstPort; port <= lastPort; ++port) {
            Target target;
            target.host =
                host.host.empty() ? dottedText(static_cast<std::uint32_t>(address)) : host.host;
            target.port = static_cast<std::uint16_t>(port);
            if (base::Error added = addOne(std::move(target)); !added.ok()) {
                return added;
            }
        }
    }
    return {};
}

base::Error TargetList::addCsv(std::string_view text, std::string_view fileName)
{
    const std::string file(fileName);
    bool headerRead = false;
    std::vector<std::string> columns;
    // The columns whose values are kept: those the check file uses.
    std::vector<std::size_t> kept;
    std::optional<std::size_t> hostColumn, portColumn, nameColumn, idColumn, pinColumn;

    const auto readHeader = [&](const CsvRow& header) {
        std::set<std::string, std::less<>> named;
        for (std::size_t i = 0; i < header.fields.size(); ++i) {
            const std::string column = trimmed(header.fields[i]);
            const std::string key = lower(column);
            const auto at = [&](std::optional<std::size_t>& slot) {
                if (!slot) {
                    slot = i;
                }
            };
            if (column.empty() || !named.insert(column).second) {
                return refused(file + ':' + std::to_string(header.line) + ": column " +
                               std::to_string(i + 1) +
                               (column.empty() ? " has no name" : " is named twice"));
            }
            if (key == "host") {
                at(hostColumn);
            } else if (key == "port") {
                at(portColumn);
            } else if (key == "name") {
                at(nameColumn);
            } else if (key == "id") {
                at(idColumn);
            } else if (key == "fingerprint") {
                at(pinColumn);
            }
            if (!keepOnly_ || keepOnly_->contains(column)) {
                kept.push_back(i);
            }
            columns.push_back(column);
        }
        if (key_ == Key::Host && !hostColumn) {
            return refused(file + ':' + std::to_string(header.line) +
                           ": the header names no host column");
        }
        if (key_ == Key::Id && !idColumn) {
            return refused(file + ':' + std::to_string(header.line) +
                           ": the header names no id column");
        }
        return base::Error();
    };

    const auto readRow = [&](const CsvRow& row) {
        const std::string where = file + ':' + std::to_string(row.line) + ": ";
        if (row.fields.size() != columns.size()) {
            return refused(where + std::to_string(row.fields.size()) + " fields, the header has " +
                           std::to_string(columns.size()));
        }
        Target target;
        if (hostColumn) {
            std::string text = trimmed(row.fields[*hostColumn]);
            if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
                text = text.substr(1, text.size() - 2);
            }
            const base::Result<HostRange> parsedHost = parseHost(text, false);
            if (!parsedHost) {
                return refused(where + parsedHost.error().text());
            }
            const HostRange& host = *parsedHost;
            target.host = host.host.empty() ? dottedText(host.first) : host.host;
        }
        if (pinColumn) {
            const std::string pin = trimmed(row.fields[*pinColumn]);
            target.pin = tls::CertificateInfo::normalFingerprint(pin);
            if (!pin.empty() && target.pin.empty()) {
                return refused(where + quoted(pin) +
                               " is no SHA-256 fingerprint (64 hex digits, colons optional)");
            }
        }
        if (key_ == Key::Id) {
            const std::string id = trimmed(row.fields[*idColumn]);
            if (id.size() != 2 || !std::all_of(id.begin(), id.end(),
                                               [](char c) { return c >= ' ' && c != '\x7f'; })) {
                return refused(where + "the device id " + quoted(id) +
                               " is not 2 printable characters");
            }
            target.values["id"] = id;
            if (!hostColumn) {
                target.host = "id " + id;
            }
        }
        std::uint32_t port = defaultPort_;
        if (portColumn && !trimmed(row.fields[*portColumn]).empty()) {
            const base::Result<PortRange> ports =
                parsePorts(trimmed(row.fields[*portColumn]), false);
            if (!ports) {
                return refused(where + ports.error().text());
            }
            port = ports->first;
        }
        target.port = static_cast<std::uint16_t>(port);
        if (nameColumn) {
            target.name = trimmed(row.fields[*nameColumn]);
        }
        for (const std::size_t i : kept) {
            if (i != idColumn || key_ != Key::Id) {
                target.values[columns[i]] = row.fields[i];
            }
        }
        target.csvLine = static_cast<std::size_t>(row.line);
        if (base::Error added = addOne(std::move(target)); !added.ok()) {
            return refused(where + added.detail());
        }
        return base::Error();
    };

    // Row by row: only the kept columns of each stay, so a wide file costs
    // no more than its rows' kept values.
    if (base::Error read = CsvReader::read(text, file,
                                           [&](const CsvRow& row) {
                                               base::Error error =
                                                   headerRead ? readRow(row) : readHeader(row);
                                               headerRead = true;
                                               return error;
                                           });
        !read.ok()) {
        return read;
    }
    if (!headerRead) {
        return refused(file + ": no header row (host,port,name,...)");
    }
    return {};
}

base::Error TargetList::loadCsv(const std::string& path)
{
    const base::Result<std::string> text = fileio::RegularFile::readAll(path, kMaxFileBytes);
    if (!text) {
        return text.error();
    }
    return addCsv(*text, path);
}

void TargetList::resolve(int socketType)
{
    std::map<std::string, base::Result<std::vector<net::Endpoint>>, std::less<>> found;
    for (Target& target : targets_) {
        if (!target.addresses.empty() || target.host.empty()) {
            continue;
        }
        auto known = found.find(target.host);
        if (known == found.end()) {
            known =
                found.emplace(target.host, net::lookUpEndpoints(target.host, 0, socketType)).first;
        }
        if (!known->second) {
            target.lookUpProblem = known->second.error().text();
            continue;
        }
        for (const net::Endpoint& address : *known->second) {
            target.addresses.push_back(withPort(address, target.port));
        }
    }
}

} // namespace devicetools
