#pragma once

#include "base/error.h"

#include <cstddef>
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
// are skipped. Pure; any thread.
class CsvReader
{
public:
    // The rows; BadInput for a quote that is never closed or text after a
    // closing quote, with "<name>:<line>" as its detail (`name` names the text).
    [[nodiscard]] static base::Result<std::vector<CsvRow>> read(std::string_view text,
                                                                std::string_view name);
};

} // namespace devicetools
