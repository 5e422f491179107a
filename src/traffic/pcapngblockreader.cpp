#include "pcapngblockreader.h"

#include "pcapngformat.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace traffic
{

namespace
{

using namespace pcapng;

constexpr std::size_t kMinBlockBytes = 12;

std::uint32_t littleEndian32(const char* at)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(at);
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::uint32_t bigEndian32(const char* at)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(at);
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

// The system clock counts nanoseconds in 64 bits: a time past this many
// microseconds (the year 2262) is none it can hold.
constexpr std::uint64_t kMaxMicroseconds =
    static_cast<std::uint64_t>(std::chrono::system_clock::duration::max().count()) /
    static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                   std::chrono::microseconds{1})
                                   .count());

} // namespace

bool PcapngBlockReader::looksLikePcapng(std::string_view start)
{
    if (start.size() < kMinBlockBytes || littleEndian32(start.data()) != kSectionHeaderType) {
        return false;
    }
    const std::uint32_t magic = littleEndian32(start.data() + 8);
    return magic == kByteOrderMagic || bigEndian32(start.data() + 8) == kByteOrderMagic;
}

std::uint32_t PcapngBlockReader::u32(const char* at) const
{
    return bigEndian_ ? bigEndian32(at) : littleEndian32(at);
}

std::uint16_t PcapngBlockReader::u16(const char* at) const
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(at);
    return bigEndian_ ? static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1])
                      : static_cast<std::uint16_t>(bytes[1] << 8 | bytes[0]);
}

void PcapngBlockReader::feed(std::string_view piece)
{
    // What is left of the last piece is at most one block: moving it to the
    // front keeps the buffer within a block and a piece.
    buffer_.erase(0, at_);
    at_ = 0;
    buffer_.append(piece);
    readBlocks(false);
}

void PcapngBlockReader::finish()
{
    readBlocks(true);
    buffer_.clear();
    at_ = 0;
}

void PcapngBlockReader::damage()
{
    if (!inDamage_) {
        ++damaged_;
        inDamage_ = true;
    }
}

void PcapngBlockReader::readBlocks(bool last)
{
    while (true) {
        const std::size_t left = buffer_.size() - at_;
        if (left < kMinBlockBytes) {
            if (last && left > 0) {
                damage();
                at_ = buffer_.size();
            }
            return;
        }
        const char* start = buffer_.data() + at_;
        const std::uint32_t type = littleEndian32(start);
        // A section header sets the byte order of everything up to the next,
        // its own length included.
        bool order = bigEndian_;
        if (type == kSectionHeaderType) {
            if (littleEndian32(start + 8) == kByteOrderMagic) {
                order = false;
            } else if (bigEndian32(start + 8) == kByteOrderMagic) {
                order = true;
            } else {
                damage();
                at_ += 1;
                continue;
            }
        }
        const std::uint32_t length = order ? bigEndian32(start + 4) : littleEndian32(start + 4);
        const std::uint32_t blockType = order ? bigEndian32(start) : type;
        const bool known = blockType == kSectionHeaderType ||
                           blockType == kInterfaceDescriptionType ||
                           blockType == kEnhancedPacketType;
        if (length < kMinBlockBytes || length % 4 != 0 || length > kMaxBlockBytes ||
            (!sectionSeen_ && type != kSectionHeaderType) || (inDamage_ && !known)) {
            damage();
            at_ += 1;
            continue;
        }
        if (left < length) {
            if (!last) {
                return;
            }
            // Cut short, as by a full disk, or a length broken in the middle:
            // the blocks after it, if any, are looked for.
            damage();
            at_ += 1;
            continue;
        }
        const std::uint32_t trailer =
            order ? bigEndian32(start + length - 4) : littleEndian32(start + length - 4);
        if (trailer != length) {
            damage();
            at_ += 1;
            continue;
        }
        inDamage_ = false;
        bigEndian_ = order;
        at_ += length;
        block(blockType, std::string_view(start + 8, length - kMinBlockBytes));
    }
}

