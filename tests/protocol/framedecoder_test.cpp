#include "rowname.h"

#include "protocol/framedecoder.h"
#include "protocol/recordsplitter.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using protocol::DecodedFrame;
using protocol::DelimiterMode;
using protocol::FrameDecoder;
using protocol::RecordSplitter;
using namespace std::string_literals;

namespace
{

struct DecodeRow {
    const char* name;
    std::string record;
    std::optional<DecodedFrame> frame;
};

void PrintTo(const DecodeRow& row, std::ostream* out)
{
    *out << row.name;
}

DecodedFrame fields(DelimiterMode mode, std::string data, std::string message,
                    std::string command = "ENT")
{
    return DecodedFrame{mode, "B", "A1", std::move(data), std::move(command), std::move(message)};
}

std::string demo(const std::string& data, const std::string& message)
{
    return "[BA1" + data + "=ENT-" + message;
}

const auto kDemo = DelimiterMode::Demo;
const auto kNone = std::nullopt;

const std::vector<DecodeRow> kDecodeRows = {
    {"console default, DEMO", "[BA139123439=ENT-Message / Description",
     fields(kDemo, "39123439", "Message / Description")},
    {"console default, RELEASE",
     "\x07"
     "BA139123439\x08"
     "ENT\x09"
     "Message / Description",
     fields(DelimiterMode::Release, "39123439", "Message / Description")},
    {"empty data and message: 9 characters", "[BA1=ENT-", fields(kDemo, "", "")},
    {"36 characters of data", demo(std::string(36, 'd'), "m"),
     fields(kDemo, std::string(36, 'd'), "m")},
    {"37 characters of data", demo(std::string(37, 'd'), "m"), kNone},
    {"120 characters of message", demo("", std::string(120, 'm')),
     fields(kDemo, "", std::string(120, 'm'))},
    {"121 characters of message", demo("", std::string(121, 'm')), kNone},
    {"an equal inside the data, DEMO", "[BA1a=b=ENT-m", fields(kDemo, "a=b", "m")},
    {"delimiters inside the message, DEMO", "[BA1=IGN-[x=y-z", fields(kDemo, "", "[x=y-z", "IGN")},
    {"RELEASE start with DEMO equal and dash",
     "\x07"
     "BA1=ENT-m",
     kNone},
    {"DEMO start with RELEASE equal and dash",
     "[BA1\x08"
     "ENT\x09"
     "m",
     kNone},
    {"a delimiter as media", "[[A1=ENT-", kNone},
    {"a command of two characters", "[BA1=EN-", kNone},
    {"no dash after the command", "[BA1=ENTX", kNone},
    {"a control byte in the message",
     "[BA1=ENT-a\x01"
     "b",
     kNone},
    {"a control code inside RELEASE data",
     "\x07"
     "BA1x\x09y\x08"
     "ENT\x09",
     kNone},
    {"free text", "hello device", kNone},
    {"empty", "", kNone},
};

class FrameDecoderTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(FrameDecoderTest, DecodesWellFormedFramesOnly)
{
    const std::optional<DecodedFrame>& expected = GetParam().frame;
    const auto frame = FrameDecoder::decode(GetParam().record);
    ASSERT_EQ(frame.has_value(), expected.has_value());
    if (!expected) {
        return;
    }
    EXPECT_EQ(frame->mode, expected->mode);
    EXPECT_EQ(frame->fields.media, expected->fields.media);
    EXPECT_EQ(frame->fields.deviceId, expected->fields.deviceId);
    EXPECT_EQ(frame->fields.data, expected->fields.data);
    EXPECT_EQ(frame->fields.command, expected->fields.command);
    EXPECT_EQ(frame->fields.message, expected->fields.message);
}

INSTANTIATE_TEST_SUITE_P(Rows, FrameDecoderTest, testing::ValuesIn(kDecodeRows),
                         rowName<DecodeRow>);

struct SplitRow {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::string> records;
};

void PrintTo(const SplitRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::string kFrame = "[BA139123439=ENT-Message / Description";

std::vector<std::string> bytewise(const std::string& bytes)
{
    std::vector<std::string> pieces;
    for (const char c : bytes) {
        pieces.emplace_back(1, c);
    }
    return pieces;
}

const std::vector<SplitRow> kSplitRows = {
    {"CR LF NUL in one piece", {kFrame + "\r\n\0"s}, {kFrame}},
    {"one byte per piece", bytewise(kFrame + "\r\n\0"s), {kFrame}},
    {"two frames in one piece",
     {"[BA1=ENT-a\r\n\0[BA1=EXT-b\r\n\0"s},
     {"[BA1=ENT-a", "[BA1=EXT-b"}},
    {"CR LF without NUL", {"a\r\nb\r\n"}, {"a", "b"}},
    {"a lone LF", {"a\nb\n"}, {"a", "b"}},
    {"a NUL alone ends a record", {"a\0b\0"s}, {"a", "b"}},
    {"the NUL after LF in the next piece", {"a\r\n", "\0b\n"s}, {"a", "b"}},
    {"a CR not before LF stays", {"a\rb\n"}, {"a\rb"}},
    {"line ends alone give no records", {"\r\n\0\n\0\0"s}, {}},
    {"the rest at the end of the stream", {"a\n", "bc"}, {"a", "bc"}},
    {"a frame cut in three", {"[BA", "1391234", "39=ENT-m\r\n\0"s}, {"[BA139123439=ENT-m"}},
};

class RecordSplitterTest : public testing::TestWithParam<SplitRow>
{
};

TEST_P(RecordSplitterTest, FindsTheRecordsWhateverThePieces)
{
    RecordSplitter splitter;
    std::vector<std::string> records;
    const auto sink = [&](std::string_view record) { records.emplace_back(record); };
    for (const std::string& piece : GetParam().pieces) {
        splitter.feed(piece, sink);
    }
    splitter.finish(sink);
    EXPECT_EQ(records, GetParam().records);
    EXPECT_EQ(splitter.pendingSize(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, RecordSplitterTest, testing::ValuesIn(kSplitRows),
                         rowName<SplitRow>);

TEST(RecordSplitterBound, ALineWithoutEndIsCutAtTheLimit)
{
    RecordSplitter splitter;
    std::vector<std::size_t> sizes;
    const auto sink = [&](std::string_view record) { sizes.push_back(record.size()); };
    splitter.feed(std::string(RecordSplitter::kMaxRecordLength + 100, 'x'), sink);
    EXPECT_EQ(sizes, std::vector<std::size_t>{RecordSplitter::kMaxRecordLength});
    EXPECT_EQ(splitter.pendingSize(), 100u);
}

} // namespace
