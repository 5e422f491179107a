#include "check/checkfile.h"

#include "rowname.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <variant>

using check::CheckFile;
using check::Millis;
using namespace std::string_literals;

namespace
{

CheckFile parsed(const std::string& text)
{
    const auto result = check::parseCheckFile(text, "a.toml");
    if (!result) {
        ADD_FAILURE() << result.error().text();
        return {};
    }
    return *result;
}

} // namespace

TEST(CheckFile, ReadsTheDocumentedShapeAndWritesItBackStably)
{
    const CheckFile file = parsed(R"(
[defaults]
protocol = "udp"
port = 4000
mode = "RELEASE"
timeout = "1.5s"
repeat = 2

[[step]]
name = "card accepted"
send = { media = "B", id = "{id}", data = "39123439", command = "ENT", message = "Open" }

[[step]]
expect = { command = "ENT", message = "Welcome*", within = "1s" }
repeat = 3

[[step]]
send = { text = "PING \"{name}\"\ttab \u0001" }

[[step]]
expect = { text = "PO{{NG}" }

[[step]]
wait = 250

[[answer]]
name = "ack events"
when = { command = "EVT", message = "" }
send = { media = "{media}", id = "{id}", command = "ACK", message = "{message}" }
)");
    EXPECT_EQ(file.transport, check::Transport::Udp);
    EXPECT_EQ(file.port, 4000);
    EXPECT_EQ(file.mode, protocol::DelimiterMode::Release);
    EXPECT_EQ(file.answerTimeout, Millis{1500});
    EXPECT_EQ(file.repeat, 2u);
    ASSERT_EQ(file.steps.size(), 5u);
    EXPECT_EQ(file.steps[0].line, 9);
    EXPECT_EQ(std::get<check::SendStep>(file.steps[0].action).fields.deviceId, "{id}");
    EXPECT_EQ(std::get<check::ExpectStep>(file.steps[1].action).within, Millis{1000});
    EXPECT_EQ(file.steps[1].repeat, 3u);
    EXPECT_EQ(std::get<check::SendStep>(file.steps[2].action).text, "PING \"{name}\"\ttab \x01");
    EXPECT_EQ(std::get<check::WaitStep>(file.steps[4].action).duration, Millis{250});
    ASSERT_EQ(file.answers.size(), 1u);
    EXPECT_EQ(file.answers[0].when.message, "");
    EXPECT_FALSE(file.answers[0].when.media);

    const std::string written = check::writeCheckFile(file);
    EXPECT_EQ(parsed(written), file) << written;
    EXPECT_EQ(check::writeCheckFile(parsed(written)), written);
    EXPECT_NE(written.find("send = { media = \"B\", id = \"{id}\", data = \"39123439\", command = "
                           "\"ENT\", message = \"Open\" }\n"),
              std::string::npos)
        << written;
}

TEST(CheckFile, WritesAnyTextItCanHoldSoThatItReadsBack)
{
    CheckFile file;
    check::SendStep send;
    send.isFrame = false;
    send.text = "\"\\\r\n\0\x7f é ☃ {{x}}"s;
    file.steps.push_back({"quotes \" and \\ in a name", send});
    check::ExpectStep expect;
    expect.frame.data = "";
    file.steps.push_back({"", expect});
    file.tls = true;
    EXPECT_EQ(parsed(check::writeCheckFile(file)), file) << check::writeCheckFile(file);

    // Bytes that are not UTF-8 cannot stand in a file as they are; the file
    // written still reads.
    file.steps[0].name = "\xff\xfe";
    EXPECT_EQ(check::parseCheckFile(check::writeCheckFile(file), "b")->steps[0].name,
              "\u00ff\u00fe");
}

struct TimeRow {
    const char* name;
    std::string value;
    long long millis; // 0: refused
};

void PrintTo(const TimeRow& row, std::ostream* out)
{
    *out << row.name;
}

class CheckFileTimes : public testing::TestWithParam<TimeRow>
{
};

TEST_P(CheckFileTimes, AreWholeMillisecondsUpToAnHour)
{
    const auto result = check::parseCheckFile("[defaults]\ntimeout = " + GetParam().value, "t");
    if (GetParam().millis == 0) {
        EXPECT_FALSE(result.ok());
    } else {
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result->answerTimeout.count(), GetParam().millis);
    }
}

