#pragma once

#include "traffic/recordfacts.h"
#include "traffic/trafficrecord.h"

#include <QByteArray>

#include <chrono>
#include <string>

// Records as the channel would give them, for the Traffic window's tests: the
// facts are those the text tells, as a record file read back gives them.
inline traffic::Record makeRecord(traffic::RecordKind kind, const QByteArray& bytes,
                                  const std::string& text = {},
                                  std::chrono::microseconds since = std::chrono::microseconds(0))
{
    traffic::Record record;
    // A fixed moment (2026-12-07 13:02:07.513042 UTC) so that times compare.
    record.time =
        std::chrono::system_clock::time_point(std::chrono::microseconds(1796648527513042) + since);
    record.kind = kind;
    record.bytes.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    record.text = text;
    record.facts = traffic::recordFacts(kind, text);
    return record;
}

inline traffic::Record readRecord(const QByteArray& bytes, std::chrono::microseconds since = {})
{
    return makeRecord(traffic::RecordKind::Read, bytes, "frame check: passed", since);
}

// A read of "A", NUL, the delimiters 7, 8, 9, CR, LF, 0x7f and 0xe9.
inline const QByteArray kControlBytes("A\0\x07\x08\x09\r\n\x7f\xe9", 9);
