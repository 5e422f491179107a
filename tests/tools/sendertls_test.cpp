// framesend with encrypted devices (trusted, pinned, refused) and with
// devices on IPv6.

#include "framesender.h"
#include "loopdevice.h"
#include "senderoptions.h"
#include "senderrun.h"

#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <unistd.h>

#include <string>

using devicetools::FrameSender;
using devicetools::SenderOptions;

namespace
{

tls::Credentials deviceCredentials()
{
    static const tls::Credentials made = *tls::makeSelfSigned("door-7", {"127.0.0.1", "::1"});
    return made;
}

std::string fingerprint()
{
    return tls::CertificateInfo::ofPem(deviceCredentials().certificatePem)->fingerprint;
}

SenderOptions toDevice(const LoopDevice& device, const std::string& host = "127.0.0.1")
{
    SenderOptions options;
    options.host = host;
    options.port = device.portText();
    options.timeoutMs = 5000;
    options.tls.on = true;
    return options;
}

struct TrustRow {
    const char* name;
    bool pinned, wrongPin, insecure;
    int code;
    const char* said; // in standard error
};

class SenderTrust : public testing::TestWithParam<TrustRow>
{
};

TEST_P(SenderTrust, TheCertificateDecidesWhetherTheFrameGoesOut)
{
    const TrustRow row = GetParam();
    LoopDevice device(*net::Endpoint::fromNumeric("127.0.0.1", 0), deviceCredentials());
    ASSERT_TRUE(device.listening());
    SenderOptions options = toDevice(device);
    if (row.pinned)
        options.tls.pin = fingerprint();
    if (row.wrongPin)
        options.tls.pin = tls::CertificateInfo::normalFingerprint(std::string(64, '0'));
    options.tls.insecure = row.insecure;
    const SenderRun run = runSender(options);
    EXPECT_EQ(run.code, row.code) << run.err;
    EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(fingerprint()), std::string::npos) << run.err;
    if (row.code == FrameSender::kAnswerPassed) {
        EXPECT_EQ(run.out, "[A1=ENT-OK]\n");
        EXPECT_EQ(device.received().substr(0, 1), "[");
    } else {
        // Refused before a byte of the frame went out.
        EXPECT_EQ(device.received(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SenderTrust,
    testing::Values(TrustRow{"Unknown", false, false, false, FrameSender::kUsageOrConnectionError,
                             "not trusted (self-signed certificate)"},
                    TrustRow{"Pinned", true, false, false, FrameSender::kAnswerPassed, "TLSv1.3"},
                    TrustRow{"Changed", false, true, false, FrameSender::kUsageOrConnectionError,
                             "the certificate has changed"},
                    TrustRow{"Insecure", false, false, true, FrameSender::kAnswerPassed,
                             "self-signed certificate"}),
    [](const testing::TestParamInfo<TrustRow>& info) { return info.param.name; });

TEST(SenderTls, ADeviceThatSpeaksNoTlsFailsTheHandshakeWithAReason)
{
    LoopDevice plain(*net::Endpoint::fromNumeric("127.0.0.1", 0));
    SenderOptions options = toDevice(plain);
    options.timeoutMs = 2000;
    const SenderRun run = runSender(options);
    EXPECT_EQ(run.code, FrameSender::kUsageOrConnectionError);
    EXPECT_NE(run.err.find("framesend: TLS with 127.0.0.1 port " + plain.portText()),
              std::string::npos)
        << run.err;
}

class SenderIpv6 : public testing::TestWithParam<bool>
{
};

TEST_P(SenderIpv6, ADeviceOnIpv6LoopbackAnswers)
{
    const bool secure = GetParam();
    LoopDevice device(*net::Endpoint::fromNumeric("::1", 0),
                      secure ? deviceCredentials() : tls::Credentials{});
    if (!device.listening())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    SenderOptions options = toDevice(device, "::1");
    options.tls.on = secure;
    options.tls.pin = secure ? fingerprint() : "";
    const SenderRun run = runSender(options);
    EXPECT_EQ(run.code, FrameSender::kAnswerPassed) << run.err;
    EXPECT_EQ(run.out, "[A1=ENT-OK]\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, SenderIpv6, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Tls" : "Plain";
                         });

TEST(SenderIpv6, AnIpv6PortNobodyListensOnIsRefusedNotUnresolved)
{
    LoopDevice probe(*net::Endpoint::fromNumeric("::1", 0));
    if (!probe.listening())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    SenderOptions options;
    options.host = "[::1]";
    options.port = "1"; // nobody listens on port 1 in a test
    const SenderRun run = runSender(options);
    EXPECT_EQ(run.code, FrameSender::kUsageOrConnectionError);
    EXPECT_NE(run.err.find("cannot connect to [::1] port 1 over TCP"), std::string::npos)
        << run.err;
}

} // namespace
