#include "checkerfixtures.h"
#include "childprocess.h"
#include "loopbackudppeer.h"
#include "simulatorundertest.h"

#include "check/checkfile.h"
#include "protocol/framedefaults.h"
#include "traffic/recordline.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 30s;
const std::string kChecker = DEVICECHECK_PATH;
const std::string kSchema = JUNIT_SCHEMA_PATH;
const std::string kXmllint = "/usr/bin/xmllint";

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The <testcase> element of one device in a JUnit text; empty when missing.
std::string testcaseOf(const std::string& junit, const std::string& label)
{
    const std::size_t start = junit.find("name=\"" + label + '"');
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = junit.find("<testcase", start);
    return junit.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Sends the console's default frame (its data from the device's values) and
// expects its echo: what devicesim answers unless a rule says otherwise.
check::CheckFile echoCheck(check::Transport transport, int frames, check::Millis within,
                           const std::string& data = "{port}")
{
    check::CheckFile file;
    file.transport = transport;
    file.answerTimeout = within;
    for (int i = 1; i <= frames; ++i) {
        check::SendStep send;
        send.fields = protocol::defaultFrameFields();
        send.fields.data = data;
        file.steps.push_back({"send " + std::to_string(i), send});
        check::ExpectStep expect;
        expect.frame.command = "ENT";
        expect.frame.message = "Message / Description";
        file.steps.push_back({"echo " + std::to_string(i), expect});
    }
    return file;
}

std::unique_ptr<SimulatorUnderTest> simulator(const std::string& rules = {})
{
    devicetools::SimulatorConfig config;
    if (!rules.empty()) {
        base::Result<devicetools::ReplyRules> parsed = devicetools::ReplyRules::parse(rules);
        if (parsed) {
            config.rules = std::move(*parsed);
        }
    }
    return std::make_unique<SimulatorUnderTest>(config);
}

std::string target(SimulatorUnderTest& device)
{
    return "127.0.0.1:" + device.portText();
}

class DeviceCheckRun : public testing::TestWithParam<check::Transport>
{
};

