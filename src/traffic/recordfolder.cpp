#include "recordfolder.h"

#include "recordfilename.h"
#include "recordline.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace traffic
{

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr int kMaxNameTries = 1000;

// A failed call's errno as the record folder's fault about `path`; errno is
// read before the path's text is made.
net::Error failure(net::Fault fault, const fs::path& path)
{
    const int code = errno;
    return net::Error(fault, code, path.string());
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

RecordFolder::RecordFolder(fs::path folder, std::uint64_t limitBytes)
    : folder_(std::move(folder)), limit_(std::max(limitBytes, kMinimumLimitBytes))
{
}

RecordFolder::~RecordFolder()
{
    closeFile();
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
}

net::Error RecordFolder::prepare()
{
    // Each missing step is made with 0700 itself, so no folder on the way is
    // ever open to others, not even for a moment.
    fs::path step;
    for (const fs::path& part : folder_) {
        step /= part;
        if (::mkdir(step.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            return failure(net::Fault::CannotCreateFolder, folder_);
        }
    }
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
    folderFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd_ < 0) {
        const bool noFolder = errno == ENOTDIR || errno == ELOOP;
        return failure(noFolder ? net::Fault::NotAFolder : net::Fault::CannotListFolder, folder_);
    }
    // A folder others may write in (a shared one, or one of theirs) lets them
    // plant, swap or take away what the bound counts and deletes.
    struct stat info {
    };
    if (::fstat(folderFd_, &info) != 0) {
        return failure(net::Fault::CannotListFolder, folder_);
    }
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return net::Error(net::Fault::UnsafeFolder, 0, folder_.string());
    }
    files_.clear();
    return rescan();
}

net::Error RecordFolder::rescan()
{
    // A directory stream of its own, so that the folder's descriptor keeps
    // its place for openat and the next listing starts at the beginning.
    const int listFd = ::openat(folderFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (dir == nullptr) {
        const net::Error failed = failure(net::Fault::CannotListFolder, folder_);
        if (listFd >= 0) {
            ::close(listFd);
        }
        return failed;
    }
    const std::string currentName = fd_ >= 0 ? currentPath_.filename().string() : std::string();
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
            ::fstatat(folderFd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        // A file seen before as the same inode keeps what is known of it;
        // only a new one is opened to check its first line.
        const auto known = std::find_if(files_.begin(), files_.end(), [&](const File& file) {
            return file.name == name && file.inode == info.st_ino;
        });
        if (known != files_.end() && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
            found.push_back(*known);
        } else if (isOwnRecordFile(folderFd_, entry->d_name, info)) {
            found.push_back({std::string(name), info.st_ino});
        } else {
            continue;
        }
        found.back().size = countedSize(info);
    }
    const int listError = errno;
    ::closedir(dir);
    if (listError != 0) {
        return net::Error(net::Fault::CannotListFolder, listError, folder_.string());
    }
    std::sort(found.begin(), found.end(),
              [](const File& a, const File& b) { return a.name < b.name; });
    if (fd_ >= 0 && !files_.empty()) {
        found.push_back(files_.back());
    }
    files_ = std::move(found);
    used_ = 0;
    for (const File& file : files_) {
        used_ += file.size;
    }
    return {};
}

net::Error RecordFolder::startFile(std::string_view label,
                                   std::chrono::system_clock::time_point start,
                                   std::string_view header)
{
    closeFile();
    if (folderFd_ < 0) {
        return net::Error(net::Fault::CannotListFolder, EBADF, folder_.string());
    }
    if (used_ + header.size() > limit_) {
        if (net::Error listed = rescan(); !listed.ok()) {
            return listed;
        }
    }
    for (bool deleted = true; deleted && used_ + header.size() > limit_;) {
        if (net::Error failed = deleteOldest(deleted); !failed.ok()) {
            return failed;
        }
    }
    // Every file gets a later time than the one before, so that the names
    // sort in the order the files were started, also when several start
    // within one millisecond or the clock steps back.
    auto time = std::max(std::chrono::floor<std::chrono::milliseconds>(start), lastStart_ + 1ms);
    const std::string suffix = "_" + std::string(label) + std::string(kind_.extension);
    for (int attempt = 0; attempt < kMaxNameTries; ++attempt, time += 1ms) {
        const std::string name = recordFileTime(time) + suffix;
        const fs::path path = folder_ / name;
        // Created with its final mode and never widened: O_EXCL also keeps a
        // link planted under the name from being followed.
        const int fd = ::openat(folderFd_, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kFileMode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            net::Error failed = failure(net::Fault::CannotCreateFile, path);
            currentPath_ = path;
            return failed;
        }
        // The lock tells another recorder on this folder that the file is
        // being written. A file system without locks records all the same.
        ::flock(fd, LOCK_EX | LOCK_NB);
        struct stat info {
        };
        ::fstat(fd, &info);
        lastStart_ = time;
        fd_ = fd;
        currentPath_ = path;
        currentLabel_ = std::string(label);
        currentSize_ = 0;
        files_.push_back({name, info.st_ino, 0, true});
        net::Error written = append(header).result;
        currentHeaderSize_ = currentSize_;
        return written;
    }
    currentPath_ = folder_ / (recordFileTime(time) + suffix);
    return net::Error(net::Fault::CannotCreateFile, EEXIST, currentPath_.string());
}

bool RecordFolder::fits(std::uint64_t bytes, std::uint64_t lastLine) const
{
    const bool onlyRecord = currentSize_ <= currentHeaderSize_ && bytes == lastLine;
    const bool fileHasRoom = currentSize_ + bytes <= limit_ / 4 || onlyRecord;
    return fd_ >= 0 && fileHasRoom && used_ + bytes <= limit_;
}

bool RecordFolder::makeRoom(std::uint64_t bytes, std::chrono::system_clock::time_point now,
                            std::string_view header, net::Error& result)
{
    result = {};
    if (fd_ < 0) {
        return false;
    }
    if (currentSize_ + bytes > limit_ / 4 && currentSize_ > currentHeaderSize_) {
        result = startFile(currentLabel_, now, header);
        if (!result.ok()) {
            return false;
        }
    }
    if (used_ + bytes > limit_) {
        // Another recorder on the folder may have added or deleted files
        // since the last listing.
        result = rescan();
        if (!result.ok()) {
            return false;
        }
    }
    while (used_ + bytes > limit_) {
        bool deleted = false;
        result = deleteOldest(deleted);
        if (!result.ok() || !deleted) {
            return false;
        }
    }
    return true;
}

net::Error RecordFolder::checkPresent() const
{
    struct stat info {
    };
    if (::fstat(folderFd_, &info) == 0 && info.st_nlink == 0) {
        return net::Error(net::Fault::RecordGone, 0, folder_.string());
    }
    if (::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
        return net::Error(net::Fault::RecordGone, 0, currentPath_.string());
    }
    return {};
}

RecordFolder::Appended RecordFolder::append(std::string_view lines,
                                            std::span<const std::size_t> recordEnds)
{
    if (net::Error gone = checkPresent(); !gone.ok()) {
        return {0, gone};
    }
    const bool header = currentSize_ == 0 && currentHeaderSize_ == 0;
    std::size_t landed = 0;
    while (landed < lines.size()) {
        const ssize_t n = ::write(fd_, lines.data() + landed, lines.size() - landed);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const net::Error failed = failure(net::Fault::CannotWrite, currentPath_);
            // A cut-off line is no record to a reader of the file; without
            // it the file ends with the last whole record. (Should the cut
            // fail too, the stray piece stays, and is still not counted.)
            const std::size_t lastEnd = lines.substr(0, landed).rfind('\n');
            const std::size_t whole = kind_.wholeSize != nullptr
                                          ? kind_.wholeSize(lines.substr(0, landed))
                                      : lastEnd == std::string_view::npos ? 0
                                                                          : lastEnd + 1;
            if (whole < landed) {
                cutEnd(landed - whole);
            }
            countKept(lines.substr(0, whole), header, recordEnds);
            return {whole, failed};
        }
        landed += static_cast<std::size_t>(n);
        currentSize_ += static_cast<std::uint64_t>(n);
        used_ += static_cast<std::uint64_t>(n);
        files_.back().size += static_cast<std::uint64_t>(n);
    }
    countKept(lines, header, recordEnds);
    return {landed, {}};
}

void RecordFolder::countKept(std::string_view lines, bool header,
                             std::span<const std::size_t> recordEnds)
{
    if (header) {
        return;
    }
    const auto records = static_cast<std::uint64_t>(
        recordEnds.empty() ? std::count(lines.begin(), lines.end(), '\n')
                           : std::upper_bound(recordEnds.begin(), recordEnds.end(), lines.size()) -
                                 recordEnds.begin());
    const std::uint64_t bytes = lines.size();
    File& file = files_.back();
    file.records += records;
    file.bytes += bytes;
    keptRecords_ += records;
    keptBytes_ += bytes;
}

bool RecordFolder::cutEnd(std::uint64_t bytes)
{
    const std::uint64_t size = currentSize_ - std::min(currentSize_, bytes);
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) {
        return false;
    }
    const std::uint64_t cut = currentSize_ - size;
    currentSize_ = size;
    used_ -= std::min(used_, cut);
    files_.back().size -= std::min(files_.back().size, cut);
    return true;
}

