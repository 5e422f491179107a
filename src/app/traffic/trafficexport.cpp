#include "trafficexport.h"

#include "trafficformat.h"
#include "trafficframes.h"

#include "traffic/bytetext.h"
#include "traffic/framestream.h"
#include "traffic/pcapngrecords.h"
#include "traffic/recordline.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

QString systemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString csvField(const QString& field)
{
    static const QString kSpecial = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (const QChar c : field)
        quote = quote || kSpecial.contains(c);
    if (!quote)
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// Hex digits alone may read as a number ("1e10", "0012"): marked as text.
QString hexField(const std::string& bytes)
{
    return bytes.empty() ? QString() : QLatin1Char('\'') + text(traffic::hexText(bytes, false));
}

// The packets of the records (traffic::PcapngRecords), handed to `put` a
// megabyte or so at a time: every record's bytes in one buffer could take as
// much memory again as the table holds.
template <typename Put>
void putPcapng(const std::vector<const traffic::Record*>& records, const Put& put)
{
    constexpr std::size_t kChunkBytes = 1024 * 1024;
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
                             neutral(text(traffic::visibleText(record.bytes))),
                             hexField(record.bytes),
                             neutral(description(record)),
                             neutral(trafficframes::oneLine(frames))};
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
        .arg(path, systemText(chmodError));
}

bool TrafficExport::save(const QString& path, Format format,
                         const std::vector<const traffic::Record*>& records, QString* error,
                         QString* warning, const FramesList& frames)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QByteArray target = QFile::encodeName(path);
    // A link under the chosen name would have the save write wherever it
    // points (a dangling one included); the file is replaced, never followed.
    struct stat existing {
    };
    if (::lstat(target.constData(), &existing) == 0 && !S_ISREG(existing.st_mode))
        return fail(S_ISLNK(existing.st_mode)
                        ? QStringLiteral("it is a link; choose the file itself")
                        : QStringLiteral("it is not a regular file"));
    QByteArray temporary =
        QFile::encodeName(QFileInfo(path).absolutePath() + QStringLiteral("/.") +
                          QFileInfo(path).fileName() + QStringLiteral(".XXXXXX"));
    // mkstemp makes the file 0600 before the first byte: the traffic may
    // carry card numbers.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(systemText(errno));
    // A file system without permissions (a FAT stick) cannot keep the file
    // owner-only; the save still goes on, and says so.
    const QString permissions =
        permissionWarning(path, ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 ? 0 : errno);
    if (!permissions.isEmpty() && warning)
        *warning = permissions;
    QFile file;
    bool ok = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
    const auto put = [&](const char* data, qint64 size) {
        ok = ok && file.write(data, size) == size;
    };
    if (format == Format::Pcapng) {
        putPcapng(records, put);
    } else {
        const bool csv = format == Format::Csv;
        if (csv)
            put(csvHeader().toUtf8().constData(), csvHeader().toUtf8().size());
        else
            put(traffic::kRecordFileHeader.data(),
                static_cast<qint64>(traffic::kRecordFileHeader.size()));
        std::string line;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (csv) {
                const QByteArray utf8 = csvLine(*records[i], framesAt(frames, i)).toUtf8();
                put(utf8.constData(), utf8.size());
            } else {
                line.clear();
                traffic::appendRecordLine(line, *records[i]);
                appendFramesComment(line, framesAt(frames, i));
                put(line.data(), static_cast<qint64>(line.size()));
            }
        }
    }
    ok = ok && file.flush() && ::fdatasync(fd) == 0;
    const int code = errno;
    const QString writeError = file.errorString();
    file.close();
    if (!ok) {
        ::unlink(temporary.constData());
        return fail(file.error() != QFileDevice::NoError ? writeError : systemText(code));
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int renameCode = errno;
        ::unlink(temporary.constData());
        return fail(systemText(renameCode));
    }
    return true;
}

} // namespace app
