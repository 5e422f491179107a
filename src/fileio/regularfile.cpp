#include "regularfile.h"

#include "filekind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace fileio
{

namespace
{

base::Error notRegular(const std::string& name, mode_t mode)
{
    return base::Error::input(base::Fault::BadInput, name, notRegularReason(mode));
}

// 65536 as "65,536".
std::string groupedCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, 1, ',');
    }
    return digits;
}

} // namespace

base::Result<RegularFile> RegularFile::open(const std::string& path, std::string name, Links links)
{
    if (name.empty()) {
        name = path;
    }
    // O_NONBLOCK: the open of a FIFO or device returns at once, to be refused
    // below; O_NOCTTY: a terminal named by mistake never becomes ours.
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int code = errno;
        if (code == ELOOP && links == Links::Refuse) {
            return base::Error::input(base::Fault::BadInput, name,
                                      "it is a symbolic link; name the file itself");
        }
        // A socket cannot be opened at all (ENXIO): said as what it is.
        struct stat info {
        };
        if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return notRegular(name, info.st_mode);
        }
        return base::Error::system(code, name);
    }
    struct stat info {
    };
    if (::fstat(fd, &info) != 0) {
        base::Error error = base::Error::fromErrno(name);
        ::close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return notRegular(name, info.st_mode);
    }
    return RegularFile(fd, static_cast<std::uint64_t>(info.st_size), std::move(name));
}

base::Result<std::string> RegularFile::readAll(const std::string& path, std::size_t maxBytes,
                                               std::string name, Links links)
{
    base::Result<RegularFile> file = open(path, std::move(name), links);
    if (!file) {
        return file.error();
    }
    const auto tooLarge = [&] {
        return base::Error::input(base::Fault::BadInput, file->name(),
                                  "it has more than " + groupedCount(maxBytes) +
                                      " bytes, the most it may have");
    };
    if (file->size() > maxBytes) {
        return tooLarge();
    }
    constexpr std::size_t kChunk = 64 * 1024;
    std::string text;
    text.reserve(static_cast<std::size_t>(file->size()));
    for (;;) {
        base::Result<std::string> piece = file->read(std::min(maxBytes + 1 - text.size(), kChunk));
        if (!piece) {
            return piece.error();
        }
        if (piece->empty()) {
            break;
        }
        text += *piece;
        if (text.size() > maxBytes) {
            return tooLarge();
        }
    }
    return text;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), name_(std::move(other.name_))
{
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        name_ = std::move(other.name_);
    }
    return *this;
}

RegularFile::~RegularFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

base::Result<std::string> RegularFile::read(std::size_t most)
{
    std::string piece(most, '\0');
    std::size_t got = 0;
    // A regular file gives what it has; a short read is only the end.
    while (got < most) {
        const ssize_t count = ::read(fd_, piece.data() + got, most - got);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return base::Error::fromErrno(name_);
        }
        if (count == 0) {
            break;
        }
        got += static_cast<std::size_t>(count);
    }
    piece.resize(got);
    return piece;
}

} // namespace fileio
