#include "pcapngrecordparser.h"

#include "pcapngrecords.h"
#include "recordfacts.h"
#include "recordline.h"

namespace traffic
{

namespace
{

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
constexpr std::string_view kCommentSeparator = ": ";
// A record grown from segments stops growing here, so that a file of
// hostile full segments cannot make one record without bound.
constexpr std::size_t kMaxJoinedBytes = 16 * 1024 * 1024;

std::size_t bigEndian16(std::string_view bytes, std::size_t at)
{
    return std::size_t{static_cast<unsigned char>(bytes[at])} << 8 |
           static_cast<unsigned char>(bytes[at + 1]);
}

// The TCP or UDP payload of an IPv4 or IPv6 packet; nullopt for anything else.
struct Payload {
    bool tcp = false;
    std::string_view bytes;
};

std::optional<Payload> transportPayload(std::uint8_t protocol, std::string_view segment)
{
    if (protocol == kTcp && segment.size() >= 20) {
        const std::size_t offset = (static_cast<unsigned char>(segment[12]) >> 4) * std::size_t{4};
        if (offset >= 20 && offset <= segment.size()) {
            return Payload{true, segment.substr(offset)};
        }
    } else if (protocol == kUdp && segment.size() >= 8) {
        return Payload{false, segment.substr(8)};
    }
    return std::nullopt;
}

std::optional<Payload> payloadOf(const PcapngPacket& packet)
{
    if (packet.linkType != pcapng::kLinkTypeRaw && packet.linkType != pcapng::kLinkTypeIpv4) {
        return std::nullopt;
    }
    std::string_view ip = packet.data;
    const unsigned version = ip.empty() ? 0 : static_cast<unsigned char>(ip[0]) >> 4;
    if (version == 6 && packet.linkType == pcapng::kLinkTypeRaw && ip.size() >= 40) {
        // The fixed header only: this system writes no extension headers.
        const std::size_t length = bigEndian16(ip, 4);
        std::string_view segment = ip.substr(40);
        if (length < segment.size()) {
            segment = segment.substr(0, length);
        }
        return transportPayload(static_cast<std::uint8_t>(ip[6]), segment);
    }
    if (ip.size() < 20 || version != 4) {
        return std::nullopt;
    }
    const std::size_t header = (static_cast<unsigned char>(ip[0]) & 0x0F) * std::size_t{4};
    const std::size_t total = bigEndian16(ip, 2);
    if (header < 20 || header > ip.size()) {
        return std::nullopt;
    }
    // Bytes past the IP length (link padding) are no payload.
    if (total >= header && total < ip.size()) {
        ip = ip.substr(0, total);
    }
    return transportPayload(static_cast<std::uint8_t>(ip[9]), ip.substr(header));
}

// The kind and text of a comment PcapngRecords wrote ("read: valid frame").
std::optional<std::pair<RecordKind, std::string_view>> ownComment(std::string_view comment)
{
    const std::size_t separator = comment.find(kCommentSeparator);
    if (separator == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<RecordKind> kind = kindFromName(comment.substr(0, separator));
    if (!kind) {
        return std::nullopt;
    }
    return std::pair{*kind, comment.substr(separator + kCommentSeparator.size())};
}

} // namespace

PcapngRecordParser::PcapngRecordParser(RecordTail& tail)
    : tail_(tail), blocks_([this](const PcapngPacket& packet) { this->packet(packet); })
{
}

void PcapngRecordParser::finish()
{
    blocks_.finish();
    flush();
}

void PcapngRecordParser::flush()
{
    if (pending_) {
        tail_.add(std::move(*pending_));
        pending_.reset();
    }
}

void PcapngRecordParser::packet(const PcapngPacket& packet)
{
    const std::optional<Payload> payload = payloadOf(packet);
    if (!payload) {
        // Not IPv4, or a header that does not hold: no record can be told
        // from it, and a damaged file must not read as a whole one.
        ++unreadablePackets_;
        return;
    }
    const std::string_view bytes = payload->bytes;
    const auto time = std::chrono::system_clock::time_point{
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::microseconds{packet.timeMicroseconds})};
    const RecordKind byDirection = packet.direction == pcapng::PacketDirection::Outbound
                                       ? RecordKind::Write
                                       : RecordKind::Read;
    if (packet.comment.empty()) {
        if (bytes.empty()) {
            return; // a packet of the handshake that stands for no record
        }
        if (pending_ && payload->tcp && pending_->kind == byDirection && pending_->time == time &&
            !pending_->bytes.empty() &&
            pending_->bytes.size() % PcapngRecords::kMaxTcpPayload == 0 &&
            pending_->bytes.size() < kMaxJoinedBytes) {
            pending_->bytes.append(bytes);
            return;
        }
    }
    flush();
    Record record;
    record.time = time;
    if (const auto own = ownComment(packet.comment)) {
        record.kind = own->first;
        record.text.assign(own->second);
    } else {
        record.kind = bytes.empty() ? RecordKind::Event : byDirection;
        record.text.assign(packet.comment);
    }
    if (directionOf(record.kind) != Direction::Event) {
        record.bytes.assign(bytes);
    }
    record.facts = recordFacts(record.kind, record.text);
    pending_ = std::move(record);
}

} // namespace traffic
