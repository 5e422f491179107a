#include "recordfolder.h"

#include "recordfilename.h"
#include "recordline.h"

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
// The folder without a trailing slash or dot: "linkdir/" would make the
// open follow a link named linkdir that O_NOFOLLOW refuses as "linkdir".
fs::path withoutTrailingSlash(const fs::path& folder)
{
    std::string text = folder.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

base::Error failure(base::Fault fault, const fs::path& path)
{
    const int code = errno;
    return base::Error(fault, code, path.string());
}

} // namespace

RecordFolder::RecordFolder(fs::path folder, std::uint64_t limitBytes)
    : folder_(withoutTrailingSlash(folder)), limit_(std::max(limitBytes, kMinimumLimitBytes))
{
}

RecordFolder::~RecordFolder()
{
    closeFile();
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
}

base::Error RecordFolder::prepare()
{
    // Each missing step is made with 0700 itself, so no folder on the way is
    // ever open to others, not even for a moment.
    fs::path step;
    for (const fs::path& part : folder_) {
        step /= part;
        if (::mkdir(step.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            return failure(base::Fault::CannotCreateFolder, folder_);
        }
    }
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
    folderFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd_ < 0) {
        const bool noFolder = errno == ENOTDIR || errno == ELOOP;
        return failure(noFolder ? base::Fault::NotAFolder : base::Fault::CannotListFolder, folder_);
    }
    // A folder others may write in (a shared one, or one of theirs) lets them
    // plant, swap or take away what the bound counts and deletes.
    struct stat info {
    };
    if (::fstat(folderFd_, &info) != 0) {
        return failure(base::Fault::CannotListFolder, folder_);
    }
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return base::Error(base::Fault::UnsafeFolder, 0, folder_.string());
    }
    files_.clear();
    return rescan();
}

base::Error RecordFolder::rescan()
{
    return files_.rescan(folderFd_, folder_,
                         fd_ >= 0 ? currentPath_.filename().string() : std::string());
}

base::Error RecordFolder::deleteOldest(bool& deleted)
{
    return files_.deleteOldest(folderFd_, folder_, fd_ >= 0, deleted);
}

base::Error RecordFolder::startFile(std::string_view label,
                                    std::chrono::system_clock::time_point start,
                                    std::string_view header)
{
    closeFile();
    if (folderFd_ < 0) {
        return base::Error(base::Fault::CannotListFolder, EBADF, folder_.string());
    }
    if (files_.bytesOnDisk() + header.size() > limit_) {
        if (base::Error listed = rescan(); !listed.ok()) {
            return listed;
        }
    }
    for (bool deleted = true; deleted && files_.bytesOnDisk() + header.size() > limit_;) {
        if (base::Error failed = deleteOldest(deleted); !failed.ok()) {
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
            base::Error failed = failure(base::Fault::CannotCreateFile, path);
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
        files_.addCurrent(name, info.st_ino);
        base::Error written = append(header).result;
        currentHeaderSize_ = currentSize_;
        return written;
    }
    currentPath_ = folder_ / (recordFileTime(time) + suffix);
    return base::Error(base::Fault::CannotCreateFile, EEXIST, currentPath_.string());
}

bool RecordFolder::fits(std::uint64_t bytes, std::uint64_t lastLine) const
{
    const bool onlyRecord = currentSize_ <= currentHeaderSize_ && bytes == lastLine;
    const bool fileHasRoom = currentSize_ + bytes <= limit_ / 4 || onlyRecord;
    return fd_ >= 0 && fileHasRoom && files_.bytesOnDisk() + bytes <= limit_;
}

bool RecordFolder::makeRoom(std::uint64_t bytes, std::chrono::system_clock::time_point now,
                            std::string_view header, base::Error& result)
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
    if (files_.bytesOnDisk() + bytes > limit_) {
        // Another recorder on the folder may have added or deleted files
        // since the last listing.
        result = rescan();
        if (!result.ok()) {
            return false;
        }
    }
    while (files_.bytesOnDisk() + bytes > limit_) {
        bool deleted = false;
        result = deleteOldest(deleted);
        if (!result.ok() || !deleted) {
            return false;
        }
    }
    return true;
}

base::Error RecordFolder::checkPresent() const
{
    struct stat info {
    };
    if (::fstat(folderFd_, &info) == 0 && info.st_nlink == 0) {
        return base::Error(base::Fault::RecordGone, 0, folder_.string());
    }
    if (::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
        return base::Error(base::Fault::RecordGone, 0, currentPath_.string());
    }
    return {};
}

RecordFolder::Appended RecordFolder::append(std::string_view lines,
                                            std::span<const std::size_t> recordEnds)
{
    if (base::Error gone = checkPresent(); !gone.ok()) {
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
            const base::Error failed = failure(base::Fault::CannotWrite, currentPath_);
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
        files_.grow(static_cast<std::uint64_t>(n));
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
    files_.countKept(records, lines.size());
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
    files_.cut(cut);
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

} // namespace traffic
