#include "check/checkfile.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

using check::CheckFile;
using check::CheckFileError;

TEST(CheckFile, ReadsTheDocumentedShape)
{
    const auto result = check::parseCheckFile(R"(
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
)",
                                              "a.toml");
    ASSERT_TRUE(std::holds_alternative<CheckFile>(result))
        << std::get<CheckFileError>(result).text();
    const CheckFile& file = std::get<CheckFile>(result);
    EXPECT_EQ(file.port, 4000);
    EXPECT_EQ(file.answerTimeout.count(), 1500);
    ASSERT_EQ(file.steps.size(), 2u);
    EXPECT_EQ(check::parseCheckFile(check::writeCheckFile(file), "b.toml"),
              check::CheckFileResult(file));
}
