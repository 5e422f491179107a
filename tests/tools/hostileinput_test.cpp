#include "checkerfixtures.h"
#include "childprocess.h"
#include "simulatorundertest.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 30s;
const std::string kChecker = DEVICECHECK_PATH;
const std::string kXmllint = "/usr/bin/xmllint";
const std::string kSendFrame =
    "[[step]]\nsend = { media = \"B\", id = \"01\", command = \"ENT\" }\n";

std::string repeated(const std::string& part, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += part;
    }
    return text;
}

// Hostile check files, targets files, report paths and record folders: each
// refused with its reason, exit 2, before any device is contacted, in time.
struct RefusedRow {
    const char* name;
    // Makes the files in `scratch`; gives the arguments after the target.
    std::vector<std::string> (*arguments)(Scratch& scratch);
    const char* message;
};

const RefusedRow kRefusedRows[] = {
    {"deep_dotted_key_crashes",
     [](Scratch& s) -> std::vector<std::string> {
         return {s.write("deep.toml", repeated("a.", 40000) + "a=1\n")};
     },
     "deep.toml:1:64: a key with more than 32 dotted parts"},
    {"deep_table_header_crashes",
     [](Scratch& s) -> std::vector<std::string> {
         return {s.write("deep.toml", "[" + repeated("a.", 40000) + "a]\n")};
     },
     "deep.toml:1:65: a key with more than 32 dotted parts"},
    {"report_chmods_a_device",
     [](Scratch& s) -> std::vector<std::string> {
         return {s.write("ok.toml", kSendFrame), "--junit", "/dev/null"};
     },
     "cannot create /dev/null: it is a device, not a regular file"},
    {"report_fifo_hangs",
     [](Scratch& s) -> std::vector<std::string> {
         ::mkfifo(s.file("fifo").c_str(), 0600);
         return {s.write("ok.toml", kSendFrame), "--csv", s.file("fifo")};
     },
     "fifo: it is a FIFO, not a regular file"},
    {"report_through_a_link",
     [](Scratch& s) -> std::vector<std::string> {
         std::filesystem::create_symlink(s.write("kept", "kept"), s.file("link"));
         return {s.write("ok.toml", kSendFrame), "--html", s.file("link")};
     },
     "link: it is a symbolic link"},
    {"same_report_path_twice",
     [](Scratch& s) -> std::vector<std::string> {
         return {s.write("ok.toml", kSendFrame), "--junit", s.file("r"), "--csv",
                 s.file("") + "./r"};
     },
     "is named for two reports"},
    {"refused_record_folder_contacts",
     [](Scratch& s) -> std::vector<std::string> {
         std::filesystem::create_directory(s.file("open"));
         std::filesystem::permissions(s.file("open"), std::filesystem::perms::all);
         return {s.write("ok.toml", kSendFrame), "--record", s.file("open")};
     },
     "will not record in"},
    {"record_link_with_trailing_slash",
     [](Scratch& s) -> std::vector<std::string> {
         std::filesystem::create_directory(s.file("private"));
         std::filesystem::permissions(s.file("private"), std::filesystem::perms::owner_all);
         std::filesystem::create_directory_symlink(s.file("private"), s.file("linkdir"));
         return {s.write("ok.toml", kSendFrame), "--record", s.file("linkdir") + "/"};
     },
     "not a folder: .*linkdir"},
};

void PrintTo(const RefusedRow& row, std::ostream* out)
{
    *out << row.name;
}

class HostileInput : public testing::TestWithParam<RefusedRow>
{
};