void PcapngBlockReader::block(std::uint32_t type, std::string_view body)
{
    switch (type) {
    case kSectionHeaderType:
        section(body);
        return;
    case kInterfaceDescriptionType:
        interface(body);
        return;
    case kEnhancedPacketType:
        packet(body);
        return;
    default:
        return; // statistics, name resolution and the like say nothing of records
    }
}

void PcapngBlockReader::section(std::string_view body)
{
    sectionSeen_ = true;
    interfaces_.clear();
    if (body.size() < 16) {
        damage();
    }
}

void PcapngBlockReader::interface(std::string_view body)
{
    if (body.size() < 8) {
        damage();
        return;
    }
    Interface added;
    added.linkType = u16(body.data());
    // Options: code, length, the value padded to 4 bytes, up to opt_endofopt.
    std::size_t at = 8;
    while (body.size() - at >= 4) {
        const std::uint16_t code = u16(body.data() + at);
        const std::uint16_t size = u16(body.data() + at + 2);
        if (code == kOptEnd || padded(size) > body.size() - at - 4) {
            break;
        }
        if (code == kIfTsResolution && size == 1) {
            added.resolution = static_cast<std::uint8_t>(body[at + 4]);
        }
        at += 4 + padded(size);
    }
    // Interfaces past the bound are not kept: packets on them count as
    // damaged rather than being put on another.
    if (interfaces_.size() < kMaxInterfaces) {
        interfaces_.push_back(added);
    }
}

std::optional<std::uint64_t> PcapngBlockReader::microseconds(std::uint64_t stamp,
                                                             std::uint8_t resolution) const
{
    const unsigned exponent = resolution & 0x7FU;
    std::uint64_t value = stamp;
    if ((resolution & 0x80U) != 0) {
        // Powers of 2 are rare (no tool of ours writes them): a long double
        // keeps 64 bits, enough for a microsecond.
        const long double micros =
            std::ldexp(static_cast<long double>(stamp) * 1e6L, -static_cast<int>(exponent));
        if (micros >= static_cast<long double>(kMaxMicroseconds)) {
            return std::nullopt;
        }
        value = static_cast<std::uint64_t>(micros);
    } else if (exponent <= 6) {
        for (unsigned i = exponent; i < 6; ++i) {
            if (value > kMaxMicroseconds / 10) {
                return std::nullopt;
            }
            value *= 10;
        }
    } else {
        for (unsigned i = 6; i < exponent && value != 0; ++i) {
            value /= 10;
        }
    }
    if (value > kMaxMicroseconds) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

void PcapngBlockReader::packet(std::string_view body)
{
    if (body.size() < 20) {
        damage();
        return;
    }
    const std::uint32_t interface = u32(body.data());
    const std::uint64_t stamp =
        std::uint64_t{u32(body.data() + 4)} << 32 | std::uint64_t{u32(body.data() + 8)};
    const std::uint32_t captured = u32(body.data() + 12);
    if (interface >= interfaces_.size() || captured > body.size() - 20 ||
        padded(captured) > body.size() - 20) {
        damage();
        return;
    }
    const std::optional<std::uint64_t> time =
        microseconds(stamp, interfaces_[interface].resolution);
    if (!time) {
        damage();
        return;
    }
    PcapngPacket packet;
    packet.timeMicroseconds = *time;
    packet.linkType = interfaces_[interface].linkType;
    packet.data = body.substr(20, captured);
    std::size_t at = 20 + padded(captured);
    while (body.size() - at >= 4) {
        const std::uint16_t code = u16(body.data() + at);
        const std::uint16_t size = u16(body.data() + at + 2);
        if (code == kOptEnd || padded(size) > body.size() - at - 4) {
            break;
        }
        const std::string_view value = body.substr(at + 4, size);
        if (code == kOptComment && packet.comment.empty()) {
            packet.comment = value;
        } else if (code == kEpbFlags && size == 4) {
            packet.direction = static_cast<pcapng::PacketDirection>(u32(value.data()) & 0x3);
        }
        at += 4 + padded(size);
    }
    if (onPacket_) {
        onPacket_(packet);
    }
}

} // namespace traffic