void RecordFolder::closeFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    currentSize_ = 0;
    currentHeaderSize_ = 0;
}

net::Error RecordFolder::deleteOldest(bool& deleted)
{
    deleted = false;
    const std::size_t candidates = fd_ >= 0 ? files_.size() - 1 : files_.size();
    for (std::size_t i = 0; i < candidates; ++i) {
        const File oldest = files_[i];
        struct stat info {
        };
        if (::fstatat(folderFd_, oldest.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            info.st_ino != oldest.inode) {
            // Gone or replaced since the listing: its room is free already.
            files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(i));
            used_ -= std::min(used_, oldest.size);
            deleted = true;
            return {};
        }
        // Holding the lock while deleting keeps another recorder from
        // starting to write it meanwhile; a file locked by one is its live
        // file, and stays.
        // (A file system without locks fails otherwise: nothing to wait for.)
        const FdGuard file{openSame(folderFd_, oldest.name.c_str(), info)};
        if (file.fd < 0 || (::flock(file.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
            continue;
        }
        if (::unlinkat(folderFd_, oldest.name.c_str(), 0) != 0 && errno != ENOENT) {
            return failure(net::Fault::CannotDelete, folder_ / oldest.name);
        }
        files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(i));
        used_ -= std::min(used_, oldest.size);
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

} // namespace traffic
