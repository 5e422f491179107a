#pragma once

#include "base/error.h"
#include "recordbatch.h"
#include "recordwriter.h"
#include "trafficrecord.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace traffic
{

// Writes records to files in a folder, one file per connection, in the line
// format of recordline.h (".log") or as the packets of a pcapng file
// (".pcapng", see PcapngRecords, with the TLS keys keyLog() is given); a
// background thread (RecordWriter) does the writing. Both
// formats share the folder, its naming, its bound and its failure handling;
// a file cut short by a full disk ends with its last whole line or block.
//
// Files: a new file starts at each ConnectAttempt record, named by its start
// time (UTC), protocol and peer, e.g. 20261207T081502.123Z_tcp_127.0.0.1_21210.log;
// folders are made 0700, files 0600 (see RecordFolder). The files of the
// folder take at most Options::diskLimitBytes in all: a file grows to a
// quarter of it, then its next part starts, and the oldest files are deleted
// first.
//
// Durability: what record() took is written to the file (handed to the
// system) within kWriteInterval, at once after a Disconnect record, and
// before the destructor returns, so a crash of the program loses at most the
// last kWriteInterval. Files are not synced to the device.
//
// Threads: record(), keyLog() and status() from any thread; construction and
// destruction on one thread. Who waits: the queue holds kQueueBytes of record
// bytes before it counts as full. A full queue makes a Read record (they come
// from the channel's watcher, and a watcher that waits slows a TCP sender
// down) wait for room, at most kReadWaitLimit; every other record, and a Read
// after that wait, goes in past the bound at once, so the UI thread never
// waits on the disk. Past kQueueHardBytes records are dropped. Every record
// that does not reach a file is counted in Status::recordsDropped. record()
// copies the record into the queue's one block of memory (RecordBatch), used
// again batch after batch, so that under a steady flow it allocates nothing.
//
// Failures: when the folder cannot be made, read or trusted, a file cannot be
// made, a write fails (a full disk), an old file cannot be deleted to keep the
// limit, or the folder or file is deleted while recording, recording stops
// for good: status() says why and how much was kept (written and not deleted
// by the limit), later records are counted as dropped, each record once,
// nothing throws. A new FileRecorder tries again.
class FileRecorder : public RecordSink
{
public:
    static constexpr std::uint64_t kDefaultDiskLimitBytes = 256ull * 1024 * 1024;
    static constexpr std::size_t kQueueBytes = 4 * 1024 * 1024;
    static constexpr std::size_t kQueueHardBytes = 4 * kQueueBytes;
    // What a queued record counts for besides its bytes, so that a flood of
    // empty records also fills the queue.
    static constexpr std::size_t kRecordOverheadBytes = 64;
    static constexpr std::chrono::milliseconds kReadWaitLimit{1000};
    static constexpr std::chrono::milliseconds kWriteInterval{200};

    enum class Format : std::uint8_t { Text, Pcapng };

    struct Options {
        std::filesystem::path folder;                          // empty: defaultFolder()
        std::uint64_t diskLimitBytes = kDefaultDiskLimitBytes; // raised to 64 KiB at least
        Format format = Format::Text;
    };

    struct Status {
        bool recording = false; // false once stopped by a failure
        std::filesystem::path folder;
        std::filesystem::path currentFile; // empty before the first file
        base::Error error;                 // none while all is well
        std::uint64_t bytesWritten = 0;    // by this recorder, deleted files included
        std::uint64_t bytesOnDisk = 0;     // in the folder's record files now
        std::uint64_t recordsWritten = 0;
        std::uint64_t recordsDropped = 0; // never reached a file, for whatever reason
        std::uint64_t filesDeleted = 0;   // to keep within the disk limit
        // What of recordsWritten / bytesWritten is still on disk: all but the
        // files the disk limit deleted.
        std::uint64_t recordsKept = 0;
        std::uint64_t bytesKept = 0;

        // What a user reads about a stop by a failure ("Recording stopped:
        // <why>. Kept N records (B bytes) in <folder>."); only for a failure.
        std::string stoppedText() const;
    };

    explicit FileRecorder(Options options);
    // Writes what is queued, closes the file and ends the thread.
    ~FileRecorder() override;
    FileRecorder(const FileRecorder&) = delete;
    FileRecorder& operator=(const FileRecorder&) = delete;

    void record(const Record& record) override;
    // Copies the view straight into the queue (no Record in between).
    void recordView(const RecordView& record) override;
    // A TLS key log line of the connection being recorded, queued at its
    // place among the records. Pcapng files carry it in a Decryption Secrets
    // Block: in the current file, and again at the start of each later file
    // of the same connection (its next parts), so that every file decrypts
    // on its own; a connection keeps up to ConnectionKeyLog::kMaxBytes of
    // lines for that (at most an eighth of the disk limit). Text files take
    // no keys. A line ConnectionKeyLog::isKeyLogLine() refuses is left out,
    // and so is a line past the queue's hard bound or after a stop (key lines
    // are no records: they are not counted). Any thread.
    void keyLog(std::string_view line) override;
    Status status() const;

    // $XDG_DATA_HOME (when absolute) or ~/.local/share, then Quorvel/socketclient/traffic.
    static std::filesystem::path defaultFolder();

private:
    void run();
    void fail(base::Error error);

    mutable std::mutex mutex_;
    std::condition_variable wake_; // the writer: records, a Disconnect, the end
    std::condition_variable room_; // waiting Read records: the queue was taken
    RecordBatch queue_;
    std::size_t queuedBytes_ = 0;
    bool urgent_ = false; // a Disconnect or a waiting reader: write at once
    bool ending_ = false;
    bool failed_ = false;
    Status status_;
    // Key log lines, each group with the place in queue_ it goes before.
    std::vector<RecordWriter::Keys> keys_;
    bool takesKeys_ = false; // set once: the format takes keys
    std::unique_ptr<RecordWriter> writer_;
    std::thread thread_;
};

} // namespace traffic
