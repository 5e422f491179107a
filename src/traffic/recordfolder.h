#pragma once

#include "socket/error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace traffic
{

// The folder of record files and the file being written, with the bound on
// the disk they take. Used by one thread at a time (FileRecorder's writer).
//
// Results: a failed step gives one of the record folder's faults (net::Fault
// CannotCreateFolder ... CannotWrite) with the errno of the failed call and
// the path it concerns as detail, so that its text reads e.g. "cannot write
// /path/file.log: No space left on device".
//
// Files: named "<start time>_<label>.log" (or the extension of the FileKind
// set, ".pcapng"), e.g.
// 20261207T081502.123Z_tcp_127.0.0.1_21210.log (UTC, milliseconds), made with
// mode 0600 and never replaced: each file's time is at least a millisecond
// after the one before (a name in use moves it on by another), so that the
// names sort in the order the files were started. Missing
// folders are made with mode 0700; an existing folder is left as it is.
//
// The bound covers every file in the folder whose name has that form (older
// runs' files included) and nothing else there. A file grows to a quarter of
// the bound, then the next part starts in a new file; to make room the oldest
// files go first, the file being written never.
class RecordFolder
{
public:
    // The smallest bound honoured; a smaller one is raised to it.
    static constexpr std::uint64_t kMinimumLimitBytes = 64 * 1024;
    // The label for records that come before any connect attempt.
    static constexpr std::string_view kNoConnectionLabel = "none";

    // What the files written are: their extension, and where bytes written
    // in part end with a whole record (a line, by default).
    struct FileKind {
        std::string_view extension = ".log";
        std::size_t (*wholeSize)(std::string_view written) = nullptr; // nullptr: up to the last LF
    };
    // Files of every kind count against the bound.
    static constexpr std::string_view kPcapngExtension = ".pcapng";

    RecordFolder(std::filesystem::path folder, std::uint64_t limitBytes);
    // Before the first file: the kind of the files this folder writes.
    void setFileKind(FileKind kind) { kind_ = kind; }
    // Closes the current file.
    ~RecordFolder();
    RecordFolder(const RecordFolder&) = delete;
    RecordFolder& operator=(const RecordFolder&) = delete;

    // Makes the folder when missing and counts the files it already holds.
    net::Error prepare();
    // Closes the current file and starts a new one with the first line
    // `header`; makes room for it first.
    net::Error startFile(std::string_view label, std::chrono::system_clock::time_point start,
                         std::string_view header);
    bool hasFile() const { return fd_ >= 0; }

    // True when `bytes` more fit in the current file and under the bound.
    bool fits(std::uint64_t bytes) const;
    // Makes room for `bytes`: starts the next part of a file that has grown to
    // its size (with `header`), then deletes the oldest other files while the
    // bound would be passed. False when the bytes cannot fit even so (or the
    // next part could not be started: see `result`).
    bool makeRoom(std::uint64_t bytes, std::chrono::system_clock::time_point now,
                  std::string_view header, net::Error& result);
    // What append() came to: how many of its bytes stay in the file (all of
    // them when `result` is ok), and the failure when not all do.
    struct Appended {
        std::size_t kept = 0;
        net::Error result;
    };
    // Writes all of `lines` (whole lines, each ended by LF) to the current
    // file, resumed after signals and short writes. Call fits() or makeRoom()
    // first. When a write fails part way (a disk that fills up), the part of
    // a line that reached the file is cut off again, so that the file ends
    // with a whole line and `kept` counts the whole lines kept.
    Appended append(std::string_view lines);

    const std::filesystem::path& folder() const { return folder_; }
    const std::filesystem::path& currentFile() const { return currentPath_; }
    std::uint64_t limitBytes() const { return limit_; }
    std::uint64_t bytesOnDisk() const { return used_; }
    std::uint64_t filesDeleted() const { return deleted_; }

    // "<protocol>_<address>_<port>" of a connect attempt's text
    // ("TCP 127.0.0.1:21210" gives "tcp_127.0.0.1_21210"), every character
    // other than a letter, digit, '.' or '-' replaced by '-', so that no text
    // can reach outside the folder; kNoConnectionLabel for an empty text.
    static std::string labelOf(std::string_view connectText);
    // True for a name of the form the folder's files have.
    static bool isRecordFileName(std::string_view name);

private:
    struct File {
        std::string name;
        std::uint64_t size = 0;
    };
    void closeFile();
    // Cuts `bytes` off the end of the current file; false when it could not.
    bool cutEnd(std::uint64_t bytes);
    // Deletes the oldest file other than the current one; false when none is left.
    bool deleteOldest();

    std::filesystem::path folder_;
    std::uint64_t limit_;
    FileKind kind_;
    std::vector<File> files_; // oldest first; the current file last
    std::uint64_t used_ = 0;
    std::uint64_t deleted_ = 0;
    int fd_ = -1;
    std::filesystem::path currentPath_;
    std::string currentLabel_;
    std::uint64_t currentSize_ = 0;
    std::uint64_t currentHeaderSize_ = 0;
    std::chrono::sys_time<std::chrono::milliseconds> lastStart_{};
};

} // namespace traffic
