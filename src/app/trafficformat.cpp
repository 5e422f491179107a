#include "trafficformat.h"

#include <QDateTime>
#include <QTimeZone>

#include <cstdint>
#include <cstdio>

namespace app::trafficformat
{

namespace
{

using Micros = std::chrono::microseconds;

// The local date-time to the millisecond and the microseconds of the second
// apart, as QDateTime knows only milliseconds.
std::pair<QDateTime, int> split(std::chrono::system_clock::time_point time, bool utc = false)
{
    const auto micros = std::chrono::floor<Micros>(time).time_since_epoch().count();
    const auto seconds = micros >= 0 ? micros / 1000000 : (micros - 999999) / 1000000;
    const int fraction = static_cast<int>(micros - seconds * 1000000);
    return {utc ? QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
                : QDateTime::fromSecsSinceEpoch(seconds),
            fraction};
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

QString utcTime(std::chrono::system_clock::time_point time)
{
    const auto [utc, micros] = split(time, true);
    return withMicros(utc, "yyyy-MM-ddTHH:mm:ss", micros) + QLatin1Char('Z');
}

QString direction(traffic::Direction direction)
{
    switch (direction) {
    case traffic::Direction::Sent:
        return QStringLiteral("sent");
    case traffic::Direction::Received:
        return QStringLiteral("received");
    case traffic::Direction::Event:
        break;
    }
    return QStringLiteral("event");
}

QString kind(traffic::RecordKind kind)
{
    switch (kind) {
    case traffic::RecordKind::ConnectAttempt:
        return QStringLiteral("connect attempt");
    case traffic::RecordKind::Connected:
        return QStringLiteral("connected");
    case traffic::RecordKind::ConnectFailed:
        return QStringLiteral("connect failed");
    case traffic::RecordKind::Write:
        return QStringLiteral("write");
    case traffic::RecordKind::Read:
        return QStringLiteral("read");
    case traffic::RecordKind::Event:
        return QStringLiteral("event");
    case traffic::RecordKind::Disconnect:
        break;
    }
    return QStringLiteral("disconnect");
}

QString visible(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20)
            text += QChar(char16_t(0x2400 + byte)); // the control pictures: NUL to US
        else if (byte == 0x7f)
            text += QChar(char16_t(0x2421));
        else if (byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("<%1>").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString hex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!text.empty())
            text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string dump(std::string_view bytes)
{
    const std::size_t shown = std::min(bytes.size(), kDumpLimit);
    std::string out;
    out.reserve((shown / kDumpBytesPerLine + 2) * 80);
    char field[16];
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

} // namespace app::trafficformat
