#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devicetools
{

// The tools' byte texts, in the one escaping of the traffic layer
// (traffic/bytetext.h), so that the tools show bytes as the console's Traffic
// window and record files do.

// How many bytes a hex dump shows before it is cut with an ellipsis.
inline constexpr std::size_t kHexDumpLimit = 200;

// The bytes as two-digit lower-case hex numbers separated by blanks, at most
// `limit` of them, then " ..." when there were more.
std::string hexBytes(std::string_view bytes, std::size_t limit = kHexDumpLimit);

// The bytes as one printable line: CR, LF, NUL and backslash as \r \n \0 \\,
// other bytes below 32 and 127 as \xNN; bytes from 128 on stand as
// they are. With `quote`, a double quote is escaped as \" too.
std::string escapedText(std::string_view bytes, bool quote = false);

// As escapedText(), but bytes from 128 on are written as \xNN too, so that
// bytes from a peer never reach a terminal raw.
std::string escapedAscii(std::string_view bytes, bool quote = false);

} // namespace devicetools
