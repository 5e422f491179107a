#pragma once

#include "pcapngwriter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace traffic
{

// One packet of a pcapng file as PcapngBlockReader found it. The views are
// valid only during the call that hands it over.
struct PcapngPacket {
    std::uint64_t timeMicroseconds = 0;                                   // since 1970-01-01 UTC
    pcapng::PacketDirection direction = pcapng::PacketDirection::Unknown; // epb_flags
    std::uint16_t linkType = 0; // of the packet's interface
    std::string_view data;      // the captured bytes
    std::string_view comment;   // the first opt_comment; empty when none
};

// Reads the blocks of a pcapng file, from pieces of it in order however they
// are cut (feed() each, finish() after the last), and hands every Enhanced
// Packet Block's packet to `onPacket`. Sections of either byte order, any
// number of interfaces (if_tsresol in powers of 10 or of 2); blocks of other
// types are passed over.
//
// Damage: a block whose length is not a multiple of 4, below 12, above
// kMaxBlockBytes or unlike the copy at its end, bytes that are no block, a
// packet whose inner lengths or interface do not fit, a time beyond what the
// clock holds, and a block cut short at the end of the input are skipped;
// damaged() counts each such run of bytes once. After damage the reader looks
// for the next block a byte further on at a time (bytes put in
// between leave the blocks after them unaligned), taking only a section
// header, an interface or a packet block whose two lengths agree.
// Memory: one block (at most kMaxBlockBytes) beyond the piece being fed.
// Threads: none; one owner.
class PcapngBlockReader
{
public:
    static constexpr std::size_t kMaxBlockBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxInterfaces = 4096;

    using PacketHandler = std::function<void(const PcapngPacket&)>;

    explicit PcapngBlockReader(PacketHandler onPacket) : onPacket_(std::move(onPacket)) {}

    void feed(std::string_view piece);
    void finish();

    std::uint64_t damaged() const { return damaged_; }

    // True when `start` begins as a pcapng file does (a section header block
    // of either byte order); `start` needs 12 bytes for a yes.
    static bool looksLikePcapng(std::string_view start);

private:
    struct Interface {
        std::uint16_t linkType = 0;
        std::uint8_t resolution = 6; // if_tsresol
    };

    void readBlocks(bool last);
    // A run of damage starts (counted once) or goes on.
    void damage();
    std::uint32_t u32(const char* at) const;
    std::uint16_t u16(const char* at) const;
    void block(std::uint32_t type, std::string_view body);
    void section(std::string_view body);
    void interface(std::string_view body);
    void packet(std::string_view body);
    std::optional<std::uint64_t> microseconds(std::uint64_t stamp, std::uint8_t resolution) const;

    PacketHandler onPacket_;
    std::string buffer_;
    std::size_t at_ = 0; // where the next block starts in buffer_
    bool bigEndian_ = false;
    bool sectionSeen_ = false;
    bool inDamage_ = false;
    std::vector<Interface> interfaces_;
    std::uint64_t damaged_ = 0;
};

} // namespace traffic
