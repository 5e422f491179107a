#pragma once

#include "traffic/trafficrecord.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace app::trafficformat
{

// What the Traffic window adds to the core's record texts (traffic/bytetext.h,
// traffic/recordline.h): local times and the dump of the detail pane. Plain
// functions of their arguments (and the local time zone); any thread.

// The local time of day with microseconds, "14:02:07.513042".
QString timeOfDay(std::chrono::system_clock::time_point time);
// The local date and time with microseconds, "2026-12-07 14:02:07.513042".
QString dateTime(std::chrono::system_clock::time_point time);

// A core text (ASCII or UTF-8) as a QString.
QString text(std::string_view utf8);

// The direction a record is shown under: "sent", "received", "event"; a write
// that did not send its whole block says so ("sent (failed)", "sent
// (partial)"), or it would look like any other sent row.
QString directionText(const traffic::Record& record);

// The offset / hex / ASCII dump of at most kDumpLimit bytes: 16 bytes a line,
// "00000000  41 00 07 08 09 0d 0a 42  43 44 45 46 47 48 49 4a  |A......BCDEFGHIJ|",
// bytes outside 0x20..0x7e shown as '.' in the ASCII part, every line ended by
// '\n'; a longer block ends with a line saying how many bytes were left out.
inline constexpr std::size_t kDumpBytesPerLine = 16;
inline constexpr std::size_t kDumpLimit = 64 * 1024;
std::string dump(std::string_view bytes);

// The detail pane's text of a record: its date and time, direction, kind and
// length, its description, its frames (one a line) and the dump of its bytes.
QString detailText(const traffic::Record& record, std::string_view frames);

} // namespace app::trafficformat
