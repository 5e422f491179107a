#include "recordfilereader.h"

#include "pcapngblockreader.h"
#include "pcapngrecordparser.h"
#include "recordline.h"
#include "textrecordparser.h"

#include "fileio/regularfile.h"

#include <optional>
#include <string>

namespace traffic
{

namespace
{

constexpr std::string_view kHeaderStart = "# traffic record ";
// How many lines at a file's start may be damaged before it counts as no
// record file.
constexpr int kProbeLines = 16;

// A line that starts as recordLine() starts one: a time, a direction and a
// kind. The rest may lie beyond the probe.
bool startsAsRecordLine(std::string_view line)
{
    const std::size_t first = line.find('\t');
    const std::size_t second = line.find('\t', first == std::string_view::npos ? first : first + 1);
    const std::size_t third =
        line.find('\t', second == std::string_view::npos ? second : second + 1);
    if (third == std::string_view::npos) {
        return false;
    }
    const auto kind = kindFromName(line.substr(second + 1, third - second - 1));
    return timeFromIso(line.substr(0, first)) && kind &&
           line.substr(first + 1, second - first - 1) == directionName(directionOf(*kind));
}

// The parser of the format at hand, the tail it fills and their outcome.
class Reading
{
public:
    Reading(RecordFileReader::Format format, RecordTail::Limits limits) : tail_(limits)
    {
        if (format == RecordFileReader::Format::Pcapng) {
            pcapng_.emplace(tail_);
        } else {
            text_.emplace(tail_);
        }
        contents_.format = format;
    }

    void feed(std::string_view piece)
    {
        contents_.bytesRead += piece.size();
        if (pcapng_) {
            pcapng_->feed(piece);
        } else {
            text_->feed(piece);
        }
    }

    RecordFileContents finish()
    {
        if (pcapng_) {
            pcapng_->finish();
            contents_.damaged = pcapng_->damaged();
        } else {
            text_->finish();
            contents_.damaged = text_->damaged();
        }
        contents_.leftOut = tail_.leftOut();
        contents_.records = tail_.take();
        return std::move(contents_);
    }

private:
    RecordTail tail_;
    std::optional<TextRecordParser> text_;
    std::optional<PcapngRecordParser> pcapng_;
    RecordFileContents contents_;
};

base::Error notARecord(const std::string& name)
{
    return base::Error(base::Fault::BadInput, 0,
                       name + ": not a traffic record (neither the text record format nor pcapng)");
}

// A file of no bytes holds no record: more likely the wrong file (or one cut
// to nothing) than a recording that saw nothing, which has its header.
base::Error emptyFile(const std::string& name)
{
    return base::Error::input(base::Fault::BadInput, name, "the file is empty, no traffic record");
}

// The file's start, or why it is no record file.
base::Result<std::string> firstPiece(fileio::RegularFile& file, std::size_t most)
{
    base::Result<std::string> piece = file.read(most);
    if (piece && piece->empty()) {
        return emptyFile(file.name());
    }
    if (piece && !RecordFileReader::formatOf(*piece)) {
        return notARecord(file.name());
    }
    return piece;
}

} // namespace

std::optional<RecordFileReader::Format> RecordFileReader::formatOf(std::string_view start)
{
    start = start.substr(0, kProbeBytes);
    if (start.empty()) {
        return Format::Text;
    }
    if (PcapngBlockReader::looksLikePcapng(start)) {
        return Format::Pcapng;
    }
    for (int line = 0; line < kProbeLines && !start.empty(); ++line) {
        const std::size_t end = start.find('\n');
        const std::string_view text = start.substr(0, end);
        if (text.starts_with(kHeaderStart) || startsAsRecordLine(text)) {
            return Format::Text;
        }
        if (end == std::string_view::npos) {
            break;
        }
        start.remove_prefix(end + 1);
    }
    return std::nullopt;
}

base::Result<RecordFileContents> RecordFileReader::readBytes(std::string_view content,
                                                             RecordTail::Limits limits)
{
    const std::optional<Format> format = formatOf(content);
    if (!format) {
        return notARecord("the input");
    }
    Reading reading(*format, limits);
    reading.feed(content);
    return reading.finish();
}

base::Result<RecordFileContents> RecordFileReader::readFile(const std::filesystem::path& path,
                                                            RecordTail::Limits limits,
                                                            const Progress& progress,
                                                            const std::atomic<bool>* cancel)
{
    base::Result<fileio::RegularFile> file = fileio::RegularFile::open(path.string());
    if (!file) {
        return file.error();
    }
    base::Result<std::string> piece = firstPiece(*file, kPieceBytes);
    if (!piece) {
        return piece.error();
    }
    Reading reading(*formatOf(*piece), limits);
    std::uint64_t done = 0;
    while (!piece->empty()) {
        reading.feed(*piece);
        done += piece->size();
        if (progress) {
            progress(done, file->size());
        }
        if (cancel != nullptr && cancel->load()) {
            break;
        }
        piece = file->read(kPieceBytes);
        if (!piece) {
            return piece.error();
        }
    }
    return reading.finish();
}

} // namespace traffic
