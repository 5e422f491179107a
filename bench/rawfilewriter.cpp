#include "rawfilewriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

RawFileWriter::RawFileWriter(const std::filesystem::path& file)
    : fd_(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600))
{
    gathering_.reserve(kRawPieceBytes);
    writing_.reserve(kRawPieceBytes);
    if (fd_ >= 0) {
        thread_ = std::thread([this] { run(); });
    }
}

RawFileWriter::~RawFileWriter()
{
    finish();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void RawFileWriter::add(const std::uint8_t* data, std::size_t length)
{
    gathering_.append(reinterpret_cast<const char*>(data), length);
    if (gathering_.size() >= kRawPieceBytes) {
        handOver();
    }
}

std::uint64_t RawFileWriter::finish()
{
    if (!gathering_.empty()) {
        handOver();
    }
    if (thread_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ending_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    return written_;
}

void RawFileWriter::writePiece(const std::string& piece)
{
    std::size_t done = 0;
    while (done < piece.size()) {
        const ssize_t n = ::write(fd_, piece.data() + done, piece.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += done;
}

void RawFileWriter::handOver()
{
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !full_; });
    gathering_.swap(writing_);
    full_ = true;
    lock.unlock();
    wake_.notify_one();
    gathering_.clear();
}

void RawFileWriter::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return full_ || ending_; });
        if (!full_) {
            return;
        }
        lock.unlock();
        writePiece(writing_);
        lock.lock();
        full_ = false;
        done_.notify_one();
    }
}
