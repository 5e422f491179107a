#include "traffic/recordline.h"

#include "samplebytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

using namespace std::chrono_literals;
using namespace std::string_literals;
using traffic::Record;
using traffic::RecordKind;

namespace
{

std::chrono::system_clock::time_point at(std::chrono::microseconds sinceEpoch)
{
    return std::chrono::system_clock::time_point{sinceEpoch};
}

// --- time -------------------------------------------------------------------

TEST(IsoTime, KeepsMicrosecondsAndCutsFinerParts)
{
    const auto time = at(1796631302123456us); // 2026-12-07T08:15:02.123456Z
    EXPECT_EQ(traffic::isoTime(time), "2026-12-07T08:15:02.123456Z");
    EXPECT_EQ(traffic::timeFromIso("2026-12-07T08:15:02.123456Z"), time);
    EXPECT_EQ(traffic::isoTime(time + 999ns), "2026-12-07T08:15:02.123456Z");
    EXPECT_EQ(traffic::isoTime(at(0us)), "1970-01-01T00:00:00.000000Z");
    for (const char* bad : {"2026-12-07T08:15:02.123456", "2026-02-30T08:15:02.123456Z",
                            "2026-12-07T24:00:00.000000Z", "2026-12-07 08:15:02.123456Z",
                            "2026-12-07T08:15:02.12345Z",
                            // Beyond what the clock can hold (found by fuzzing).
                            "2416-12-07T08:15:02.000001Z", "1500-01-01T00:00:00.000000Z"}) {
        EXPECT_FALSE(traffic::timeFromIso(bad).has_value()) << bad;
    }
}

// --- lines ------------------------------------------------------------------

class LineRows : public testing::TestWithParam<Record>
{
};

TEST_P(LineRows, OneLineGivesTheExactRecordBack)
{
    const Record& record = GetParam();
    const std::string line = traffic::recordLine(record);
    ASSERT_EQ(line.back(), '\n');
    // One line: no LF inside, seven fields.
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 6);
    const auto back = traffic::recordFromLine(line);
    ASSERT_TRUE(back.has_value()) << line;
    EXPECT_EQ(back->time, record.time);
    EXPECT_EQ(back->kind, record.kind);
    EXPECT_EQ(back->bytes, record.bytes);
    EXPECT_EQ(back->text, record.text);

    // Written into room of the bound's size, the same line, and nothing
    // written past the room.
    const std::size_t bound = traffic::recordLineBound(record);
    std::string room(bound + 32, '#');
    const char* end = traffic::writeRecordLine(room.data(), record);
    ASSERT_LE(end - room.data(), static_cast<std::ptrdiff_t>(bound));
    EXPECT_EQ(std::string_view(room.data(), end), line);
    EXPECT_EQ(room.substr(bound), std::string(32, '#'));
}

Record row(RecordKind kind, std::string bytes, std::string text)
{
    return Record{at(1796631302000001us), kind, std::move(bytes), std::move(text), {}};
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, LineRows,
    testing::Values(row(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"),
                    row(RecordKind::Connected, "", "127.0.0.1:40112"),
                    row(RecordKind::ConnectFailed, "", "Connection refused after 0.4 ms"),
                    row(RecordKind::Write, "[BA1=ENT-\r\n", "11 bytes written"),
                    row(RecordKind::Read, "[A=B-\0after the NUL\tand\na tab"s, "frame ok"),
                    row(RecordKind::Read, "[A=B-\r\n[C=D-\r\n", "frame ok"),
                    row(RecordKind::Read, everyByte(), "Error received data !\r\n"),
                    row(RecordKind::Event, "", "Connection Abandonned\r\n"),
                    row(RecordKind::Disconnect, "", "operator"),
                    // Every byte and every character of the text escaped
                    // under the longest kind name: the line's largest size.
                    row(RecordKind::ConnectFailed, std::string(37, '\x01'),
                        std::string(5, '\xff'))));

TEST(RecordLine, ReadsTheFieldsAsDocumented)
{
    const Record record = row(RecordKind::Read, "A\0\x07"s, "ok");
    EXPECT_EQ(traffic::recordLine(record),
              "2026-12-07T08:15:02.000001Z\treceived\tread\t3\tA\\0\\x07\t410007\tok\n");
}

// A file keeps only the text: reading it back is where the facts come from.
TEST(RecordLine, ALineReadBackTellsTheFactsOfItsText)
{
    using traffic::RecordFact;
    using traffic::RecordFacts;
    const struct {
        RecordKind kind;
        const char* text;
        RecordFacts facts;
    } rows[] = {
        {RecordKind::ConnectAttempt, "UDP 127.0.0.1:21210", {RecordFact::Udp}},
        {RecordKind::ConnectAttempt, "TCP 127.0.0.1:21210", {}},
        {RecordKind::ConnectFailed, "Connection refused after 3 ms", {RecordFact::Refused}},
        {RecordKind::ConnectFailed, "Timed out after 5 ms", {}},
        {RecordKind::Write, "3 bytes written", {RecordFact::Written, 3}},
        {RecordKind::Write, "write failed: Broken pipe", {RecordFact::NotWritten}},
        {RecordKind::Write, "3 bytes written, or not", {RecordFact::NotWritten}},
        {RecordKind::Event, "Connection closed by the peer", {RecordFact::PeerClosed}},
        {RecordKind::Event, "Connection dropped: Connection reset by peer", {RecordFact::Dropped}},
        {RecordKind::Event, "Zero-length datagram", {RecordFact::ZeroLength}},
        {RecordKind::Event, "next: open door", {}},
        {RecordKind::Read, "3 bytes written", {}},
    };
    for (const auto& r : rows) {
        const auto back = traffic::recordFromLine(traffic::recordLine(row(r.kind, "abc", r.text)));
        ASSERT_TRUE(back.has_value()) << r.text;
        EXPECT_EQ(back->facts, r.facts) << r.text;
    }
}

// A line changed by hand, cut short or not a record at all is refused
// rather than half believed.
TEST(RecordLine, RefusesWhatItCannotHaveWritten)
{
    const std::string header(traffic::kRecordFileHeader);
    for (const std::string& line : std::initializer_list<std::string>{
             "", "\n", header, "2026-12-07T08:15:02.000001Z\treceived\tread\t3\tA\\0\\x07\t410007",
             "2026-12-07T08:15:02.000001Z\treceived\tread\t3\tA\\0\\x07\t410007\tok\tx",
             "2026-12-07T08:15:02.000001Z\tsent\tread\t3\tA\\0\\x07\t410007\tok",
             "2026-12-07T08:15:02.000001Z\treceived\tread\t2\tA\\0\\x07\t410007\tok",
             "2026-12-07T08:15:02.000001Z\treceived\tread\t3\tA\\0\\x08\t410007\tok",
             "2026-12-07T08:15:02.000001Z\treceived\tread\t3\tA\\0\\x07\t41 00 07\tok",
             "2026-12-07T08:15:02.000001Z\treceived\tpeek\t3\tA\\0\\x07\t410007\tok",
             "2026-12-07T08:15:02Z\treceived\tread\t3\tA\\0\\x07\t410007\tok",
             "2026-12-07T08:15:02.000001Z\treceived\tread\t\tA\\0\\x07\t410007\tok"}) {
        EXPECT_FALSE(traffic::recordFromLine(line).has_value()) << line;
    }
}

} // namespace
