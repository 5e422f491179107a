#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace traffic
{

// Bytes shown as text, the same way in the Traffic window, in the record
// files and in the tools' output, so that what a technician sees on screen can
// be searched for in a file. Pure functions; safe on any thread.

// Every byte shown distinctly and reversibly: printable ASCII (0x20..0x7E) as
// it is, except the backslash; then
//   \\  backslash        \0  NUL (0)
//   \r  CR (13)          \n  LF (10)
//   \xHH every other byte, two lower-case hex digits; among them the frame
//        delimiters 7, 8, 9 (\x07 \x08 \x09), other control bytes and 0x7F..0xFF.
std::string visibleText(std::string_view bytes);

// Where a text for a terminal may differ from visibleText(); the defaults
// differ in nothing. The record files always use visibleText() itself.
struct VisibleTextStyle {
    // '"' as \" (for a text shown between double quotes).
    bool escapeQuote = false;
    // Bytes from 0x80 on as they are, not as \xHH (for texts the operator
    // gave, such as host or file names, which may be UTF-8).
    bool rawHighBytes = false;
};

// visibleText(bytes) in `style`.
std::string visibleText(std::string_view bytes, VisibleTextStyle style);

// Appends visibleText(bytes) to `out` (no allocation while `out` has room).
void appendVisibleText(std::string& out, std::string_view bytes);

// The most characters visibleText() makes of one byte.
inline constexpr std::size_t kMaxVisibleCharsPerByte = 4;

// For a writer that formats into room of its own: writes visibleText(bytes)
// at `out`, which has room for kMaxVisibleCharsPerByte * bytes.size()
// characters, and returns the end of what it wrote. Characters after that end
// within the room may be changed.
char* writeVisibleText(char* out, std::string_view bytes);

// The bytes that visibleText() turned into `text`; nullopt for a text that
// visibleText() cannot have produced (an unknown escape, a cut-off escape,
// upper-case or missing hex digits, a byte outside 0x20..0x7E).
std::optional<std::string> bytesFromVisibleText(std::string_view text);

// Each byte as two lower-case hex digits; `spaced` puts one space between
// bytes ("0d 0a"), otherwise they follow one another ("0d0a").
std::string hexText(std::string_view bytes, bool spaced = true);

// Appends hexText(bytes, false) to `out`.
void appendHexText(std::string& out, std::string_view bytes);
// Writes hexText(bytes, false) at `out`, which has room for 2 * bytes.size()
// characters, and returns its end.
char* writeHexText(char* out, std::string_view bytes);

// The bytes of a hex text, spaced or not (upper- or lower-case digits);
// nullopt for anything else (an odd digit count, a stray character).
std::optional<std::string> bytesFromHexText(std::string_view text);

} // namespace traffic
