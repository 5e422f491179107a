#pragma once

#include <cstddef>
#include <cstdint>

namespace traffic::pcapng
{

// The numbers of the pcapng file format that the record files use, shared by
// the writer and the reader so that the two cannot drift apart.
inline constexpr std::uint32_t kSectionHeaderType = 0x0A0D0D0A;
inline constexpr std::uint32_t kInterfaceDescriptionType = 0x00000001;
inline constexpr std::uint32_t kEnhancedPacketType = 0x00000006;
inline constexpr std::uint32_t kDecryptionSecretsType = 0x0000000A;
inline constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

inline constexpr std::uint16_t kOptEnd = 0;
inline constexpr std::uint16_t kOptComment = 1;
inline constexpr std::uint16_t kEpbFlags = 2;
inline constexpr std::uint16_t kShbUserApplication = 4;
inline constexpr std::uint16_t kIfTsResolution = 9;

// Blocks and option values are padded to 32 bits.
constexpr std::size_t padded(std::size_t size)
{
    return (size + 3) & ~std::size_t{3};
}

} // namespace traffic::pcapng
