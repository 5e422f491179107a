#include "traffic/recordbatch.h"

#include "samplebytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;
using traffic::Record;
using traffic::RecordBatch;
using traffic::RecordKind;

namespace
{

std::vector<Record> sampleRecords(std::size_t count)
{
    const auto start = std::chrono::system_clock::time_point{std::chrono::seconds{1'800'000'000}};
    std::vector<Record> records;
    for (std::size_t i = 0; i < count; ++i) {
        Record record;
        record.time = start + std::chrono::microseconds{i};
        record.kind = i % 3 == 0 ? RecordKind::Write : RecordKind::Read;
        record.bytes = i % 5 == 0 ? ""s : everyByte().substr(i % 256) + "\0tail"s;
        record.text = i % 2 == 0 ? "frame ok"s : "a text longer than a string's own small buffer"s;
        records.push_back(record);
    }
    return records;
}

void expectHolds(const RecordBatch& batch, const std::vector<Record>& records)
{
    ASSERT_EQ(batch.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const traffic::RecordView view = batch[i];
        ASSERT_EQ(view.time, records[i].time) << i;
        ASSERT_EQ(view.kind, records[i].kind) << i;
        ASSERT_EQ(view.bytes, records[i].bytes) << i;
        ASSERT_EQ(view.text, records[i].text) << i;
    }
}

// A batch is filled, taken by a swap, cleared and filled again with its
// memory kept or freed: every time each record comes back exactly, empty
// bytes and NULs included, and nothing of the records before is left.
TEST(RecordBatch, GivesBackEachRecordExactlyAfterSwapsAndClears)
{
    const std::vector<Record> first = sampleRecords(600);
    const std::vector<Record> second = sampleRecords(7);

    RecordBatch queue;
    EXPECT_TRUE(queue.empty());
    for (const Record& record : first) {
        queue.add(record);
    }
    expectHolds(queue, first);

    RecordBatch taken;
    queue.swap(taken);
    EXPECT_TRUE(queue.empty());
    expectHolds(taken, first);

    for (const std::size_t keep : {std::size_t{1} << 30, std::size_t{0}}) {
        taken.clear(keep);
        EXPECT_TRUE(taken.empty());
        for (const Record& record : second) {
            taken.add(record);
        }
        expectHolds(taken, second);
    }
}

} // namespace
