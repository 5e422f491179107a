#include "safefile.h"

#include "filekind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace fileio
{

namespace
{

// Refuses a target that exists and is no regular file; lstat, so that a link
// is judged itself, not what it points to.
base::Error targetError(const std::string& path)
{
    if (path.empty() || path.back() == '/') {
        return base::Error::input(base::Fault::CannotCreateFile, path, "it names a folder");
    }
    struct stat info {
    };
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return {};
        }
        return base::Error(base::Fault::CannotCreateFile, errno, path);
    }
    if (!S_ISREG(info.st_mode)) {
        return base::Error::input(base::Fault::CannotCreateFile, path,
                                  notRegularReason(info.st_mode));
    }
    return {};
}

// "dir/.name.XXXXXX" beside "dir/name": the same file system, so the rename
// is atomic; hidden, so a listing does not show it while it is written.
std::string temporaryPattern(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".XXXXXX";
}

} // namespace

base::Error SafeFile::check(const std::string& path)
{
    base::Result<SafeFile> file = create(path);
    return file ? base::Error() : file.error();
}

base::Error SafeFile::write(const std::string& path, std::string_view bytes)
{
    base::Result<SafeFile> file = create(path);
    if (!file) {
        return file.error();
    }
    if (base::Error appended = file->append(bytes); !appended.ok()) {
        return appended;
    }
    return file->commit();
}

base::Error SafeFile::makeFolders(const std::string& folder)
{
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string step = folder.substr(0, at);
        if (::mkdir(step.c_str(), 0700) != 0 && errno != EEXIST)
            return base::Error(base::Fault::CannotCreateFolder, errno, step);
    }
    return {};
}

base::Error SafeFile::makeFoldersFor(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    return makeFolders(path.substr(0, slash));
}

base::Result<SafeFile> SafeFile::create(const std::string& path)
{
    if (base::Error refused = targetError(path); !refused.ok()) {
        return refused;
    }
    std::string temporary = temporaryPattern(path);
    // mkostemp makes the file with mode 0600 before the first byte: what is
    // written may quote what devices sent.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return base::Error(base::Fault::CannotCreateFile, errno, path);
    }
    // Our own new file only; the umask may have taken bits off, never added.
    const int permissionError = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 ? 0 : errno;
    return SafeFile(fd, path, std::move(temporary), permissionError);
}

SafeFile::SafeFile(SafeFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)),
      temporary_(std::exchange(other.temporary_, {})), permissionError_(other.permissionError_),
      failed_(std::move(other.failed_))
{
}

SafeFile& SafeFile::operator=(SafeFile&& other) noexcept
{
    if (this != &other) {
        discard();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        temporary_ = std::exchange(other.temporary_, {});
        permissionError_ = other.permissionError_;
        failed_ = std::move(other.failed_);
    }
    return *this;
}

SafeFile::~SafeFile()
{
    discard();
}

void SafeFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

base::Error SafeFile::append(std::string_view bytes)
{
    if (!failed_.ok()) {
        return failed_;
    }
    if (fd_ < 0) {
        failed_ = base::Error(base::Fault::CannotWrite, EBADF, path_);
        return failed_;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            failed_ = base::Error(base::Fault::CannotWrite, count < 0 ? errno : EIO, path_);
            return failed_;
        }
        done += static_cast<std::size_t>(count);
    }
    return {};
}

base::Error SafeFile::commit()
{
    if (!failed_.ok()) {
        discard();
        return failed_;
    }
    if (fd_ < 0) {
        return base::Error(base::Fault::CannotWrite, EBADF, path_);
    }
    // Synced before the rename, so that a crash leaves the old file or the
    // whole new one, never an empty one in its place.
    if (::fsync(fd_) != 0) {
        failed_ = base::Error(base::Fault::CannotWrite, errno, path_);
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (failed_.ok() && closed != 0) {
        failed_ = base::Error(base::Fault::CannotWrite, errno, path_);
    }
    // The target may have become something else since create(); checked
    // again, though rename() would only ever replace it, never write into it.
    if (failed_.ok()) {
        failed_ = targetError(path_);
    }
    if (failed_.ok() && ::rename(temporary_.c_str(), path_.c_str()) != 0) {
        failed_ = base::Error(base::Fault::CannotWrite, errno, path_);
    }
    if (failed_.ok()) {
        temporary_.clear();
    }
    discard();
    return failed_;
}

} // namespace fileio
