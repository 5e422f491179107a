#include "check/checkrun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using check::CheckFile;
using check::CheckRun;
using check::Chunk;
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

check::Instant at(long milliseconds)
{
    return check::Instant(Millis{milliseconds});
}

Step sendFrame(std::string command, std::string message = {})
{
    SendStep send;
    send.fields = {"B", "{id}", "39123439", std::move(command), std::move(message)};
    return Step{"", send};
}

Step sendText(std::string text)
{
    SendStep send;
    send.isFrame = false;
    send.text = std::move(text);
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

Step expectText(std::string text)
{
    ExpectStep expect;
    expect.isFrame = false;
    expect.contains = std::move(text);
    return Step{"", expect};
}

Step repeated(Step step, std::uint32_t times)
{
    step.repeat = times;
    return step;
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
    run.start(at(0));
    return run;
}

const std::string kWelcome = "[BA1=ENT-Welcome home\r\n\0"s;

} // namespace

TEST(CheckRun, SendsTheConsolesBlockThenMatchesTheAnswer)
{
    CheckRun run = started(fileOf({sendFrame("ENT", "Open"), expectFrame("ENT", "Welcome*")}));
    EXPECT_EQ(run.takeSends(), std::vector<std::string>{"[BA139123439=ENT-Open\r\n\0"s});
    EXPECT_EQ(run.nextDeadline(), at(1000));
    run.received(kWelcome, Chunk::Stream, at(120));
    ASSERT_TRUE(run.finished());
    EXPECT_TRUE(run.passed());
    const std::vector<StepResult> results = run.takeResults();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1].stepName, "step 2: expect");
    EXPECT_EQ(results[1].answerTime, Millis{120});
    EXPECT_EQ(results[1].outcome, StepOutcome::Passed);
}

TEST(CheckRun, ReleaseFramesAndTextsLeaveAsTheConsoleWritesThem)
{
    CheckFile file = fileOf({sendFrame("ENT", "Open"), sendText("PING {name}")});
    file.mode = protocol::DelimiterMode::Release;
    CheckRun run = started(file);
    EXPECT_EQ(run.takeSends(), (std::vector<std::string>{"\x07"
                                                         "BA139123439\x08"
                                                         "ENT\x09"
                                                         "Open\r\n\0"s,
                                                         "PING door 1\r\n\0"s}));
    EXPECT_TRUE(run.passed());
}

TEST(CheckRun, MatchesFramesWhateverPiecesTheyArriveIn)
{
    CheckRun byBytes = started(fileOf({expectFrame("ENT")}));
    std::size_t i = 0;
    for (; i < kWelcome.size() && !byBytes.finished(); ++i) {
        byBytes.received(kWelcome.substr(i, 1), Chunk::Stream, at(static_cast<long>(i)));
    }
    EXPECT_TRUE(byBytes.passed());
    EXPECT_EQ(i, kWelcome.size() - 1); // at the line feed
    EXPECT_EQ(byBytes.takeResults().at(0).answerTime, Millis{kWelcome.size() - 2});

    // Two frames in one piece serve two expects; a third waits for more.
    CheckRun merged = started(fileOf({expectFrame("ENT"), expectFrame("EXT"), expectFrame("ENT")}));
    merged.received("[BA1=ENT-a\r\n[BA1=EXT-b\n[BA1=E", Chunk::Stream, at(5));
    EXPECT_EQ(merged.takeResults().size(), 2u);
    EXPECT_FALSE(merged.finished());
    merged.received("NT-c\0"s, Chunk::Stream, at(9));
    EXPECT_TRUE(merged.passed());
}

TEST(CheckRun, RecordsThatCameBeforeTheExpectCount)
{
    CheckRun run = started(fileOf({Step{"", WaitStep{Millis{500}}}, expectFrame("ENT")}));
    EXPECT_EQ(run.nextDeadline(), at(500));
    run.received(kWelcome, Chunk::Stream, at(200));
    EXPECT_FALSE(run.finished());
    run.advance(at(500));
    EXPECT_TRUE(run.passed());
    EXPECT_EQ(run.takeResults().at(1).answerTime, Millis{0});
}

