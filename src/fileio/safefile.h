#pragma once

#include "base/error.h"

#include <string>
#include <string_view>

namespace fileio
{

// A file written safely by its name: the one way the programs write a file
// a user named (reports, exports, saved lists). The bytes go to a temporary
// file made owner-only (0600) in the target's folder; commit() syncs it and
// renames it over the target, so the target is either the old file or the
// whole new one, and it is never opened itself: a symbolic link there is
// replaced, never followed, and no existing file's mode is ever changed. A
// target that exists and is no regular file (a device, FIFO, socket, folder
// or link) is refused with what it is. A SafeFile destroyed without commit()
// removes its temporary file.
//
// Results: CannotCreateFile (the temporary file, or a target that is no
// regular file) and CannotWrite (writing, syncing, renaming), their detail
// the target's path ("cannot write out.xml: No space left on device").
// Move-only; one thread at a time.
class SafeFile
{
public:
    // Whether a file could be written at `path` now: the target is missing
    // or a regular file, and a temporary file can be made beside it (made
    // and removed again). Nothing at `path` is touched.
    static base::Error check(const std::string& path);
    // Writes the whole `bytes` to `path`.
    static base::Error write(const std::string& path, std::string_view bytes);
    // Makes every missing folder on the way to `folder`, each owner-only
    // (0700) from the moment it exists; folders already there stay as they
    // are. CannotCreateFolder with the errno and the step that failed.
    static base::Error makeFolders(const std::string& folder);
    // makeFolders() for the folder `path` goes in (nothing for a bare name).
    static base::Error makeFoldersFor(const std::string& path);

    static base::Result<SafeFile> create(const std::string& path);
    SafeFile(SafeFile&& other) noexcept;
    SafeFile& operator=(SafeFile&& other) noexcept;
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;
    ~SafeFile();

    // The errno of making the temporary file owner-only (0 when it is): a
    // file system without permissions (FAT) cannot keep it so.
    int permissionError() const { return permissionError_; }
    // Appends `bytes`; after a failure every later call fails the same way.
    base::Error append(std::string_view bytes);
    // Syncs the temporary file and puts it in the target's place.
    base::Error commit();

private:
    SafeFile(int fd, std::string path, std::string temporary, int permissionError)
        : fd_(fd), path_(std::move(path)), temporary_(std::move(temporary)),
          permissionError_(permissionError)
    {
    }
    void discard();

    int fd_ = -1;
    std::string path_;
    std::string temporary_;
    int permissionError_ = 0;
    base::Error failed_;
};

} // namespace fileio
