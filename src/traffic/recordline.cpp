#include "recordline.h"

#include "recordfacts.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace traffic
{

namespace
{

using Clock = std::chrono::system_clock;
using Micros = std::chrono::microseconds;

constexpr char kSeparator = '\t';
constexpr std::size_t kFieldCount = 7;
constexpr std::size_t kIsoTimeSize = 27;     // 2026-12-07T08:15:02.123456Z
constexpr std::size_t kMaxLengthDigits = 20; // of a 64-bit count

struct KindName {
    RecordKind kind;
    std::string_view name;
};

constexpr std::array<KindName, 7> kKindNames{{
    {RecordKind::ConnectAttempt, "connect"},
    {RecordKind::Connected, "connected"},
    {RecordKind::ConnectFailed, "connect-failed"},
    {RecordKind::Write, "write"},
    {RecordKind::Read, "read"},
    {RecordKind::Event, "event"},
    {RecordKind::Disconnect, "disconnect"},
}};

constexpr std::string_view directionText(Direction direction)
{
    switch (direction) {
    case Direction::Sent:
        return "sent";
    case Direction::Received:
        return "received";
    case Direction::Event:
        return "event";
    }
    return "event";
}

// The most characters a line's direction and kind names take together.
constexpr std::size_t longestNames()
{
    std::size_t most = 0;
    for (const KindName& entry : kKindNames) {
        most = std::max(most, directionText(directionOf(entry.kind)).size() + entry.name.size());
    }
    return most;
}

// A line's characters besides its bytes and text: the time, the names, the
// length, six separators and the LF.
constexpr std::size_t kLineFixedBound = kIsoTimeSize + longestNames() + kMaxLengthDigits + 6 + 1;

// Reads exactly `digits` decimal digits at `pos`; -1 when they are not there.
int fixedNumber(std::string_view text, std::size_t pos, std::size_t digits)
{
    if (pos + digits > text.size()) {
        return -1;
    }
    int value = 0;
    for (std::size_t i = pos; i < pos + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Writes `value` as exactly `digits` decimal digits, ending before `end`.
void putDigits(char* end, long long value, int digits)
{
    for (int i = 0; i < digits; ++i) {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// Every record's time goes through here on the writer thread; digits put in
// place cost a fraction of a formatted print. Writes kIsoTimeSize characters
// at `text` and returns their end.
char* writeIsoTime(char* text, Clock::time_point time)
{
    const auto micros = std::chrono::floor<Micros>(time);
    const auto days = std::chrono::floor<std::chrono::days>(micros);
    const std::chrono::year_month_day date{days};
    const std::chrono::hh_mm_ss clock{micros - days};
    std::memcpy(text, "0000-00-00T00:00:00.000000Z", kIsoTimeSize);
    putDigits(text + 4, static_cast<int>(date.year()), 4);
    putDigits(text + 7, static_cast<unsigned>(date.month()), 2);
    putDigits(text + 10, static_cast<unsigned>(date.day()), 2);
    putDigits(text + 13, clock.hours().count(), 2);
    putDigits(text + 16, clock.minutes().count(), 2);
    putDigits(text + 19, clock.seconds().count(), 2);
    putDigits(text + 26, clock.subseconds().count(), 6);
    return text + kIsoTimeSize;
}

char* put(char* out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

} // namespace

std::string_view directionName(Direction direction)
{
    return directionText(direction);
}

std::string_view kindName(RecordKind kind)
{
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "event";
}

std::optional<RecordKind> kindFromName(std::string_view name)
{
    for (const KindName& entry : kKindNames) {
        if (entry.name == name) {
            return entry.kind;
        }
    }
    return std::nullopt;
}

std::string isoTime(Clock::time_point time)
{
    std::string text(kIsoTimeSize, '\0');
    writeIsoTime(text.data(), time);
    return text;
}

std::optional<Clock::time_point> timeFromIso(std::string_view text)
{
    if (text.size() != kIsoTimeSize || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || text[26] != 'Z') {
        return std::nullopt;
    }
    const int year = fixedNumber(text, 0, 4);
    const int month = fixedNumber(text, 5, 2);
    const int day = fixedNumber(text, 8, 2);
    const int hour = fixedNumber(text, 11, 2);
    const int minute = fixedNumber(text, 14, 2);
    const int second = fixedNumber(text, 17, 2);
    const int micro = fixedNumber(text, 20, 6);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || micro < 0) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    const Micros sinceEpoch =
        (std::chrono::sys_days{date} + std::chrono::hours{hour} + std::chrono::minutes{minute} +
         std::chrono::seconds{second} + Micros{micro})
            .time_since_epoch();
    // The clock counts finer than microseconds in 64 bits, so it reaches only
    // a few centuries either side of 1970; a time beyond is no time it gave.
    if (sinceEpoch < std::chrono::ceil<Micros>(Clock::time_point::min().time_since_epoch()) ||
        sinceEpoch > std::chrono::floor<Micros>(Clock::time_point::max().time_since_epoch())) {
        return std::nullopt;
    }
    return Clock::time_point{std::chrono::duration_cast<Clock::duration>(sinceEpoch)};
}

std::size_t recordLineBound(const RecordView& record)
{
    return kLineFixedBound + record.bytes.size() * (kMaxVisibleCharsPerByte + 2) +
           record.text.size() * kMaxVisibleCharsPerByte;
}

char* writeRecordLine(char* out, const RecordView& record)
{
    char* p = writeIsoTime(out, record.time);
    *p++ = kSeparator;
    p = put(p, directionName(directionOf(record.kind)));
    *p++ = kSeparator;
    p = put(p, kindName(record.kind));
    *p++ = kSeparator;
    p = std::to_chars(p, p + kMaxLengthDigits, record.bytes.size()).ptr;
    *p++ = kSeparator;
    p = writeVisibleText(p, record.bytes);
    *p++ = kSeparator;
    p = writeHexText(p, record.bytes);
    *p++ = kSeparator;
    p = writeVisibleText(p, record.text);
    *p++ = '\n';
    return p;
}

void appendRecordLine(std::string& out, const RecordView& record)
{
    const std::size_t start = out.size();
    out.resize(start + recordLineBound(record));
    char* const end = writeRecordLine(out.data() + start, record);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string recordLine(const RecordView& record)
{
    std::string line;
    appendRecordLine(line, record);
    return line;
}

std::optional<Record> recordFromLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#') {
        return std::nullopt;
    }
    std::array<std::string_view, kFieldCount> fields;
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = line.find(kSeparator, start);
        if (count == kFieldCount) {
            return std::nullopt;
        }
        fields[count++] = line.substr(start, end == std::string_view::npos ? end : end - start);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    if (count != kFieldCount) {
        return std::nullopt;
    }
    const auto time = timeFromIso(fields[0]);
    const auto kind = kindFromName(fields[2]);
    if (!time || !kind || fields[1] != directionName(directionOf(*kind))) {
        return std::nullopt;
    }
    std::size_t length = 0;
    const auto parsed =
        std::from_chars(fields[3].data(), fields[3].data() + fields[3].size(), length);
    if (fields[3].empty() || parsed.ec != std::errc{} ||
        parsed.ptr != fields[3].data() + fields[3].size()) {
        return std::nullopt;
    }
    // The hex is read only when it is the unspaced form the writer uses, and
    // it must agree with the visible bytes: a line changed by hand in one of
    // them is refused rather than half believed.
    auto fromHex = bytesFromHexText(fields[5]);
    auto fromVisible = bytesFromVisibleText(fields[4]);
    auto text = bytesFromVisibleText(fields[6]);
    if (!fromHex || !fromVisible || !text || fields[5].find(' ') != std::string_view::npos ||
        *fromHex != *fromVisible || fromHex->size() != length) {
        return std::nullopt;
    }
    Record record;
    record.time = *time;
    record.kind = *kind;
    record.bytes = std::move(*fromHex);
    record.text = std::move(*text);
    record.facts = recordFacts(record.kind, record.text);
    return record;
}

} // namespace traffic
