#include "callerroster.h"
#include "checkerfixtures.h"
#include "childprocess.h"
#include "dialingdevice.h"
#include "firstframe.h"

#include "check/checkfile.h"
#include "protocol/framedefaults.h"
#include "traffic/recordline.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 30s;
const std::string kChecker = DEVICECHECK_PATH;

// Sends the console's default frame and expects its echo, as a DialingDevice
// gives it; `data` may carry the device's {id}.
std::string echoCheck(check::Transport transport, const std::string& data = "{port}")
{
    check::CheckFile file;
    file.transport = transport;
    file.answerTimeout = 5s;
    check::SendStep send;
    send.fields = protocol::defaultFrameFields();
    send.fields.data = data;
    file.steps.push_back({"send", send});
    check::ExpectStep expect;
    expect.frame.command = "ENT";
    expect.frame.data = data;
    file.steps.push_back({"echo", expect});
    return check::writeCheckFile(file);
}

// The checker listening on a port the system chose; the port once it says so.
struct Listening {
    std::unique_ptr<ChildProcess> process;
    std::uint16_t port = 0;
};

Listening listen(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin() + 1, {"--listen", "127.0.0.1:0"});
    Listening run;
    run.process = std::make_unique<ChildProcess>(kChecker, arguments);
    if (run.process->waitForLine("listening on 127.0.0.1:", kDeadline)) {
        std::smatch port;
        const std::string& output = run.process->output();
        if (std::regex_search(output, port, std::regex("listening on 127\\.0\\.0\\.1:(\\d+)"))) {
            run.port = static_cast<std::uint16_t>(std::stoi(port[1]));
        }
    }
    return run;
}

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ListenRun : public testing::TestWithParam<check::Transport>
{
};

// Three devices dial in (each connection, or each UDP peer, a device of its
// own), two checked at once: all checked, each reported by its address and
// port, each with a record file that says the connection was accepted.
TEST_P(ListenRun, ChecksEveryDeviceThatCallsInUntilTheExpectedCount)
{
    Scratch scratch;
    const bool udp = GetParam() == check::Transport::Udp;
    const std::string check = scratch.write("echo.check", echoCheck(GetParam()));
    const std::string folder = scratch.file("records");
    Listening run = listen({check, "--expect", "3", "--csv", scratch.file("run.csv"), "--record",
                            folder, "--listen-time", "20", "--jobs", "2"});
    ASSERT_NE(run.port, 0) << run.process->output();
    std::vector<std::unique_ptr<DialingDevice>> devices;
    for (const char* id : {"11", "12", "13"}) {
        devices.push_back(std::make_unique<DialingDevice>(run.port, udp, id, kDeadline));
    }
    EXPECT_EQ(run.process->wait(kDeadline), 0) << run.process->output();
    EXPECT_NE(run.process->output().find("3 devices in "), std::string::npos);
    EXPECT_NE(run.process->output().find(": 3 passed, 0 failed\n"), std::string::npos)
        << run.process->output();
    const std::string csv = readFile(scratch.file("run.csv"));
    EXPECT_EQ(countOf(csv, ",passed,2,echo,"), 3u) << csv;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++files;
        const std::string text = readFile(entry.path());
        EXPECT_NE(text.find("Connection accepted"), std::string::npos) << text;
        EXPECT_NE(text.find(udp ? "UDP 127.0.0.1:" : "TCP 127.0.0.1:"), std::string::npos) << text;
    }
    EXPECT_EQ(files, 3u);
}

