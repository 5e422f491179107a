#include "recordfilelist.h"

#include "recordfilename.h"
#include "recordline.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace traffic
{

namespace
{

namespace fs = std::filesystem;

// A failed call's errno as the record folder's fault about `path`; errno is
// read before the path's text is made.
base::Error failure(base::Fault fault, const fs::path& path)
{
    const int code = errno;
    return base::Error(fault, code, path.string());
}

// What a file takes: its bytes, but no more than the blocks allocated to it,
// so that a sparse file of a huge length does not push every other file out.
std::uint64_t countedSize(const struct stat& info)
{
    const auto length = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    const auto allocated = static_cast<std::uint64_t>(std::max<blkcnt_t>(info.st_blocks, 0)) * 512;
    return std::min(length, allocated);
}

// Closes a descriptor when it goes out of scope.
struct FdGuard {
    int fd;
    ~FdGuard()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Opens `name` in the folder for reading without following a link or
// waiting on a fifo; -1 when it is not the regular file `info` described.
int openSame(int folderFd, const char* name, const struct stat& info)
{
    const int fd =
        ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat opened {
    };
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_ino != info.st_ino ||
                    opened.st_dev != info.st_dev || !S_ISREG(opened.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// How a pcapng file begins: a section header block (its type, then its
// length, then the byte-order magic as written little-endian).
constexpr std::string_view kPcapngBlockType{"\x0a\x0d\x0d\x0a", 4};
constexpr std::string_view kPcapngByteOrder{"\x4d\x3c\x2b\x1a", 4};

// A regular file of the user's that starts with the record file header, or
// with a pcapng section header.
bool isOwnRecordFile(int folderFd, const char* name, const struct stat& info)
{
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        return false;
    }
    const FdGuard file{openSame(folderFd, name, info)};
    if (file.fd < 0) {
        return false;
    }
    std::string first(std::max<std::size_t>(kRecordFileHeader.size(), 12), '\0');
    const ssize_t n = ::pread(file.fd, first.data(), first.size(), 0);
    const std::string_view start(first.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    return start.starts_with(kRecordFileHeader) ||
           (start.size() >= 12 && start.starts_with(kPcapngBlockType) &&
            start.substr(8, 4) == kPcapngByteOrder);
}

} // namespace

base::Error RecordFileList::rescan(int folderFd, const fs::path& folder,
                                   const std::string& currentName)
{
    // A directory stream of its own, so that the folder's descriptor keeps
    // its place for openat and the next listing starts at the beginning.
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (dir == nullptr) {
        const base::Error failed = failure(base::Fault::CannotListFolder, folder);
        if (listFd >= 0) {
            ::close(listFd);
        }
        return failed;
    }
    std::vector<File> found;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            break;
        }
        const std::string_view name = entry->d_name;
        struct stat info {
        };
        if (!isRecordFileName(name) || name == currentName ||
            ::fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        // A file seen before as the same inode keeps what is known of it;
        // only a new one is opened to check its first line.
        const auto known = std::find_if(files_.begin(), files_.end(), [&](const File& file) {
            return file.name == name && file.inode == info.st_ino;
        });
        if (known != files_.end() && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
            found.push_back(*known);
        } else if (isOwnRecordFile(folderFd, entry->d_name, info)) {
            found.push_back({std::string(name), info.st_ino});
        } else {
            continue;
        }
        found.back().size = countedSize(info);
    }
    const int listError = errno;
    ::closedir(dir);
    if (listError != 0) {
        return base::Error(base::Fault::CannotListFolder, listError, folder.string());
    }
    std::sort(found.begin(), found.end(),
              [](const File& a, const File& b) { return a.name < b.name; });
    if (!currentName.empty() && !files_.empty()) {
        found.push_back(files_.back());
    }
    files_ = std::move(found);
    used_ = 0;
    for (const File& file : files_) {
        used_ += file.size;
    }
    return {};
}

base::Error RecordFileList::deleteOldest(int folderFd, const fs::path& folder, bool hasCurrent,
                                         bool& deleted)
{
    deleted = false;
    const std::size_t candidates = hasCurrent ? files_.size() - 1 : files_.size();
    for (std::size_t i = 0; i < candidates; ++i) {
        const File oldest = files_[i];
        struct stat info {
        };
        if (::fstatat(folderFd, oldest.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            info.st_ino != oldest.inode) {
            // Gone or replaced since the listing: its room is free already.
            erase(i);
            deleted = true;
            return {};
        }
        // Holding the lock while deleting keeps another recorder from
        // starting to write it meanwhile; a file locked by one is its live
        // file, and stays.
        // (A file system without locks fails otherwise: nothing to wait for.)
        const FdGuard file{openSame(folderFd, oldest.name.c_str(), info)};
        if (file.fd < 0 || (::flock(file.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
            continue;
        }
        if (::unlinkat(folderFd, oldest.name.c_str(), 0) != 0 && errno != ENOENT) {
            return failure(base::Fault::CannotDelete, folder / oldest.name);
        }
        erase(i);
        ++deleted_;
        if (oldest.own) {
            keptRecords_ -= std::min(keptRecords_, oldest.records);
            keptBytes_ -= std::min(keptBytes_, oldest.bytes);
        }
        deleted = true;
        return {};
    }
    return {};
}

void RecordFileList::erase(std::size_t index)
{
    used_ -= std::min(used_, files_[index].size);
    files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(index));
}

void RecordFileList::addCurrent(std::string name, std::uint64_t inode)
{
    files_.push_back({std::move(name), inode, 0, true});
}

void RecordFileList::grow(std::uint64_t bytes)
{
    used_ += bytes;
    files_.back().size += bytes;
}

void RecordFileList::cut(std::uint64_t bytes)
{
    used_ -= std::min(used_, bytes);
    files_.back().size -= std::min(files_.back().size, bytes);
}

void RecordFileList::countKept(std::uint64_t records, std::uint64_t bytes)
{
    File& file = files_.back();
    file.records += records;
    file.bytes += bytes;
    keptRecords_ += records;
    keptBytes_ += bytes;
}

} // namespace traffic
