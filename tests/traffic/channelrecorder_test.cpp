#include "traffic/channelrecorder.h"
#include "traffic/filerecorder.h"

#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"
#include "recordcollector.h"
#include "samplebytes.h"
#include "threadedviewwindow.h"

#include "protocol/messageviewchannel.h"
#include "socket/lasterror.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using namespace std::string_literals;
using protocol::DelimiterSet;
using protocol::MessageViewChannel;
using traffic::Record;
using traffic::RecordKind;
namespace fs = std::filesystem;

namespace
{

constexpr auto kDeadline = 5s;
const std::string kError = "Error received data !\r\n";

std::vector<RecordKind> kindsOf(const std::vector<Record>& records)
{
    std::vector<RecordKind> kinds;
    for (const Record& record : records) {
        kinds.push_back(record.kind);
    }
    return kinds;
}

std::string readBytes(const std::vector<Record>& records)
{
    std::string bytes;
    for (const Record& record : records) {
        if (record.kind == RecordKind::Read) {
            bytes += record.bytes;
        }
    }
    return bytes;
}

// The console's channel over a loopback TCP peer, reporting to a
// ChannelRecorder whose one sink collects the records. The channel is
// declared last: it stops before the recorder and the view go.
class ChannelRecorderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listening());
        recorder.setSinks({collector});
        channel.setView(&view);
        channel.setObserver(&recorder);
    }

    void connect()
    {
        ASSERT_TRUE(
            channel.openClient("127.0.0.1", server.portText().c_str(), AF_INET, SOCK_STREAM));
        ASSERT_TRUE(server.accept(kDeadline));
        ASSERT_TRUE(channel.startWatcher());
    }

    // Sends `bytes` from the peer and waits until they have all been read.
    void receive(const std::string& bytes)
    {
        ASSERT_TRUE(server.send(bytes));
        ASSERT_TRUE(collector->waitFor(
            [&](const std::vector<Record>& records) {
                return readBytes(records).size() >= bytes.size();
            },
            kDeadline));
    }

    LoopbackTcpServer server;
    ThreadedViewWindow view;
    DelimiterSet delimiters;
    std::shared_ptr<RecordCollector> collector = std::make_shared<RecordCollector>();
    traffic::ChannelRecorder recorder;
    MessageViewChannel channel{delimiters};
};

struct ReadRow {
    const char* name;
    bool release;
    std::string sent;
    std::string shown;
    std::string verdict;
};

void PrintTo(const ReadRow& row, std::ostream* os)
{
    *os << row.name;
}

class ChannelRecorderReads : public ChannelRecorderTest, public testing::WithParamInterface<ReadRow>
{
};

