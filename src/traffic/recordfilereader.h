#pragma once

#include "recordtail.h"
#include "trafficrecord.h"

#include "base/error.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace traffic
{

// What a record file gave back.
struct RecordFileContents {
    enum class Format : std::uint8_t { Text, Pcapng };

    Format format = Format::Text;
    std::vector<Record> records; // the newest ones, oldest first
    std::uint64_t damaged = 0;   // lines or runs of blocks skipped as damaged
    std::uint64_t leftOut = 0;   // older records left out by the bound
    std::uint64_t bytesRead = 0; // of the file
};

// Reads a record file the console wrote, in the line format or as pcapng,
// back into records (TextRecordParser, PcapngRecordParser). The format is
// told by the content: a pcapng section header at the start, or the line
// format's header or a record line among the first lines; the file's name
// plays no part. The file is opened as fileio::RegularFile opens it: never
// waiting on a FIFO or a device, and refusing whatever is no regular file.
//
// Results: the records, how many lines or blocks were damaged, how many older
// records the bound (RecordTail) left out. A failure only when the file cannot
// be opened or read (Fault::System with the errno, the path in the detail), or
// is no regular file, empty, or no record file at all (Fault::BadInput).
// Never throws on any content.
//
// The file is read in pieces of kPieceBytes, so memory stays within the
// tail's bound plus a piece and a line or block. `progress` (optional) is
// called after each piece with the bytes read so far and the file's size; a
// set `cancel` ends the reading after the piece at hand (the result then
// holds what was read). Threads: any; the functions keep no state.
class RecordFileReader
{
public:
    using Format = RecordFileContents::Format;
    using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

    static constexpr std::size_t kPieceBytes = 1024 * 1024;
    // The start of a file that the format is told from.
    static constexpr std::size_t kProbeBytes = 64 * 1024;

    static base::Result<RecordFileContents> readFile(const std::filesystem::path& path,
                                                     RecordTail::Limits limits = {},
                                                     const Progress& progress = {},
                                                     const std::atomic<bool>* cancel = nullptr);

    // The same for a file's content at hand; "the input" names it in errors.
    static base::Result<RecordFileContents> readBytes(std::string_view content,
                                                      RecordTail::Limits limits = {});

    // The format of a file that starts with `start` (up to kProbeBytes of
    // it); nullopt when it is neither. An empty start is the line format.
    static std::optional<Format> formatOf(std::string_view start);
};

} // namespace traffic
