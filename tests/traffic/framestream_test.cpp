#include "traffic/framestream.h"
#include "traffic/recordfacts.h"
#include "traffic/recordframes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using protocol::DelimiterMode;
using traffic::FrameStream;
using traffic::RecordFrames;
using traffic::RecordKind;
using Strings = std::vector<std::string>;

const std::string kDemoOpen("[BA139123439=ENT-Open\r\n\0", 24);
const std::string kReleaseOpen("\x07"
                               "BA139123439\x08"
                               "ENT\x09"
                               "Open\r\n\0",
                               24);
const std::string kOpen = R"(media=B id=A1 data="39123439" command=ENT message="Open")";

struct StreamRow {
    const char* name;
    DelimiterMode mode;
    Strings blocks;
    Strings items; // per block, items joined by the separator
};

std::string joined(const Strings& items)
{
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : "\n") + item;
    return out;
}

const StreamRow kStreamRows[] = {
    {"DemoFrame", DelimiterMode::Demo, {kDemoOpen}, {kOpen}},
    {"ReleaseFrame", DelimiterMode::Release, {kReleaseOpen}, {kOpen}},
    {"TwoFramesInOneBlock",
     DelimiterMode::Demo,
     {std::string("[BA1x=ENT-a\r\n\0[CA2\"y\"=SET-b c\r\n\0", 32)},
     {joined({R"(media=B id=A1 data="x" command=ENT message="a")",
              R"(media=C id=A2 data="\"y\"" command=SET message="b c")"})}},
    {"FrameOverTwoBlocks",
     DelimiterMode::Release,
     {kReleaseOpen.substr(0, 6), kReleaseOpen.substr(6)},
     {"(unfinished: 6 bytes so far)", "(began earlier) " + kOpen}},
    {"FrameOverThreeBlocksLineEndSplit",
     DelimiterMode::Demo,
     {"[BA1", "39123439=ENT-Open\r", std::string("\n\0", 2) + kDemoOpen},
     {"(unfinished: 4 bytes so far)", "(unfinished: 22 bytes so far)",
      joined({"(began earlier) " + kOpen, kOpen})}},
    {"NotAFrame",
     DelimiterMode::Demo,
     {"PING\r\n", std::string("A\"\x01\0", 4)},
     {R"(not a frame: "PING")", R"(not a frame: "A\"\x01")"}},
    {"FrameAmongOtherBytes",
     DelimiterMode::Demo,
     {"hello\r\n" + kDemoOpen + "[B=E-\r\n"},
     {joined({R"(not a frame: "hello")", kOpen, R"(not a frame: "[B=E-")"})}},
    {"ReleaseFrameInDemoMode", DelimiterMode::Demo, {kReleaseOpen}, {"(RELEASE frame) " + kOpen}},
    {"LongRecordIsCut",
     DelimiterMode::Demo,
     {std::string(100, 'x') + "\n"},
     {"not a frame, 100 bytes: \"" + std::string(FrameStream::kPreviewBytes, 'x') + "\"..."}},
};

class FrameStreamTest : public testing::TestWithParam<StreamRow>
{
};

TEST_P(FrameStreamTest, ItemsOfEachBlock)
{
    FrameStream stream(GetParam().mode);
    const Strings& blocks = GetParam().blocks;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::string items;
        stream.feed(blocks[i], items);
        EXPECT_EQ(items, GetParam().items[i]) << "block " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FrameStreamTest, testing::ValuesIn(kStreamRows),
                         [](const auto& info) { return std::string(info.param.name); });

traffic::Record record(RecordKind kind, std::string bytes, std::string text = {})
{
    const traffic::RecordFacts facts = traffic::recordFacts(kind, text);
    return traffic::Record{{}, kind, std::move(bytes), std::move(text), facts};
}

TEST(RecordFrames, KeepsEachDirectionsStateAcrossRecords)
{
    RecordFrames frames(DelimiterMode::Release);
    EXPECT_EQ(frames.take(record(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210")), "");
    EXPECT_EQ(frames.take(record(RecordKind::Write, kReleaseOpen.substr(0, 10))),
              "(unfinished: 10 bytes so far)");
    EXPECT_EQ(frames.take(record(RecordKind::Read, "PONG\r\n")), R"(not a frame: "PONG")");
    EXPECT_EQ(frames.take(record(RecordKind::Event, {}, "dropped")), "");
    EXPECT_EQ(frames.take(record(RecordKind::Write, kReleaseOpen.substr(10))),
              "(began earlier) " + kOpen);
    // A mode switched applies to the records that follow.
    frames.setMode(DelimiterMode::Demo);
    EXPECT_EQ(frames.take(record(RecordKind::Read, kDemoOpen)), kOpen);
}

TEST(RecordFrames, DisconnectShowsWhatWasLeftAndConnectStartsAnew)
{
    RecordFrames frames;
    frames.take(record(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210"));
    frames.take(record(RecordKind::Write, "[BA1"));
    frames.take(record(RecordKind::Read, "[BA1x=E"));
    EXPECT_EQ(frames.take(record(RecordKind::Disconnect, {}, "closed")),
              "sent, unfinished: not a frame: \"[BA1\"\n"
              "received, unfinished: not a frame: \"[BA1x=E\"");

    frames.take(record(RecordKind::Read, "[BA1"));
    frames.take(record(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210"));
    EXPECT_EQ(frames.take(record(RecordKind::Read, "x=ENT-a\r\n")), R"(not a frame: "x=ENT-a")");
}

TEST(RecordFrames, EveryUdpRecordIsADatagramOfItsOwn)
{
    RecordFrames frames;
    frames.take(record(RecordKind::ConnectAttempt, {}, "UDP 127.0.0.1:21210"));
    EXPECT_EQ(frames.take(record(RecordKind::Read, "[BA1x=ENT-a")),
              R"(media=B id=A1 data="x" command=ENT message="a")");
    EXPECT_EQ(frames.take(record(RecordKind::Read, "[BA1x")), R"(not a frame: "[BA1x")");
    EXPECT_EQ(frames.take(record(RecordKind::Read, "=ENT-a\r\n")), R"(not a frame: "=ENT-a")");
    EXPECT_EQ(frames.take(record(RecordKind::Disconnect, {}, "closed")), "");
}

} // namespace
