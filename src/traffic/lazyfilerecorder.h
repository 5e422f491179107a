#pragma once

#include "filerecorder.h"

#include <memory>
#include <mutex>

namespace traffic
{

// A FileRecorder made on the first record, so that its folder is made and
// its thread started only once there is something to write (the devices a
// host serves, which may never come). Threads: record() from any thread.
class LazyFileRecorder : public RecordSink
{
public:
    explicit LazyFileRecorder(FileRecorder::Options options) : options_(std::move(options)) {}

    void record(const Record& record) override;
    // The recorder's status once it is made.
    std::optional<FileRecorder::Status> status() const;

private:
    FileRecorder::Options options_;
    mutable std::mutex lock_;
    std::unique_ptr<FileRecorder> recorder_;
};

} // namespace traffic
