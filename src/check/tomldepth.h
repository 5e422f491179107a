#pragma once

#include "base/error.h"

#include <cstddef>
#include <string_view>

namespace check
{

// How deep a check file's text nests, judged before the TOML parser sees it:
// the parser recurses once for each part of a dotted key or table header and
// each array or inline table, so a text of a few hundred kilobytes could run
// the stack out. One pass over the bytes, skipping strings and comments:
// no run of dotted parts (a key, a header) may have more than kMaxKeyParts
// parts, and arrays, inline tables and headers may nest at most kMaxNesting
// deep. Valid check files keep far below both. Pure; any thread.
struct TomlDepth {
    static constexpr std::size_t kMaxKeyParts = 32;
    static constexpr std::size_t kMaxNesting = 32;

    // Where the text first nests too deep, as a check file's mistake
    // ("<fileName>:line:column", the text's first line counted as
    // `firstLine`), or no failure.
    static base::Error check(std::string_view text, std::string_view fileName, int firstLine = 1);
};

} // namespace check
