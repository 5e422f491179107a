// devicecheck with encrypted devices (pinned, refused, insecure, stalled),
// as the TLS server of devices that call in, and with devices on IPv6.

#include "checkerfixtures.h"
#include "childprocess.h"
#include "loopdevice.h"
#include "waituntil.h"

#include "check/checkfile.h"
#include "protocol/framedefaults.h"
#include "socket/addresslookup.h"
#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"
#include "tls/tlssession.h"
#include "traffic/recordline.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 30s;
const std::string kChecker = DEVICECHECK_PATH;

const tls::Credentials& deviceCredentials()
{
    static const tls::Credentials made = *tls::makeSelfSigned("door-7", {"127.0.0.1", "::1"});
    return made;
}

std::string fingerprintOf(const tls::Credentials& credentials)
{
    return tls::CertificateInfo::ofPem(credentials.certificatePem)->fingerprint;
}

// Sends a frame and expects the device's answer (or the frame's echo);
// `tls` in the defaults.
std::string answerCheck(bool tls)
{
    check::CheckFile file;
    file.answerTimeout = 5s;
    file.tls = tls;
    check::SendStep send;
    send.fields = protocol::defaultFrameFields();
    file.steps.push_back({"send", send});
    check::ExpectStep expect;
    expect.isFrame = false;
    expect.contains = "ENT";
    file.steps.push_back({"answer", expect});
    return check::writeCheckFile(file);
}

std::vector<traffic::Record> recordsIn(const std::string& folder)
{
    std::vector<traffic::Record> records;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::istringstream lines(readFile(entry.path()));
        for (std::string line; std::getline(lines, line);) {
            if (auto record = traffic::recordFromLine(line)) {
                records.push_back(*record);
            }
        }
    }
    return records;
}

// What `pattern` matches of a checker's "listening on" line, the whole and
// each group (e.g. the port); empty when it never says so.
std::vector<std::string> listeningLine(ChildProcess& checker, const std::string& pattern)
{
    std::smatch match;
    const std::string said =
        checker.waitForLine("listening on ", kDeadline) ? checker.output() : std::string();
    std::regex_search(said, match, std::regex("listening on " + pattern));
    return {match.begin(), match.end()};
}

struct TrustRow {
    const char* name;
    const char* how; // "csv pin", "no pin", "insecure", "wrong pin", "--pin"
    bool tlsInFile;  // else --tls
    int code;
    const char* said; // in the output
};

class CheckTrust : public testing::TestWithParam<TrustRow>
{
};

