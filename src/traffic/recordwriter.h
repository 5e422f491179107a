#pragma once

#include "base/error.h"
#include "connectionkeylog.h"
#include "pcapngrecords.h"
#include "recordbatch.h"
#include "recordfolder.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace traffic
{

// A FileRecorder's writer (see there): formats the batches its queue gives (lines or
// pcapng packets) into pieces and writes them to the record folder, starting
// a file at each connect attempt and the next part of one at its size. The
// recorder reads the counts and the error after each batch.
//
// TLS key log lines (pcapng only) go in where they came among the records:
// a Decryption Secrets Block in the current file, and again at the start of
// every later file of the same connection (the connection's ConnectionKeyLog,
// bounded to an eighth of the disk limit so that a file's start stays well
// within a file's size); a connect attempt starts a connection without keys.
//
// Threads: only the recorder's writer thread uses it.
struct RecordWriter {
    // Key log lines ("\n" ended) that go in before the record at `before`
    // of the batch they come with (its size: after the last).
    struct Keys {
        std::size_t before = 0;
        std::chrono::system_clock::time_point time;
        std::string lines;
    };

    // Lines (".log"), or pcapng packets when `pcapng`.
    RecordWriter(const std::filesystem::path& folderPath, std::uint64_t limit, bool pcapng);

    // Writes `batch` and the `keys` that came with it (in the order of their
    // `before`); adds to `written` and `dropped`. False, with `error` set,
    // when recording has to stop; the records not written are counted as
    // dropped.
    bool write(const RecordBatch& batch, std::span<const Keys> keys = {});
    bool flush();
    // Adds the packet of a connect attempt still waiting for its outcome.
    void finishPackets();

    RecordFolder folder;
    // The piece being gathered is the first `used` characters of `piece`; the
    // string keeps its size, so lines are formatted straight into room that
    // is not cleared first, and grows only for a line that does not fit.
    std::string piece;
    std::size_t used = 0;
    std::size_t recordsInOut = 0;
    // The records of the batch being written that are counted already
    // (written, dropped, or in the piece).
    std::size_t done = 0;
    std::uint64_t written = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t dropped = 0;
    base::Error error;

private:
    // Adds the line or packets of `record` to the piece.
    void format(const RecordView& record);
    // The key log `lines` at this place: kept for the connection's next
    // files, and a block of them in the current file. False when recording
    // has to stop.
    bool keyLog(std::string_view lines, std::chrono::system_clock::time_point time);
    // A new connection: no keys yet.
    void forgetKeys();

    std::string line;
    // What each file starts with: the format's header, then (pcapng) the
    // connection's keys.
    std::string formatHeader;
    std::string header;
    std::optional<PcapngRecords> packets;
    ConnectionKeyLog keys;
    // Pcapng only: where each record in the piece ends, as a record may be
    // several blocks or none (the count of LFs tells it for lines).
    std::vector<std::size_t> ends;
};

} // namespace traffic
