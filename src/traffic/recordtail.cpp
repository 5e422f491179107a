#include "recordtail.h"

#include <algorithm>
#include <iterator>

namespace traffic
{

RecordTail::RecordTail(Limits limits) : limits_(limits)
{
    limits_.maxRecords = std::max<std::size_t>(limits_.maxRecords, 1);
}

std::size_t RecordTail::weight(const Record& record)
{
    return record.bytes.size() + record.text.size() + kRecordOverheadBytes;
}

void RecordTail::add(Record record)
{
    bytes_ += weight(record);
    records_.push_back(std::move(record));
    while (records_.size() > limits_.maxRecords ||
           (bytes_ > limits_.maxBytes && records_.size() > 1)) {
        bytes_ -= weight(records_.front());
        records_.pop_front();
        ++leftOut_;
    }
}

std::vector<Record> RecordTail::take()
{
    std::vector<Record> records(std::make_move_iterator(records_.begin()),
                                std::make_move_iterator(records_.end()));
    records_.clear();
    bytes_ = 0;
    return records;
}

} // namespace traffic
