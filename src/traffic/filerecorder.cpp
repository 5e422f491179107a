#include "filerecorder.h"

#include "connectionkeylog.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <system_error>

namespace traffic
{

namespace
{

// The writer is woken before its interval once this much is queued, so that
// it writes in large pieces under a flood and sleeps when nothing comes: a
// whole piece of kWriteChunkBytes, which also keeps the wake-ups (and the
// thread switches they bring) few.
constexpr std::size_t kWakeBytes = 1024 * 1024;

std::size_t queuedSize(const RecordView& record)
{
    return record.bytes.size() + record.text.size() + FileRecorder::kRecordOverheadBytes;
}

std::filesystem::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid());
        entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/tmp";
}

} // namespace

FileRecorder::FileRecorder(Options options)
{
    if (options.folder.empty()) {
        options.folder = defaultFolder();
    }
    status_.folder = options.folder;
    status_.recording = true;
    // The queue's memory is taken once, at its bound; its pages are touched
    // only as records come.
    queue_.reserve(kQueueBytes);
    takesKeys_ = options.format == Format::Pcapng;
    writer_ = std::make_unique<RecordWriter>(options.folder, options.diskLimitBytes, takesKeys_);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& error) {
        fail(base::Error::system(error.code().value(), "cannot start the recording thread"));
    }
}

FileRecorder::~FileRecorder()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    room_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void FileRecorder::record(const Record& record)
{
    recordView(record);
}

void FileRecorder::recordView(const RecordView& record)
{
    const std::size_t size = queuedSize(record);
    std::unique_lock<std::mutex> lock(mutex_);
    if (failed_ || ending_) {
        ++status_.recordsDropped;
        return;
    }
    if (record.kind == RecordKind::Read && queuedBytes_ + size > kQueueBytes) {
        urgent_ = true;
        wake_.notify_one();
        room_.wait_for(lock, kReadWaitLimit,
                       [&] { return failed_ || ending_ || queuedBytes_ + size <= kQueueBytes; });
        if (failed_) {
            ++status_.recordsDropped;
            return;
        }
    }
    if (queuedBytes_ + size > kQueueHardBytes) {
        ++status_.recordsDropped;
        return;
    }
    try {
        queue_.add(record);
    } catch (const std::bad_alloc&) {
        ++status_.recordsDropped;
        return;
    }
    const bool crossed = queuedBytes_ < kWakeBytes && queuedBytes_ + size >= kWakeBytes;
    queuedBytes_ += size;
    if (record.kind == RecordKind::Disconnect) {
        urgent_ = true;
    }
    if (crossed || record.kind == RecordKind::Disconnect) {
        wake_.notify_one();
    }
}

void FileRecorder::keyLog(std::string_view line)
{
    if (!takesKeys_ || !ConnectionKeyLog::isKeyLogLine(line)) {
        return;
    }
    const std::size_t size = line.size() + 1 + kRecordOverheadBytes;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (failed_ || ending_ || queuedBytes_ + size > kQueueHardBytes) {
        return;
    }
    try {
        // The lines of one handshake come one after another: one block.
        if (keys_.empty() || keys_.back().before != queue_.size()) {
            keys_.push_back({queue_.size(), std::chrono::system_clock::now(), {}});
        }
        keys_.back().lines.append(line);
        keys_.back().lines.push_back('\n');
    } catch (const std::bad_alloc&) {
        return;
    }
    queuedBytes_ += size;
}

FileRecorder::Status FileRecorder::status() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

void FileRecorder::fail(base::Error error)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    failed_ = true;
    status_.recording = false;
    status_.recordsDropped += queue_.size();
    queue_.clear(0);
    keys_.clear();
    queuedBytes_ = 0;
    status_.error = std::move(error);
    room_.notify_all();
}

std::string FileRecorder::Status::stoppedText() const
{
    // Nothing is kept after the stop, so the counts are those of the stop.
    return "Recording stopped: " + error.text() + ". Kept " + std::to_string(recordsKept) +
           " records (" + std::to_string(bytesKept) + " bytes) in " + folder.string() + ".";
}

void FileRecorder::run()
{
    RecordWriter& writer = *writer_;
    if (const base::Error prepared = writer.folder.prepare(); !prepared.ok()) {
        fail(prepared);
        return;
    }
    RecordBatch batch;
    batch.reserve(kQueueBytes);
    std::vector<RecordWriter::Keys> keys;
    for (;;) {
        bool ending = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // A flood that filled the queue while the last piece was being
            // written is taken at once, not after the interval.
            wake_.wait_for(lock, kWriteInterval,
                           [&] { return ending_ || urgent_ || queuedBytes_ >= kWakeBytes; });
            queue_.swap(batch);
            keys_.swap(keys);
            queuedBytes_ = 0;
            urgent_ = false;
            ending = ending_;
        }
        room_.notify_all();
        bool ok = true;
        try {
            ok = (batch.empty() && keys.empty()) || writer.write(batch, keys);
        } catch (const std::bad_alloc&) {
            // Only what was not counted yet: the records of the piece and
            // those after it.
            writer.dropped += writer.recordsInOut + batch.size() - writer.done;
            writer.recordsInOut = 0;
            writer.used = 0;
            const std::filesystem::path& where = writer.folder.currentFile().empty()
                                                     ? writer.folder.folder()
                                                     : writer.folder.currentFile();
            writer.error = base::Error(base::Fault::CannotWrite, ENOMEM, where.string());
            ok = false;
        }
        // The memory of a usual batch goes back to the queue at the next
        // swap; only a burst past the queue's bound is freed. Grown by
        // doubling, a queue that filled up to its bound may have taken up
        // to twice that: freeing it then would make every batch of a flood
        // grow its memory afresh (an allocation and a copy per doubling, and
        // the new pages' faults).
        batch.clear(2 * kQueueBytes);
        keys.clear();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            status_.currentFile = writer.folder.currentFile();
            status_.bytesWritten = writer.bytesWritten;
            status_.bytesOnDisk = writer.folder.bytesOnDisk();
            status_.recordsWritten = writer.written;
            status_.recordsDropped += writer.dropped;
            status_.filesDeleted = writer.folder.filesDeleted();
            status_.recordsKept = writer.folder.recordsKept();
            status_.bytesKept = writer.folder.bytesKept();
            writer.dropped = 0;
            ending = ending && queue_.empty() && keys_.empty();
        }
        if (!ok) {
            fail(writer.error);
            return;
        }
        if (ending) {
            // The SYN of an attempt that never got its outcome.
            writer.finishPackets();
            writer.flush();
            return;
        }
    }
}

std::filesystem::path FileRecorder::defaultFolder()
{
    // A relative XDG_DATA_HOME is to be ignored, as the XDG rules say.
    std::filesystem::path base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        base = data;
    } else {
        base = homeFolder() / ".local" / "share";
    }
    return base / "Quorvel" / "socketclient" / "traffic";
}

} // namespace traffic
