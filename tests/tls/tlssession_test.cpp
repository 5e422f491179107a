#include "tls/selfsigned.h"
#include "tls/tlssession.h"
#include "tls/trustpolicy.h"

#include "fileio/safefile.h"

#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace
{

using tls::TlsSession;

// A folder of its own for files a test writes.
struct Scratch {
    std::string path;
    Scratch()
    {
        char name[] = "/tmp/tlsXXXXXX";
        path = ::mkdtemp(name);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    std::string write(const std::string& name, const std::string& text) const
    {
        const std::string file = path + "/" + name;
        EXPECT_TRUE(fileio::SafeFile::write(file, text).ok());
        return file;
    }
};

tls::Credentials credentials(const std::string& name, int days = 30)
{
    base::Result<tls::Credentials> made = tls::makeSelfSigned(name, {name, "127.0.0.1"}, days);
    EXPECT_TRUE(made.ok()) << made.error().text();
    return *made;
}

std::shared_ptr<tls::TlsContext> context(const tls::ContextSettings& settings)
{
    auto made = tls::TlsContext::make(settings);
    EXPECT_TRUE(made.ok()) << made.error().text();
    return *made;
}

std::shared_ptr<tls::TlsContext> serverContext(const tls::Credentials& own,
                                               const std::string& caFile = {})
{
    tls::ContextSettings settings;
    settings.role = tls::Role::Server;
    settings.own = own;
    settings.caFile = caFile;
    settings.requireClientCertificate = !caFile.empty();
    return context(settings);
}

// Carries the bytes each side gives until neither has more.
void pump(TlsSession& client, TlsSession& server)
{
    for (int turn = 0; turn < 20; ++turn) {
        const std::string toServer = client.takeOutput();
        const std::string toClient = server.takeOutput();
        if (toServer.empty() && toClient.empty())
            return;
        server.receive(toServer);
        client.receive(toClient);
    }
}

struct TrustRow {
    const char* name;
    const char* certificateName; // the server's
    const char* askedName;       // what the client checks
    int days;
    bool anchored; // the client trusts the server's certificate as an authority
    bool trusted;
    const char* problem;
};

class TlsTrust : public testing::TestWithParam<TrustRow>
{
};

TEST_P(TlsTrust, TheHandshakeEndsAndThePeerIsJudged)
{
    const TrustRow row = GetParam();
    Scratch scratch;
    const tls::Credentials own = credentials(row.certificateName, row.days);
    tls::ContextSettings settings;
    settings.systemTrust = false;
    if (row.anchored)
        settings.caFile = scratch.write("ca.pem", own.certificatePem);
    TlsSession client(context(settings), row.askedName);
    TlsSession server(serverContext(own));
    client.start();
    pump(client, server);
    ASSERT_EQ(client.state(), TlsSession::State::Open) << client.failure().text();
    ASSERT_EQ(server.state(), TlsSession::State::Open);
    EXPECT_EQ(client.peer().trusted, row.trusted);
    EXPECT_EQ(client.peer().problem, row.problem);
    EXPECT_EQ(client.peer().certificate.fingerprint,
              tls::CertificateInfo::ofPem(own.certificatePem)->fingerprint);
    EXPECT_EQ(client.peer().certificate.subject, std::string("CN=") + row.certificateName);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TlsTrust,
    testing::Values(TrustRow{"Anchored", "door-7.test", "door-7.test", 30, true, true, ""},
                    TrustRow{"AnchoredByAddress", "door-7.test", "127.0.0.1", 30, true, true, ""},
                    TrustRow{"SelfSigned", "door-7.test", "door-7.test", 30, false, false,
                             "self-signed certificate"},
                    TrustRow{"WrongName", "door-7.test", "door-8.test", 30, true, false,
                             "hostname mismatch"},
                    TrustRow{"Expired", "door-7.test", "door-7.test", -1, true, false,
                             "certificate has expired"}),
    [](const testing::TestParamInfo<TrustRow>& info) { return info.param.name; });

TEST(TlsSession, FramesFlowBothWaysAndEveryByteArrivesInOrder)
{
    const tls::Credentials own = credentials("reader.test");
    tls::ContextSettings settings;
    TlsSession client(context(settings), "reader.test");
    TlsSession server(serverContext(own));
    std::vector<std::string> keyLog;
    client.setKeyLog([&](const std::string& line) { keyLog.push_back(line); });
    // Sent before the handshake: it waits for its end.
    ASSERT_TRUE(client.send("[CARD=12345678-]\r\n").ok());
    client.start();
    pump(client, server);
    ASSERT_EQ(server.state(), TlsSession::State::Open);
    EXPECT_EQ(server.takeReceived(), "[CARD=12345678-]\r\n");
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += "[EVT=" + std::to_string(i) + "-]\r\n";
    ASSERT_TRUE(server.send(big).ok());
    pump(client, server);
    EXPECT_EQ(client.takeReceived(), big);
    EXPECT_FALSE(client.version().empty());
    EXPECT_FALSE(client.cipher().empty());
    EXPECT_FALSE(keyLog.empty());
    for (const std::string& line : keyLog)
        EXPECT_NE(line.find(' '), std::string::npos) << line;
    client.close();
    pump(client, server);
    EXPECT_EQ(server.state(), TlsSession::State::Closed);
    EXPECT_EQ(server.send("late").fault(), base::Fault::PeerClosed);
}

TEST(TlsSession, AClientCertificateIsRequiredAndChecked)
{
    Scratch scratch;
    const tls::Credentials serverOwn = credentials("host.test");
    const tls::Credentials clientOwn = credentials("device-3.test");
    const std::string anchors = scratch.write("clients.pem", clientOwn.certificatePem);

    tls::ContextSettings without;
    TlsSession refused(context(without), "host.test");
    TlsSession server(serverContext(serverOwn, anchors));
    refused.start();
    pump(refused, server);
    EXPECT_EQ(server.state(), TlsSession::State::Failed);
    EXPECT_EQ(server.failure().fault(), base::Fault::TlsFailed);
    EXPECT_FALSE(server.failure().reason().empty());

    tls::ContextSettings with;
    with.own = clientOwn;
    TlsSession accepted(context(with), "host.test");
    TlsSession server2(serverContext(serverOwn, anchors));
    accepted.start();
    pump(accepted, server2);
    EXPECT_EQ(server2.state(), TlsSession::State::Open) << server2.failure().text();
    EXPECT_TRUE(server2.peer().trusted);
    EXPECT_EQ(server2.peer().certificate.subject, "CN=device-3.test");
}

// A PKCS#12 bundle of `own` sealed with `password`, as an authority hands one out.
std::string pkcs12Of(const tls::Credentials& own, const char* password)
{
    BIO* certificateIn = BIO_new_mem_buf(own.certificatePem.data(), -1);
    BIO* keyIn = BIO_new_mem_buf(own.keyPem.data(), -1);
    X509* certificate = PEM_read_bio_X509(certificateIn, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyIn, nullptr, nullptr, nullptr);
    PKCS12* bundle = PKCS12_create(password, "device", key, certificate, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(bundle, &der);
    std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(std::max(length, 0)));
    OPENSSL_free(der);
    PKCS12_free(bundle);
    EVP_PKEY_free(key);
    X509_free(certificate);
    BIO_free(keyIn);
    BIO_free(certificateIn);
    return bytes;
}

TEST(TlsSession, AClientCertificateFromAPkcs12BundleIsAcceptedWhenItsPasswordOpensIt)
{
    Scratch scratch;
    const tls::Credentials serverOwn = credentials("host.test");
    const tls::Credentials clientOwn = credentials("device-4.test");
    const std::string anchors = scratch.write("clients.pem", clientOwn.certificatePem);
    const std::string bundle = scratch.write("device.p12", pkcs12Of(clientOwn, "door"));

    const auto wrong = tls::Credentials::loadPkcs12(bundle, "");
    ASSERT_FALSE(wrong.ok());
    EXPECT_NE(wrong.error().text().find("device.p12"), std::string::npos) << wrong.error().text();
    EXPECT_FALSE(tls::Credentials::loadPkcs12(anchors, "door").ok()) << "PEM is no bundle";

    const auto opened = tls::Credentials::loadPkcs12(bundle, "door");
    ASSERT_TRUE(opened.ok()) << opened.error().text();
    tls::ContextSettings with;
    with.own = *opened;
    TlsSession client(context(with), "host.test");
    TlsSession server(serverContext(serverOwn, anchors));
    client.start();
    pump(client, server);
    EXPECT_EQ(server.state(), TlsSession::State::Open) << server.failure().text();
    EXPECT_EQ(server.peer().certificate.subject, "CN=device-4.test");
}

TEST(TlsSession, GarbageInsteadOfAHandshakeFailsWithAReason)
{
    TlsSession server(serverContext(credentials("host.test")));
    server.receive("[CARD=1-]\r\nnot a handshake at all\r\n");
    EXPECT_EQ(server.state(), TlsSession::State::Failed);
    EXPECT_FALSE(server.failure().text().empty());
}

TEST(TrustPolicy, APinDecidesBeforeTheAuthorities)
{
    tls::PeerCheck peer;
    peer.presented = true;
    peer.trusted = true;
    peer.certificate.fingerprint = tls::CertificateInfo::normalFingerprint(std::string(64, 'a'));
    const std::string other = tls::CertificateInfo::normalFingerprint(std::string(64, 'b'));
    EXPECT_EQ(tls::decideTrust(peer, std::nullopt).trust, tls::Trust::Trusted);
    // Pins are compared in their canonical form, however they were typed.
    EXPECT_EQ(tls::decideTrust(peer, std::string(64, 'A')).trust, tls::Trust::Pinned);
    const tls::TrustDecision changed = tls::decideTrust(peer, other);
    EXPECT_EQ(changed.trust, tls::Trust::Changed);
    EXPECT_NE(changed.refusal(peer).find(other), std::string::npos);
    EXPECT_NE(changed.refusal(peer).find(peer.certificate.fingerprint), std::string::npos);
    peer.trusted = false;
    peer.problem = "self-signed certificate";
    const tls::TrustDecision unknown = tls::decideTrust(peer, std::nullopt);
    EXPECT_EQ(unknown.trust, tls::Trust::Unknown);
    EXPECT_EQ(unknown.refusal(peer), "the certificate is not trusted (self-signed certificate), "
                                     "fingerprint " +
                                         peer.certificate.fingerprint);
}

} // namespace
