// The TLS key log in a pcapng file's Decryption Secrets Block lets tshark
// decrypt the session: a TLS session run in memory, its bytes on the wire
// recorded as the packets of a capture, and its key log lines as secrets.

#include "tls/selfsigned.h"
#include "tls/tlssession.h"

#include "traffic/pcapngrecords.h"
#include "traffic/pcapngwriter.h"
#include "traffic/recordfacts.h"

#include "../traffic/tshark.h"

#include "wirecapture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace
{

using traffic::Record;
using traffic::RecordKind;

TEST(KeyLogCapture, TsharkDecryptsTheSessionWithTheSecretsBlock)
{
    if (!haveTshark())
        GTEST_SKIP() << "tshark is not installed";
    tls::ContextSettings serverSettings;
    serverSettings.role = tls::Role::Server;
    serverSettings.own = *tls::makeSelfSigned("door-7", {"127.0.0.1"});
    tls::TlsSession server(*tls::TlsContext::make(serverSettings));
    tls::TlsSession client(*tls::TlsContext::make(tls::ContextSettings{}), "127.0.0.1");
    std::string keyLog;
    client.setKeyLog([&](const std::string& line) { keyLog += line + "\n"; });

    std::vector<Record> wire = wireStart();
    client.start();
    carry(client, server, wire);
    ASSERT_EQ(client.state(), tls::TlsSession::State::Open);
    const std::string frame = "[BA139123439=ENT-Open]\r\n";
    ASSERT_TRUE(client.send(frame).ok());
    carry(client, server, wire);
    ASSERT_EQ(server.takeReceived(), frame);

    std::string file =
        traffic::PcapngRecords::fileHeader() + traffic::pcapng::decryptionSecretsBlock(keyLog);
    traffic::PcapngRecords packets;
    for (const Record& each : wire)
        packets.append(file, each);
    packets.finish(file);
    char name[] = "/tmp/keylogXXXXXX";
    const std::string folder = ::mkdtemp(name);
    const std::string path = folder + "/capture.pcapng";
    std::ofstream(path, std::ios::binary) << file;

    // Decrypted, the application data is the frame as it was sent.
    const std::string decrypted =
        commandOutput("tshark -r '" + path + "' -d tcp.port==21210,tls -q -z follow,tls,ascii,0");
    EXPECT_NE(decrypted.find("[BA139123439=ENT-Open]"), std::string::npos) << decrypted;
    std::filesystem::remove_all(folder);
}

} // namespace
