#include "check/answerengine.h"

#include "protocol/commandframe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

using check::AnswerEngine;
using check::AnswerRule;
using check::Chunk;
using check::Millis;

namespace
{

check::Instant at(long milliseconds)
{
    return check::Instant(Millis{milliseconds});
}

std::string received(const protocol::FrameFields& fields)
{
    return protocol::composeFrame(fields, protocol::DelimiterMode::Demo) + "\r\n";
}

AnswerRule rule(std::string name, std::optional<std::string> command, protocol::FrameFields send)
{
    AnswerRule r;
    r.name = std::move(name);
    r.when.command = std::move(command);
    r.answer.fields = std::move(send);
    return r;
}

// Acknowledges every EVT with the event's own media, id and message; answers
// PNG with a text naming the device.
std::vector<AnswerRule> rules()
{
    std::vector<AnswerRule> list{rule("ack", "EVT", {"{media}", "{id}", "", "ACK", "{message}"}),
                                 rule("any", "E*", {"Z", "99", "", "NAK", ""})};
    AnswerRule text;
    text.when.command = "PNG";
    text.answer.isFrame = false;
    text.answer.text = "PONG {id} {{x}";
    list.push_back(text);
    return list;
}

} // namespace

TEST(AnswerEngine, AnswersTheFirstMatchingRuleWithTheFramesFields)
{
    AnswerEngine engine(rules());
    const std::string evt = received({"B", "07", "", "EVT", "door open"});
    // Split anywhere, followed by a text that is no frame and a frame no rule takes.
    engine.received(evt.substr(0, 5), Chunk::Stream, at(0));
    engine.received(evt.substr(5) + "hello\r\n" + received({"B", "07", "", "XYZ", ""}),
                    Chunk::Stream, at(1));
    engine.received(received({"B", "08", "", "ENT", ""}) + received({"C", "09", "", "PNG", ""}),
                    Chunk::Stream, at(2));

    const std::vector<check::Answer> answers = engine.takeAnswers();
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].rule, "ack");
    EXPECT_EQ(answers[0].fields, (protocol::FrameFields{"B", "07", "", "ACK", "door open"}));
    EXPECT_EQ(answers[1].rule, "any");
    EXPECT_EQ(answers[2].rule, "answer 3");
    EXPECT_FALSE(answers[2].isFrame);
    EXPECT_EQ(answers[2].text, "PONG 09 {x}");
    EXPECT_EQ(engine.answered(), 3u);
    EXPECT_TRUE(engine.takeAnswers().empty());
}

TEST(AnswerEngine, HoldsToItsRateInEachSecond)
{
    AnswerEngine engine(rules(), protocol::DelimiterMode::Demo, 10);
    const std::string evt = received({"B", "07", "", "EVT", ""});
    for (int i = 0; i < 15; ++i) {
        engine.received(evt, Chunk::Stream, at(i));
    }
    EXPECT_EQ(engine.takeAnswers().size(), 10u);
    EXPECT_EQ(engine.overLimit(), 5u);
    // The second began with the first answer, at 0 ms; the next begins at 1000 ms.
    engine.received(evt + evt, Chunk::Stream, at(999));
    EXPECT_TRUE(engine.takeAnswers().empty());
    engine.received(evt + evt + evt, Chunk::Stream, at(1001));
    EXPECT_EQ(engine.takeAnswers().size(), 3u);
    EXPECT_EQ(engine.overLimit(), 7u);
    EXPECT_EQ(engine.answered(), 13u);
}

namespace
{

using Micros = std::chrono::microseconds;
using std::chrono::milliseconds;

// Frames `apart` from `first`, read `perRead` at a time (timed when the last
// of them came), one of them `late`; the answers each whole second from the first.
struct RateCase {
    const char* name;
    std::uint32_t bound;
    int frames;
    Micros first;
    Micros apart;
    int perRead;
    int lateFrame;
    Micros late;
    std::vector<int> perSecond;
};

const RateCase kRateCases[] = {
    {"a flood, bound 100", 100, 3000, {}, milliseconds(1), 1, -1, {}, {100, 100, 100}},
    {"at the bound, 4 a read", 1000, 3000, {}, milliseconds(1), 4, -1, {}, {1000, 1000, 1000}},
    {"999.2 ms is within a second", 1, 3, Micros(900), Micros(999200), 1, -1, {}, {1, 1}},
    // A window sliding over each answer would count the fourth frame.
    {"one frame late", 2, 6, {}, milliseconds(500), 1, 1, milliseconds(100), {2, 2, 2}},
};

} // namespace

TEST(AnswerEngine, AnswersAtMostTheBoundInEachSecondOfTheTimesFed)
{
    for (const RateCase& c : kRateCases) {
        SCOPED_TRACE(c.name);
        AnswerEngine engine(rules(), protocol::DelimiterMode::Demo, c.bound);
        std::string read;
        std::vector<Micros> fedAt;
        for (int i = 0; i < c.frames; ++i) {
            read += received({"B", "07", "", "EVT", std::to_string(i)});
            if ((i + 1) % c.perRead == 0) {
                const Micros at = c.first + c.apart * i + (i == c.lateFrame ? c.late : Micros{});
                engine.received(std::exchange(read, {}), Chunk::Stream, check::Instant(at));
                fedAt.resize(static_cast<std::size_t>(i) + 1, at);
            }
        }
        // Each answer names its frame, and so when that came.
        std::vector<int> perSecond;
        for (const check::Answer& answer : engine.takeAnswers()) {
            const auto second = static_cast<std::size_t>(
                (fedAt.at(std::stoul(answer.fields.message)) - fedAt.front()) /
                AnswerEngine::kRateWindow);
            perSecond.resize(std::max(perSecond.size(), second + 1));
            ++perSecond[second];
        }
        EXPECT_EQ(perSecond, c.perSecond);
        EXPECT_EQ(engine.answered() + engine.overLimit(), static_cast<std::uint64_t>(c.frames));
    }
}

TEST(AnswerEngine, CountsAnswersThatCannotBeSentAsFilled)
{
    // {data} is three characters, the id must be two.
    AnswerEngine engine({rule("bad", std::nullopt, {"B", "{data}", "", "ACK", ""})});
    engine.received(received({"B", "07", "123", "EVT", ""}), Chunk::Stream, at(0));
    EXPECT_TRUE(engine.takeAnswers().empty());
    EXPECT_EQ(engine.unsendable(), 1u);
    EXPECT_EQ(engine.lastProblem(), "bad: id must be 2 characters, not 3");
}

TEST(AnswerEngine, TakesOnlyFramesOfItsMode)
{
    AnswerEngine engine(rules(), protocol::DelimiterMode::Release);
    engine.received(received({"B", "07", "", "EVT", ""}), Chunk::Stream, at(0));
    EXPECT_TRUE(engine.takeAnswers().empty());
    engine.setMode(protocol::DelimiterMode::Demo);
    engine.received(received({"B", "07", "", "EVT", ""}), Chunk::Stream, at(1));
    EXPECT_EQ(engine.takeAnswers().size(), 1u);
}
