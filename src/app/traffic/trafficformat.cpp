#include "trafficformat.h"

#include "trafficframes.h"

#include "traffic/recordline.h"
#include "traffic/writeoutcome.h"

#include <QDateTime>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace app::trafficformat
{

namespace
{

using Micros = std::chrono::microseconds;

// The local date-time to the second and the microseconds apart, as QDateTime
// knows only milliseconds.
std::pair<QDateTime, int> split(std::chrono::system_clock::time_point time)
{
    const auto micros = std::chrono::floor<Micros>(time).time_since_epoch().count();
    const auto seconds = micros >= 0 ? micros / 1000000 : (micros - 999999) / 1000000;
    const int fraction = static_cast<int>(micros - seconds * 1000000);
    return {QDateTime::fromSecsSinceEpoch(seconds), fraction};
}

QString withMicros(const QDateTime& time, const char* format, int micros)
{
    return time.toString(QLatin1String(format)) + QLatin1Char('.') +
           QStringLiteral("%1").arg(micros, 6, 10, QLatin1Char('0'));
}

} // namespace

QString timeOfDay(std::chrono::system_clock::time_point time)
{
    const auto [local, micros] = split(time);
    return withMicros(local, "HH:mm:ss", micros);
}

QString dateTime(std::chrono::system_clock::time_point time)
{
    const auto [local, micros] = split(time);
    return withMicros(local, "yyyy-MM-dd HH:mm:ss", micros);
}

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string dump(std::string_view bytes)
{
    const std::size_t shown = std::min(bytes.size(), kDumpLimit);
    std::string out;
    out.reserve((shown / kDumpBytesPerLine + 2) * 80);
    char field[24]; // a 64-bit offset in hex, a blank and the zero
    for (std::size_t line = 0; line < shown; line += kDumpBytesPerLine) {
        std::snprintf(field, sizeof field, "%08zx ", line);
        out += field;
        std::string ascii;
        for (std::size_t i = 0; i < kDumpBytesPerLine; ++i) {
            if (i == kDumpBytesPerLine / 2)
                out += ' ';
            if (line + i >= shown) {
                out += "   ";
                continue;
            }
            const auto byte = static_cast<unsigned char>(bytes[line + i]);
            std::snprintf(field, sizeof field, " %02x", byte);
            out += field;
            ascii += byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
        }
        out += "  |" + ascii + "|\n";
    }
    if (shown < bytes.size())
        out += "... " + std::to_string(bytes.size() - shown) + " more bytes not shown\n";
    return out;
}

QString directionText(const traffic::Record& record)
{
    const QString name = text(traffic::directionName(traffic::directionOf(record.kind)));
    switch (traffic::writeOutcome(record)) {
    case traffic::WriteOutcome::Failed:
        return name + QStringLiteral(" (failed)");
    case traffic::WriteOutcome::Partial:
        return name + QStringLiteral(" (partial)");
    default:
        return name;
    }
}

QString detailText(const traffic::Record& record, std::string_view frames)
{
    const traffic::Direction direction = traffic::directionOf(record.kind);
    QString text = dateTime(record.time) + QStringLiteral("  ") +
                   app::trafficformat::text(traffic::directionName(direction)) +
                   QStringLiteral("  ") + app::trafficformat::text(traffic::kindName(record.kind));
    if (direction != traffic::Direction::Event)
        text += QStringLiteral("  %1 bytes").arg(record.bytes.size());
    text += QLatin1Char('\n');
    if (!record.text.empty())
        text += app::trafficformat::text(record.text) + QLatin1Char('\n');
    text += trafficframes::lines(frames);
    if (!record.bytes.empty()) {
        const std::string bytes = dump(record.bytes);
        text += QLatin1Char('\n') +
                QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    return text;
}

} // namespace app::trafficformat
