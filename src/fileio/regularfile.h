#pragma once

#include "base/error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fileio
{

// A file named by a user, opened for reading: the one way the programs read
// a file by its name. Opening never blocks (O_NONBLOCK: a FIFO without a
// writer or a device is not waited for) and the file must be a regular file,
// else it is refused with what it is ("it is a FIFO, not a regular file").
// With Links::Refuse a symbolic link as the last part of the path is refused
// too (O_NOFOLLOW).
//
// Results: failures are Fault::System (the errno) or Fault::BadInput (not a
// regular file, too large), their detail the `name` given, so that the text
// reads "<name>: <reason>". Move-only; one thread at a time.
class RegularFile
{
public:
    enum class Links { Follow, Refuse };

    // `name` says the file in errors (the path when empty).
    static base::Result<RegularFile> open(const std::string& path, std::string name = {},
                                          Links links = Links::Follow);
    // The whole file, refused when it holds more than `maxBytes` (it is never
    // read beyond one byte more, even while it grows).
    static base::Result<std::string> readAll(const std::string& path, std::size_t maxBytes,
                                             std::string name = {}, Links links = Links::Follow);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    // The size when it was opened.
    std::uint64_t size() const { return size_; }
    const std::string& name() const { return name_; }
    // The next bytes, at most `most`; empty at the end of the file.
    base::Result<std::string> read(std::size_t most);

private:
    RegularFile(int fd, std::uint64_t size, std::string name)
        : fd_(fd), size_(size), name_(std::move(name))
    {
    }

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string name_;
};

} // namespace fileio
