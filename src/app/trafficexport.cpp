#include "trafficexport.h"

#include "trafficformat.h"

#include <QSaveFile>
#include <QStringList>

namespace app
{

namespace
{

QString description(const traffic::Record& record)
{
    return QString::fromUtf8(record.text.data(), static_cast<qsizetype>(record.text.size()));
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
    QString text;
    for (const traffic::Record* record : records) {
        const bool event = isEvent(*record);
        const QStringList fields{
            trafficformat::dateTime(record->time),
            trafficformat::direction(traffic::directionOf(record->kind)),
            event ? QString() : QString::number(record->bytes.size()),
            event ? trafficformat::kind(record->kind) : trafficformat::visible(record->bytes),
            event ? oneField(description(*record)) : trafficformat::hex(record->bytes)};
        text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

QString TrafficExport::csvHeader()
{
    return QStringLiteral("time,direction,kind,length,text,hex,description\r\n");
}

QString TrafficExport::csvLine(const traffic::Record& record)
{
    const QStringList fields{trafficformat::utcTime(record.time),
                             trafficformat::direction(traffic::directionOf(record.kind)),
                             trafficformat::kind(record.kind),
                             QString::number(record.bytes.size()),
                             trafficformat::visible(record.bytes),
                             trafficformat::hex(record.bytes),
                             description(record)};
    QStringList quoted;
    for (const QString& field : fields)
        quoted += csvField(field);
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString TrafficExport::logLine(const traffic::Record& record)
{
    const QStringList fields{trafficformat::utcTime(record.time),
                             trafficformat::direction(traffic::directionOf(record.kind)),
                             QString::number(record.bytes.size()),
                             trafficformat::visible(record.bytes),
                             trafficformat::hex(record.bytes), oneField(description(record))};
    return fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

bool TrafficExport::save(const QString& path, Format format,
                         const std::vector<const traffic::Record*>& records, QString* error)
{
    QSaveFile file(path);
    // Owner-only before the first byte: the traffic may carry card numbers.
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (ok) {
        if (format == Format::Csv)
            file.write(csvHeader().toUtf8());
        for (const traffic::Record* record : records) {
            const QString line = format == Format::Csv ? csvLine(*record) : logLine(*record);
            if (file.write(line.toUtf8()) < 0)
                break;
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
