#pragma once

#include <sys/stat.h>

#include <string>

namespace fileio
{

// Why a file of `mode` (from stat or lstat) is refused where a regular file
// is wanted: "it is a FIFO, not a regular file", or for a link "it is a
// symbolic link; name the file itself". Pure; any thread.
inline std::string notRegularReason(mode_t mode)
{
    if (S_ISLNK(mode)) {
        return "it is a symbolic link; name the file itself";
    }
    const char* kind = S_ISDIR(mode)                    ? "a directory"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                 ? "a socket"
                                                        : "no ordinary file";
    return std::string("it is ") + kind + ", not a regular file";
}

} // namespace fileio
