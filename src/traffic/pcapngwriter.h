#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace traffic
{

// The blocks of a pcapng file, built as bytes in the file's byte order
// (little-endian): a Section Header Block, one Interface Description Block
// and Enhanced Packet Blocks. Every block is padded to 4 bytes, its options
// are ended by opt_endofopt, and its total length is written at both ends.
// Pure functions; safe on any thread.
namespace pcapng
{

// The link types used here: packets that start with their IPv4 header.
inline constexpr std::uint16_t kLinkTypeRaw = 101;
inline constexpr std::uint16_t kLinkTypeIpv4 = 228;

// epb_flags: the direction of a packet.
enum class PacketDirection : std::uint8_t { Unknown = 0, Inbound = 1, Outbound = 2 };

// One packet: its bytes are `head` followed by `body` (so that synthesized
// headers need not be copied in front of the payload first); `comment` goes
// into opt_comment when not empty.
struct Packet {
    std::uint64_t timeMicroseconds = 0; // since 1970-01-01 UTC
    PacketDirection direction = PacketDirection::Unknown;
    std::string_view head;
    std::string_view body;
    std::string_view comment;
};

// A section of unknown length, with shb_userappl `application` when not empty.
std::string sectionHeaderBlock(std::string_view application = {});
// Interface 0 of the section: `linkType`, no snap length, if_tsresol 6
// (timestamps in microseconds).
std::string interfaceDescriptionBlock(std::uint16_t linkType);

// The Enhanced Packet Block of `packet` on interface 0; appendEnhancedPacket()
// adds it to `out` and gives the ones' complement sum of its body
// (internetchecksum.h), taken from the copy just made while it is in the
// cache, so that a checksum over the body needs no pass over the caller's
// memory; enhancedPacketSize() is its size in bytes. The packet's bytes start
// kPacketDataOffset bytes into the block.
inline constexpr std::size_t kPacketDataOffset = 28;
std::string enhancedPacketBlock(const Packet& packet);
std::uint16_t appendEnhancedPacket(std::string& out, const Packet& packet);
std::size_t enhancedPacketSize(const Packet& packet);

// A Decryption Secrets Block holding TLS key log lines (the NSS key log
// format, one line each, "\n" ended), so that a capture tool decrypts the
// TLS sessions they belong to: in this file, or in a capture of the same
// sessions taken on the wire. Empty for no lines.
inline constexpr std::uint32_t kTlsKeyLogSecrets = 0x544c534b; // "TLSK"
std::string decryptionSecretsBlock(std::string_view keyLogLines);

// How many bytes at the start of `blocks` (which starts with a block) are
// whole blocks: where a file cut short has to end to be read to its end.
std::size_t wholeBlocksSize(std::string_view blocks);

} // namespace pcapng

} // namespace traffic
