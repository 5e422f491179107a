#include "pcapngrecords.h"

#include "internetchecksum.h"
#include "recordline.h"
#include "writeoutcome.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>

namespace traffic
{

namespace
{

// Fixed initial sequence numbers: the numbers only have to follow the
// stream, and a capture tool shows them relative to these.
constexpr std::uint32_t kLocalIsn = 0x10000000;
constexpr std::uint32_t kRemoteIsn = 0x20000000;
constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
constexpr std::uint8_t kTtl = 64;
constexpr std::uint16_t kWindow = 0xFFFF;

void put16(char* at, std::uint16_t value)
{
    at[0] = static_cast<char>(value >> 8);
    at[1] = static_cast<char>(value & 0xFF);
}

void put32(char* at, std::uint32_t value)
{
    put16(at, static_cast<std::uint16_t>(value >> 16));
    put16(at + 2, static_cast<std::uint16_t>(value & 0xFFFF));
}

std::uint64_t microseconds(std::chrono::system_clock::time_point time)
{
    const auto count =
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    return count < 0 ? 0 : static_cast<std::uint64_t>(count);
}

std::uint32_t ipv4(std::string_view text)
{
    std::array<char, 16> buffer{};
    if (text.size() >= buffer.size()) {
        return 0;
    }
    std::copy(text.begin(), text.end(), buffer.begin());
    in_addr address{};
    return ::inet_pton(AF_INET, buffer.data(), &address) == 1 ? ntohl(address.s_addr) : 0;
}

std::uint16_t port(std::string_view text)
{
    std::uint16_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

// "<address>:<port>" or "[<v6>]:<port>" at the start of `text` (up to its
// first space).
template <typename Endpoint> Endpoint endpointOf(std::string_view text)
{
    Endpoint endpoint;
    text = text.substr(0, text.find(' '));
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return endpoint;
    }
    endpoint.port = port(text.substr(colon + 1));
    std::string_view address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        const std::string v6(address.substr(1, address.size() - 2));
        endpoint.isV6 = ::inet_pton(AF_INET6, v6.c_str(), endpoint.v6.data()) == 1;
        return endpoint;
    }
    endpoint.address = ipv4(address);
    return endpoint;
}

} // namespace

std::string PcapngRecords::fileHeader()
{
    return pcapng::sectionHeaderBlock() + pcapng::interfaceDescriptionBlock(pcapng::kLinkTypeRaw);
}

void PcapngRecords::begin(const RecordView& connect)
{
    const std::string_view connectText = connect.text;
    udp_ = connect.facts.fact == RecordFact::Udp;
    const std::size_t space = connectText.find(' ');
    remote_ = endpointOf<Endpoint>(space == std::string_view::npos ? std::string_view{}
                                                                   : connectText.substr(space + 1));
    local_ = {};
    localSeq_ = kLocalIsn;
    remoteSeq_ = kRemoteIsn;
    closedLocal_ = false;
    reset_ = false;
}

void PcapngRecords::append(std::string& out, const RecordView& record)
{
    const auto commented = [&](std::string_view text) -> std::string_view {
        if (text.empty()) {
            return {};
        }
        // A flood of reads repeats one verdict: its comment is made once.
        if (recordComment_.empty() || recordCommentKind_ != record.kind ||
            std::string_view(recordComment_).substr(recordCommentTextAt_) != text) {
            recordComment_.assign(kindName(record.kind));
            recordComment_ += ": ";
            recordCommentTextAt_ = recordComment_.size();
            recordComment_ += text;
            recordCommentKind_ = record.kind;
        }
        return recordComment_;
    };
    if (held_ && record.kind != RecordKind::Connected && record.kind != RecordKind::ConnectFailed) {
        releaseHeld(out);
    }
    switch (record.kind) {
    case RecordKind::ConnectAttempt:
        begin(record);
        held_ = Held{record.time, std::string(record.text)};
        return;
    case RecordKind::Connected:
        connected(out, record);
        return;
    case RecordKind::ConnectFailed: {
        const bool synSent = held_.has_value() && !udp_;
        if (held_) {
            releaseHeld(out);
        }
        if (udp_) {
            packet(out, record.time, false, 0, {}, commented(record.text));
        } else if (record.facts.fact == RecordFact::Refused) {
            packet(out, record.time, false, Rst | Ack, {}, commented(record.text));
            reset_ = true;
        } else {
            // No answer came (a time-out, an unreachable host): the SYN is
            // sent again, as the system does, and carries the reason.
            if (synSent) {
                localSeq_ -= 1;
            }
            packet(out, record.time, true, Syn, {}, commented(record.text));
            reset_ = true;
        }
        return;
    }
    case RecordKind::Write:
        payloadPackets(out, record, true, record.bytes.substr(0, writtenCount(record)),
                       commented(record.text));
        return;
    case RecordKind::Read:
        payloadPackets(out, record, false, record.bytes, commented(record.text));
        return;
    case RecordKind::Event:
        event(out, record);
        return;
    case RecordKind::Disconnect: {
        const std::string_view comment =
            commented(record.text.empty() ? "Disconnected" : record.text);
        if (udp_) {
            packet(out, record.time, true, 0, {}, comment);
        } else if (reset_ || closedLocal_) {
            packet(out, record.time, true, Ack, {}, comment);
        } else {
            packet(out, record.time, true, Fin | Ack, {}, comment);
            closedLocal_ = true;
        }
        return;
    }
    }
}

