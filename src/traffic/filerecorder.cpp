#include "filerecorder.h"

#include "pcapngrecords.h"
#include "recordfolder.h"
#include "recordline.h"

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
// The most the writer gathers before it hands a piece to the system.
constexpr std::size_t kWriteChunkBytes = 1024 * 1024;

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

// Everything only the writer thread touches.
struct FileRecorder::Writer {
    Writer(const std::filesystem::path& folderPath, std::uint64_t limit, Format format)
        : folder(folderPath, limit)
    {
        if (format == Format::Pcapng) {
            packets.emplace();
            header = PcapngRecords::fileHeader();
            folder.setFileKind({RecordFolder::kPcapngExtension, &pcapng::wholeBlocksSize});
        }
    }

    // Adds the line or packets of `record` to the piece.
    void format(const RecordView& record);
    // Adds the packet of a connect attempt still waiting for its outcome.
    void finishPackets();

    // Writes `batch`; adds to `written` and `dropped`. False, with `error`
    // set, when recording has to stop; the records not written are counted
    // as dropped.
    bool write(const RecordBatch& batch);
    bool flush();

    RecordFolder folder;
    // The piece being gathered is the first `used` characters of `piece`; the
    // string keeps its size, so lines are formatted straight into room that
    // is not cleared first, and grows only for a line that does not fit.
    std::string piece;
    std::size_t used = 0;
    std::string line;
    std::string header{kRecordFileHeader};
    std::optional<PcapngRecords> packets;
    // Pcapng only: where each record in the piece ends, as a record may be
    // several blocks or none (the count of LFs tells it for lines).
    std::vector<std::size_t> ends;
    std::size_t recordsInOut = 0;
    // The records of the batch being written that are counted already
    // (written, dropped, or in the piece).
    std::size_t done = 0;
    std::uint64_t written = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t dropped = 0;
    base::Error error;
};

bool FileRecorder::Writer::flush()
{
    if (used == 0) {
        return true;
    }
    const RecordFolder::Appended appended = folder.append(
        std::string_view(piece.data(), used),
        packets ? std::span<const std::size_t>(ends) : std::span<const std::size_t>());
    error = appended.result;
    // Each record is one line, so the lines that reached the file before a
    // failure are the records kept.
    std::size_t kept = recordsInOut;
    if (!error.ok()) {
        kept = packets
                   ? static_cast<std::size_t>(
                         std::upper_bound(ends.begin(), ends.end(), appended.kept) - ends.begin())
                   : static_cast<std::size_t>(
                         std::count(piece.data(), piece.data() + appended.kept, '\n'));
    }
    ends.clear();
    written += kept;
    dropped += recordsInOut - kept;
    bytesWritten += appended.kept;
    used = 0;
    recordsInOut = 0;
    return error.ok();
}

void FileRecorder::Writer::format(const RecordView& record)
{
    if (packets) {
        // Appended in place: the piece's size is what is used.
        piece.resize(used);
        packets->append(piece, record);
        used = piece.size();
        return;
    }
    const std::size_t bound = recordLineBound(record);
    if (piece.size() - used < bound) {
        piece.resize(std::max(2 * piece.size(), used + bound));
    }
    used = static_cast<std::size_t>(writeRecordLine(piece.data() + used, record) - piece.data());
}

void FileRecorder::Writer::finishPackets()
{
    if (packets && packets->holding() && folder.hasFile()) {
        piece.resize(used);
        packets->finish(piece);
        used = piece.size();
    }
}

bool FileRecorder::Writer::write(const RecordBatch& batch)
{
    done = 0;
    const auto stop = [&] {
        dropped += batch.size() - done;
        return false;
    };
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const RecordView record = batch[i];
        if (record.kind == RecordKind::ConnectAttempt || !folder.hasFile()) {
            const std::string label = record.kind == RecordKind::ConnectAttempt
                                          ? RecordFolder::labelOf(record.text)
                                          : std::string(RecordFolder::kNoConnectionLabel);
            // An attempt that got no outcome belongs to the file it began in.
            finishPackets();
            if (!flush()) {
                return stop();
            }
            error = folder.startFile(label, record.time, header);
            if (!error.ok()) {
                return stop();
            }
        }
        // Formatted straight into the piece being gathered; only a line that
        // does not fit in the file is taken out again, to go after the room
        // is made.
        const std::size_t mark = used;
        format(record);
        if (!folder.fits(used, used - mark)) {
            line.assign(piece, mark, used - mark);
            used = mark;
            if (!flush()) {
                return stop();
            }
            if (!folder.makeRoom(line.size(), record.time, header, error)) {
                if (!error.ok()) {
                    return stop();
                }
                // Only a record larger than the whole bound lands here.
                ++dropped;
                ++done;
                continue;
            }
            if (piece.size() < line.size()) {
                piece.resize(line.size());
            }
            used = line.copy(piece.data(), line.size());
        }
        if (packets) {
            ends.push_back(used);
        }
        ++recordsInOut;
        ++done;
        if (used >= kWriteChunkBytes && !flush()) {
            return stop();
        }
    }
    return flush() || stop();
}

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
    writer_ = std::make_unique<Writer>(options.folder, options.diskLimitBytes, options.format);
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
    Writer& writer = *writer_;
    if (const base::Error prepared = writer.folder.prepare(); !prepared.ok()) {
        fail(prepared);
        return;
    }
    RecordBatch batch;
    batch.reserve(kQueueBytes);
    for (;;) {
        bool ending = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // A flood that filled the queue while the last piece was being
            // written is taken at once, not after the interval.
            wake_.wait_for(lock, kWriteInterval,
                           [&] { return ending_ || urgent_ || queuedBytes_ >= kWakeBytes; });
            queue_.swap(batch);
            queuedBytes_ = 0;
            urgent_ = false;
            ending = ending_;
        }
        room_.notify_all();
        bool ok = true;
        try {
            ok = batch.empty() || writer.write(batch);
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
            ending = ending && queue_.empty();
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
