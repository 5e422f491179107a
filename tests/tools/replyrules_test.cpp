#include "faultmodes.h"
#include "replyrules.h"
#include "responder.h"
#include "rowname.h"

#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"
#include "protocol/framecheck.h"
#include "protocol/framedecoder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

using devicetools::FaultModes;
using devicetools::ReplyRules;
using devicetools::Responder;
using protocol::DecodedFrame;
using protocol::DelimiterMode;
using namespace std::string_literals;

namespace
{

DecodedFrame frame(DelimiterMode mode, std::string command, std::string data = "39123439",
                   std::string message = "Message / Description")
{
    return DecodedFrame{mode, "B", "A1", std::move(data), std::move(command), std::move(message)};
}

std::string repeated(std::string_view piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

struct FaultRow {
    const char* name;
    std::string text;
    std::string errorPart;
};

void PrintTo(const FaultRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::vector<FaultRow> kFaultRows = {
    {"no arrow", "ENT frame [B=ENT-", "line 1: expected COMMAND =>"},
    {"command of two characters", "EN => none", "line 1: the command must have 3 characters"},
    {"unknown kind", "ENT => reply x", "line 1: expected frame, text or none"},
    {"frame without dash", "ENT => frame [{media}={command}", "'[' '=' '-' in this order"},
    {"frame with dash before equal", "ENT => frame [-x=y", "'[' '=' '-' in this order"},
    {"unknown placeholder", "ENT => text {name} here", "unknown placeholder {name}"},
    {"text without text", "ENT => text ", "a text rule needs a text"},
    {"none with a template", "IGN => none x", "nothing may follow none"},
    {"second rule for a command, line counted", "# rules\n\nENT => none\nENT => none",
     "line 4: a second rule for ENT"},
    // 546 messages of up to 120 characters: more than one datagram takes.
    {"answer beyond one UDP datagram", "ENT => text " + repeated("{message}", 546),
     "line 1: the answer can reach 65,523 bytes, more than one UDP datagram takes"},
};

class ReplyRulesFault : public testing::TestWithParam<FaultRow>
{
};

TEST_P(ReplyRulesFault, IsRefusedWithItsLine)
{
    const auto rules = ReplyRules::parse(GetParam().text);
    ASSERT_FALSE(rules);
    const std::string error = rules.error().text();
    EXPECT_NE(error.find(GetParam().errorPart), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplyRulesFault, testing::ValuesIn(kFaultRows), rowName<FaultRow>);

constexpr const char* kRules = "# reply rules\r\n"
                               "ENT => frame [{media}{id}{data}=ACK-Welcome {message}\r\n"
                               "ERR => text Error {command} on {id}\r\n"
                               "IGN => none\r\n"
                               "*   => frame [{media}{id}=ANY-{command}\r\n";

struct RenderRow {
    const char* name;
    DecodedFrame received;
    std::string answer;
};

void PrintTo(const RenderRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::vector<RenderRow> kRenderRows = {
    {"frame rule, DEMO", frame(DelimiterMode::Demo, "ENT"),
     "[BA139123439=ACK-Welcome Message / Description\r\n\0"s},
    {"frame rule, RELEASE: delimiters as codes", frame(DelimiterMode::Release, "ENT"),
     "\x07"
     "BA139123439\x08"
     "ACK\x09"
     "Welcome Message / Description\r\n\0"s},
    {"delimiters inside a field stay", frame(DelimiterMode::Release, "ENT", "1=2-3", "[-="),
     "\x07"
     "BA11=2-3\x08"
     "ACK\x09"
     "Welcome [-=\r\n\0"s},
    {"text rule", frame(DelimiterMode::Release, "ERR"), "Error ERR on A1\r\n\0"s},
    {"none rule", frame(DelimiterMode::Demo, "IGN"), ""},
    {"any other command", frame(DelimiterMode::Demo, "TIM"), "[BA1=ANY-TIM\r\n\0"s},
};

class ReplyRulesRender : public testing::TestWithParam<RenderRow>
{
};

TEST_P(ReplyRulesRender, AnswersInTheModeOfTheRequest)
{
    const auto rules = ReplyRules::parse(kRules);
    ASSERT_TRUE(rules) << rules.error().text();
    const ReplyRules::Rule* rule = rules->find(GetParam().received.fields.command);
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(ReplyRules::render(*rule, GetParam().received), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplyRulesRender, testing::ValuesIn(kRenderRows),
                         rowName<RenderRow>);

TEST(ReplyRulesFile, LoadsAFileAndNamesAMissingOne)
{
    const std::string path = testing::TempDir() + "replyrules_test.rules";
    {
        std::ofstream file(path, std::ios::binary);
        file << kRules;
    }
    const auto rules = ReplyRules::load(path);
    std::remove(path.c_str());
    ASSERT_TRUE(rules) << rules.error().text();
    EXPECT_EQ(rules->rules().size(), 4u);
    EXPECT_EQ(rules->rules()[3].line, 5);

    const auto missing = ReplyRules::load(path);
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.error().text().find(path), std::string::npos);
}

TEST(ReplyRulesSize, AnAnswerThatFillsOneDatagramIsTheLimit)
{
    const std::size_t text = ReplyRules::kMaxAnswerSize - protocol::kLineEnd.size();
    const auto rules = ReplyRules::parse("ENT => text " + std::string(text, 'x'));
    ASSERT_TRUE(rules) << rules.error().text();
    EXPECT_EQ(ReplyRules::render(rules->rules().front(), frame(DelimiterMode::Demo, "ENT")).size(),
              ReplyRules::kMaxAnswerSize);
    EXPECT_FALSE(ReplyRules::parse("ENT => text " + std::string(text + 1, 'x')));
}

// Files that are no rule file: each refused at once, with the reason, and
// never read beyond the size limit.
enum class Unusable { Missing, Directory, Fifo, Device, Oversized };

struct FileRow {
    const char* name;
    Unusable kind;
    std::string errorPart;
};

void PrintTo(const FileRow& row, std::ostream* out)
{
    *out << row.name;
}

class ReplyRulesUnusableFile : public testing::TestWithParam<FileRow>
{
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "rulesXXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // The path to load for the row's kind.
    std::string make(Unusable kind)
    {
        const std::string path = folder_ + "/rules";
        switch (kind) {
        case Unusable::Missing:
            break;
        case Unusable::Directory:
            std::filesystem::create_directory(path);
            break;
        case Unusable::Fifo:
            EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
            break;
        case Unusable::Device:
            return "/dev/zero";
        case Unusable::Oversized: {
            // Comments only: the size alone refuses it.
            std::ofstream file(path, std::ios::binary);
            file << '#' << std::string(64 * 1024, 'x') << '\n';
            break;
        }
        }
        return path;
    }

    std::string folder_;
};

TEST_P(ReplyRulesUnusableFile, IsRefusedAtOnceWithTheReason)
{
    const std::string path = make(GetParam().kind);
    const auto start = std::chrono::steady_clock::now();
    const auto rules = ReplyRules::load(path);
    EXPECT_FALSE(rules);
    const std::string error = rules.error().text();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(error.find("cannot read the rule file " + path + ": " + GetParam().errorPart),
              std::string::npos)
        << error;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplyRulesUnusableFile,
    testing::Values(FileRow{"missing", Unusable::Missing, "No such file or directory"},
                    FileRow{"directory", Unusable::Directory, "it is a directory"},
                    FileRow{"FIFO without a writer", Unusable::Fifo, "it is a FIFO"},
                    FileRow{"endless device", Unusable::Device, "it is a device"},
                    FileRow{"one byte too many", Unusable::Oversized,
                            "it has more than 65,536 bytes"}),
    rowName<FileRow>);

TEST(ReplyRulesFile, TheShippedExampleLoads)
{
    const auto rules = ReplyRules::load(EXAMPLE_RULES_PATH);
    ASSERT_TRUE(rules) << rules.error().text();
    for (const char* command : {"ENT", "EXT", "DEL", "IGN", "ERR", "END", "TIM"}) {
        EXPECT_NE(rules->find(command), nullptr) << command;
    }
}

// The console's frame check as a DEMO or RELEASE console runs it: true when
// the block passes.
bool passesCheck(std::string block, bool release)
{
    protocol::DelimiterSet delimiters;
    delimiters.setModeFlag(release ? 1 : 0);
    protocol::FrameCheck check(delimiters);
    block.resize(std::max<std::size_t>(block.size(), protocol::FrameCheck::kErrorFootprint));
    auto* bytes = reinterpret_cast<std::uint8_t*>(block.data());
    check.check(bytes, static_cast<std::uint32_t>(block.size()),
                static_cast<std::uint32_t>(block.size()));
    return check.dashFound() != 0;
}

TEST(FaultModesShape, MalformedBlockFailsTheCheckInBothModes)
{
    FaultModes faults;
    faults.malformed = true;
    const std::string answer = faults.shape("[BA1=ENT-\r\n\0"s);
    EXPECT_EQ(answer, FaultModes::kMalformedBlock);
    EXPECT_FALSE(passesCheck(answer, false));
    EXPECT_FALSE(passesCheck(answer, true));
}

TEST(FaultModesShape, NulGoesInTheMiddleBeforeTheLineEnd)
{
    FaultModes faults;
    faults.nulInside = true;
    EXPECT_EQ(faults.shape("[BA139123439=ENT-Message / Description\r\n\0"s),
              "[BA139123439=ENT-Me\0ssage / Description\r\n\0"s);
    EXPECT_EQ(faults.shape(""), "") << "no answer stays no answer";
}

TEST(FaultModesPieces, CutsAtTheOffsetsInsideTheBlock)
{
    FaultModes faults;
    EXPECT_EQ(faults.pieces("abcdef"), (std::vector<std::string_view>{"abcdef"}));
    faults.splitAt = {1, 3, 6, 9};
    EXPECT_EQ(faults.pieces("abcdef"), (std::vector<std::string_view>{"a", "bc", "def"}));
}

TEST(ResponderAnswer, RuleFirstThenEchoUnlessEchoIsOff)
{
    const auto rules = ReplyRules::parse("IGN => none\nERR => text e");
    ASSERT_TRUE(rules) << rules.error().text();
    const FaultModes faults;
    const Responder echoing(&*rules, true, faults);
    const Responder silent(&*rules, false, faults);
    const DecodedFrame release = frame(DelimiterMode::Release, "EXT");
    EXPECT_EQ(echoing.answerTo(release), "\x07"
                                         "BA139123439\x08"
                                         "EXT\x09"
                                         "Message / Description\r\n\0"s);
    EXPECT_EQ(silent.answerTo(release), "");
    EXPECT_EQ(echoing.answerTo(frame(DelimiterMode::Demo, "IGN")), "");
    EXPECT_EQ(silent.answerTo(frame(DelimiterMode::Demo, "ERR")), "e\r\n\0"s);
}

} // namespace
