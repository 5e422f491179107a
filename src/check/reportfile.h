#pragma once

#include "base/error.h"

#include <string>
#include <string_view>

namespace check
{

// Writes a report file. Reports quote what devices sent, so a file is made
// owner-only (0600), also when it existed before, and a symbolic link is
// never followed. One thread at a time per path.
class ReportFile
{
public:
    // CannotCreateFile or CannotWrite with the path ("cannot write out.xml:
    // No space left on device") when the file cannot be made or written whole.
    static base::Error write(const std::string& path, std::string_view text);
};

} // namespace check
