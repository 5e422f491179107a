#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// One record of a CSV text and the line it starts on (1-based).
struct CsvRow {
    int line = 0;
    std::vector<std::string> fields;
};

// Reads comma-separated values as spreadsheets write them: fields in double
// quotes may hold commas, line breaks and doubled quotes (""); lines end in
// LF or CR LF; a UTF-8 byte-order mark at the start is skipped; empty lines
// are skipped. One row is held at a time, so memory stays with the widest
// row however many rows there are. Pure; any thread.
class CsvReader
{
public:
    // Gets each row in order; false stops the reading.
    using RowHandler = std::function<bool(CsvRow& row)>;

    // Hands each row to `each`. False, with `error` ("line 4: ...") set, for
    // a quote that is never closed or text after a closing quote; false with
    // `error` untouched when `each` stopped the reading.
    static bool read(std::string_view text, const RowHandler& each, std::string& error);
};

} // namespace devicetools