// Three devices from a targets file whose {id} the frames carry: all pass,
// on a pipe no progress line, the summary says so.
TEST_P(DeviceCheckRun, EveryDevicePasses)
{
    Scratch scratch;
    const auto first = simulator();
    const auto second = simulator();
    const auto third = simulator();
    ASSERT_TRUE(first->started() && second->started() && third->started());
    const std::string check =
        scratch.write("echo.check", check::writeCheckFile(echoCheck(GetParam(), 3, 5s, "{id}")));
    const std::string sites = scratch.write(
        "sites.csv", "host,port,name,id\n127.0.0.1," + first->portText() +
                         ",Door west,11\n127.0.0.1," + second->portText() + ",,12\n127.0.0.1," +
                         third->portText() + ",Door east,4711\n");
    const ProcessResult run = runProcess(
        kChecker, {check, "--targets", sites, "--junit", scratch.file("run.xml")}, kDeadline);
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("3 devices in "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(": 3 passed, 0 failed\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\r'), std::string::npos);
    EXPECT_TRUE(third->waitForLine("data=\"4711\"", kDeadline));
    EXPECT_EQ(third->linesWith("command=ENT").size(), 3u);
    EXPECT_EQ(countOf(readFile(scratch.file("run.xml")), "<testcase "), 3u);
}

INSTANTIATE_TEST_SUITE_P(Transports, DeviceCheckRun,
                         testing::Values(check::Transport::Tcp, check::Transport::Udp),
                         [](const testing::TestParamInfo<check::Transport>& info) {
                             return info.param == check::Transport::Tcp ? "Tcp" : "Udp";
                         });

// A device that passes, two ports that refuse, one that never answers and one
// that answers wrongly (with hostile bytes): exit 1, and every report names
// exactly the devices that failed, the step and why.
TEST(DeviceCheck, ReportsWhichDevicesFailedAndWhy)
{
    Scratch scratch;
    const auto good = simulator();
    const auto silent = simulator("ENT => none\n");
    const auto wrong =
        simulator("ENT => text =cmd|' /C calc'!A0 <script>alert(1)</script> ]]> \x1b[2J\n");
    const LoopbackPort refusing(false);
    const LoopbackPort alsoRefusing(false);
    ASSERT_TRUE(good->started() && silent->started() && wrong->started());
    const std::string check = scratch.write(
        "echo.check", check::writeCheckFile(echoCheck(check::Transport::Tcp, 1, 500ms)));
    const ProcessResult run = runProcess(
        kChecker,
        {check, target(*good), "127.0.0.1:" + refusing.port(), target(*silent), target(*wrong),
         "127.0.0.1:" + alsoRefusing.port(), "--junit", scratch.file("run.xml"), "--csv",
         scratch.file("run.csv"), "--html", scratch.file("run.html")},
        kDeadline);
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find(": 1 passed, 4 failed\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos);

    const std::string junit = readFile(scratch.file("run.xml"));
    if (access(kXmllint.c_str(), X_OK) == 0) {
        const ProcessResult valid = runProcess(
            kXmllint, {"--noout", "--schema", kSchema, scratch.file("run.xml")}, kDeadline);
        EXPECT_EQ(valid.code, 0) << valid.output << junit;
    } else {
        ADD_FAILURE() << "xmllint is missing (make test installs libxml2-utils)";
    }
    EXPECT_NE(junit.find("tests=\"5\" failures=\"4\" errors=\"0\" skipped=\"0\""),
              std::string::npos)
        << junit;
    EXPECT_EQ(testcaseOf(junit, target(*good)).find("<failure"), std::string::npos);
    for (const LoopbackPort* port : {&refusing, &alsoRefusing}) {
        const std::string refused = testcaseOf(junit, "127.0.0.1:" + port->port());
        EXPECT_NE(refused.find("<failure type=\"connect\" message=\"connect: Connection refused"),
                  std::string::npos)
            << refused;
    }
    for (SimulatorUnderTest* device : {silent.get(), wrong.get()}) {
        const std::string failed = testcaseOf(junit, target(*device));
        EXPECT_NE(failed.find("<failure type=\"echo 1\" message=\"echo 1: "), std::string::npos)
            << failed;
    }
    EXPECT_NE(testcaseOf(junit, target(*wrong)).find("&lt;script&gt;"), std::string::npos) << junit;
    EXPECT_EQ(junit.find("<script"), std::string::npos);
    EXPECT_EQ(junit.find("]]>"), std::string::npos);

    const std::string csv = readFile(scratch.file("run.csv"));
    EXPECT_EQ(csv.rfind("device,name,outcome,step,step_name,", 0), 0u) << csv;
    EXPECT_NE(csv.find("127.0.0.1:" + refusing.port() +
                       ",,failed,,connect,,,failed,,"
                       "Connection refused"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(target(*silent) + ",,failed,2,echo 1,1,1,failed,,"), std::string::npos)
        << csv;
    EXPECT_NE(csv.find(target(*good) + ",,passed,2,echo 1,1,1,passed,"), std::string::npos) << csv;
    EXPECT_EQ(csv.find(",=cmd"), std::string::npos) << csv;
    EXPECT_EQ(csv.find('\x1b'), std::string::npos);
    EXPECT_EQ(countOf(csv, "\r\n"), 1u + 2u + 1u + 2u + 2u + 1u) << csv;

    const std::string html = readFile(scratch.file("run.html"));
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("href="), std::string::npos);
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_EQ(countOf(html, "<span class=\"result failed\">"), 4u);
    struct stat info {
    };
    ASSERT_EQ(::stat(scratch.file("run.html").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Ctrl+C while the first of three devices waits for its answer: the run stops
// at once, that device is reported stopped, the other two not run.
TEST(DeviceCheck, InterruptStillWritesTheReport)
{
    Scratch scratch;
    const auto silent = simulator("ENT => none\n");
    const auto good = simulator();
    ASSERT_TRUE(silent->started() && good->started());
    const std::string check = scratch.write(
        "echo.check", check::writeCheckFile(echoCheck(check::Transport::Tcp, 1, 60s)));
    ChildProcess run(kChecker,
                     {check, target(*silent), target(*good), target(*good), "--jobs", "1",
                      "--junit", scratch.file("run.xml"), "--csv", scratch.file("run.csv")});
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(silent->waitForLine("command=ENT", kDeadline));
    run.signal(SIGINT);
    EXPECT_EQ(run.wait(kDeadline), 1) << run.output();
    EXPECT_NE(run.output().find("STOPPED " + target(*silent)), std::string::npos) << run.output();
    EXPECT_NE(run.output().find("1 stopped, 2 not run (stopped by a signal)"), std::string::npos)
        << run.output();
    const std::string junit = readFile(scratch.file("run.xml"));
    EXPECT_NE(junit.find("tests=\"3\" failures=\"0\" errors=\"1\" skipped=\"2\""),
              std::string::npos)
        << junit;
    const std::string csv = readFile(scratch.file("run.csv"));
    EXPECT_NE(csv.find(target(*silent) + ",,stopped,2,echo 1,1,1,failed,,stopped"),
              std::string::npos)
        << csv;
    EXPECT_EQ(countOf(csv, ",not run,,not run,"), 2u) << csv;
    EXPECT_TRUE(good->linesWith("command=ENT").empty());
}

// Each device's traffic in a record file of its own, owner-only, in the
// console's record format.
TEST(DeviceCheck, RecordsEachDevicesTraffic)
{
    Scratch scratch;
    const auto first = simulator();
    const auto second = simulator();
    ASSERT_TRUE(first->started() && second->started());
    const std::string check =
        scratch.write("echo.check", check::writeCheckFile(echoCheck(check::Transport::Tcp, 2, 5s)));
    const std::string folder = scratch.file("records");
    const ProcessResult run = runProcess(
        kChecker, {check, target(*first), target(*second), "--record", folder}, kDeadline);
    ASSERT_EQ(run.code, 0) << run.output;
    struct stat info {
    };
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 2u);
    for (const std::filesystem::path& file : files) {
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        std::vector<traffic::Record> records;
        std::istringstream lines(readFile(file));
        for (std::string line; std::getline(lines, line);) {
            if (auto record = traffic::recordFromLine(line)) {
                records.push_back(*record);
            }
        }
        ASSERT_GE(records.size(), 6u) << file;
        EXPECT_EQ(records.front().kind, traffic::RecordKind::ConnectAttempt);
        EXPECT_EQ(records.front().text.rfind("TCP 127.0.0.1:", 0), 0u);
        EXPECT_EQ(records.back().kind, traffic::RecordKind::Disconnect);
        std::size_t writes = 0;
        for (const traffic::Record& record : records) {
            writes += record.kind == traffic::RecordKind::Write ? 1 : 0;
        }
        EXPECT_EQ(writes, 2u);
    }
}

// Mistakes stop the run before any device is contacted, with exit 2.
TEST(DeviceCheck, MistakesContactNoDevice)
{
    Scratch scratch;
    const LoopbackPort device(true);
    const std::string good =
        scratch.write("echo.check", check::writeCheckFile(echoCheck(check::Transport::Tcp, 1, 5s)));
    const std::string broken = scratch.write("broken.check", "steps?\n\x01 nonsense\n");
    const std::string deviceTarget = "127.0.0.1:" + device.port();
    struct Row {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Row rows[] = {
        {{broken, deviceTarget}, "broken.check:[0-9]+:[0-9]+: "},
        {{scratch.file("missing.check"), deviceTarget}, "missing\\.check"},
        {{good}, "no target given"},
        {{good, deviceTarget, "127.0.0.1:99999"}, "\"99999\" is no port"},
        {{good, deviceTarget, "--jobs", "0"}, "--jobs takes a number from 1 to 10000"},
        {{good, "--targets", scratch.file("none.csv")}, "none\\.csv: No such file or directory"},
        {{good, deviceTarget, "--junit", scratch.file("no/such/folder.xml")},
         "cannot create .*folder.xml: No such file"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> arguments = row.arguments;
        const ProcessResult run = runProcess(kChecker, arguments, kDeadline);
        EXPECT_EQ(run.code, 2) << run.output;
        EXPECT_TRUE(std::regex_search(run.output, std::regex(row.message))) << run.output;
        EXPECT_FALSE(device.wasContacted()) << run.output;
    }
}

} // namespace

namespace
{

// On a terminal the progress line is drawn in place and erased before the
// failures and the summary.
TEST(DeviceCheck, TerminalShowsTheProgressInPlace)
{
    Scratch scratch;
    const auto device = simulator();
    ASSERT_TRUE(device->started());
    const std::string check =
        scratch.write("echo.check", check::writeCheckFile(echoCheck(check::Transport::Tcp, 1, 5s)));
    const ProcessResult run = runProcess(
        "/usr/bin/script",
        {"-qec", kChecker + ' ' + check + ' ' + target(*device) + " 127.0.0.1:1", "/dev/null"},
        kDeadline);
    EXPECT_EQ(run.code, 1) << run.output;
    const std::size_t progress = run.output.find("\rchecked 2/2  passed 1  failed 1  ");
    const std::size_t failure = run.output.find("\r\x1b[KFAIL 127.0.0.1:1: connect: ");
    EXPECT_NE(progress, std::string::npos) << run.output;
    EXPECT_NE(failure, std::string::npos) << run.output;
    EXPECT_LT(progress, failure);
}

// Over UDP a port where nothing listens answers the first frame with a
// refusal, which fails the device.
TEST(DeviceCheck, UdpPortWithNothingFails)
{
    Scratch scratch;
    const LoopbackPort nothing(false);
    const std::string check =
        scratch.write("echo.check", check::writeCheckFile(echoCheck(check::Transport::Udp, 1, 5s)));
    const ProcessResult run =
        runProcess(kChecker, {check, "127.0.0.1:" + nothing.port()}, kDeadline);
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("FAIL 127.0.0.1:" + nothing.port() + ": "), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Connection refused"), std::string::npos) << run.output;
}

// A datagram is a record of the device's, line end or not, as the console's
// Run takes it: a device whose answers end with their datagram passes.
TEST(DeviceCheck, UdpAnswerWithoutLineEndPasses)
{
    Scratch scratch;
    LoopbackUdpPeer device;
    ASSERT_TRUE(device.bound());
    std::thread answering([&device] {
        // One send step, one answer.
        std::string datagram;
        if (device.receive(datagram, 10s)) {
            device.sendToSender("[BA1=ENT-Message / Description");
        }
    });
    check::CheckFile file = echoCheck(check::Transport::Udp, 1, 5s);
    const std::string check = scratch.write("udp.check", check::writeCheckFile(file));
    const ProcessResult run =
        runProcess(kChecker, {check, "127.0.0.1:" + device.portText()}, kDeadline);
    answering.join();
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("1 passed, 0 failed"), std::string::npos) << run.output;
}

} // namespace
