// TLS key log lines on their way into record files: only while asked for,
// only into pcapng files, in each part of a connection, and never in the way
// of reading the records back.

#include "traffic/channelrecorder.h"
#include "traffic/filerecorder.h"
#include "traffic/pcapngformat.h"
#include "traffic/recordfacts.h"
#include "traffic/recordfilereader.h"
#include "traffic/recordingcontrol.h"

#include "recordfiles.h"
#include "tshark.h"
#include "waituntil.h"

#include "socket/connectattempt.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>

using namespace std::chrono_literals;
using traffic::FileRecorder;
using traffic::Record;
using traffic::RecordKind;
namespace fs = std::filesystem;

namespace
{

const std::vector<std::string> kKeys{
    "CLIENT_HANDSHAKE_TRAFFIC_SECRET " + std::string(64, 'a') + " " + std::string(64, 'b'),
    "SERVER_HANDSHAKE_TRAFFIC_SECRET " + std::string(64, 'a') + " " + std::string(64, 'c'),
    "CLIENT_TRAFFIC_SECRET_0 " + std::string(64, 'a') + " " + std::string(64, 'd')};

std::string keyLines()
{
    std::string lines;
    for (const std::string& key : kKeys)
        lines += key + "\n";
    return lines;
}

Record make(RecordKind kind, std::string bytes, std::string text)
{
    const auto now =
        std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    const traffic::RecordFacts facts = traffic::recordFacts(kind, text);
    return Record{now, kind, std::move(bytes), std::move(text), facts};
}

std::vector<Record> connection(const std::string& port, int reads)
{
    std::vector<Record> records{make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:" + port),
                                make(RecordKind::Connected, "", "127.0.0.1:40112 after 0 ms")};
    for (int i = 0; i < reads; ++i)
        records.push_back(make(RecordKind::Read, std::string(1000, 'r'), "ok"));
    records.push_back(make(RecordKind::Disconnect, "", "Disconnected"));
    return records;
}

// The secrets of every Decryption Secrets Block of a little-endian pcapng
// file, one after another.
std::string secretsIn(const fs::path& file)
{
    const std::string bytes = contents(file);
    const auto u32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    std::string secrets;
    for (std::size_t at = 0; at + 12 <= bytes.size() && u32(at + 4) >= 12;) {
        if (u32(at) == traffic::pcapng::kDecryptionSecretsType)
            secrets += bytes.substr(at + 16, u32(at + 12));
        at += u32(at + 4);
    }
    return secrets;
}

class KeyLogRecordTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "keylog-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // The record files, oldest first.
    std::vector<fs::path> files() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path folder;
};

struct FormatCase {
    FileRecorder::Format format;
    bool keysGiven;
};

class KeyLogFormatTest : public KeyLogRecordTest, public testing::WithParamInterface<FormatCase>
{
};

