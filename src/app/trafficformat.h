#pragma once

#include "traffic/trafficrecord.h"

#include <QString>

#include <cstddef>
#include <string>
#include <string_view>

namespace app::trafficformat
{

// How the Traffic window writes a record's parts. UI thread or any thread:
// these are plain functions of their arguments (and the local time zone).

// The local time of day with microseconds, "14:02:07.513042".
QString timeOfDay(std::chrono::system_clock::time_point time);
// The local date and time with microseconds, "2026-12-07 14:02:07.513042".
QString dateTime(std::chrono::system_clock::time_point time);

// UTC in ISO 8601 with microseconds, "2026-12-07T13:02:07.513042Z".
QString utcTime(std::chrono::system_clock::time_point time);

// "sent", "received" or "event".
QString direction(traffic::Direction direction);
// What a record is about, "connect attempt", "read", ...
QString kind(traffic::RecordKind kind);

// The bytes as text, every byte as one character and every byte that does not
// print shown distinctly (see the core's visibleText()).
QString visible(std::string_view bytes);
// The bytes as two-digit hex pairs separated by blanks (the core's hexText()).
QString hex(std::string_view bytes);

// The offset / hex / ASCII dump of at most kDumpLimit bytes: 16 bytes a line,
// "00000000  41 00 07 08 09 0d 0a 42  43 44 45 46 47 48 49 4a  |A......BCDEFGHIJ|",
// bytes outside 0x20..0x7e shown as '.' in the ASCII part, every line ended by
// '\n'; a longer block ends with a line saying how many bytes were left out.
inline constexpr std::size_t kDumpBytesPerLine = 16;
inline constexpr std::size_t kDumpLimit = 64 * 1024;
std::string dump(std::string_view bytes);

} // namespace app::trafficformat