// The frame check rewrites the block it shows (delimiters in RELEASE mode,
// the error text over a block without a frame); the record keeps the bytes
// as they came, and the view shows what it always showed.
TEST_P(ChannelRecorderReads, RecordsTheBlockAsReadWhateverTheCheckMakesOfIt)
{
    const ReadRow& row = GetParam();
    delimiters.setModeFlag(row.release ? 1 : 0);
    connect();
    receive(row.sent);
    ASSERT_TRUE(view.waitForTextEqual(row.shown, kDeadline)) << view.text();
    const std::vector<Record> records = collector->records();
    EXPECT_EQ(readBytes(records), row.sent);
    const std::vector<RecordKind> kinds = kindsOf(records);
    if (std::count(kinds.begin(), kinds.end(), RecordKind::Read) == 1) {
        EXPECT_EQ(records.back().text, row.verdict);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ChannelRecorderReads,
    testing::Values(
        ReadRow{"Frame", false, "[BA1=ENT-Message\r\n", "[BA1=ENT-Message\r\n", "frame ok"},
        ReadRow{"MergedFrames", false, "[a=b-c\r\n[d=e-f\r\n", "[a=b-c\r\n[d=e-f\r\n", "frame ok"},
        ReadRow{"BytesAfterNul", false, "[a=b-c\0hidden\r\n"s, "[a=b-c", "frame ok"},
        ReadRow{"MergedFramesBehindNul", false, "[a=b-c\r\n\0[d=e-f\r\n"s, "[a=b-c\r\n",
                "frame ok"},
        ReadRow{"ReleaseDelimitersKept", true,
                "\x07"
                "BA1\x08"
                "ENT\x09"
                "Message\r\n",
                "[BA1=ENT-Message\r\n", "frame ok"},
        ReadRow{"NoFrameUnderTheErrorText", false, std::string(100, 'z') + "\r\n", kError,
                "no frame: start delimiter missing"},
        ReadRow{"EveryByteValue", false, everyByte(), kError,
                "no frame: equal delimiter missing after the start"}),
    [](const testing::TestParamInfo<ReadRow>& info) { return std::string(info.param.name); });

TEST_F(ChannelRecorderTest, RecordsAConnectionFromAttemptToDisconnectInOrder)
{
    connect();
    const std::string block = "hello\r\n\0tail"s;
    ASSERT_EQ(channel.writeBlock(block.data(), static_cast<std::uint32_t>(block.size()),
                                 net::SocketChannel::kNoTimeout),
              static_cast<std::int32_t>(block.size()));
    std::string wire;
    ASSERT_TRUE(server.receive(wire, kDeadline));
    EXPECT_EQ(wire, block);
    receive("[a=b-c\r\n");
    server.closeConnection();
    ASSERT_TRUE(collector->waitForLast(RecordKind::Event, kDeadline));
    channel.stop();

    const std::vector<Record> records = collector->records();
    const std::vector<RecordKind> expected{RecordKind::ConnectAttempt, RecordKind::Connected,
                                           RecordKind::Write,          RecordKind::Read,
                                           RecordKind::Event,          RecordKind::Disconnect};
    ASSERT_EQ(kindsOf(records), expected);
    EXPECT_EQ(records[0].text, "TCP 127.0.0.1:" + server.portText());
    EXPECT_TRUE(records[1].text.starts_with("127.0.0.1:")) << records[1].text;
    EXPECT_EQ(records[2].bytes, block);
    EXPECT_EQ(records[2].text, "12 bytes written");
    EXPECT_EQ(records[4].text, "Connection closed by the peer");
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_LE(records[i - 1].time, records[i].time) << i;
    }
}

// The recorder builds each record in a buffer of the calling thread's that it
// uses again call after call: a short block after a long one, NULs, and
// blocks recorded at the same time from two threads each keep exactly their
// own bytes and text.
TEST_F(ChannelRecorderTest, EachRecordHoldsExactlyItsOwnBlockThoughTheBufferIsReused)
{
    const auto bytesOf = [](const std::string& text) {
        return reinterpret_cast<const std::uint8_t*>(text.data());
    };
    const auto sizeOf = [](const std::string& text) {
        return static_cast<std::uint32_t>(text.size());
    };
    const std::string longBlock(3000, 'L');
    const std::string shortBlock = "s\0\r\n"s;
    const std::string longVerdict = "a verdict too long for a string's own small buffer";
    recorder.blockRead(bytesOf(longBlock), sizeOf(longBlock), longVerdict);
    recorder.blockRead(bytesOf(shortBlock), sizeOf(shortBlock), "ok");

    constexpr int kEach = 200;
    const std::string written = "[BA1=ENT-Message\r\n";
    const std::string read = everyByte();
    std::thread writer([&] {
        for (int i = 0; i < kEach; ++i) {
            recorder.blockWritten(bytesOf(written), sizeOf(written),
                                  net::IoResult(sizeOf(written)));
        }
    });
    for (int i = 0; i < kEach; ++i) {
        recorder.blockRead(bytesOf(read), sizeOf(read), "no frame");
    }
    writer.join();

    const std::vector<Record> records = collector->records();
    ASSERT_EQ(records.size(), 2u + 2 * kEach);
    EXPECT_EQ(records[0].bytes, longBlock);
    EXPECT_EQ(records[0].text, longVerdict);
    EXPECT_EQ(records[1].bytes, shortBlock);
    EXPECT_EQ(records[1].text, "ok");
    for (std::size_t i = 2; i < records.size(); ++i) {
        const bool isWrite = records[i].kind == RecordKind::Write;
        ASSERT_EQ(records[i].bytes, isWrite ? written : read) << i;
        ASSERT_EQ(records[i].text,
                  isWrite ? std::to_string(written.size()) + " bytes written" : "no frame")
            << i;
    }
}

