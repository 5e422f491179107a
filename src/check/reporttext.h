#pragma once

#include <string>
#include <string_view>

namespace check
{

// Texts from devices and files made safe for the places a report puts them.
// Device bytes are hostile: they may hold control bytes that move a
// terminal's cursor, bytes that are no UTF-8, markup, or the start of a
// spreadsheet formula. Pure functions; any thread.

// Valid UTF-8 kept as it is; every control byte (C0, DEL), C1 control
// character, U+FFFE and U+FFFF, bidirectional control (U+202A-U+202E,
// U+2066-U+2069, U+200E, U+200F, U+061C) and byte that is not part of valid
// UTF-8 written as \xNN, byte by byte. Safe for a terminal, valid in XML
// 1.0 once markup is escaped, and no text can show as another.
std::string readableText(std::string_view bytes);

// readableText() with & < > " ' written as character references: safe
// inside an XML or HTML element and inside a quoted attribute.
std::string markupText(std::string_view bytes);

// One CSV field (RFC 4180), the one CSV dialect of every CSV the programs
// write: readableText(), a leading = + - @ (which a
// spreadsheet would run as a formula) guarded by a leading apostrophe, and
// in double quotes (quotes inside doubled) when it holds a comma, a quote or
// a blank at either end.
std::string csvField(std::string_view bytes);

} // namespace check
