#include "reportfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace check
{

base::Error ReportFile::write(const std::string& path, std::string_view text)
{
    const auto failed = [&](int code) { return base::Error(base::Fault::CannotWrite, code, path); };
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                          S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return base::Error(base::Fault::CannotCreateFile, errno, path);
    }
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        const int code = errno;
        ::close(fd);
        return failed(code);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const int code = count < 0 ? errno : EIO;
            ::close(fd);
            return failed(code);
        }
        done += static_cast<std::size_t>(count);
    }
    if (::close(fd) != 0) {
        return failed(errno);
    }
    return {};
}

} // namespace check
