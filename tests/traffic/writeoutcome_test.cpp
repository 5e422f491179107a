#include "traffic/channelrecorder.h"
#include "traffic/writeoutcome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using traffic::RecordKind;
using traffic::WriteOutcome;

namespace
{

// A write's record as the channel's recorder makes it: the texts are
// ChannelRecorder's own, so that a change of its wording shows here.
struct WriteCase {
    const char* name;
    RecordKind kind;
    std::size_t size;
    net::IoResult result;
    WriteOutcome outcome;
    std::size_t written;
};

class WriteOutcomeTest : public ::testing::TestWithParam<WriteCase>
{
};

TEST_P(WriteOutcomeTest, ReadsTheWriteResultText)
{
    const WriteCase& row = GetParam();
    traffic::Record record;
    record.kind = row.kind;
    record.bytes = std::string(row.size, 'x');
    record.text = traffic::ChannelRecorder::writeText(row.result);
    EXPECT_EQ(traffic::writeOutcome(record), row.outcome) << record.text;
    EXPECT_EQ(traffic::writtenCount(record), row.written) << record.text;
}

const WriteCase kCases[] = {
    {"whole", RecordKind::Write, 26, net::IoResult::data(26), WriteOutcome::Whole, 26},
    {"empty", RecordKind::Write, 0, net::IoResult::data(0), WriteOutcome::Whole, 0},
    {"partial", RecordKind::Write, 26, net::IoResult::data(10), WriteOutcome::Partial, 10},
    {"noneOfMany", RecordKind::Write, 26, net::IoResult::data(0), WriteOutcome::Partial, 0},
    // A count past the block never makes more bytes than the block has.
    {"countPastBlock", RecordKind::Write, 4, net::IoResult::data(9), WriteOutcome::Whole, 4},
    {"timedOut", RecordKind::Write, 26, net::IoResult::timedOut(), WriteOutcome::Failed, 0},
    {"closed", RecordKind::Write, 26, net::IoResult::closed(), WriteOutcome::Failed, 0},
    {"queueFull", RecordKind::Write, 26,
     net::IoResult::failed(net::Error(net::Fault::SendQueueFull)), WriteOutcome::Failed, 0},
    {"systemError", RecordKind::Write, 26, net::IoResult::failed(net::Error::system(EPIPE)),
     WriteOutcome::Failed, 0},
    {"read", RecordKind::Read, 26, net::IoResult::data(26), WriteOutcome::None, 0},
    {"event", RecordKind::Event, 0, net::IoResult::timedOut(), WriteOutcome::None, 0},
};

INSTANTIATE_TEST_SUITE_P(Results, WriteOutcomeTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
