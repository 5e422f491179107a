#include "recordbatch.h"

namespace traffic
{

void RecordBatch::add(const RecordView& record)
{
    const std::size_t offset = text_.size();
    text_.append(record.bytes);
    try {
        text_.append(record.text);
        entries_.push_back({record.time, record.kind, record.facts, offset, record.bytes.size(),
                            record.text.size()});
    } catch (...) {
        text_.resize(offset);
        throw;
    }
}

RecordView RecordBatch::operator[](std::size_t index) const
{
    const Entry& entry = entries_[index];
    const std::string_view all(text_);
    return {entry.time, entry.kind, all.substr(entry.offset, entry.bytesSize),
            all.substr(entry.offset + entry.bytesSize, entry.textSize), entry.facts};
}

void RecordBatch::clear(std::size_t keepBytes)
{
    if (text_.capacity() > keepBytes) {
        std::string().swap(text_);
    } else {
        text_.clear();
    }
    if (entries_.capacity() * sizeof(Entry) > keepBytes) {
        std::vector<Entry>().swap(entries_);
    } else {
        entries_.clear();
    }
}

void RecordBatch::swap(RecordBatch& other) noexcept
{
    entries_.swap(other.entries_);
    text_.swap(other.text_);
}

} // namespace traffic
