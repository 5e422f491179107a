#pragma once

#include "base/error.h"
#include "recordfilelist.h"
#include "recordfilename.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace traffic
{

// The folder of record files and the file being written, with the bound on
// the disk they take. Used by one thread at a time (FileRecorder's writer).
//
// Results: a failed step gives one of the record folder's faults (base::Fault
// CannotCreateFolder ... RecordGone) with the errno of the failed call, where
// there is one, and the path it concerns as detail, so that its text reads
// e.g. "cannot write /path/file.log: No space left on device".
//
// The folder: missing folders are made with mode 0700. An existing folder
// must be a directory itself (not a link to one), belong to the user and be
// writable by no one else, or prepare() refuses it (UnsafeFolder). It is
// opened once; every later step works relative to that descriptor, so a
// folder renamed or replaced under its path is never followed. A folder or
// file deleted while recording stops the recording (RecordGone) at the next
// write, instead of writing on into nothing.
//
// Files: named "<start time>_<label>.log" (or the extension of the FileKind
// set, ".pcapng"), e.g.
// 20261207T081502.123Z_tcp_127.0.0.1_21210.log (UTC, milliseconds), made with
// mode 0600 and never replaced: each file's time is at least a millisecond
// after the one before (a name in use moves it on by another), so that the
// names sort in the order the files were started. The file being written is
// locked (flock, exclusive) until it is closed.
//
// The recorder's own files, the only ones the bound counts and deletes: a
// name of that form, a regular file (not a link) owned by the user, whose
// first line is the record file header (kRecordFileHeader). A file locked by
// another writer (a second console on the same folder) counts but is never
// deleted. Other files in the folder are left alone. A file counts with the
// bytes it holds, no more than the disk allocated to it (a sparse file counts
// only what it takes).
//
// The bound: a file grows to a quarter of it (only a single record larger
// than that may make one file larger), then the next part starts in a new
// file; to make room the folder is listed afresh and the oldest unlocked
// files go first, the file being written never. A file that cannot be deleted
// stops the recording (CannotDelete).
class RecordFolder
{
public:
    // The smallest bound honoured; a smaller one is raised to it.
    static constexpr std::uint64_t kMinimumLimitBytes = 64 * 1024;
    // The label for records that come before any connect attempt.
    static constexpr std::string_view kNoConnectionLabel = traffic::kNoConnectionLabel;

    // What the files written are: their extension, and where bytes written
    // in part end with a whole record (a line, by default).
    struct FileKind {
        std::string_view extension = ".log";
        std::size_t (*wholeSize)(std::string_view written) = nullptr; // nullptr: up to the last LF
    };
    // Files of every kind count against the bound.
    static constexpr std::string_view kPcapngExtension = traffic::kPcapngRecordFileExtension;

    RecordFolder(std::filesystem::path folder, std::uint64_t limitBytes);
    // Before the first file: the kind of the files this folder writes.
    void setFileKind(FileKind kind) { kind_ = kind; }
    // Closes the current file.
    ~RecordFolder();
    RecordFolder(const RecordFolder&) = delete;
    RecordFolder& operator=(const RecordFolder&) = delete;

    // Makes the folder when missing, checks and opens it and counts the files
    // it already holds.
    base::Error prepare();
    // Closes the current file and starts a new one with the first line
    // `header`; makes room for it first.
    base::Error startFile(std::string_view label, std::chrono::system_clock::time_point start,
                          std::string_view header);
    bool hasFile() const { return fd_ >= 0; }

    // True when `bytes` more fit in the current file and under the bound;
    // `lastLine` is the size of the last line among them, which alone may
    // pass a file's size in a file that holds no record yet.
    bool fits(std::uint64_t bytes, std::uint64_t lastLine) const;
    // Makes room for `bytes`: starts the next part of a file that has grown to
    // its size (with `header`), then deletes the oldest other files while the
    // bound would be passed. False when the bytes cannot fit even so (or the
    // next part could not be started, or a file not deleted: see `result`).
    bool makeRoom(std::uint64_t bytes, std::chrono::system_clock::time_point now,
                  std::string_view header, base::Error& result);
    // What append() came to: how many of its bytes stay in the file (all of
    // them when `result` is ok), and the failure when not all do.
    struct Appended {
        std::size_t kept = 0;
        base::Error result;
    };
    // Writes all of `lines` (whole lines, each ended by LF) to the current
    // file, resumed after signals and short writes; first checks that the
    // folder and the file are still there. Call fits() or makeRoom() first. When a write fails part
    // way (a disk that fills up), the part of a line that reached the file is cut off again, so
    // that the file ends with a whole line and `kept` counts the whole lines kept.
    // `recordEnds`: where each record in `lines` ends, for files whose
    // records are not lines (empty: each LF ends one).
    Appended append(std::string_view lines, std::span<const std::size_t> recordEnds = {});

    const std::filesystem::path& folder() const { return folder_; }
    const std::filesystem::path& currentFile() const { return currentPath_; }
    std::uint64_t limitBytes() const { return limit_; }
    std::uint64_t bytesOnDisk() const { return files_.bytesOnDisk(); }
    std::uint64_t filesDeleted() const { return files_.filesDeleted(); }
    // The records (lines after the header) and their bytes this object wrote
    // to files that the bound has not deleted.
    std::uint64_t recordsKept() const { return files_.recordsKept(); }
    std::uint64_t bytesKept() const { return files_.bytesKept(); }

    // See recordfilename.h.
    static std::string labelOf(std::string_view connectText)
    {
        return recordFileLabel(connectText);
    }
    static bool isRecordFileName(std::string_view name) { return traffic::isRecordFileName(name); }

private:
    void closeFile();
    // Cuts `bytes` off the end of the current file; false when it could not.
    bool cutEnd(std::uint64_t bytes);
    // Lists the folder's record files again (the current file last) and
    // counts what they take.
    base::Error rescan();
    // Deletes the oldest unlocked file other than the current one; `deleted`
    // false when none is left.
    base::Error deleteOldest(bool& deleted);
    base::Error checkPresent() const;
    // Counts the records and bytes of `lines`, just written to the current
    // file (nothing for its header).
    void countKept(std::string_view lines, bool header, std::span<const std::size_t> recordEnds);

    std::filesystem::path folder_;
    int folderFd_ = -1;
    std::uint64_t limit_;
    FileKind kind_;
    RecordFileList files_; // the current file last
    int fd_ = -1;
    std::filesystem::path currentPath_;
    std::string currentLabel_;
    std::uint64_t currentSize_ = 0;
    std::uint64_t currentHeaderSize_ = 0;
    std::chrono::sys_time<std::chrono::milliseconds> lastStart_{};
};

} // namespace traffic
