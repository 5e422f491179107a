#include "recordwriter.h"

#include "pcapngwriter.h"
#include "recordline.h"

#include <algorithm>

namespace traffic
{

namespace
{

// The most the writer gathers before it hands a piece to the system.
constexpr std::size_t kWriteChunkBytes = 1024 * 1024;

} // namespace

RecordWriter::RecordWriter(const std::filesystem::path& folderPath, std::uint64_t limit,
                           bool pcapng)
    : folder(folderPath, limit), formatHeader(kRecordFileHeader),
      keys(static_cast<std::size_t>(
          std::min<std::uint64_t>(folder.limitBytes() / 8, ConnectionKeyLog::kMaxBytes)))
{
    if (pcapng) {
        packets.emplace();
        formatHeader = PcapngRecords::fileHeader();
        folder.setFileKind({RecordFolder::kPcapngExtension, &pcapng::wholeBlocksSize});
    }
    header = formatHeader;
}

bool RecordWriter::flush()
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

void RecordWriter::format(const RecordView& record)
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

void RecordWriter::finishPackets()
{
    if (packets && packets->holding() && folder.hasFile()) {
        piece.resize(used);
        packets->finish(piece);
        used = piece.size();
    }
}

void RecordWriter::forgetKeys()
{
    keys.clear();
    header = formatHeader;
}

bool RecordWriter::keyLog(std::string_view lines, std::chrono::system_clock::time_point time)
{
    if (!packets) {
        return true;
    }
    bool anyKept = false;
    bool allKept = true;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find('\n', at);
        const bool kept = keys.add(lines.substr(at, end - at));
        anyKept = anyKept || kept;
        allKept = allKept && kept;
        at = end + 1;
    }
    if (anyKept) {
        header = formatHeader + pcapng::decryptionSecretsBlock(keys.lines());
    }
    if (!folder.hasFile()) {
        // The first file of the connection starts with them.
        return true;
    }
    const std::string block = pcapng::decryptionSecretsBlock(lines);
    if (!folder.fits(used + block.size(), block.size())) {
        if (!flush()) {
            return false;
        }
        const std::filesystem::path before = folder.currentFile();
        if (!folder.makeRoom(block.size(), time, header, error)) {
            // Only a block larger than the whole bound is left out.
            return error.ok();
        }
        // A next part that starts with these keys needs them no more.
        if (allKept && folder.currentFile() != before) {
            return true;
        }
    }
    piece.resize(used);
    piece.append(block);
    used = piece.size();
    return true;
}

bool RecordWriter::write(const RecordBatch& batch, std::span<const Keys> keyLines)
{
    done = 0;
    const auto stop = [&] {
        dropped += batch.size() - done;
        return false;
    };
    auto nextKeys = keyLines.begin();
    for (std::size_t i = 0; i < batch.size(); ++i) {
        for (; nextKeys != keyLines.end() && nextKeys->before <= i; ++nextKeys) {
            if (!keyLog(nextKeys->lines, nextKeys->time)) {
                return stop();
            }
        }
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
            if (record.kind == RecordKind::ConnectAttempt) {
                forgetKeys();
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
    for (; nextKeys != keyLines.end(); ++nextKeys) {
        if (!keyLog(nextKeys->lines, nextKeys->time)) {
            return stop();
        }
    }
    return flush() || stop();
}

} // namespace traffic
