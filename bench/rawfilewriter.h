#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

// A recorder at its very cheapest: the bytes of every block gathered as they
// are (no time, no text, no hex) into kRawPieceBytes pieces, each written to
// one file with a single write() once full, by a second thread while the next
// piece is gathered, as a FileRecorder's writer does. (The reading thread
// writing each piece itself measured no faster on a 2-core machine, mostly
// slower: it stops reading while the piece goes into the page cache.)
//
// Threads: add() and finish() on one thread; the writer is its own.
class RawFileWriter
{
public:
    static constexpr std::size_t kRawPieceBytes = 1024 * 1024;

    // Makes `file` (0600; it must not exist yet).
    explicit RawFileWriter(const std::filesystem::path& file);
    ~RawFileWriter();
    RawFileWriter(const RawFileWriter&) = delete;
    RawFileWriter& operator=(const RawFileWriter&) = delete;

    bool opened() const { return fd_ >= 0; }

    void add(const std::uint8_t* data, std::size_t length);

    // Writes what is gathered and waits for the writer; the bytes written.
    std::uint64_t finish();

private:
    void writePiece(const std::string& piece);
    void handOver();
    void run();

    int fd_;
    std::string gathering_;
    std::string writing_; // the writer's, while full_
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    bool full_ = false;
    bool ending_ = false;
    std::uint64_t written_ = 0;
    std::thread thread_;
};
