#pragma once

#include <string>
#include <string_view>

namespace devicetools
{

// Writes a report file. Reports quote what devices sent, so a file is made
// owner-only (0600), also when it existed before, and a symbolic link is
// never followed. One thread at a time per path.
class ReportFile
{
public:
    // False, with `error` ("cannot write out.xml: Permission denied"), when
    // the file cannot be made or written whole.
    static bool write(const std::string& path, std::string_view text, std::string& error);
};

} // namespace devicetools
