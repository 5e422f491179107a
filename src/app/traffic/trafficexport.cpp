#include "trafficexport.h"

#include "trafficformat.h"
#include "trafficframes.h"

#include "check/reporttext.h"
#include "fileio/safefile.h"
#include "traffic/bytetext.h"
#include "traffic/framestream.h"
#include "traffic/pcapngrecords.h"
#include "traffic/recordline.h"

#include <QFile>
#include <QStringList>

namespace app
{

namespace
{

using trafficformat::text;

QString description(const traffic::Record& record)
{
    return text(record.text);
}

bool isEvent(const traffic::Record& record)
{
    return traffic::directionOf(record.kind) == traffic::Direction::Event;
}

// A description is free text: on one copied line its tabs and line breaks
// would start new columns and rows.
QString oneField(QString text)
{
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    return text;
}

// A spreadsheet takes a cell that starts with one of these as a formula, so
// a device could make it compute (or fetch) whatever its bytes say.
QString neutral(QString field)
{
    static const QString kFormulaStart = QStringLiteral("=+-@\t\r");
    if (!field.isEmpty() && kFormulaStart.contains(field.front()))
        field.prepend(QLatin1Char('\''));
    return field;
}

// The one CSV dialect the programs write (check::csvField).
QString csvField(const QString& field)
{
    return QString::fromStdString(check::csvField(field.toStdString()));
}

// Hex digits alone may read as a number ("1e10", "0012"): marked as text.
QString hexField(const std::string& bytes)
{
    return bytes.empty() ? QString() : QLatin1Char('\'') + text(traffic::hexText(bytes, false));
}

// The packets of the records (traffic::PcapngRecords), handed to `put` a
// megabyte or so at a time: every record's bytes in one buffer could take as
// much memory again as the table holds.
constexpr std::size_t kPieceBytes = 1024 * 1024;

template <typename Put>
void putPcapng(const std::vector<const traffic::Record*>& records, const Put& put)
{
    constexpr std::size_t kChunkBytes = kPieceBytes;
    std::string blocks = traffic::PcapngRecords::fileHeader();
    traffic::PcapngRecords packets;
    for (const traffic::Record* record : records) {
        packets.append(blocks, *record);
        if (blocks.size() >= kChunkBytes) {
            put(blocks.data(), static_cast<qint64>(blocks.size()));
            blocks.clear();
        }
    }
    packets.finish(blocks);
    put(blocks.data(), static_cast<qint64>(blocks.size()));
}

std::string_view framesAt(const TrafficExport::FramesList& frames, std::size_t i)
{
    return i < frames.size() ? frames[i] : std::string_view();
}

// The frames are ASCII (FrameStream) and hold no line break once on one line.
void appendFramesComment(std::string& line, std::string_view frames)
{
    if (frames.empty())
        return;
    line += TrafficExport::kFramesComment;
    for (const char c : frames) {
        if (c == traffic::FrameStream::kItemSeparator)
            line += trafficframes::kOnOneLine;
        else
            line += c;
    }
    line += '\n';
}

} // namespace

QString TrafficExport::copyText(const std::vector<const traffic::Record*>& records,
                                const FramesList& frames)
{
    QString copied;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const traffic::Record* record = records[i];
        const bool event = isEvent(*record);
        const QStringList fields{trafficformat::dateTime(record->time),
                                 trafficformat::directionText(*record),
                                 event ? QString() : QString::number(record->bytes.size()),
                                 event ? text(traffic::kindName(record->kind))
                                       : neutral(text(traffic::visibleText(record->bytes))),
                                 event ? neutral(oneField(description(*record)))
                                       : text(traffic::hexText(record->bytes)),
                                 neutral(trafficframes::oneLine(framesAt(frames, i)))};
        copied += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return copied;
}

QString TrafficExport::csvHeader()
{
    return QStringLiteral("time,direction,kind,length,bytes,hex,note,frames\r\n");
}

QString TrafficExport::csvLine(const traffic::Record& record, std::string_view frames)
{
    const QStringList fields{text(traffic::isoTime(record.time)),
                             trafficformat::directionText(record),
                             text(traffic::kindName(record.kind)),
                             QString::number(record.bytes.size()),
                             text(traffic::visibleText(record.bytes)),
                             hexField(record.bytes),
                             description(record),
                             trafficframes::oneLine(frames)};
    QStringList quoted;
    for (const QString& field : fields)
        quoted += csvField(field);
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString TrafficExport::permissionWarning(const QString& path, int chmodError)
{
    if (chmodError == 0)
        return {};
    return QStringLiteral("The file system of %1 does not keep permissions: "
                          "the file may be readable by others (%2).")
        .arg(path, QString::fromStdString(base::Error::system(chmodError).text()));
}

base::Result<QString> TrafficExport::save(const QString& path, Format format,
                                          const std::vector<const traffic::Record*>& records,
                                          const FramesList& frames)
{
    QString warning;
    base::Result<fileio::SafeFile> file =
        fileio::SafeFile::create(QFile::encodeName(path).toStdString());
    base::Error result = file ? base::Error() : file.error();
    if (file) {
        // A file system without permissions (a FAT stick) cannot keep the
        // file owner-only; the save still goes on, and says so.
        warning = permissionWarning(path, file->permissionError());
        const auto put = [&](const char* data, qint64 size) {
            result = file->append(std::string_view(data, static_cast<std::size_t>(size)));
        };
        if (format == Format::Pcapng) {
            putPcapng(records, put);
        } else {
            const bool csv = format == Format::Csv;
            std::string line =
                csv ? csvHeader().toStdString() : std::string(traffic::kRecordFileHeader);
            for (std::size_t i = 0; i < records.size() && result.ok(); ++i) {
                if (csv) {
                    line += csvLine(*records[i], framesAt(frames, i)).toStdString();
                } else {
                    traffic::appendRecordLine(line, *records[i]);
                    appendFramesComment(line, framesAt(frames, i));
                }
                if (line.size() >= kPieceBytes) {
                    put(line.data(), static_cast<qint64>(line.size()));
                    line.clear();
                }
            }
            put(line.data(), static_cast<qint64>(line.size()));
        }
        if (result.ok())
            result = file->commit();
    }
    if (!result.ok())
        return result;
    return warning;
}

} // namespace app