const TimeRow kTimeRows[] = {
    {"milliseconds", R"("500ms")", 500},
    {"seconds", R"("2s")", 2000},
    {"fraction", R"("1.5s")", 1500},
    {"trailing zeros", R"("0.2500s")", 250},
    {"integer", "750", 750},
    {"an hour", R"("3600s")", 3600000},
    {"past an hour", R"("3601s")", 0},
    {"zero", R"("0ms")", 0},
    {"negative", "-5", 0},
    {"sub millisecond", R"("1.0005s")", 0},
    {"no unit", R"("15")", 0},
    {"minutes", R"("2m")", 0},
    {"float", "1.5", 0},
    {"huge", R"("99999999999999999999s")", 0},
};
INSTANTIATE_TEST_SUITE_P(Rows, CheckFileTimes, testing::ValuesIn(kTimeRows), rowName<TimeRow>);

struct ErrorRow {
    const char* name;
    std::string text;
    int line;
    int column;
    std::string what; // a part of the message
};

void PrintTo(const ErrorRow& row, std::ostream* out)
{
    *out << row.name;
}

class CheckFileMistakes : public testing::TestWithParam<ErrorRow>
{
};

TEST_P(CheckFileMistakes, AreRefusedWhereTheyStand)
{
    const ErrorRow& row = GetParam();
    const auto result = check::parseCheckFile(row.text, "x.toml");
    ASSERT_FALSE(result.ok());
    const base::Error& error = result.error();
    EXPECT_EQ(error.fault(), base::Fault::BadInput);
    EXPECT_EQ(error.detail(),
              "x.toml:" + std::to_string(row.line) + ":" + std::to_string(row.column));
    EXPECT_NE(error.reason().find(row.what), std::string::npos) << error.text();
    EXPECT_EQ(error.text(), error.detail() + ": " + error.reason());
}

const ErrorRow kErrorRows[] = {
    {"toml syntax", "[defaults]\nport = = 3\n", 2, 8, ""},
    {"unknown top key", "\n\nsteps = 1\n", 3, 1, "unknown key 'steps' in the file"},
    {"unknown step key", "[[step]]\nwait = 5\nsned = 1\n", 3, 1, "unknown key 'sned'"},
    {"unknown send key", "[[step]]\nsend = { text = \"a\", colour = 1 }\n", 2, 22, "'colour'"},
    {"wrong type", "[defaults]\nport = \"21210\"\n", 2, 8, "'port' must be a whole number"},
    {"port range", "[defaults]\nport = 70000\n", 2, 8, "from 1 to 65535"},
    {"protocol", "[defaults]\nprotocol = \"sctp\"\n", 2, 12, "\"tcp\" or \"udp\""},
    {"mode", "[defaults]\nmode = \"demo\"\n", 2, 8, "\"DEMO\" or \"RELEASE\""},
    {"tls not a switch", "[defaults]\ntls = \"yes\"\n", 2, 7, "'tls' must be true or false"},
    {"tls over udp", "[defaults]\nprotocol = \"udp\"\ntls = true\n", 3, 7, "no TLS over UDP"},
    {"bad time", "[[step]]\nwait = \"soon\"\n", 2, 8, "'wait' must be a time"},
    {"send and expect", "[[step]]\nsend = { text = \"a\" }\nexpect = { text = \"b\" }\n", 3, 1,
     "both 'send' and 'expect'"},
    {"no action", "[[step]]\nname = \"idle\"\n", 1, 1, "needs one of"},
    {"step as table", "[step]\nwait = 1\n", 1, 1, "written [[step]]"},
    {"missing command", "[[step]]\nsend = { media = \"B\", id = \"A1\" }\n", 2, 8,
     "Error Command, have to be added !"},
    {"missing media", "[[step]]\nsend = { id = \"A1\", command = \"ENT\" }\n", 2, 8,
     "Error Media, have to be added !"},
    {"media too long", "[[step]]\nsend = { media = \"BB\", id = \"A1\", command = \"ENT\" }\n", 2,
     18, "media must be 1 character, not 2"},
    {"data too long",
     "[[step]]\nsend = { media = \"B\", id = \"A1\", command = \"ENT\", data = \"" +
         std::string(37, 'd') + "\" }\n",
     2, 58, "data must be at most 36 characters, not 37"},
    {"text too long", "[[step]]\nsend = { text = \"" + std::string(2046, 't') + "\" }\n", 2, 17,
     "text must be at most 2045"},
    {"text and fields", "[[step]]\nsend = { text = \"a\", command = \"ENT\" }\n", 2, 32,
     "both a text and frame fields"},
    {"broken placeholder", "[[step]]\nsend = { text = \"a {id\" }\n", 2, 17,
     "'{' at character 3 starts no placeholder"},
    {"matcher never matches", "[[step]]\nexpect = { command = \"ENTER\" }\n", 2, 22,
     "can never match"},
    {"expected line end", "[[step]]\nexpect = { text = \"a\\nb\" }\n", 2, 19, "line end"},
    {"repeat zero", "[[step]]\nwait = 1\nrepeat = 0\n", 3, 10, "from 1 to 100000"},
    {"too many runs", "[defaults]\nrepeat = 100000\n[[step]]\nwait = 1\nrepeat = 11\n", 3, 1,
     "more than 1000000 times"},
    {"answer without send", "[[answer]]\nwhen = { command = \"EVT\" }\n", 1, 1, "needs 'when'"},
    {"answer when text", "[[answer]]\nwhen = { text = \"x\" }\nsend = { text = \"y\" }\n", 2, 10,
     "unknown key 'text'"},
    // Letters outside quotes, where the parser looks for white space.
    {"letter after equal", "[[step]]\nname = \u00e9\nwait = 1\n", 2, 8, ""},
    {"letter in a header", "[de\uFEBF[faults]\n", 1, 4, ""},
    {"not utf-8", "[[step]]\nname = \"\xff\"\nwait = 1\n", 2, 8, "utf-8"},
    {"value not text", "[values]\nid = 7\n", 2, 6, "'id' must be"},
    {"value name", "[values]\n\"a b\" = \"x\"\n", 2, 1, "no placeholder name"},
    {"value too long", "[values]\nid = \"" + std::string(2046, 'v') + "\"\n", 2, 6, "at most 2045"},
};
INSTANTIATE_TEST_SUITE_P(Rows, CheckFileMistakes, testing::ValuesIn(kErrorRows), rowName<ErrorRow>);

