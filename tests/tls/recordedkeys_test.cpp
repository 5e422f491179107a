// The console's pcapng record with its TLS keys decrypts a capture of the
// same session taken beside it, the way the README tells a support engineer:
// the key log exported from the record, then given to tshark for the capture.
// Without keys asked for, the record holds none and the capture stays sealed.

#include "tls/selfsigned.h"
#include "tls/tlssession.h"

#include "traffic/channelrecorder.h"
#include "traffic/filerecorder.h"
#include "traffic/pcapngrecords.h"
#include "traffic/recordfacts.h"

#include "../traffic/tshark.h"

#include "wirecapture.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace
{

namespace fs = std::filesystem;
using traffic::Record;
using traffic::RecordKind;

class RecordedKeys : public testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        char name[] = "/tmp/recordedkeysXXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        folder = name;
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

TEST_P(RecordedKeys, ExportedFromTheRecordTheyDecryptTheCaptureOnlyWhenAsked)
{
    if (!haveTshark() || std::system("xxd -v >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark or xxd is not installed";
    const bool asked = GetParam();
    tls::ContextSettings serverSettings;
    serverSettings.role = tls::Role::Server;
    serverSettings.own = *tls::makeSelfSigned("door-7", {"127.0.0.1"});
    tls::TlsSession server(*tls::TlsContext::make(serverSettings));
    tls::TlsSession client(*tls::TlsContext::make(tls::ContextSettings{}), "127.0.0.1");

    // The console's record: plaintext, and the keys through its recorder.
    traffic::ChannelRecorder recorder;
    recorder.setKeyLogging(asked);
    const fs::path records = folder / "records";
    auto file = std::make_shared<traffic::FileRecorder>(
        traffic::FileRecorder::Options{records, traffic::FileRecorder::kDefaultDiskLimitBytes,
                                       traffic::FileRecorder::Format::Pcapng});
    recorder.setSinks({file});
    client.setKeyLog([&](const std::string& line) { recorder.keyLog(line); });
    recorder.connectStarted({"127.0.0.1", "21210", AF_INET, SOCK_STREAM, {}});

    // The capture on the wire: the TLS bytes both ways.
    std::vector<Record> wire = wireStart();
    client.start();
    carry(client, server, wire);
    ASSERT_EQ(client.state(), tls::TlsSession::State::Open);
    const std::string frame = "[BA139123439=ENT-Open]\r\n";
    ASSERT_TRUE(client.send(frame).ok());
    recorder.blockWritten(reinterpret_cast<const std::uint8_t*>(frame.data()),
                          static_cast<std::uint32_t>(frame.size()),
                          net::IoResult(static_cast<std::uint32_t>(frame.size())));
    carry(client, server, wire);
    ASSERT_EQ(server.takeReceived(), frame);
    recorder.setSinks({});
    file.reset(); // written and closed

    std::string capture = traffic::PcapngRecords::fileHeader();
    traffic::PcapngRecords packets;
    for (const Record& each : wire)
        packets.append(capture, each);
    const fs::path capturePath = folder / "capture.pcapng";
    std::ofstream(capturePath, std::ios::binary) << capture;

    ASSERT_EQ(std::distance(fs::directory_iterator(records), fs::directory_iterator()), 1);
    const fs::path record = fs::directory_iterator(records)->path();
    // The README's steps: the record's secrets out as a key log, then given
    // to tshark with the capture.
    const fs::path keys = folder / "keys.txt";
    commandOutput("tshark -X 'read_format:MIME Files Format' -r '" + record.string() +
                  "' -T fields -e pcapng.dsb.secrets_data | xxd -r -p > '" + keys.string() + "'");
    const std::string decrypted = commandOutput(
        "tshark -r '" + capturePath.string() + "' -o 'tls.keylog_file:" + keys.string() +
        "' -d tcp.port==21210,tls -q -z follow,tls,ascii,0");
    EXPECT_EQ(decrypted.find("[BA139123439=ENT-Open]") != std::string::npos, asked) << decrypted;
    EXPECT_EQ(fs::exists(keys) && fs::file_size(keys) > 0, asked);
}

INSTANTIATE_TEST_SUITE_P(KeysAsked, RecordedKeys, testing::Bool());

} // namespace
