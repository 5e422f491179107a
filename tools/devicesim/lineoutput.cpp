#include "lineoutput.h"

#include "socketio.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace devicetools
{

LineOutput::LineOutput(int fd) : fd_(fd)
{
    // Opening the descriptor's /proc entry anew gives a pipe or terminal an
    // open file description of its own, which may be non-blocking without
    // changing the one the shell shares. A regular file is left alone: a new
    // description would have an offset of its own.
    struct stat info {
    };
    if (::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        ownFd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (ownFd_ >= 0) {
            fd_ = ownFd_;
        }
    }
}

LineOutput::~LineOutput()
{
    if (ownFd_ >= 0) {
        ::close(ownFd_);
    }
}

bool LineOutput::writeLine(std::string_view line)
{
    std::string text;
    text.reserve(line.size() + 1);
    text += line;
    text += '\n';
    failed_ = failed_ || !writeAll(text);
    return !failed_;
}

bool LineOutput::writeAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (!waitReady(fd_, net::SocketWait::Writable, abandoned_, kWaitForever).ok()) {
            return false;
        }
        // At most PIPE_BUF bytes a call: where the descriptor could not be
        // made non-blocking, a pipe that polls writable takes that many
        // without blocking.
        const std::size_t chunk = bytes.size() < PIPE_BUF ? bytes.size() : PIPE_BUF;
        const ssize_t n = ::write(fd_, bytes.data(), chunk);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
    }
    return true;
}

} // namespace devicetools
