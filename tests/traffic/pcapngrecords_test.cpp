#include "traffic/pcapngrecords.h"

#include "traffic/pcapngblockreader.h"
#include "traffic/pcapngrecordparser.h"
#include "traffic/recordfacts.h"
#include "traffic/recordtail.h"

#include "samplebytes.h"
#include "tshark.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace std::string_literals;
using traffic::PcapngRecords;
using traffic::Record;
using traffic::RecordKind;
namespace fs = std::filesystem;

namespace
{

struct Session {
    const char* name;
    bool udp;
    int resets; // "Connection reset (RST)" warnings: a refused or reset connection
    std::vector<Record> records;
    std::string sent;
    std::string received;
    std::vector<std::string> comments;
};

void PrintTo(const Session& session, std::ostream* out)
{
    *out << session.name;
}

Record at(int microsecond, RecordKind kind, std::string bytes, std::string text)
{
    const auto start = std::chrono::sys_days{std::chrono::December / 7 / 2026} + 8h;
    const traffic::RecordFacts facts = traffic::recordFacts(kind, text);
    return Record{start + std::chrono::microseconds(microsecond), kind, std::move(bytes),
                  std::move(text), facts};
}

std::vector<Session> sessions()
{
    const std::string frame1 = "\x02"
                               "A\0B"
                               "\x03"s;
    const std::string frame2 = "\x02"
                               "C\0\0D"
                               "\x03"s;
    const std::string big(65536, '\0');
    std::vector<Session> list;
    for (const bool v6 : {false, true})
        for (const bool udp : {false, true}) {
            const std::string device = v6 ? "[::1]:21210" : "127.0.0.1:21210";
            const std::string console = v6 ? "[::1]:40112" : "127.0.0.1:40112";
            const std::string target = (udp ? "UDP " : "TCP ") + device;
            Session session{
                udp ? (v6 ? "udp6" : "udp") : (v6 ? "tcp6" : "tcp"), udp, 0, {}, {}, {}, {}};
            session.records = {
                at(1, RecordKind::ConnectAttempt, "", target),
                at(250, RecordKind::Connected, "", console + " after 0 ms"),
                at(300, RecordKind::Write, everyByte(), "256 bytes written"),
                at(400, RecordKind::Read, frame1 + frame2, "2 frames, checks passed"),
                at(500, RecordKind::Write, "lost\0"s, "not written: the send queue is full"),
                at(600, RecordKind::Read, frame1.substr(0, 2), "incomplete frame"),
                at(700, RecordKind::Read, frame1.substr(2), "1 frame, check passed"),
                at(800, RecordKind::Write, big, "65536 bytes written"),
                at(900, RecordKind::Event, "", "Connection closed by the peer"),
                at(999, RecordKind::Disconnect, "", "Disconnected"),
            };
            if (udp) {
                // A datagram is at most what one IPv4 packet carries.
                session.records[7].bytes.resize(PcapngRecords::kMaxUdpPayload);
                session.records[7].text = "65507 bytes written";
            }
            session.sent = everyByte() + session.records[7].bytes;
            session.received = frame1 + frame2 + frame1;
            session.comments = {"connect: " + target,
                                "connected: " + console + " after 0 ms",
                                "write: 256 bytes written",
                                "read: 2 frames, checks passed",
                                "write: not written: the send queue is full",
                                "read: incomplete frame",
                                "event: Connection closed by the peer",
                                "disconnect: Disconnected"};
            list.push_back(std::move(session));
        }
    Session failed{"failed", false, 1, {}, {}, {}, {}};
    failed.records = {at(1, RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:9"),
                      at(3001, RecordKind::ConnectFailed, "", "Connection refused after 3 ms")};
    failed.records.push_back(at(4000, RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:9"));
    failed.records.push_back(at(9000, RecordKind::ConnectFailed, "", "Timed out after 5 ms"));
    failed.comments = {"connect-failed: Timed out after 5 ms", "connect: TCP 127.0.0.1:9",
                       "connect-failed: Connection refused after 3 ms"};
    list.push_back(std::move(failed));
    Session dropped{"dropped", false, 1, {}, {}, {}, {}};
    dropped.records = {at(1, RecordKind::Connected, "", "127.0.0.1:40113 after 0 ms"),
                       at(5, RecordKind::Read, "\0"s, ""),
                       at(9, RecordKind::Event, "", "Connection dropped: Connection reset by peer"),
                       at(12, RecordKind::Disconnect, "", "Disconnected")};
    dropped.received = "\0"s;
    dropped.comments = {"event: Connection dropped: Connection reset by peer",
                        "disconnect: Disconnected"};
    list.push_back(std::move(dropped));
    return list;
}

class PcapngRecordsTest : public ::testing::TestWithParam<Session>
{
protected:
    void SetUp() override
    {
        if (!haveTshark()) {
            GTEST_SKIP() << "tshark is not installed: the pcapng files cannot be read back";
        }
        std::string pattern = (fs::temp_directory_path() / "pcapng-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        file_ = folder_ / "record.pcapng";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path folder_;
    fs::path file_;
};

TEST_P(PcapngRecordsTest, TsharkFollowsTheStreamsAndShowsEveryEvent)
{
    const Session& session = GetParam();
    std::string bytes = PcapngRecords::fileHeader();
    PcapngRecords records;
    for (const Record& record : session.records) {
        records.append(bytes, record);
    }
    records.finish(bytes);
    std::ofstream(file_, std::ios::binary) << bytes;

    if (!session.sent.empty() || !session.received.empty()) {
        const auto [sent, received] = followed(file_, session.udp ? "udp" : "tcp");
        EXPECT_EQ(sent, session.sent);
        EXPECT_EQ(received, session.received);
    }
    if (std::string(session.name).ends_with('6')) {
        // Both ends in IPv6 headers, as a capture of the same traffic would show.
        const std::string ends = commandOutput("tshark -r '" + file_.string() +
                                               "' -c 1 -T fields -e ipv6.src -e ipv6.dst");
        EXPECT_EQ(ends, "::1\t::1\n");
    }
    const std::string comments =
        commandOutput("tshark -r '" + file_.string() + "' -T fields -e frame.comment");
    for (const std::string& comment : session.comments) {
        EXPECT_NE(comments.find(comment), std::string::npos) << comment << " in:\n" << comments;
    }
    const std::string expert = commandOutput("tshark -r '" + file_.string() + "' -q -z expert");
    EXPECT_EQ(expert.find("Errors"), std::string::npos) << expert;
    const std::string warnings =
        session.resets == 0 ? "" : "Warns (" + std::to_string(session.resets) + ")";
    EXPECT_EQ(expert.find("Warns"), expert.find(warnings.empty() ? "Warns" : warnings)) << expert;
    EXPECT_EQ(expert.find("Warns") == std::string::npos, warnings.empty()) << expert;
    EXPECT_EQ(session.resets == 0, expert.find("Connection reset") == std::string::npos) << expert;
    // The first packet's time is the first record's, to the microsecond.
    EXPECT_EQ(
        commandOutput("tshark -r '" + file_.string() + "' -c 1 -T fields -e frame.time_epoch"),
        "1796630400.000001000\n");
}

// The packets of `records` without their comments: what goes on the wire.
std::vector<std::string> packetsOf(const std::vector<Record>& records)
{
    std::string file = PcapngRecords::fileHeader();
    PcapngRecords pcapng;
    for (const Record& record : records) {
        pcapng.append(file, record);
    }
    pcapng.finish(file);
    std::vector<std::string> packets;
    traffic::PcapngBlockReader reader([&](const traffic::PcapngPacket& packet) {
        packets.push_back(std::to_string(packet.timeMicroseconds) + " " +
                          std::to_string(static_cast<int>(packet.direction)) + " " +
                          std::string(packet.data));
    });
    reader.feed(file);
    reader.finish();
    return packets;
}

TEST(PcapngRecords, ARewordedNoteLeavesThePacketsAsTheyWere)
{
    for (const Session& session : sessions()) {
        std::vector<Record> reworded = session.records;
        for (Record& record : reworded) {
            // The address stays where it is read from: after the first space.
            record.text = record.kind == RecordKind::ConnectAttempt
                              ? "to" + record.text.substr(record.text.find(' '))
                          : record.kind == RecordKind::Connected ? record.text
                                                                 : "said otherwise";
        }
        EXPECT_EQ(packetsOf(reworded), packetsOf(session.records)) << session.name;
    }
}

TEST(PcapngRecords, AnIpv6RecordReadsBackWithEveryBlock)
{
    for (const Session& session : sessions()) {
        if (!std::string(session.name).ends_with('6'))
            continue;
        std::string file = PcapngRecords::fileHeader();
        PcapngRecords pcapng;
        for (const Record& record : session.records)
            pcapng.append(file, record);
        pcapng.finish(file);
        traffic::RecordTail tail;
        traffic::PcapngRecordParser parser(tail);
        parser.feed(file);
        parser.finish();
        EXPECT_EQ(parser.damaged(), 0u) << session.name;
        std::string sent, received;
        for (const Record& record : tail.take()) {
            if (record.kind == RecordKind::Write)
                sent += record.bytes;
            if (record.kind == RecordKind::Read)
                received += record.bytes;
        }
        EXPECT_EQ(sent, session.sent) << session.name;
        EXPECT_EQ(received, session.received) << session.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Sessions, PcapngRecordsTest, ::testing::ValuesIn(sessions()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
