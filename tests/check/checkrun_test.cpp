#include "check/checkrun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using check::CheckFile;
using check::CheckRun;
using check::ExpectStep;
using check::Millis;
using check::SendStep;
using check::Step;
using check::StepOutcome;
using check::StepResult;
using check::WaitStep;
using namespace std::string_literals;

namespace
{

Step sendFrame(std::string command, std::string message = {})
{
    SendStep send;
    send.fields = {"B", "{id}", "39123439", std::move(command), std::move(message)};
    return Step{"", send};
}

Step expectFrame(std::optional<std::string> command, std::optional<std::string> message = {},
                 Millis within = Millis{0})
{
    ExpectStep expect;
    expect.frame.command = std::move(command);
    expect.frame.message = std::move(message);
    expect.within = within;
    return Step{"", expect};
}

[[maybe_unused]] Step expectText(std::string text)
{
    ExpectStep expect;
    expect.isFrame = false;
    expect.contains = std::move(text);
    return Step{"", expect};
}

CheckFile fileOf(std::vector<Step> steps)
{
    CheckFile file;
    file.answerTimeout = Millis{1000};
    file.steps = std::move(steps);
    return file;
}

CheckRun started(const CheckFile& file)
{
    CheckRun run(file, {{"id", "A1"}, {"name", "door 1"}});
    run.start(Millis{0});
    return run;
}

const std::string kWelcome = "[BA1=ENT-Welcome home\r\n\0"s;

} // namespace

TEST(CheckRun, SendsTheConsolesBlockThenMatchesTheAnswer)
{
    CheckRun run = started(fileOf({sendFrame("ENT", "Open"), expectFrame("ENT", "Welcome*")}));
    EXPECT_EQ(run.takeSends(), std::vector<std::string>{"[BA139123439=ENT-Open\r\n\0"s});
    EXPECT_EQ(run.nextDeadline(), Millis{1000});
    run.received(kWelcome, Millis{120});
    ASSERT_TRUE(run.finished());
    EXPECT_TRUE(run.passed());
    const std::vector<StepResult> results = run.takeResults();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1].stepName, "step 2: expect");
    EXPECT_EQ(results[1].answerTime, Millis{120});
    EXPECT_EQ(results[1].outcome, StepOutcome::Passed);
}
