#pragma once

#include "trafficrecord.h"

#include <cstddef>
#include <string>
#include <vector>

namespace traffic
{

// Records kept one after another in one block of memory: the queue a
// FileRecorder fills for its writer, and the batch the writer takes from it.
// add() copies a record's bytes and text into the block; the block, once
// grown, is used again after clear(), so that queueing a record allocates
// nothing under a steady flow (where a Record of its own costs an allocation
// per record on the reading thread and a free on the writer's).
//
// Threads: none of its own and no lock; one owner at a time (a FileRecorder's
// lock guards its queue, its writer owns the batch it took).
class RecordBatch
{
public:
    // Copies `record` in. Throws std::bad_alloc when there is no memory for
    // it; the batch is then as it was.
    void add(const RecordView& record);

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // The record at `index` (0 is the oldest); valid until the next add(),
    // clear() or swap().
    RecordView operator[](std::size_t index) const;

    // Makes room for `bytes` of bytes and texts at once, so that a batch
    // that fills up to them does not grow (and copy) its memory step by step.
    void reserve(std::size_t bytes) { text_.reserve(bytes); }
    // Forgets every record. The memory is kept for the next records unless
    // it has grown past `keepBytes` (a burst), in which case it is freed.
    void clear(std::size_t keepBytes);
    void swap(RecordBatch& other) noexcept;

private:
    struct Entry {
        std::chrono::system_clock::time_point time;
        RecordKind kind;
        RecordFacts facts;
        std::size_t offset; // of the bytes in text_; the text follows them
        std::size_t bytesSize;
        std::size_t textSize;
    };

    std::vector<Entry> entries_;
    std::string text_;
};

} // namespace traffic
