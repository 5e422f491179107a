#pragma once

#include "base/error.h"

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
    // Gets each row in order; a failure stops the reading and is returned.
    using RowHandler = std::function<base::Error(const CsvRow& row)>;

    // Hands each row to `each`. BadInput for a quote that is never closed or
    // text after a closing quote, with "<name>:<line>" as its detail (`name`
    // names the text); else what `each` failed with, if it did.
    static base::Error read(std::string_view text, std::string_view name, const RowHandler& each);
};

} // namespace devicetools
