#include "traffic/recordfilereader.h"

#include "traffic/filerecorder.h"
#include "traffic/pcapngrecordparser.h"
#include "traffic/pcapngrecords.h"
#include "traffic/recordfacts.h"
#include "traffic/recordfolder.h"
#include "traffic/textrecordparser.h"

#include "recordfiles.h"
#include "samplebytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>

using traffic::FileRecorder;
using traffic::Record;
using traffic::RecordFileReader;
using traffic::RecordKind;
namespace fs = std::filesystem;

namespace
{

using Format = RecordFileReader::Format;

Record make(int step, RecordKind kind, std::string bytes, std::string text)
{
    // A fixed moment, a few milliseconds apart; the files keep microseconds.
    const std::chrono::system_clock::time_point start{std::chrono::microseconds(1796648527513042)};
    const traffic::RecordFacts facts = traffic::recordFacts(kind, text);
    return Record{start + std::chrono::milliseconds(step) + std::chrono::microseconds(step), kind,
                  std::move(bytes), std::move(text), facts};
}

// A connection's records as the channel gives them: a handshake, a write of
// every byte value, reads (one past a TCP segment, one without a note), the
// peer closing and the operator disconnecting.
std::vector<Record> session(bool udp)
{
    const std::string large(3 * traffic::PcapngRecords::kMaxTcpPayload + 17, 'L');
    std::vector<Record> records{
        make(0, RecordKind::ConnectAttempt, "", udp ? "UDP 127.0.0.1:5000" : "TCP 127.0.0.1:21210"),
        make(1, RecordKind::Connected, "", "127.0.0.1:40000"),
        make(2, RecordKind::Write, everyByte(), "256 bytes written"),
        make(3, RecordKind::Read, std::string("A\0B\r\n", 5), "frame check: passed"),
        make(4, RecordKind::Read, "no note", ""),
        make(6, RecordKind::Event, "",
             udp ? "Zero-length datagram" : "Connection closed by the peer"),
        make(7, RecordKind::Disconnect, "", "Closed by the operator"),
    };
    if (!udp) {
        records.insert(records.begin() + 5,
                       make(5, RecordKind::Read, large, "frame check: failed"));
    }
    return records;
}

// Where each line or block of a record file starts, the header's included.
std::vector<std::size_t> pieceStarts(const std::string& file, Format format)
{
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < file.size();) {
        starts.push_back(at);
        if (format == Format::Text) {
            at = file.find('\n', at) + 1;
        } else {
            at += static_cast<unsigned char>(file[at + 4]) |
                  static_cast<std::size_t>(static_cast<unsigned char>(file[at + 5])) << 8 |
                  static_cast<std::size_t>(static_cast<unsigned char>(file[at + 6])) << 16;
        }
    }
    return starts;
}

struct Case {
    const char* name;
    Format format;
    bool udp;
};

void PrintTo(const Case& row, std::ostream* out)
{
    *out << row.name;
}

class RecordFileReaderTest : public testing::TestWithParam<Case>
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "record-reader-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }

    // The records written by the console's file recorder; returns the file.
    fs::path record(const std::vector<Record>& records)
    {
        FileRecorder::Options options;
        options.folder = base / "traffic";
        options.format = GetParam().format == Format::Pcapng ? FileRecorder::Format::Pcapng
                                                             : FileRecorder::Format::Text;
        {
            FileRecorder recorder(options);
            for (const Record& each : records) {
                recorder.record(each);
            }
        }
        for (const auto& entry : fs::directory_iterator(options.folder)) {
            return entry.path();
        }
        ADD_FAILURE() << "no record file";
        return {};
    }

    fs::path write(const std::string& name, const std::string& content)
    {
        const fs::path path = base / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path base;
};

TEST_P(RecordFileReaderTest, WholeFileGivesBackEveryRecord)
{
    const std::vector<Record> records = session(GetParam().udp);
    const auto read = RecordFileReader::readFile(record(records));
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_EQ(read->format, GetParam().format);
    expectSame(read->records, records);
    EXPECT_EQ(read->damaged, 0u);
    EXPECT_EQ(read->leftOut, 0u);
}

TEST_P(RecordFileReaderTest, PiecesCutAnywhereReadAsTheWhole)
{
    const std::vector<Record> records = session(GetParam().udp);
    const std::string file = contents(record(records));
    for (const std::size_t size : {std::size_t{1}, std::size_t{7}, std::size_t{4093}}) {
        traffic::RecordTail tail;
        traffic::TextRecordParser text(tail);
        traffic::PcapngRecordParser pcapng(tail);
        for (std::size_t at = 0; at < file.size(); at += size) {
            GetParam().format == Format::Text ? text.feed(file.substr(at, size))
                                              : pcapng.feed(file.substr(at, size));
        }
        GetParam().format == Format::Text ? text.finish() : pcapng.finish();
        expectSame(tail.take(), records);
        EXPECT_EQ(text.damaged() + pcapng.damaged(), 0u) << size;
    }
}

