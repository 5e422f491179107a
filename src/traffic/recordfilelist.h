#pragma once

#include "base/error.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace traffic
{

// The record files of a folder that its disk bound counts, and what they
// take: the recorder's own files (see RecordFolder), oldest first, with the
// file being written, when there is one, last. Used by one thread at a time,
// with the descriptor of the folder it lists (RecordFolder's).
//
// Results: base::Error with CannotListFolder or CannotDelete, the errno of the
// failed call and the path it concerns.
class RecordFileList
{
public:
    // Lists the folder at `folderFd` afresh (`folder` names it in errors).
    // `currentName`, when not empty, is the file being written, which keeps
    // its counts and stays last.
    base::Error rescan(int folderFd, const std::filesystem::path& folder,
                       const std::string& currentName);
    // Deletes the oldest unlocked file other than the current one; `deleted`
    // false when none is left. A file gone or replaced since the listing only
    // leaves the list.
    base::Error deleteOldest(int folderFd, const std::filesystem::path& folder, bool hasCurrent,
                             bool& deleted);
    void clear() { files_.clear(); }

    // A file just made by this object, which becomes the current one.
    void addCurrent(std::string name, std::uint64_t inode);
    // The current file grew or was cut by `bytes`.
    void grow(std::uint64_t bytes);
    void cut(std::uint64_t bytes);
    // `records` records of `bytes` bytes written to the current file.
    void countKept(std::uint64_t records, std::uint64_t bytes);

    std::uint64_t bytesOnDisk() const { return used_; }
    std::uint64_t filesDeleted() const { return deleted_; }
    std::uint64_t recordsKept() const { return keptRecords_; }
    std::uint64_t bytesKept() const { return keptBytes_; }

private:
    struct File {
        std::string name;
        std::uint64_t inode = 0;
        std::uint64_t size = 0;
        bool own = false;          // written by this object
        std::uint64_t records = 0; // own files: the records and bytes written
        std::uint64_t bytes = 0;
    };
    void erase(std::size_t index);

    std::vector<File> files_; // oldest first; the current file last
    std::uint64_t used_ = 0;
    std::uint64_t deleted_ = 0;
    std::uint64_t keptRecords_ = 0;
    std::uint64_t keptBytes_ = 0;
};

} // namespace traffic