TEST_P(HostileInput, IsRefusedBeforeAnyDeviceIsContacted)
{
    Scratch scratch;
    const LoopbackPort device(true);
    struct stat nullBefore {
    };
    ::stat("/dev/null", &nullBefore);
    std::vector<std::string> arguments = GetParam().arguments(scratch);
    arguments.insert(arguments.begin() + 1, "127.0.0.1:" + device.port());
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult run = runProcess(kChecker, arguments, kDeadline);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(run.code, 2) << run.output;
    EXPECT_TRUE(std::regex_search(run.output, std::regex(GetParam().message))) << run.output;
    EXPECT_FALSE(device.wasContacted()) << run.output;
    struct stat nullAfter {
    };
    ::stat("/dev/null", &nullAfter);
    EXPECT_EQ(nullAfter.st_mode, nullBefore.st_mode);
    if (std::filesystem::exists(scratch.file("kept"))) {
        EXPECT_EQ(readFile(scratch.file("kept")), "kept");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileInput, testing::ValuesIn(kRefusedRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A 4 MiB value in a step, and a value missing only from a later step: the
// device is never contacted, and the run says why, at once.
TEST(HostileInput, PlaceholderValuesAreCheckedBeforeTheFirstByte)
{
    Scratch scratch;
    const LoopbackPort device(true);
    const std::string check =
        scratch.write("values.toml", kSendFrame + "[[step]]\nsend = { text = \"{big}\" }\n" +
                                         "[[step]]\nexpect = { text = \"{big}\" }\n[[step]]\n" +
                                         "send = { text = \"{zone}\" }\n");
    const std::string host = "127.0.0.1," + device.port();
    const std::string targets = scratch.write(
        "targets.csv", "host,port,big,zone\n" + host + "," + std::string(4 << 20, 'x') + ",1\n");
    const std::string missing = scratch.write("missing.csv", "host,port,big\n" + host + ",b\n");
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult run =
        runProcess(kChecker, {check, "--targets", targets, "--targets", missing}, kDeadline);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("device values: step 2 (line 3): text must be at most 2045 "
                              "characters, not 4194304"),
              std::string::npos)
        << run.output.substr(0, 2000);
    EXPECT_NE(run.output.find("device values: step 4 (line 7): no value for {zone}"),
              std::string::npos)
        << run.output.substr(0, 2000);
    EXPECT_FALSE(device.wasContacted());
}

// U+FFFE, U+FFFF and a right-to-left override in a check file's name, a
// step's name and a device's name: the JUnit report is still XML, and none
// of them stays as it is in any report.
TEST(HostileInput, JunitReportWithNoncharactersIsValidXml)
{
    if (::access(kXmllint.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "needs xmllint";
    }
    Scratch scratch;
    const std::string odd = "\xEF\xBF\xBE\xEF\xBF\xBF\xE2\x80\xAE";
    const std::string check =
        scratch.write("check" + odd + ".toml",
                      "[[step]]\nname = \"" + odd +
                          "\"\nsend = { media = \"B\", id = \"01\", command = \"ENT\" }\n");
    const LoopbackPort closed(false);
    const std::string targets =
        scratch.write("t.csv", "host,port,name\n127.0.0.1," + closed.port() + ",door" + odd + "\n");
    const std::string junit = scratch.file("r.xml");
    const std::string csv = scratch.file("r.csv");
    const std::string html = scratch.file("r.html");
    const ProcessResult run = runProcess(
        kChecker, {check, "--targets", targets, "--junit", junit, "--csv", csv, "--html", html},
        kDeadline);
    EXPECT_EQ(run.code, 1) << run.output;
    const ProcessResult lint = runProcess(kXmllint, {"--noout", junit}, kDeadline);
    EXPECT_EQ(lint.code, 0) << lint.output;
    for (const std::string& report : {readFile(junit), readFile(csv), readFile(html), run.output}) {
        EXPECT_EQ(report.find("\xEF\xBF\xBE"), std::string::npos);
        EXPECT_EQ(report.find("\xE2\x80\xAE"), std::string::npos);
        EXPECT_NE(report.find("\\xe2\\x80\\xae"), std::string::npos);
    }
}

// 4,000 columns by 1,000 rows, of which the check file uses none: the
// targets are read in time and memory of a small multiple of the file.
TEST(HostileInput, WideTargetsFileIsBoundedInMemory)
{
    Scratch scratch;
    const LoopbackPort closed(false);
    std::string header = "host,port";
    std::string row = "127.0.0.1," + closed.port();
    for (int column = 0; column < 4000; ++column) {
        header += ",c" + std::to_string(column);
        row += ",v";
    }
    std::string text = header + "\n";
    for (int line = 0; line < 1000; ++line) {
        text += row + "\n";
    }
    const std::string targets = scratch.write("wide.csv", text);
    const std::string check = scratch.write("ok.toml", kSendFrame);
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult run =
        runProcess(kChecker, {check, "--targets", targets, "--rate", "100000"}, kDeadline);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(run.code, 1) << run.output.substr(0, 2000);
    EXPECT_NE(run.output.find("1000 devices in"), std::string::npos);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    // ru_maxrss is in KiB: the file is 8 MB, the faulty reader took 200 times that.
    EXPECT_LT(usage.ru_maxrss, 256 * 1024) << usage.ru_maxrss;
}

// A device that floods: its record is cut at 256 KiB, and the run says so.
TEST(HostileInput, RecordCutAt256KiBIsSaid)
{
    Scratch scratch;
    devicetools::SimulatorConfig config;
    config.faults.floodRate = 20000;
    config.faults.floodForMs = 1000;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    const std::string check =
        scratch.write("flood.toml", kSendFrame + "[[step]]\nwait = \"1500ms\"\n");
    const ProcessResult run = runProcess(
        kChecker, {check, "127.0.0.1:" + device.portText(), "--record", scratch.file("records")},
        kDeadline);
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("records of 1 device cut at 256 KiB each"), std::string::npos)
        << run.output;
}

} // namespace