TEST_P(RecordFileReaderTest, DamageIsSkippedAndCounted)
{
    const std::vector<Record> records = session(GetParam().udp);
    const std::string file = contents(record(records));
    const std::vector<std::size_t> starts = pieceStarts(file, GetParam().format);
    // The line or block of the write (its note is in no other).
    const std::size_t writeAt =
        *(std::upper_bound(starts.begin(), starts.end(), file.find("256 bytes written")) - 1);
    std::vector<Record> withoutWrite = records;
    withoutWrite.erase(withoutWrite.begin() + 2);

    // Cut within the last line or block, as a full disk leaves a file.
    auto read = RecordFileReader::readFile(write("cut", file.substr(0, starts.back() + 9)));
    ASSERT_TRUE(read) << read.error().text();
    expectSame(read->records, std::vector<Record>(records.begin(), records.end() - 1));
    EXPECT_EQ(read->damaged, 1u);

    // Garbage between two records (19 bytes: the blocks after it are no
    // longer 4-aligned), and a record's length field or time broken.
    std::string garbage = file;
    garbage.insert(writeAt, std::string("garbage!\0\xff\x06\0\0\0 \xff\xff\x7f\n", 19));
    read = RecordFileReader::readFile(write("garbage", garbage));
    ASSERT_TRUE(read) << read.error().text();
    expectSame(read->records, records);
    EXPECT_EQ(read->damaged, 1u);

    std::string broken = file;
    broken[writeAt + 5] = '\x7f';
    read = RecordFileReader::readFile(write("broken", broken));
    ASSERT_TRUE(read) << read.error().text();
    expectSame(read->records, withoutWrite);
    EXPECT_EQ(read->damaged, 1u);

    // Only the header (the section and interface blocks): an empty record.
    const std::size_t header = GetParam().format == Format::Text ? 1 : 2;
    read = RecordFileReader::readFile(write("header", file.substr(0, starts[header])));
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_TRUE(read->records.empty());
    EXPECT_EQ(read->damaged, 0u);
}

// Regression: a packet that is no IPv4, or whose IPv4 or TCP header does not
// hold, was left out without a word, so a damaged file read as a whole one.
TEST_P(RecordFileReaderTest, UnreadablePacketsCountAsDamage)
{
    if (GetParam().format != Format::Pcapng) {
        GTEST_SKIP() << "packets are pcapng's";
    }
    const std::vector<Record> records = session(GetParam().udp);
    const std::string file = contents(record(records));
    const std::vector<std::size_t> starts = pieceStarts(file, Format::Pcapng);
    const std::size_t writeAt =
        *(std::upper_bound(starts.begin(), starts.end(), file.find("256 bytes written")) - 1);
    // An enhanced packet block's data starts 28 bytes in: the IPv4 header.
    const std::size_t ip = writeAt + 28;
    ASSERT_EQ(file[ip], '\x45');
    std::vector<Record> withoutWrite = records;
    withoutWrite.erase(withoutWrite.begin() + 2);

    std::vector<std::pair<std::size_t, char>> breaks = {{ip, '\x65'},  // IPv6
                                                        {ip, '\x44'}}; // header below 20 bytes
    if (!GetParam().udp) {
        breaks.emplace_back(ip + 20 + 12, '\x40'); // TCP header below 20 bytes
    }
    for (const auto& [at, byte] : breaks) {
        std::string changed = file;
        changed[at] = byte;
        const auto read = RecordFileReader::readFile(write("changed", changed));
        ASSERT_TRUE(read) << read.error().text();
        expectSame(read->records, withoutWrite);
        EXPECT_EQ(read->damaged, 1u) << at << ' ' << int(byte);
    }
}

TEST_P(RecordFileReaderTest, KeepsTheNewestAndCountsTheOlder)
{
    std::vector<Record> records{make(0, RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210")};
    for (int step = 1; step < 40; ++step) {
        records.push_back(make(step, RecordKind::Read, "R" + std::to_string(step), "passed"));
    }
    const auto read = RecordFileReader::readFile(record(records), {.maxRecords = 15});
    ASSERT_TRUE(read) << read.error().text();
    expectSame(read->records, std::vector<Record>(records.end() - 15, records.end()));
    EXPECT_EQ(read->leftOut, 25u);
}

INSTANTIATE_TEST_SUITE_P(Formats, RecordFileReaderTest,
                         testing::Values(Case{"TextTcp", Format::Text, false},
                                         Case{"TextUdp", Format::Text, true},
                                         Case{"PcapngTcp", Format::Pcapng, false},
                                         Case{"PcapngUdp", Format::Pcapng, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordFileReaderFailures, TellWhatIsWrong)
{
    const fs::path folder =
        fs::temp_directory_path() / ("record-reader-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::ofstream(folder / "notes.log") << "shopping list\neggs\n";
    std::ofstream(folder / "empty.pcapng");
    std::ofstream(folder / "bare.log") << "# traffic record 1\n";
    ASSERT_EQ(::mkfifo((folder / "fifo.log").c_str(), 0600), 0);

    struct Row {
        fs::path path;
        base::Fault fault;
        int code;
    };
    // Regressions: a FIFO blocked the open for good, and an empty file or
    // /dev/null opened as a record of nothing.
    const auto start = std::chrono::steady_clock::now();
    for (const Row& row :
         {Row{folder / "missing.log", base::Fault::System, ENOENT},
          Row{folder, base::Fault::BadInput, 0}, Row{folder / "notes.log", base::Fault::BadInput, 0},
          Row{folder / "fifo.log", base::Fault::BadInput, 0},
          Row{folder / "empty.pcapng", base::Fault::BadInput, 0},
          Row{"/dev/null", base::Fault::BadInput, 0}}) {
        const auto read = RecordFileReader::readFile(row.path);
        ASSERT_FALSE(read) << row.path;
        EXPECT_EQ(read.error().fault(), row.fault) << row.path;
        EXPECT_EQ(read.error().systemCode(), row.code) << row.path;
        EXPECT_NE(read.error().text().find(row.path.string()), std::string::npos);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // A header and nothing else is a recording that saw nothing.
    const auto read = RecordFileReader::readFile(folder / "bare.log");
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->records.empty());
    fs::remove_all(folder);
}

} // namespace