TEST_P(CheckTrust, TheCertificateDecidesWhetherTheDeviceIsChecked)
{
    const TrustRow row = GetParam();
    Scratch scratch;
    LoopDevice device(*net::Endpoint::fromNumeric("127.0.0.1", 0), deviceCredentials());
    ASSERT_TRUE(device.listening());
    const std::string how = row.how;
    const std::string right = fingerprintOf(deviceCredentials());
    const std::string wrong = fingerprintOf(*tls::makeSelfSigned("other", {"127.0.0.1"}));
    const std::string pin = how == "wrong pin" ? wrong : how == "no pin" ? "" : right;
    const std::string sites =
        scratch.write("sites.csv", "host,port,fingerprint\n127.0.0.1," + device.portText() + "," +
                                       (how == "insecure" || how == "--pin" ? "" : pin) + "\n");
    std::vector<std::string> arguments{scratch.write("a.check", answerCheck(row.tlsInFile))};
    if (how == "--pin") {
        arguments.insert(arguments.end(), {"127.0.0.1:" + device.portText(), "--pin", right});
    } else {
        arguments.insert(arguments.end(), {"--targets", sites});
    }
    if (!row.tlsInFile) {
        arguments.push_back("--tls");
    }
    if (how == "insecure") {
        arguments.push_back("--insecure");
    }
    const std::string folder = scratch.file("records");
    arguments.insert(arguments.end(), {"--record", folder});
    const ProcessResult run = runProcess(kChecker, arguments, kDeadline);
    EXPECT_EQ(run.code, row.code) << run.output;
    EXPECT_NE(run.output.find(row.said), std::string::npos) << run.output;
    // Refused or not, the device's fingerprint is told: in the report when
    // refused, in the record always.
    if (row.code != 0) {
        EXPECT_NE(run.output.find(right), std::string::npos) << run.output;
        EXPECT_TRUE(device.received().empty()) << "a refused device was sent a frame";
    }
    bool noted = false;
    std::string written;
    for (const traffic::Record& record : recordsIn(folder)) {
        noted = noted || (record.kind == traffic::RecordKind::Event &&
                          record.text.find("TLS TLSv1.") != std::string::npos &&
                          record.text.find(right) != std::string::npos);
        if (record.kind == traffic::RecordKind::Write) {
            written += record.bytes;
        }
    }
    EXPECT_TRUE(noted) << "no record of the TLS version and the peer's fingerprint";
    // The records hold the plaintext, as the device received it.
    EXPECT_EQ(written, device.received());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CheckTrust,
    testing::Values(TrustRow{"PinnedInTheTargetsFile", "csv pin", true, 0, "1 passed, 0 failed"},
                    TrustRow{"PinnedOnTheCommandLine", "--pin", false, 0, "1 passed, 0 failed"},
                    TrustRow{"UnpinnedIsRefused", "no pin", false, 1,
                             "the certificate is not trusted (self-signed certificate), "
                             "fingerprint SHA256:"},
                    TrustRow{"InsecureIsChecked", "insecure", false, 0, "1 passed, 0 failed"},
                    TrustRow{"WrongPinIsRefusedAsChanged", "wrong pin", true, 1,
                             "the certificate has changed: pinned "}),
    [](const testing::TestParamInfo<TrustRow>& info) { return std::string(info.param.name); });

// A device that takes the TCP connection and never answers the handshake is
// given up at the connect time-out, not at the device's.
TEST(CheckTls, AHandshakeThatStallsEndsAtTheConnectTimeOut)
{
    Scratch scratch;
    const LoopbackPort stalled(true);
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult run =
        runProcess(kChecker,
                   {scratch.write("a.check", answerCheck(true)), "127.0.0.1:" + stalled.port(),
                    "--insecure", "--connect-timeout", "300", "--device-timeout", "20000"},
                   kDeadline);
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("TLS handshake did not finish within"), std::string::npos)
        << run.output;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST(CheckTls, MisusedOptionsAreUsageErrors)
{
    Scratch scratch;
    const LoopbackPort device(true);
    check::CheckFile udpFile;
    udpFile.transport = check::Transport::Udp;
    const std::string udp = scratch.write("udp.check", check::writeCheckFile(udpFile));
    const std::string tcp = scratch.write("tcp.check", answerCheck(false));
    const std::string to = "127.0.0.1:" + device.port();
    const std::string pin = fingerprintOf(deviceCredentials());
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{udp, to, "--tls"}, "no TLS over UDP"},
        {{tcp, to, "127.0.0.2", "--tls", "--pin", pin}, "--pin is for a single device"},
        {{tcp, "--listen", "0", "--tls", "--insecure"}, "not for --listen"},
        {{tcp, "--listen", "0", "--tls", "--require-client-cert"}, "needs TLS and --ca"},
        {{tcp, to, "--insecure"}, "need --tls"},
    };
    for (const auto& [arguments, message] : rows) {
        const ProcessResult run = runProcess(kChecker, arguments, kDeadline);
        EXPECT_EQ(run.code, 2) << arguments.back() << ": " << run.output;
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    }
    EXPECT_FALSE(device.wasContacted());
}

