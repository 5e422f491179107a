#include "recordfacts.h"

#include <charconv>

namespace traffic
{

RecordFacts recordFacts(RecordKind kind, std::string_view text)
{
    switch (kind) {
    case RecordKind::ConnectAttempt:
        return {text.starts_with(kUdpConnectText) ? RecordFact::Udp : RecordFact::None};
    case RecordKind::ConnectFailed:
        return {text.starts_with(kRefusedText) ? RecordFact::Refused : RecordFact::None};
    case RecordKind::Write: {
        std::size_t count = 0;
        const char* const end = text.data() + text.size();
        const auto parsed = std::from_chars(text.data(), end, count);
        if (parsed.ec != std::errc() || std::string_view(parsed.ptr, end) != kWrittenText)
            return {RecordFact::NotWritten};
        return {RecordFact::Written, count};
    }
    case RecordKind::Event:
        if (text.starts_with(kPeerClosedText))
            return {RecordFact::PeerClosed};
        if (text.starts_with(kDroppedText))
            return {RecordFact::Dropped};
        if (text.starts_with(kZeroLengthText))
            return {RecordFact::ZeroLength};
        return {};
    case RecordKind::Connected:
    case RecordKind::Read:
    case RecordKind::Disconnect:
        break;
    }
    return {};
}

} // namespace traffic
