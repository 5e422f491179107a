#pragma once

#include "trafficrecord.h"

#include <string_view>

namespace traffic
{

// The fixed starts of the texts that tell a record's facts, as the channel's
// records are written (ChannelRecorder) and as record files are read back.
inline constexpr std::string_view kUdpConnectText = "UDP ";
inline constexpr std::string_view kTcpConnectText = "TCP ";
inline constexpr std::string_view kRefusedText = "Connection refused";
inline constexpr std::string_view kWrittenText = " bytes written";
inline constexpr std::string_view kPeerClosedText = "Connection closed by the peer";
inline constexpr std::string_view kDroppedText = "Connection dropped";
inline constexpr std::string_view kZeroLengthText = "Zero-length datagram";

// The facts a record's text tells, for a record read back from a file (the
// line format, a pcapng comment), which keeps only the text: the one place
// that reads a text for its meaning. A text of the caller's own (a note)
// tells nothing. Pure; any thread.
RecordFacts recordFacts(RecordKind kind, std::string_view text);

} // namespace traffic