// A device that calls in over TLS, on a thread of its own: connects to
// 127.0.0.1:port, does the handshake (showing `own` when given), sends one
// event frame and echoes every plaintext it receives until the checker
// closes or the time is up. What the checker's certificate was, once known.
class TlsCaller
{
public:
    TlsCaller(std::uint16_t port, tls::Credentials own, const std::string& address = "127.0.0.1")
        : thread_(
              [this, port, own, address] { run(*net::Endpoint::fromNumeric(address, port), own); })
    {
    }
    ~TlsCaller()
    {
        quit_ = true;
        thread_.join();
    }
    std::string seen() const
    {
        const std::lock_guard guard(lock_);
        return seen_;
    }

private:
    void run(const net::Endpoint& to, const tls::Credentials& own)
    {
        tls::ContextSettings settings;
        settings.own = own;
        const auto context = tls::TlsContext::make(settings);
        const base::Result<int> fd = net::connectWithin(to, SOCK_STREAM, 5000);
        if (!context || !fd) {
            return;
        }
        tls::TlsSession session(*context);
        session.start();
        bool greeted = false;
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        char buffer[4096];
        while (!quit_ && std::chrono::steady_clock::now() < deadline) {
            const std::string out = session.takeOutput();
            if (!out.empty() && ::send(*fd, out.data(), out.size(), MSG_NOSIGNAL) < 0) {
                break;
            }
            if (session.state() == tls::TlsSession::State::Open && !greeted) {
                greeted = true;
                const std::lock_guard guard(lock_);
                seen_ = session.peer().certificate.fingerprint;
                (void)session.send("[B01=EVT-hello\r\n");
                continue;
            }
            if (const std::string plain = session.takeReceived(); !plain.empty()) {
                (void)session.send(plain);
                continue;
            }
            pollfd ready{*fd, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) {
                continue;
            }
            const ssize_t count = ::recv(*fd, buffer, sizeof buffer, 0);
            if (count <= 0) {
                break;
            }
            session.receive(std::string_view(buffer, static_cast<std::size_t>(count)));
        }
        ::close(*fd);
    }

    std::atomic<bool> quit_{false};
    mutable std::mutex lock_;
    std::string seen_;
    std::thread thread_;
};

// The checker listening over TLS with a certificate made at start: the
// fingerprint it prints is the one the device sees, and the device's check
// runs over the encrypted connection. With --require-client-cert, a device
// without a certificate the authority vouches for is not checked.
TEST(CheckTls, ListensAsTheTlsServerOfDevicesThatCallIn)
{
    Scratch scratch;
    const tls::Credentials client = *tls::makeSelfSigned("door-9", {"door-9"});
    const std::string ca = scratch.write("ca.pem", client.certificatePem);
    ChildProcess checker(kChecker, {scratch.write("a.check", answerCheck(true)), "--listen",
                                    "127.0.0.1:0", "--expect", "1", "--listen-time", "20",
                                    "--require-client-cert", "--ca", ca});
    const std::vector<std::string> match = listeningLine(
        checker, "127\\.0\\.0\\.1:(\\d+) \\(TCP, TLS\\) for 20 s, certificate (SHA256:[0-9A-F:]+)");
    ASSERT_FALSE(match.empty()) << checker.output();
    const auto port = static_cast<std::uint16_t>(std::stoi(match[1]));
    {
        const TlsCaller stranger(port, {});
        EXPECT_TRUE(waitUntil([&] { return !stranger.seen().empty(); }, kDeadline));
        const TlsCaller door(port, client);
        EXPECT_EQ(checker.wait(kDeadline), 0) << checker.output();
        EXPECT_EQ(door.seen(), match[2]);
    }
    EXPECT_NE(checker.output().find("1 passed, 0 failed"), std::string::npos) << checker.output();
    EXPECT_NE(checker.output().find("TLS handshake failed"), std::string::npos) << checker.output();
}

