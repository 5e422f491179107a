#pragma once

#include "base/error.h"

#include <string>
#include <string_view>
#include <vector>

namespace check
{

// Writes report files. Reports quote what devices sent, so each is written
// as fileio::SafeFile writes: a new owner-only (0600) file put in the
// target's place, never written through a link, a device, a FIFO or a
// socket, and no existing file's mode changed. One thread at a time per path.
class ReportFile
{
public:
    // CannotCreateFile or CannotWrite with the path ("cannot write out.xml:
    // No space left on device") when the file cannot be made or written whole.
    static base::Error write(const std::string& path, std::string_view text);
    // Whether every one of `paths` (empty ones are skipped) could be written
    // now, checked before a run starts: each a regular file or none, in a
    // folder where a file can be made, and no two naming the same file
    // (BadInput). Nothing at the paths is touched.
    static base::Error checkAll(const std::vector<std::string>& paths);
};

} // namespace check