void PcapngRecords::payloadPackets(std::string& out, const RecordView& record, bool outbound,
                                   std::string_view payload, std::string_view comment)
{
    const std::size_t most = udp_ ? kMaxUdpPayload : kMaxTcpPayload;
    if (udp_ && payload.size() > most) {
        comment = cutComment(record, most);
    }
    // A TCP payload past one packet goes on in further segments.
    do {
        packet(out, record.time, outbound, payload.empty() ? Ack : Psh | Ack,
               payload.substr(0, most), comment);
        payload.remove_prefix(std::min(payload.size(), most));
        comment = {};
    } while (!payload.empty() && !udp_);
}

std::string_view PcapngRecords::cutComment(const RecordView& record, std::size_t kept)
{
    comment_.assign(kindName(record.kind));
    comment_ += ": ";
    comment_ += record.text;
    comment_ += " (cut to " + std::to_string(kept) + " bytes)";
    return comment_;
}

void PcapngRecords::event(std::string& out, const RecordView& record)
{
    comment_.assign(kindName(record.kind));
    comment_ += ": ";
    comment_ += record.text;
    const RecordFact fact = record.facts.fact;
    if (udp_) {
        const bool fromPeer = fact == RecordFact::ZeroLength || fact == RecordFact::PeerClosed;
        packet(out, record.time, !fromPeer, 0, {}, comment_);
    } else if (reset_) {
        packet(out, record.time, true, Ack, {}, comment_);
    } else if (fact == RecordFact::PeerClosed) {
        packet(out, record.time, false, Fin | Ack, {}, comment_);
    } else if (fact == RecordFact::Dropped) {
        packet(out, record.time, false, Rst | Ack, {}, comment_);
        reset_ = true;
    } else {
        packet(out, record.time, true, Ack, {}, comment_);
    }
}

void PcapngRecords::releaseHeld(std::string& out)
{
    const Held held = std::move(*held_);
    held_.reset();
    comment_ = "connect: " + held.text;
    packet(out, held.time, true, udp_ ? 0 : Syn, {}, comment_);
}

void PcapngRecords::finish(std::string& out)
{
    if (held_) {
        releaseHeld(out);
    }
}

void PcapngRecords::connected(std::string& out, const RecordView& record)
{
    local_ = endpointOf<Endpoint>(record.text);
    if (held_) {
        releaseHeld(out);
    } else if (!udp_) {
        packet(out, record.time, true, Syn, {}, {});
    }
    comment_ = "connected: ";
    comment_ += record.text;
    if (udp_) {
        packet(out, record.time, true, 0, {}, comment_);
        return;
    }
    packet(out, record.time, false, Syn | Ack, {}, {});
    packet(out, record.time, true, Ack, {}, comment_);
}