TEST_P(KeyLogFormatTest, OnlyPcapngFilesCarryTheKeysAndTheFileReopensWithTheSameRecords)
{
    const std::vector<Record> offered = connection("21210", 2);
    {
        FileRecorder recorder({folder, FileRecorder::kDefaultDiskLimitBytes, GetParam().format});
        for (std::size_t i = 0; i < offered.size(); ++i) {
            recorder.record(offered[i]);
            // After the connect, as a handshake's keys come.
            for (const std::string& key : kKeys)
                if (i == 1 && GetParam().keysGiven)
                    recorder.keyLog(key);
        }
    }
    ASSERT_EQ(files().size(), 1u);
    const fs::path file = files().front();
    const bool carried = GetParam().keysGiven && GetParam().format == FileRecorder::Format::Pcapng;
    EXPECT_EQ(contents(file).find(kKeys.front()) != std::string::npos, carried);
    if (GetParam().format == FileRecorder::Format::Pcapng) {
        EXPECT_EQ(secretsIn(file), carried ? keyLines() : "");
    }
    const auto read = traffic::RecordFileReader::readFile(file);
    ASSERT_TRUE(read) << read.error().text();
    expectSame(read->records, offered);
    EXPECT_EQ(read->damaged, 0u);
    if (carried && haveTshark()) {
        int status = 0;
        const std::string frames =
            commandOutput("tshark -r '" + file.string() + "' -T fields -e frame.number", &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_GT(std::count(frames.begin(), frames.end(), '\n'), 3);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, KeyLogFormatTest,
                         testing::Values(FormatCase{FileRecorder::Format::Pcapng, true},
                                         FormatCase{FileRecorder::Format::Pcapng, false},
                                         FormatCase{FileRecorder::Format::Text, true}));

TEST_F(KeyLogRecordTest, EveryPartOfAConnectionStartsWithItsKeysAndTheNextConnectionWithout)
{
    // A quarter of the limit is 16 KiB: the first connection takes three parts.
    const std::vector<Record> first = connection("21210", 40);
    const std::vector<Record> second = connection("21211", 1);
    {
        FileRecorder recorder({folder, 64 * 1024, FileRecorder::Format::Pcapng});
        recorder.record(first[0]);
        recorder.record(first[1]);
        for (const std::string& key : kKeys)
            recorder.keyLog(key);
        for (std::size_t i = 2; i < first.size(); ++i)
            recorder.record(first[i]);
        for (const Record& record : second)
            recorder.record(record);
    }
    const std::vector<fs::path> written = files();
    ASSERT_GE(written.size(), 3u);
    for (std::size_t i = 0; i + 1 < written.size(); ++i)
        EXPECT_EQ(secretsIn(written[i]), keyLines()) << written[i];
    EXPECT_EQ(secretsIn(written.back()), "");
}

TEST_F(KeyLogRecordTest, LinesThatAreNoKeyLogLinesAreLeftOut)
{
    {
        FileRecorder recorder(
            {folder, FileRecorder::kDefaultDiskLimitBytes, FileRecorder::Format::Pcapng});
        recorder.record(make(RecordKind::ConnectAttempt, "", "TCP 127.0.0.1:21210"));
        for (const std::string& line : std::vector<std::string>{
                 "CLIENT_RANDOM 01 02\nSERVER_RANDOM 03 04", "", "CLIENT_RANDOM \x1b[2J",
                 std::string(traffic::ConnectionKeyLog::kMaxLineBytes + 1, 'k'),
                 std::string(traffic::ConnectionKeyLog::kMaxLineBytes, 'k')})
            recorder.keyLog(line);
    }
    ASSERT_EQ(files().size(), 1u);
    EXPECT_EQ(secretsIn(files().front()),
              std::string(traffic::ConnectionKeyLog::kMaxLineBytes, 'k') + "\n");
}

// Keeps the key lines it is given.
class KeyCollector : public traffic::RecordSink
{
public:
    void record(const Record&) override {}
    void keyLog(std::string_view line) override
    {
        const std::lock_guard<std::mutex> lock(mutex);
        lines.emplace_back(line);
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

TEST_F(KeyLogRecordTest, ChannelRecorderPassesAndKeepsKeysOnlyWhileAsked)
{
    traffic::ChannelRecorder recorder;
    auto sink = std::make_shared<KeyCollector>();
    recorder.setSinks({sink});
    net::ConnectRequest request{"127.0.0.1", "21210", AF_INET, SOCK_STREAM, {}};
    recorder.connectStarted(request);

    recorder.keyLog(kKeys[0]);
    EXPECT_TRUE(sink->lines.empty());
    EXPECT_EQ(recorder.connectionKeys(), "");

    recorder.setKeyLogging(true);
    recorder.keyLog(kKeys[0]);
    recorder.keyLog(kKeys[1]);
    EXPECT_EQ(sink->lines, (std::vector<std::string>{kKeys[0], kKeys[1]}));
    EXPECT_EQ(recorder.connectionKeys(), kKeys[0] + "\n" + kKeys[1] + "\n");
    // A new connection has keys of its own.
    recorder.connectStarted(request);
    EXPECT_EQ(recorder.connectionKeys(), "");
    recorder.keyLog(kKeys[2]);

    recorder.setKeyLogging(false);
    EXPECT_EQ(recorder.connectionKeys(), "");
    recorder.keyLog(kKeys[0]);
    EXPECT_EQ(sink->lines.size(), 3u);
}

TEST_F(KeyLogRecordTest, RecordingSwitchedOnMidConnectionStartsItsFileWithTheKeysKept)
{
    traffic::RecordingControl control;
    control.setFileOptions(
        {folder, FileRecorder::kDefaultDiskLimitBytes, FileRecorder::Format::Pcapng});
    control.setRecordTlsKeys(true);
    control.recorder().connectStarted({"127.0.0.1", "21210", AF_INET, SOCK_STREAM, {}});
    for (const std::string& key : kKeys)
        control.recorder().keyLog(key);
    control.setRecordingEnabled(true);
    EXPECT_NE(control.statusText().find(", with TLS keys)."), std::string::npos);
    control.recorder().note("after the switch");
    control.setRecordingEnabled(false);
    ASSERT_EQ(files().size(), 1u);
    EXPECT_EQ(secretsIn(files().front()), keyLines());
}

} // namespace