TEST(CheckFile, LoadsOnlyRegularFilesOfBoundedSize)
{
    const std::filesystem::path folder = testing::TempDir() + "checkfile_load";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string good = (folder / "good.toml").string();
    std::ofstream(good) << "[[step]]\nwait = 5\n";
    const auto loaded = check::loadCheckFile(good);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded->steps.size(), 1u);

    const std::string big = (folder / "big.toml").string();
    std::ofstream(big) << std::string(check::CheckFileLimits::kMaxFileBytes + 1, '#');
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {big, fifo, folder.string(), (folder / "none").string()}) {
        const auto refused = check::loadCheckFile(path);
        ASSERT_FALSE(refused.ok()) << path;
        EXPECT_TRUE(refused.error().text().starts_with(path + ": "));
    }
    std::filesystem::remove_all(folder);
}

TEST(CheckFile, DeviceValuesAreCheckedBeforeAnyDeviceIsContacted)
{
    const CheckFile file = parsed(R"(
[[step]]
send = { media = "{media}", id = "{id}", command = "ENT" }
[[step]]
expect = { message = "Hello {name}*" }
[[answer]]
when = { command = "EVT" }
send = { media = "{media}", id = "{id}", command = "ACK", message = "{message} {zone}" }
)");
    const check::DeviceValues fine = {{"media", "B"}, {"id", "A1"}, {"name", "x"}, {"zone", "z"}};
    EXPECT_TRUE(check::checkDeviceValues(file, fine).ok());
    check::DeviceValues values = fine;
    values["id"] = "A12";
    EXPECT_EQ(check::checkDeviceValues(file, values).text(),
              "step 1 (line 2): id must be 2 characters, not 3");
    values = fine;
    values.erase("name");
    EXPECT_EQ(check::checkDeviceValues(file, values).text(),
              "step 2 (line 4): no value for {name}");
    values = fine;
    values.erase("zone");
    EXPECT_EQ(check::checkDeviceValues(file, values).text(),
              "answer 1 (line 6): no value for {zone}");
}

// The example file failed with "no value for {id}" wherever no targets list
// gave one: a file's own [values] are the defaults a device's values override.
TEST(CheckFile, DefaultValuesFillWhatTheDeviceLacks)
{
    const CheckFile file = parsed(R"(
[values]
id = "A1"
"zone.name" = "hall"
[[step]]
send = { media = "B", id = "{id}", command = "ENT", message = "{zone.name} {port}" }
)");
    EXPECT_EQ(file.values.at("zone.name"), "hall");
    EXPECT_EQ(*check::parseCheckFile(check::writeCheckFile(file), "x"), file);
    EXPECT_EQ(check::stepPlaceholders(file), (std::vector<std::string>{"id", "zone.name", "port"}));
    EXPECT_EQ(check::checkDeviceValues(file, {}).text(), "step 1 (line 5): no value for {port}");
    EXPECT_TRUE(check::checkDeviceValues(file, {{"port", "1"}}).ok());
    const check::DeviceValues device = check::valuesWithDefaults(file, {{"id", "B2"}});
    EXPECT_EQ(device.at("id"), "B2");
    EXPECT_EQ(device.at("zone.name"), "hall");
}
