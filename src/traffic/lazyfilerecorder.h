#pragma once

#include "filerecorder.h"

#include <memory>
#include <mutex>

namespace traffic
{

// A FileRecorder made on the first record, so that its folder is made and
// its thread started only once there is something to write (the devices a
// host serves, which may never come); a key log line for pcapng files
// (FileRecorder::keyLog()) makes it too, as it belongs at the start of the first file. Threads:
// record() and keyLog() from any thread.
class LazyFileRecorder : public RecordSink
{
public:
    explicit LazyFileRecorder(FileRecorder::Options options) : options_(std::move(options)) {}

    void record(const Record& record) override;
    void keyLog(std::string_view line) override;
    // The recorder's status once it is made.
    std::optional<FileRecorder::Status> status() const;

private:
    FileRecorder& recorder();

    FileRecorder::Options options_;
    mutable std::mutex lock_;
    std::unique_ptr<FileRecorder> recorder_;
};

} // namespace traffic
