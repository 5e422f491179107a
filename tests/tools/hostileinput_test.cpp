#include "checkerfixtures.h"
#include "childprocess.h"
#include "simulatorundertest.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace
{

constexpr auto kDeadline = 30s;
const std::string kChecker = DEVICECHECK_PATH;
const std::string kSendFrame =
    "[[step]]\nsend = { media = \"B\", id = \"01\", command = \"ENT\" }\n";

std::string repeated(const std::string& part, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += part;
    return text;
}

// Hostile check files, report paths and record folders, each refused with
// its reason and exit 2 before any device is contacted; in the scratch
// folder "fifo", "link" (to "kept"), "open" (0777) and "linkdir" (to a
// private folder) exist, and `@` in an argument stands for the folder.
struct RefusedRow {
    const char* name;
    std::string checkFile;
    std::vector<std::string> arguments;
    const char* message;
};

const RefusedRow kRefusedRows[] = {
    {"deep_dotted_key_crashes",
     repeated("a.", 40000) + "a=1\n",
     {},
     "c.toml:1:64: a key with more"},
    {"report_chmods_a_device", kSendFrame, {"--junit", "/dev/null"}, "/dev/null: it is a device"},
    {"report_fifo_hangs", kSendFrame, {"--csv", "@/fifo"}, "fifo: it is a FIFO"},
    {"report_through_a_link", kSendFrame, {"--html", "@/link"}, "link: it is a symbolic link"},
    {"same_report_path_twice", kSendFrame, {"--junit", "@/r", "--csv", "@/./r"}, "for two reports"},
    {"refused_record_folder_contacts", kSendFrame, {"--record", "@/open"}, "will not record in"},
    {"record_link_with_trailing_slash", kSendFrame, {"--record", "@/linkdir/"}, "not a folder"},
};

class HostileInput : public testing::TestWithParam<RefusedRow>
{
};

TEST_P(HostileInput, IsRefusedBeforeAnyDeviceIsContacted)
{
    Scratch scratch;
    const LoopbackPort device(true);
    ::mkfifo(scratch.file("fifo").c_str(), 0600);
    fs::create_symlink(scratch.write("kept", "kept"), scratch.file("link"));
    fs::create_directory(scratch.file("open"));
    fs::permissions(scratch.file("open"), fs::perms::all);
    fs::create_directory(scratch.file("private"));
    fs::create_directory_symlink(scratch.file("private"), scratch.file("linkdir"));
    struct stat null {
    };
    ::stat("/dev/null", &null);
    std::vector<std::string> arguments{scratch.write("c.toml", GetParam().checkFile),
                                       "127.0.0.1:" + device.port()};
    for (std::string argument : GetParam().arguments)
        arguments.push_back(std::regex_replace(argument, std::regex("@"), scratch.file("")));
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult run = runProcess(kChecker, arguments, kDeadline);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(run.code, 2) << run.output;
    EXPECT_NE(run.output.find(GetParam().message), std::string::npos) << run.output;
    EXPECT_FALSE(device.wasContacted()) << run.output;
    struct stat nullAfter {
    };
    ::stat("/dev/null", &nullAfter);
    EXPECT_EQ(nullAfter.st_mode, null.st_mode);
    EXPECT_EQ(readFile(scratch.file("kept")), "kept");
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileInput, testing::ValuesIn(kRefusedRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A 4 MiB value in a step, and a value missing only from a later step: the
// devices are never contacted, and the run says why, at once.
TEST(HostileInput, PlaceholderValuesAreCheckedBeforeTheFirstByte)
{
    Scratch scratch;
    const LoopbackPort device(true);
    const std::string check =
        scratch.write("v.toml", kSendFrame + "[[step]]\nsend = { text = \"{big}\" }\n" +
                                    "[[step]]\nexpect = { text = \"{big}\" }\n" +
                                    "[[step]]\nsend = { text = \"{zone}\" }\n");
    const std::string host = "127.0.0.1," + device.port() + ",";
    const ProcessResult run = runProcess(
        kChecker,
        {check, "--targets",
         scratch.write("t.csv", "host,port,big,zone\n" + host + std::string(4 << 20, 'x') + ",1\n"),
         "--targets", scratch.write("m.csv", "host,port,big\n" + host + "b\n")},
        10s);
    EXPECT_EQ(run.code, 1) << run.output;
    for (const char* reason : {"device values: step 2 (line 3): text must be at most 2045 "
                               "characters, not 4194304",
                               "device values: step 4 (line 7): no value for {zone}"}) {
        EXPECT_NE(run.output.find(reason), std::string::npos) << run.output.substr(0, 2000);
    }
    EXPECT_FALSE(device.wasContacted());
}

// U+FFFE, U+FFFF and a right-to-left override in the check file's and a
// device's name: the JUnit report is still XML, and no report keeps them.
TEST(HostileInput, JunitReportWithNoncharactersIsValidXml)
{
    Scratch scratch;
    const std::string odd = "\xEF\xBF\xBE\xEF\xBF\xBF\xE2\x80\xAE";
    const LoopbackPort closed(false);
    const std::string targets =
        scratch.write("t.csv", "host,port,name\n127.0.0.1," + closed.port() + ",door" + odd + "\n");
    const std::vector<std::string> reports{scratch.file("r.xml"), scratch.file("r.csv"),
                                           scratch.file("r.html")};
    const ProcessResult run =
        runProcess(kChecker,
                   {scratch.write("c" + odd + ".toml", kSendFrame), "--targets", targets, "--junit",
                    reports[0], "--csv", reports[1], "--html", reports[2]},
                   kDeadline);
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_EQ(runProcess("/usr/bin/xmllint", {"--noout", reports[0]}, kDeadline).code, 0);
    for (const std::string& report :
         {readFile(reports[0]), readFile(reports[1]), readFile(reports[2]), run.output}) {
        EXPECT_EQ(report.find("\xEF\xBF\xBE"), std::string::npos);
        EXPECT_NE(report.find("\\xe2\\x80\\xae"), std::string::npos) << report;
    }
}

// 4,000 columns by 1,000 rows (8 MB), none of them used: read in time and
// in memory of a small multiple of the file (the faulty reader took 200 times it).
TEST(HostileInput, WideTargetsFileIsBoundedInMemory)
{
    Scratch scratch;
    const LoopbackPort closed(false);
    const std::string row = "127.0.0.1," + closed.port() + repeated(",v", 4000) + "\n";
    std::string header = "host,port";
    for (int column = 0; column < 4000; ++column)
        header += ",c" + std::to_string(column);
    const std::string targets = scratch.write("wide.csv", header + "\n" + repeated(row, 1000));
    const ProcessResult run = runProcess(
        kChecker, {scratch.write("c.toml", kSendFrame), "--targets", targets, "--rate", "100000"},
        kDeadline);
    EXPECT_NE(run.output.find("1000 devices in"), std::string::npos) << run.output.substr(0, 500);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's quarantine alone keeps up to 256 MiB of freed memory.
    constexpr long kMaxKiB = 1024 * 1024;
#else
    constexpr long kMaxKiB = 256 * 1024;
#endif
    EXPECT_LT(usage.ru_maxrss, kMaxKiB) << "KiB";
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
    const ProcessResult run =
        runProcess(kChecker,
                   {scratch.write("c.toml", kSendFrame + "[[step]]\nwait = \"1500ms\"\n"),
                    "127.0.0.1:" + device.portText(), "--record", scratch.file("records")},
                   kDeadline);
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("records of 1 device cut at 256 KiB each"), std::string::npos)
        << run.output;
}

} // namespace
