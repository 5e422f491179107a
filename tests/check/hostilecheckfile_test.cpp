#include "check/checkfile.h"
#include "check/checkrun.h"
#include "check/stepaction.h"

#include "rowname.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <variant>

using check::CheckFile;
using check::CheckFileError;
using check::CheckRun;
using check::Millis;
using check::StepOutcome;

namespace
{

constexpr auto kGenerous = std::chrono::seconds(2);
constexpr int kLevels = 40000;

std::string repeated(const std::string& part, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += part;
    }
    return text;
}

// Texts that nest 40,000 levels deep in each shape the parser recurses on:
// refused where the bound is passed, before the parser goes down.
struct DeepRow {
    const char* name;
    std::string text;
    int column;
    const char* what;
};

const DeepRow kDeepRows[] = {
    {"deep_dotted_key_crashes", repeated("a.", kLevels) + "a=1\n", 64, "dotted parts"},
    {"deep_table_header_crashes", "[" + repeated("a.", kLevels) + "a]\n", 65, "dotted parts"},
    {"deep_quoted_key_parts", repeated("\"a\".", kLevels) + "a=1\n", 128, "dotted parts"},
    {"deep_inline_tables", "x = " + repeated("{a=", kLevels) + "1\n", 101, "nested"},
    {"deep_arrays", "x = " + repeated("[", kLevels) + "\n", 37, "nested"},
    {"deep_array_headers", repeated("[", kLevels) + "\n", 33, "nested"},
};

void PrintTo(const DeepRow& row, std::ostream* out)
{
    *out << row.name;
}

class DeepCheckFile : public testing::TestWithParam<DeepRow>
{
};

TEST_P(DeepCheckFile, IsRefusedWithItsPlaceNotACrash)
{
    const DeepRow& row = GetParam();
    const auto result = check::parseCheckFile("[[step]]\nwait = 5\n" + row.text, "deep.toml");
    ASSERT_TRUE(std::holds_alternative<CheckFileError>(result));
    const CheckFileError& error = std::get<CheckFileError>(result);
    EXPECT_EQ(error.line, 3) << error.text();
    EXPECT_EQ(error.column, row.column) << error.text();
    EXPECT_NE(error.what.find(row.what), std::string::npos) << error.text();
}

INSTANTIATE_TEST_SUITE_P(Rows, DeepCheckFile, testing::ValuesIn(kDeepRows), rowName<DeepRow>);

TEST(DeepCheckFile, DotsInStringsCommentsAndNumbersAreNoDepth)
{
    const std::string dots = repeated(".", 100);
    const auto result = check::parseCheckFile(
        "# " + dots + "\n[defaults]\ntimeout = \"1.5s\"\n" + "[[step]]\nname = \"" + dots +
            "\"\nwait = 5\n" + "[[step]]\nname = '''\n" + dots + "\n'''\nwait = 5\n",
        "dots.toml");
    ASSERT_TRUE(std::holds_alternative<CheckFile>(result))
        << std::get<CheckFileError>(result).text();
    EXPECT_EQ(std::get<CheckFile>(result).steps.size(), 2u);
}

CheckFile parsed(const std::string& text)
{
    auto result = check::parseCheckFile(text, "a.toml");
    if (const auto* error = std::get_if<CheckFileError>(&result)) {
        ADD_FAILURE() << error->text();
        return {};
    }
    return std::get<CheckFile>(result);
}

// A value of a few MiB in a step or an expect: refused once, for the device,
// in time and memory of the field's limit, not the value's size.
TEST(PlaceholderValues, HugeValueIsRefusedAtItsLimitNotFilled)
{
    const std::string huge(4 * 1024 * 1024, 'x');
    const check::DeviceValues values = {{"v", huge}};
    struct Row {
        const char* file;
        const char* reason;
    };
    const Row rows[] = {
        {"[[step]]\nsend = { media = \"B\", id = \"01\", command = \"ENT\", data = \"{v}{v}\" }\n",
         "step 1 (line 1): data must be at most 36 characters, not 8388608"},
        {"[[step]]\nsend = { text = \"{v}\" }\n", "text must be at most 2045 characters"},
        {"[[step]]\nexpect = { text = \"{v}\" }\n", "text must be at most"},
        {"[[step]]\nexpect = { message = \"{v}*\" }\n", "message must be at most"},
    };
    for (const Row& row : rows) {
        const CheckFile file = parsed(row.file);
        const auto start = std::chrono::steady_clock::now();
        const auto unfit = check::checkDeviceValues(file, values);
        CheckRun run(file, values);
        run.start(Millis{0});
        for (int i = 0; i < 100; ++i) {
            run.received("[B01=ENT-x\r\n", Millis{i});
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, kGenerous) << row.file;
        ASSERT_TRUE(unfit) << row.file;
        EXPECT_NE(unfit->find(row.reason), std::string::npos) << *unfit;
        EXPECT_TRUE(run.finished());
        EXPECT_TRUE(run.takeSends().empty());
        const auto results = run.takeResults();
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].outcome, StepOutcome::Failed);
    }
}

TEST(PlaceholderValues, MissingInALaterStepSendsNothingAtAll)
{
    const CheckFile file =
        parsed("[[step]]\nsend = { media = \"B\", id = \"01\", command = \"ENT\" }\n"
               "[[step]]\nsend = { text = \"zone {zone}\" }\n");
    CheckRun run(file, {{"id", "01"}});
    run.start(Millis{0});
    EXPECT_TRUE(run.takeSends().empty());
    ASSERT_TRUE(run.finished());
    EXPECT_FALSE(run.passed());
    const auto results = run.takeResults();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].reason, "step 2 (line 3): no value for {zone}");
}

TEST(PlaceholderValues, AnExpectIsFilledOnceAndItsBracesStayText)
{
    // A value holding braces is matched as it is, never filled again.
    const CheckFile file = parsed("[[step]]\nexpect = { text = \"{v}\" }\n");
    CheckRun run(file, {{"v", "{id}"}, {"id", "no"}});
    run.start(Millis{0});
    run.received("got {id}\n", Millis{1});
    ASSERT_TRUE(run.finished());
    EXPECT_TRUE(run.passed());
}

TEST(PlaceholderValues, UsedPlaceholdersAreTheOnlyColumnsNeeded)
{
    const CheckFile file = parsed(
        "[[step]]\nsend = { media = \"B\", id = \"{id}\", command = \"ENT\", data = \"{card}\" }\n"
        "[[step]]\nexpect = { message = \"{name}*\" }\n"
        "[[answer]]\nwhen = { command = \"{cmd}\" }\nsend = { text = \"{message}\" }\n");
    EXPECT_EQ(check::usedPlaceholders(file),
              (std::set<std::string, std::less<>>{"card", "cmd", "id", "message", "name"}));
}

} // namespace
