#include "check/checkfile.h"
#include "check/checkrun.h"

#include "rowname.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using check::CheckFile;
using check::CheckRun;
using check::Millis;

namespace
{

std::string repeated(const std::string& part, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += part;
    return text;
}

// Each shape the parser recurses on, 40,000 levels deep on line 3: refused
// where the bound is passed, before the parser goes down.
struct DeepRow {
    const char* name;
    std::string text;
    int column;
    const char* what;
};

void PrintTo(const DeepRow& row, std::ostream* out)
{
    *out << row.name;
}

const DeepRow kDeepRows[] = {
    {"deep_dotted_key_crashes", repeated("a.", 40000) + "a=1", 64, "dotted parts"},
    {"deep_table_header_crashes", "[" + repeated("a.", 40000) + "a]", 65, "dotted parts"},
    {"deep_quoted_key_parts", repeated("\"a\".", 40000) + "a=1", 128, "dotted parts"},
    {"deep_inline_tables", "x = " + repeated("{a=", 40000) + "1", 101, "nested"},
    {"deep_arrays", "x = " + repeated("[", 40000), 37, "nested"},
    {"deep_array_headers", repeated("[", 40000), 33, "nested"},
};

class DeepCheckFile : public testing::TestWithParam<DeepRow>
{
};

TEST_P(DeepCheckFile, IsRefusedWithItsPlaceNotACrash)
{
    const auto result =
        check::parseCheckFile("[[step]]\nwait = 5\n" + GetParam().text + "\n", "deep.toml");
    ASSERT_FALSE(result.ok());
    const base::Error& error = result.error();
    EXPECT_EQ(error.detail(), "deep.toml:3:" + std::to_string(GetParam().column)) << error.text();
    EXPECT_NE(error.reason().find(GetParam().what), std::string::npos) << error.text();
}

INSTANTIATE_TEST_SUITE_P(Rows, DeepCheckFile, testing::ValuesIn(kDeepRows), rowName<DeepRow>);

TEST(DeepCheckFile, DotsInStringsCommentsAndTimesAreNoDepth)
{
    const std::string dots = repeated(".", 100);
    const auto result = check::parseCheckFile(
        "# " + dots + "\n[defaults]\ntimeout = \"1.5s\"\n[[step]]\nname = \"" + dots +
            "\"\nwait = 5\n[[step]]\nname = '''\n" + dots + "\n'''\nwait = 5\n",
        "dots.toml");
    ASSERT_TRUE(result.ok()) << result.error().text();
}

CheckFile parsed(const std::string& text)
{
    return *check::parseCheckFile(text, "a.toml");
}

// A 4 MiB value in a send or an expect: judged once, for the device, in
// time and memory of the field's limit; nothing is sent.
TEST(PlaceholderValues, HugeValueIsRefusedAtItsLimitNotFilled)
{
    const check::DeviceValues values = {{"v", std::string(4 << 20, 'x')}};
    const std::pair<const char*, const char*> rows[] = {
        {"send = { media = \"B\", id = \"01\", command = \"ENT\", data = \"{v}{v}\" }",
         "step 1 (line 1): data must be at most 36 characters, not 8388608"},
        {"send = { text = \"{v}\" }", "text must be at most 2045 characters"},
        {"expect = { text = \"{v}\" }", "text must be at most 4090 characters once filled"},
        {"expect = { message = \"{v}*\" }", "message must be at most"},
    };
    for (const auto& [step, reason] : rows) {
        const CheckFile file = parsed(std::string("[[step]]\n") + step + "\n");
        const auto start = std::chrono::steady_clock::now();
        CheckRun run(file, values);
        const check::Instant begin{};
        run.start(begin);
        for (int i = 0; i < 100; ++i)
            run.received("[B01=ENT-x\r\n", check::Chunk::Stream, begin + Millis{i});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << step;
        EXPECT_NE(check::checkDeviceValues(file, values).text().find(reason),
                  std::string::npos)
            << step;
        EXPECT_TRUE(run.finished() && run.takeSends().empty());
    }
}

TEST(PlaceholderValues, MissingInALaterStepSendsNothingAtAll)
{
    CheckRun run(parsed("[[step]]\nsend = { media = \"B\", id = \"01\", command = \"ENT\" }\n"
                        "[[step]]\nsend = { text = \"zone {zone}\" }\n"),
                 {});
    run.start(check::Instant{});
    EXPECT_TRUE(run.takeSends().empty());
    EXPECT_TRUE(run.finished() && !run.passed());
    EXPECT_EQ(run.takeResults().at(0).reason, "step 2 (line 3): no value for {zone}");
}

// Filled once per step: a value's braces are matched as they are.
TEST(PlaceholderValues, AnExpectIsFilledOnceAndItsBracesStayText)
{
    CheckRun run(parsed("[[step]]\nexpect = { text = \"{v}\" }\n"), {{"v", "{id}"}, {"id", "no"}});
    run.start(check::Instant{});
    run.received("got {id}\n", check::Chunk::Stream, check::Instant{} + Millis{1});
    EXPECT_TRUE(run.passed());
    EXPECT_EQ(check::usedPlaceholders(parsed("[[step]]\nsend = { text = \"{a}{b}\" }\n[[answer]]\n"
                                             "when = { id = \"{c}\" }\nsend = { text = \"x\" }\n")),
              (std::set<std::string, std::less<>>{"a", "b", "c"}));
}

} // namespace