// By id, two listed devices from the same address are told apart by their
// first frames (each check carries its own {id}); a listed device that never
// calls in fails with the listen time; one not listed, and one that sends no
// frame, are unknown: reported, not checked, not failures of their own.
TEST_P(ListenRun, TargetsByIdFromOneAddress)
{
    Scratch scratch;
    const std::string check = scratch.write("echo.check", echoCheck(GetParam(), "{id}"));
    const std::string doors =
        scratch.write("doors.csv", "id,name\n21,Door west\n22,Door east\n29,Door never\n");
    Listening run = listen({check, "--identify-by", "id", "--targets", doors, "--listen-time", "2",
                            "--connect-timeout", "500", "--junit", scratch.file("run.xml")});
    ASSERT_NE(run.port, 0) << run.process->output();
    std::vector<std::unique_ptr<DialingDevice>> devices;
    for (const char* id : {"21", "22", "55", ""}) {
        devices.push_back(std::make_unique<DialingDevice>(
            run.port, GetParam() == check::Transport::Udp, id, kDeadline));
    }
    EXPECT_EQ(run.process->wait(kDeadline), 1) << run.process->output();
    const std::string& output = run.process->output();
    EXPECT_NE(output.find("FAIL Door never (id 29): listen: did not call in within 2 s\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("UNKNOWN id 55 (127.0.0.1:"), std::string::npos) << output;
    EXPECT_NE(output.find("unknown device: device id 55 is not in the targets file"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("unknown device: sent no frame within 500 ms\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("5 devices in 2."), std::string::npos) << output;
    EXPECT_NE(output.find(": 2 passed, 1 failed, 2 unknown\n"), std::string::npos) << output;
    const std::string junit = readFile(scratch.file("run.xml"));
    EXPECT_NE(junit.find("tests=\"5\" failures=\"1\" errors=\"0\" skipped=\"2\""),
              std::string::npos)
        << junit;
    EXPECT_NE(junit.find("name=\"Door west (127.0.0.1:"), std::string::npos) << junit;
}

INSTANTIATE_TEST_SUITE_P(Transports, ListenRun,
                         testing::Values(check::Transport::Tcp, check::Transport::Udp),
                         [](const testing::TestParamInfo<check::Transport>& info) {
                             return info.param == check::Transport::Tcp ? "Tcp" : "Udp";
                         });

// By address, a second call from a listed address cannot be told from the
// first device dialing again: it is closed and counted, and is no row.
TEST(DeviceCheckListen, SecondCallFromAListedAddressIsClosed)
{
    Scratch scratch;
    const std::string check = scratch.write("echo.check", echoCheck(check::Transport::Tcp));
    const std::string sites =
        scratch.write("sites.csv", "host,name\n127.0.0.1,Loopback\n10.0.0.99,Far\n");
    Listening run = listen({check, "--targets", sites, "--listen-time", "2"});
    ASSERT_NE(run.port, 0) << run.process->output();
    const DialingDevice first(run.port, false, "01", kDeadline);
    const DialingDevice again(run.port, false, "02", kDeadline);
    EXPECT_EQ(run.process->wait(kDeadline), 1) << run.process->output();
    const std::string& output = run.process->output();
    EXPECT_NE(output.find("FAIL Far (10.0.0.99): listen: did not call in within 2 s\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("2 devices in 2."), std::string::npos) << output;
    EXPECT_NE(output.find(": 1 passed, 1 failed\nclosed 1 call again from a device already "
                          "called in\n"),
              std::string::npos)
        << output;
}

// Fewer devices than --expect: those missing fail; a port in use is refused
// before anything, with the system's reason.
TEST(DeviceCheckListen, MissingExpectedDevicesAndAPortInUse)
{
    Scratch scratch;
    const std::string check = scratch.write("echo.check", echoCheck(check::Transport::Tcp));
    Listening run = listen({check, "--expect", "2", "--listen-time", "1"});
    ASSERT_NE(run.port, 0) << run.process->output();
    DialingDevice only(run.port, false, "01", kDeadline);
    EXPECT_EQ(run.process->wait(kDeadline), 1) << run.process->output();
    EXPECT_NE(run.process->output().find(
                  "FAIL expected device 2 of 2: listen: did not call in within 1 s\n"),
              std::string::npos)
        << run.process->output();

    const LoopbackPort taken(true);
    const ProcessResult refused =
        runProcess(kChecker, {check, "--listen", "127.0.0.1:" + taken.port()}, kDeadline);
    EXPECT_EQ(refused.code, 2) << refused.output;
    EXPECT_NE(refused.output.find("devicecheck: cannot listen on 127.0.0.1:" + taken.port() +
                                  ": Address already in use\n"),
              std::string::npos)
        << refused.output;
}

// Ctrl+C while listening: the listed devices not yet called in are not run
// (not "did not call in"), and the reports are written.
TEST(DeviceCheckListen, InterruptRightAfterListeningStillWritesTheReport)
{
    Scratch scratch;
    const std::string check = scratch.write("echo.check", echoCheck(check::Transport::Tcp));
    const std::string doors = scratch.write("doors.csv", "id\n31\n");
    Listening run = listen(
        {check, "--identify-by", "id", "--targets", doors, "--junit", scratch.file("run.xml")});
    ASSERT_NE(run.port, 0) << run.process->output();
    run.process->signal(SIGINT);
    EXPECT_EQ(run.process->wait(kDeadline), 1) << run.process->output();
    EXPECT_NE(run.process->output().find("1 device in "), std::string::npos);
    EXPECT_NE(run.process->output().find("1 not run (stopped by a signal)"), std::string::npos)
        << run.process->output();
    EXPECT_NE(readFile(scratch.file("run.xml")).find("skipped=\"1\""), std::string::npos);

    // Nobody called in before Ctrl+C: nothing checked is no pass.
    Listening open = listen({check});
    ASSERT_NE(open.port, 0) << open.process->output();
    open.process->signal(SIGINT);
    EXPECT_EQ(open.process->wait(kDeadline), 1) << open.process->output();
    EXPECT_NE(open.process->output().find("\nno device called in\n"), std::string::npos);
}

struct RosterCase {
    const char* name;
    devicetools::CallerRoster::Key key;
    bool listed;
    // Callers in order: address, id; and what each is ("" known, else the reason).
    std::vector<std::pair<std::string, std::string>> callers;
    std::vector<std::string> outcomes;
};

check::Target row(const std::string& host, const std::string& id, std::size_t line)
{
    check::Target target;
    target.host = host;
    if (const std::optional<net::Endpoint> numeric = net::Endpoint::fromNumeric(host, 0)) {
        target.addresses.push_back(*numeric);
    }
    target.values["id"] = id;
    target.csvLine = line;
    return target;
}

class Roster : public testing::TestWithParam<RosterCase>
{
};

TEST_P(Roster, KnowsEachCaller)
{
    const RosterCase& test = GetParam();
    std::optional<std::vector<check::Target>> rows;
    if (test.listed) {
        rows = std::vector<check::Target>{row("10.0.0.5", "07", 2), row("id 08", "08", 3)};
    }
    base::Result<devicetools::CallerRoster> roster =
        devicetools::CallerRoster::make(test.key, rows);
    ASSERT_TRUE(roster);
    for (std::size_t i = 0; i < test.callers.size(); ++i) {
        const auto call = roster->admit(test.callers[i].first, 4000, test.callers[i].second);
        EXPECT_EQ(call.known ? std::string() : call.reason, test.outcomes[i]) << i;
    }
}

using Key = devicetools::CallerRoster::Key;
INSTANTIATE_TEST_SUITE_P(
    Callers, Roster,
    testing::Values(
        RosterCase{"address_listed",
                   Key::Address,
                   true,
                   {{"::ffff:10.0.0.5", ""}, {"10.0.0.5", ""}, {"10.0.0.6", ""}},
                   {"", "10.0.0.5 called in again", "10.0.0.6 is not in the targets file"}},
        RosterCase{
            "id_listed",
            Key::Id,
            true,
            {{"10.0.0.9", "08"}, {"10.0.0.9", "07"}, {"10.0.0.9", "08"}, {"10.0.0.9", "09"}},
            {"", "", "device id 08 called in again", "device id 09 is not in the targets file"}},
        RosterCase{"address_unlisted",
                   Key::Address,
                   false,
                   {{"10.0.0.9", ""}, {"10.0.0.9", ""}},
                   {"", ""}},
        RosterCase{"id_unlisted",
                   Key::Id,
                   false,
                   {{"10.0.0.9", "01"}, {"10.0.0.9", "02"}, {"10.0.0.8", "01"}},
                   {"", "", "device id 01 called in again"}}),
    [](const testing::TestParamInfo<RosterCase>& info) { return info.param.name; });

TEST(Roster, RowsThatCannotBeToldApartAreRefused)
{
    const auto made = devicetools::CallerRoster::make(
        Key::Address,
        std::vector<check::Target>{row("10.0.0.5", "01", 2), row("10.0.0.5", "02", 5)});
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().detail(),
              "line 5 names address 10.0.0.5 as line 2 does (--identify-by id tells them apart)");
}

// The id comes from the first well-formed frame, in whatever pieces; what
// came before it is kept for the check; a device that never sends one is
// bounded.
TEST(FirstFrame, FindsTheIdInPiecesAndIsBounded)
{
    devicetools::FirstFrame first;
    EXPECT_FALSE(first.feed("noise\r\n[B4", false));
    EXPECT_EQ(first.feed("2=EVT-hi\r\n", false), "42");
    EXPECT_EQ(first.bytes(), "noise\r\n[B42=EVT-hi\r\n");

    devicetools::FirstFrame datagram;
    EXPECT_EQ(datagram.feed("[B07=EVT-no line end", true), "07");

    devicetools::FirstFrame silent;
    const std::string junk(1000, 'x');
    for (int i = 0; i < 20 && !silent.full(); ++i) {
        EXPECT_FALSE(silent.feed(junk, false));
    }
    EXPECT_TRUE(silent.full());
    EXPECT_EQ(silent.bytes().size(), devicetools::FirstFrame::kMaxBytes);
}

} // namespace