void PcapngRecords::packet(std::string& out, std::chrono::system_clock::time_point time,
                           bool outbound, std::uint8_t flags, std::string_view payload,
                           std::string_view comment)
{
    const Endpoint& from = outbound ? local_ : remote_;
    const Endpoint& to = outbound ? remote_ : local_;
    const std::uint8_t protocol = udp_ ? kUdp : kTcp;
    const std::size_t transport = udp_ ? 8 : 20;
    const auto segmentLength = static_cast<std::uint16_t>(transport + payload.size());
    const auto words = [](std::uint32_t value) { return (value >> 16) + (value & 0xFFFF); };
    std::array<char, 60> head{};
    const auto [ipLength, addresses] = ipHeader(head.data(), from, to, protocol, segmentLength);
    char* ip = head.data();

    // The pseudo-header (addresses, protocol, length), then the segment.
    std::uint32_t sum = addresses + protocol + segmentLength + from.port + to.port;
    char* seg = ip + ipLength;
    put16(seg, from.port);
    put16(seg + 2, to.port);
    if (udp_) {
        put16(seg + 4, segmentLength);
        sum += segmentLength;
    } else {
        std::uint32_t& seq = outbound ? localSeq_ : remoteSeq_;
        const std::uint32_t ack = (flags & Ack) != 0 ? (outbound ? remoteSeq_ : localSeq_) : 0;
        const std::uint16_t window = (flags & Rst) != 0 ? 0 : kWindow;
        put32(seg + 4, seq);
        put32(seg + 8, ack);
        seg[12] = 0x50; // 20 bytes of header
        seg[13] = static_cast<char>(flags);
        put16(seg + 14, window);
        sum += words(seq) + words(ack) + (0x50u << 8 | flags) + window;
        seq += static_cast<std::uint32_t>(payload.size()) + ((flags & Syn) != 0 ? 1 : 0) +
               ((flags & Fin) != 0 ? 1 : 0);
    }

    pcapng::Packet block;
    block.timeMicroseconds = microseconds(time);
    block.direction =
        outbound ? pcapng::PacketDirection::Outbound : pcapng::PacketDirection::Inbound;
    block.head = std::string_view(head.data(), ipLength + transport);
    block.body = payload;
    block.comment = comment;
    // The payload is summed from its copy in the block; the checksum field,
    // still 0 there, is filled in after.
    const std::size_t at = out.size();
    const std::uint16_t payloadSum = pcapng::appendEnhancedPacket(out, block);
    std::uint16_t check = checksumOf(foldedSum(std::uint32_t{foldedSum(sum)} + payloadSum));
    if (udp_ && check == 0) {
        check = 0xFFFF; // 0 would mean "no checksum"
    }
    put16(out.data() + at + pcapng::kPacketDataOffset + ipLength + (udp_ ? 6 : 16), check);
}

std::pair<std::size_t, std::uint32_t> PcapngRecords::ipHeader(char* ip, const Endpoint& from,
                                                              const Endpoint& to,
                                                              std::uint8_t protocol,
                                                              std::uint16_t segmentLength)
{
    const auto words = [](std::uint32_t value) { return (value >> 16) + (value & 0xFFFF); };
    if (from.isV6 || to.isV6) {
        // No header checksum in IPv6; the pseudo-header holds both addresses.
        ip[0] = 0x60;
        put16(ip + 4, segmentLength);
        ip[6] = static_cast<char>(protocol);
        ip[7] = static_cast<char>(kTtl);
        std::uint32_t addresses = 0;
        for (const auto* endpoint : {&from, &to}) {
            char* at = ip + (endpoint == &from ? 8 : 24);
            // An IPv4 endpoint beside an IPv6 one is unknown here: "::".
            if (endpoint->isV6) {
                std::copy(endpoint->v6.begin(), endpoint->v6.end(), at);
            }
            for (std::size_t i = 0; i < 16; i += 2) {
                addresses += (std::uint32_t{static_cast<unsigned char>(at[i])} << 8) |
                             static_cast<unsigned char>(at[i + 1]);
            }
        }
        return {40, addresses};
    }
    const auto length = static_cast<std::uint16_t>(20 + segmentLength);
    const std::uint16_t id = ipId_++;
    // The headers' checksums are summed from their fields as numbers (the
    // same 16-bit words the bytes hold), which spares a pass over them: a
    // packet goes out for every block recorded.
    const std::uint32_t addresses = words(from.address) + words(to.address);
    ip[0] = 0x45;
    put16(ip + 2, length);
    put16(ip + 4, id);
    put16(ip + 6, 0x4000); // don't fragment
    ip[8] = static_cast<char>(kTtl);
    ip[9] = static_cast<char>(protocol);
    put32(ip + 12, from.address);
    put32(ip + 16, to.address);
    put16(ip + 10, checksumOf(foldedSum(0x4500 + length + id + 0x4000 +
                                        (std::uint32_t{kTtl} << 8 | protocol) + addresses)));
    return {20, addresses};
}

} // namespace traffic