TEST_F(ChannelRecorderTest, RefusedConnectRecordsTheSystemsReasonAndNoDisconnect)
{
    const std::string port = server.portText();
    server.closeListener();
    EXPECT_FALSE(channel.openClient("127.0.0.1", port.c_str(), AF_INET, SOCK_STREAM));
    channel.stop();
    const std::vector<Record> records = collector->records();
    ASSERT_EQ(kindsOf(records),
              (std::vector<RecordKind>{RecordKind::ConnectAttempt, RecordKind::ConnectFailed}));
    EXPECT_TRUE(records[1].text.starts_with("Connection refused after ")) << records[1].text;
    EXPECT_TRUE(records[1].text.ends_with(" ms")) << records[1].text;
}

TEST_F(ChannelRecorderTest, UdpConnectNamesItsProtocol)
{
    LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.bound());
    ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
    const std::vector<Record> records = collector->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "UDP 127.0.0.1:" + peer.portText());
    EXPECT_EQ(records[1].kind, RecordKind::Connected);
}

// A block shorter than its address header was recorded as "write failed:
// Unknown error 1784", the layer's own last-error code read as an errno.
TEST_F(ChannelRecorderTest, WriteWithoutItsAddressHeaderRecordsTheLayersReason)
{
    LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.bound());
    channel.setAddressHeaders(true);
    ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
    EXPECT_EQ(channel.writeBlock("short", 5, 1000), -1);
    EXPECT_EQ(net::lastError(), net::kErrorInvalidUserBuffer);
    const std::vector<Record> records = collector->records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].text, "write failed: no room for the 16-byte address header");
}

TEST_F(ChannelRecorderTest, WithoutSinksNothingIsRecordedAndTheViewShowsAsBefore)
{
    recorder.setSinks({});
    EXPECT_FALSE(recorder.active());
    connect();
    ASSERT_TRUE(server.send("[a=b-c\r\n"));
    ASSERT_TRUE(view.waitForTextEqual("[a=b-c\r\n", kDeadline)) << view.text();
    channel.stop();
    EXPECT_TRUE(collector->records().empty());
}

// The same traffic with a file recorder behind the channel and without any
// observer: the peer gets the same bytes and the view shows the same text.
TEST_F(ChannelRecorderTest, RecordingToAFileChangesNeitherTheWireNorTheView)
{
    const std::string fromPeer = "[a=b-c\r\n\0hidden"s + std::string(1000, 'x') + "[d=e-f\r\n";
    const std::string toPeer = "[BA1=ENT-Message\r\n\0"s;
    const auto run = [&](bool recording, std::string& wire, std::string& shown) {
        LoopbackTcpServer peer;
        ThreadedViewWindow runView;
        std::string folder = (fs::temp_directory_path() / "traffic-wire-XXXXXX").string();
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        traffic::ChannelRecorder runRecorder;
        runRecorder.setSinks(
            {std::make_shared<traffic::FileRecorder>(traffic::FileRecorder::Options{folder})});
        {
            MessageViewChannel runChannel{delimiters};
            runChannel.setView(&runView);
            if (recording) {
                runChannel.setObserver(&runRecorder);
            }
            ASSERT_TRUE(
                runChannel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_STREAM));
            ASSERT_TRUE(peer.accept(kDeadline));
            ASSERT_TRUE(runChannel.startWatcher());
            runChannel.writeBlock(toPeer.data(), static_cast<std::uint32_t>(toPeer.size()),
                                  net::SocketChannel::kNoTimeout);
            ASSERT_TRUE(peer.receive(wire, kDeadline));
            ASSERT_TRUE(peer.send(fromPeer));
            peer.closeConnection();
            ASSERT_TRUE(runView.waitForPosts(1, kDeadline));
        }
        shown = runView.text();
        runRecorder.setSinks({});
        fs::remove_all(folder);
    };
    std::string wireOff;
    std::string shownOff;
    std::string wireOn;
    std::string shownOn;
    run(false, wireOff, shownOff);
    run(true, wireOn, shownOn);
    EXPECT_EQ(wireOn, toPeer);
    EXPECT_EQ(wireOn, wireOff);
    EXPECT_FALSE(shownOn.empty());
    EXPECT_EQ(shownOn, shownOff);
}

} // namespace
