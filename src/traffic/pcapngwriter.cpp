#include "pcapngwriter.h"

#include "internetchecksum.h"
#include "pcapngformat.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace traffic::pcapng
{

namespace
{

// The file is written little-endian whatever the host's order, so every
// number goes byte by byte.
void put16(std::string& out, std::uint16_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

void pad(std::string& out, std::size_t size)
{
    out.append(padded(size) - size, '\0');
}

void putOption(std::string& out, std::uint16_t code, std::string_view value)
{
    put16(out, code);
    put16(out, static_cast<std::uint16_t>(value.size()));
    out.append(value);
    pad(out, value.size());
}

std::size_t optionSize(std::string_view value)
{
    return 4 + padded(value.size());
}

// Options longer than a 16-bit length cannot be written; a comment is cut
// to what fits, on a 4-byte boundary so that the padding stays simple.
std::string_view fitting(std::string_view value)
{
    return value.substr(0, std::min<std::size_t>(value.size(), 0xFFFC));
}

// The most of a packet's header or comment gathered with the fields around it.
constexpr std::size_t kGatheredBytes = 96;

// Up to N bytes of a block's fields, little-endian like put16/put32.
template <std::size_t N> class Fields
{
public:
    // Each number's bytes go in with one copy, which the compiler makes a
    // single store.
    void put16(std::uint16_t value)
    {
        const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
        std::memcpy(bytes_.data() + size_, bytes, sizeof bytes);
        size_ += sizeof bytes;
    }
    void put32(std::uint32_t value)
    {
        const char bytes[4] = {
            static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
            static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
        std::memcpy(bytes_.data() + size_, bytes, sizeof bytes);
        size_ += sizeof bytes;
    }
    void zeros(std::size_t count)
    {
        std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(size_), count, '\0');
        size_ += count;
    }
    // Adds `value`, or, when it is longer than kGatheredBytes, appends what
    // is gathered so far and `value` itself to `out`.
    void add(std::string& out, std::string_view value)
    {
        if (value.size() <= kGatheredBytes) {
            std::copy(value.begin(), value.end(),
                      bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
            size_ += value.size();
            return;
        }
        out.append(view());
        out.append(value);
        size_ = 0;
    }
    std::string_view view() const { return {bytes_.data(), size_}; }

private:
    std::array<char, N> bytes_;
    std::size_t size_ = 0;
};

} // namespace

std::string sectionHeaderBlock(std::string_view application)
{
    application = fitting(application);
    const std::size_t options = (application.empty() ? 0 : optionSize(application)) + 4;
    const auto total = static_cast<std::uint32_t>(28 + options);
    std::string out;
    out.reserve(total);
    put32(out, kSectionHeaderType);
    put32(out, total);
    put32(out, kByteOrderMagic);
    put16(out, 1); // version 1.0
    put16(out, 0);
    put32(out, 0xFFFFFFFF); // section length not given
    put32(out, 0xFFFFFFFF);
    if (!application.empty()) {
        putOption(out, kShbUserApplication, application);
    }
    put32(out, kOptEnd);
    put32(out, total);
    return out;
}

std::string interfaceDescriptionBlock(std::uint16_t linkType)
{
    constexpr std::uint32_t total = 20 + 8 + 4;
    std::string out;
    out.reserve(total);
    put32(out, kInterfaceDescriptionType);
    put32(out, total);
    put16(out, linkType);
    put16(out, 0);
    put32(out, 0); // no snap length
    put16(out, kIfTsResolution);
    put16(out, 1);
    out.append("\x06\0\0\0", 4); // 10^-6 s, padded
    put32(out, kOptEnd);
    put32(out, total);
    return out;
}

std::string decryptionSecretsBlock(std::string_view keyLogLines)
{
    if (keyLogLines.empty())
        return {};
    // Type, length, secrets type and length, the secrets, the length again.
    const std::size_t total = 16 + padded(keyLogLines.size()) + 4;
    std::string out;
    out.reserve(total);
    put32(out, kDecryptionSecretsType);
    put32(out, static_cast<std::uint32_t>(total));
    put32(out, kTlsKeyLogSecrets);
    put32(out, static_cast<std::uint32_t>(keyLogLines.size()));
    out.append(keyLogLines);
    out.append(padded(keyLogLines.size()) - keyLogLines.size(), '\0');
    put32(out, static_cast<std::uint32_t>(total));
    return out;
}

std::size_t enhancedPacketSize(const Packet& packet)
{
    const std::size_t captured = packet.head.size() + packet.body.size();
    const std::string_view comment = fitting(packet.comment);
    return 28 + padded(captured) + (comment.empty() ? 0 : optionSize(comment)) + 8 + 4 + 4;
}

std::uint16_t appendEnhancedPacket(std::string& out, const Packet& packet)
{
    // A block for every block recorded: the fields before the payload, and
    // those after it, are each gathered in an array of their own (the usual
    // header and comment fit), so that the block goes in with three appends
    // and the payload is copied once; it is summed from that copy, still in
    // the cache.
    const std::size_t captured = packet.head.size() + packet.body.size();
    const std::string_view comment = fitting(packet.comment);
    const auto total = static_cast<std::uint32_t>(enhancedPacketSize(packet));
    out.reserve(out.size() + total);
    Fields<kPacketDataOffset + kGatheredBytes> start;
    start.put32(kEnhancedPacketType);
    start.put32(total);
    start.put32(0); // interface 0
    start.put32(static_cast<std::uint32_t>(packet.timeMicroseconds >> 32));
    start.put32(static_cast<std::uint32_t>(packet.timeMicroseconds & 0xFFFFFFFF));
    start.put32(static_cast<std::uint32_t>(captured));
    start.put32(static_cast<std::uint32_t>(captured));
    start.add(out, packet.head);
    out.append(start.view());
    const std::size_t body = out.size();
    out.append(packet.body);
    const std::uint16_t sum = onesComplementSum(0, std::string_view(out).substr(body));
    Fields<3 + 4 + kGatheredBytes + 3 + 16> end;
    end.zeros(padded(captured) - captured);
    if (!comment.empty()) {
        end.put16(kOptComment);
        end.put16(static_cast<std::uint16_t>(comment.size()));
        end.add(out, comment);
        end.zeros(padded(comment.size()) - comment.size());
    }
    end.put16(kEpbFlags);
    end.put16(4);
    end.put32(static_cast<std::uint32_t>(packet.direction));
    end.put32(kOptEnd);
    end.put32(total);
    out.append(end.view());
    return sum;
}

std::size_t wholeBlocksSize(std::string_view blocks)
{
    std::size_t at = 0;
    while (blocks.size() - at >= 12) {
        const auto* length = reinterpret_cast<const unsigned char*>(blocks.data() + at + 4);
        const std::size_t size = std::size_t{length[0]} | std::size_t{length[1]} << 8 |
                                 std::size_t{length[2]} << 16 | std::size_t{length[3]} << 24;
        if (size < 12 || size > blocks.size() - at) {
            break;
        }
        at += size;
    }
    return at;
}

std::string enhancedPacketBlock(const Packet& packet)
{
    std::string out;
    appendEnhancedPacket(out, packet);
    return out;
}

} // namespace traffic::pcapng