TEST(CheckRun, TimeOutSaysWhetherAnythingCameAndWhat)
{
    CheckRun silent = started(fileOf({expectFrame("ENT"), sendText("never")}));
    silent.advance(at(999));
    EXPECT_FALSE(silent.finished());
    silent.advance(at(1000));
    ASSERT_TRUE(silent.finished());
    EXPECT_FALSE(silent.passed());
    EXPECT_TRUE(silent.takeSends().empty());
    const std::vector<StepResult> quiet = silent.takeResults();
    ASSERT_EQ(quiet.size(), 1u);
    EXPECT_EQ(quiet[0].failure, check::StepFailure::NoAnswer);
    EXPECT_EQ(quiet[0].reason, "no answer within 1000 ms");

    CheckRun wrong = started(fileOf({expectFrame("ENT", {}, Millis{300})}));
    wrong.received("[BA1=EXT-x\r\nhello\x01\r\n", Chunk::Stream, at(10));
    wrong.advance(at(300));
    const StepResult result = wrong.takeResults().at(0);
    EXPECT_EQ(result.outcome, StepOutcome::Failed);
    EXPECT_EQ(result.got, R"("[BA1=EXT-x", "hello\x01")");
    EXPECT_EQ(result.failure, check::StepFailure::NoMatchingAnswer);
    EXPECT_EQ(result.reason, "no matching answer within 300 ms");
}

TEST(CheckRun, AnAnswerAtTheDeadlineIsInTime)
{
    CheckRun run = started(fileOf({expectFrame("ENT")}));
    run.received(kWelcome, Chunk::Stream, at(1000));
    EXPECT_TRUE(run.passed());

    CheckRun late = started(fileOf({expectFrame("ENT")}));
    late.received(kWelcome, Chunk::Stream, at(1001));
    EXPECT_FALSE(late.passed());
    EXPECT_EQ(late.takeResults().at(0).reason, "no answer within 1000 ms");
}

TEST(CheckRun, WhatCameInsteadIsBounded)
{
    CheckRun run = started(fileOf({expectFrame("ENT")}));
    for (int i = 0; i < 1000; ++i) {
        run.received("noise " + std::to_string(i) + "\n", Chunk::Stream, at(1));
    }
    run.received(std::string(5000, 'x') + "\n", Chunk::Stream, at(2));
    run.advance(at(1000));
    const std::string got = run.takeResults().at(0).got;
    EXPECT_LT(got.size(), 1200u);
    EXPECT_TRUE(got.ends_with(" more")) << got;
}

TEST(CheckRun, RepeatsStepsAndTheWholeFile)
{
    CheckFile file = fileOf({repeated(sendText("PING"), 3), repeated(expectText("PONG"), 2)});
    file.repeat = 2;
    CheckRun run = started(file);
    EXPECT_EQ(run.takeSends().size(), 3u);
    run.received("PONG\nPONG\n", Chunk::Stream, at(4));
    EXPECT_EQ(run.takeSends().size(), 3u);
    run.received("xPONGx\n", Chunk::Stream, at(5));
    EXPECT_FALSE(run.finished());
    run.received("PONG\n", Chunk::Stream, at(6));
    ASSERT_TRUE(run.passed());
    const std::vector<StepResult> results = run.takeResults();
    ASSERT_EQ(results.size(), 10u);
    EXPECT_EQ(results[4].round, 1u);
    EXPECT_EQ(results[4].iteration, 2u);
    EXPECT_EQ(results[9].round, 2u);
    EXPECT_EQ(results[9].stepIndex, 1u);
}

TEST(CheckRun, ManyStepsAtOnceAreHandedOutInBoundedTurns)
{
    CheckRun run = started(fileOf({repeated(sendText("x"), 1000)}));
    std::size_t sends = run.takeSends().size();
    EXPECT_EQ(sends, CheckRun::kMaxStepsPerCall);
    EXPECT_EQ(run.nextDeadline(), at(0));
    for (int turn = 0; turn < 10 && !run.finished(); ++turn) {
        run.advance(at(0));
        sends += run.takeSends().size();
    }
    EXPECT_TRUE(run.passed());
    EXPECT_EQ(sends, 1000u);
}

TEST(CheckRun, TextWithoutLineEndMatchesOnceAndAtTheEndOfADatagram)
{
    CheckRun tcp = started(fileOf({expectText("PONG"), expectText("PONG")}));
    tcp.received("PON", Chunk::Stream, at(1));
    tcp.received("G and more", Chunk::Stream, at(2));
    EXPECT_EQ(tcp.takeResults().size(), 1u);
    tcp.received(" PONG\n", Chunk::Stream, at(3)); // the rest of the record already matched
    EXPECT_FALSE(tcp.finished());
    tcp.received("PONG\n", Chunk::Stream, at(4));
    EXPECT_TRUE(tcp.passed());

    CheckRun udp = started(fileOf({expectFrame("ENT")}));
    udp.received("[BA1=ENT-no line end", Chunk::Datagram, at(1));
    EXPECT_TRUE(udp.passed());
}

TEST(CheckRun, FramesOfTheOtherModeOrFailingTheCheckDoNotMatch)
{
    CheckFile file = fileOf({expectFrame({})});
    file.mode = protocol::DelimiterMode::Release;
    CheckRun run = started(file);
    run.received(kWelcome, Chunk::Stream, at(1));
    run.received("\x07"
                 "BA1\x08"
                 "ENT\r\n",
                 Chunk::Stream, at(2));
    EXPECT_FALSE(run.finished());
    run.received("\x07"
                 "BA1\x08"
                 "ENT\x09\r\n",
                 Chunk::Stream, at(3));
    EXPECT_TRUE(run.passed());
}

TEST(CheckRun, AFailedStepOrAnAbortEndsTheRun)
{
    CheckRun unknown = started(fileOf({sendText("{zone}"), sendText("after")}));
    EXPECT_TRUE(unknown.takeSends().empty());
    const StepResult notSent = unknown.takeResults().at(0);
    EXPECT_EQ(notSent.failure, check::StepFailure::BadValues);
    EXPECT_EQ(notSent.reason, "step 1: no value for {zone}");
    EXPECT_TRUE(unknown.finished());

    CheckRun aborted = started(fileOf({sendText("a"), expectText("b"), sendText("c")}));
    aborted.received("zzz\n", Chunk::Stream, at(3));
    aborted.abort("connection closed by the device", at(7));
    EXPECT_TRUE(aborted.finished());
    EXPECT_FALSE(aborted.passed());
    EXPECT_FALSE(aborted.nextDeadline());
    const std::vector<StepResult> results = aborted.takeResults();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1].failure, check::StepFailure::Ended);
    EXPECT_EQ(results[1].reason, "connection closed by the device");
    EXPECT_EQ(results[1].got, R"("zzz")");
    EXPECT_EQ(results[1].endedAt, at(7));
}