// Handshakes that start and never end, a hundred of them, while a device is
// under check: its check goes on and passes; the stalled callers are given
// up at the connect time-out as unknown.
TEST(CheckTls, AHandshakeFloodDoesNotStarveTheDeviceUnderCheck)
{
    Scratch scratch;
    check::CheckFile file = *check::parseCheckFile(answerCheck(true), "a.check");
    file.steps.push_back({"pause", check::WaitStep{check::Millis(800)}});
    file.steps.push_back(file.steps[0]);
    file.steps.push_back(file.steps[1]);
    ChildProcess checker(kChecker, {scratch.write("a.check", check::writeCheckFile(file)),
                                    "--listen", "127.0.0.1:0", "--listen-time", "3",
                                    "--connect-timeout", "1000", "--answer-timeout", "2000"});
    const std::vector<std::string> match = listeningLine(checker, "127\\.0\\.0\\.1:(\\d+)");
    ASSERT_FALSE(match.empty()) << checker.output();
    const auto port = static_cast<std::uint16_t>(std::stoi(match[1]));
    const auto to = *net::Endpoint::fromNumeric("127.0.0.1", port);
    {
        const TlsCaller door(port, {});
        ASSERT_TRUE(waitUntil([&] { return !door.seen().empty(); }, kDeadline));
        const auto context = tls::TlsContext::make({});
        ASSERT_TRUE(context);
        std::vector<int> flood;
        for (int i = 0; i < 100; ++i) {
            const base::Result<int> fd = net::connectWithin(to, SOCK_STREAM, 2000);
            if (!fd) {
                break;
            }
            flood.push_back(*fd);
            tls::TlsSession hello(*context);
            hello.start();
            const std::string first = hello.takeOutput();
            ::send(*fd, first.data(), first.size(), MSG_NOSIGNAL);
        }
        EXPECT_EQ(flood.size(), 100u);
        EXPECT_EQ(checker.wait(kDeadline), 0) << checker.output();
        for (const int fd : flood) {
            ::close(fd);
        }
    }
    EXPECT_NE(checker.output().find("1 passed, 0 failed"), std::string::npos) << checker.output();
}

// The checker listening on IPv6 loopback over TLS: the device that calls in
// from ::1 is checked and reported in brackets.
TEST(CheckIpv6, ListensOnIpv6Loopback)
{
    Scratch scratch;
    const std::string junit = scratch.file("run.xml");
    ChildProcess checker(kChecker, {scratch.write("a.check", answerCheck(true)), "--listen",
                                    "[::1]:0", "--expect", "1", "--junit", junit});
    const std::vector<std::string> match =
        listeningLine(checker, "\\[::1\\]:(\\d+) \\(TCP, TLS\\)");
    if (match.empty()) {
        checker.signal(SIGTERM);
        GTEST_SKIP() << "no IPv6 loopback on this machine: " << checker.output();
    }
    {
        const TlsCaller door(static_cast<std::uint16_t>(std::stoi(match[1])), {}, "::1");
        EXPECT_EQ(checker.wait(kDeadline), 0) << checker.output();
    }
    EXPECT_NE(readFile(junit).find("name=\"[::1]:"), std::string::npos) << readFile(junit);
}

// IPv6 loopback, plain and with TLS, and a name that resolves to both
// families whose device listens on IPv6 only: the connect goes on to the
// address that takes it. Reports name IPv6 devices in brackets.
TEST(CheckIpv6, DevicesOnIpv6LoopbackAreChecked)
{
    Scratch scratch;
    LoopDevice plain(*net::Endpoint::fromNumeric("::1", 0));
    LoopDevice secure(*net::Endpoint::fromNumeric("::1", 0), deviceCredentials());
    if (!plain.listening() || !secure.listening()) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    const std::string check = scratch.write("a.check", answerCheck(false));
    const std::string junit = scratch.file("run.xml");
    const std::string folder = scratch.file("records");
    const ProcessResult run = runProcess(
        kChecker, {check, "[::1]:" + plain.portText(), "--junit", junit, "--record", folder},
        kDeadline);
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(readFile(junit).find("name=\"[::1]:" + plain.portText() + '"'), std::string::npos)
        << readFile(junit);
    // The record names the address as the record readers (pcapng) take it.
    const std::vector<traffic::Record> records = recordsIn(folder);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().text, "TCP [::1]:" + plain.portText());

    const ProcessResult pinned = runProcess(
        kChecker,
        {check, "[::1]:" + secure.portText(), "--tls", "--pin", fingerprintOf(deviceCredentials())},
        kDeadline);
    EXPECT_EQ(pinned.code, 0) << pinned.output;

    const base::Result<std::vector<net::Endpoint>> localhost =
        net::lookUpEndpoints("localhost", plain.port(), SOCK_STREAM);
    bool both = localhost && localhost->size() > 1;
    if (both) {
        const ProcessResult named =
            runProcess(kChecker, {check, "localhost:" + plain.portText()}, kDeadline);
        EXPECT_EQ(named.code, 0) << named.output;
    }
}

} // namespace
