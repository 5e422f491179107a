#include "trafficexport.h"

#include "trafficformat.h"

#include "traffic/bytetext.h"
#include "traffic/recordline.h"

#include <QSaveFile>
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

QString directionOf(const traffic::Record& record)
{
    return text(traffic::directionName(traffic::directionOf(record.kind)));
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

} // namespace

QString TrafficExport::copyText(const std::vector<const traffic::Record*>& records)
{
    QString copied;
    for (const traffic::Record* record : records) {
        const bool event = isEvent(*record);
        const QStringList fields{trafficformat::dateTime(record->time), directionOf(*record),
                                 event ? QString() : QString::number(record->bytes.size()),
                                 event ? text(traffic::kindName(record->kind))
                                       : text(traffic::visibleText(record->bytes)),
                                 event ? oneField(description(*record))
                                       : text(traffic::hexText(record->bytes))};
        copied += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return copied;
}

QString TrafficExport::csvHeader()
{
    return QStringLiteral("time,direction,kind,length,bytes,hex,note\r\n");
}

QString TrafficExport::csvLine(const traffic::Record& record)
{
    const QStringList fields{text(traffic::isoTime(record.time)),
                             directionOf(record),
                             text(traffic::kindName(record.kind)),
                             QString::number(record.bytes.size()),
                             text(traffic::visibleText(record.bytes)),
                             text(traffic::hexText(record.bytes, false)),
                             description(record)};
    QStringList quoted;
    for (const QString& field : fields)
        quoted += csvField(field);
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

bool TrafficExport::save(const QString& path, Format format,
                         const std::vector<const traffic::Record*>& records, QString* error)
{
    QSaveFile file(path);
    // Owner-only before the first byte: the traffic may carry card numbers.
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (ok) {
        const bool csv = format == Format::Csv;
        if (csv)
            file.write(csvHeader().toUtf8());
        else
            file.write(traffic::kRecordFileHeader.data(),
                       static_cast<qint64>(traffic::kRecordFileHeader.size()));
        std::string line;
        for (const traffic::Record* record : records) {
            if (csv) {
                file.write(csvLine(*record).toUtf8());
            } else {
                line.clear();
                traffic::appendRecordLine(line, *record);
                file.write(line.data(), static_cast<qint64>(line.size()));
            }
        }
    }
    if (ok && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    file.cancelWriting();
    return false;
}

} // namespace app
