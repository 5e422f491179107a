#pragma once

#include "bytetext.h"
#include "trafficrecord.h"

#include <optional>
#include <string>
#include <string_view>

namespace traffic
{

// The line format of the record files: one record a line, seven fields
// separated by TAB, ended by LF, plain ASCII (so also UTF-8):
//
//   time  direction  kind  length  bytes  hex  note
//
//   time       ISO-8601 UTC with microseconds: 2026-12-07T08:15:02.123456Z
//   direction  sent | received | event
//   kind       connect | connected | connect-failed | write | read | event | disconnect
//   length     the number of bytes, in decimal
//   bytes      visibleText() of the bytes (TAB and LF inside are escaped)
//   hex        the bytes as hex digits, two a byte, without spaces
//   note       visibleText() of the record's text (the write's result, the
//              frame check's verdict, an address, an error)
//
// Lines starting with '#' are comments (each file starts with one naming the
// fields). A line gives back the exact record: time to the microsecond,
// kind, bytes and text, and the facts its text tells (recordFacts()). Pure
// functions; safe on any thread.

inline constexpr std::string_view kRecordFileHeader =
    "# traffic record 1\ttime\tdirection\tkind\tlength\tbytes\thex\tnote\n";

// The names used in the files (and offered to the window).
std::string_view directionName(Direction direction);
std::string_view kindName(RecordKind kind);
std::optional<RecordKind> kindFromName(std::string_view name);

// "2026-12-07T08:15:02.123456Z"; anything finer than a microsecond is cut.
std::string isoTime(std::chrono::system_clock::time_point time);
// The time of an isoTime() text; nullopt for any other text.
std::optional<std::chrono::system_clock::time_point> timeFromIso(std::string_view text);

// The line of a record, LF included. appendRecordLine() adds it to `out`.
std::string recordLine(const RecordView& record);
void appendRecordLine(std::string& out, const RecordView& record);

// For a writer that formats into room of its own: the most characters the
// line of `record` can take, and the line written at `out`, which has that
// much room (characters after the line within it may be changed); returns
// the end of the line.
std::size_t recordLineBound(const RecordView& record);
char* writeRecordLine(char* out, const RecordView& record);

// The record of a line (with or without its LF); nullopt for a comment, an
// empty line or a line that recordLine() cannot have written, including one
// whose fields disagree (length, bytes and hex, direction and kind).
std::optional<Record> recordFromLine(std::string_view line);

} // namespace traffic
