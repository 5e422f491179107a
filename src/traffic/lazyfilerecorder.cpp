#include "lazyfilerecorder.h"

namespace traffic
{

FileRecorder& LazyFileRecorder::recorder()
{
    const std::lock_guard guard(lock_);
    if (!recorder_)
        recorder_ = std::make_unique<FileRecorder>(options_);
    return *recorder_;
}

void LazyFileRecorder::record(const Record& record)
{
    // Made once and kept until this object goes: safe to use unlocked.
    recorder().record(record);
}

void LazyFileRecorder::keyLog(std::string_view line)
{
    // Text files take no keys: no folder for them.
    if (options_.format == FileRecorder::Format::Pcapng)
        recorder().keyLog(line);
}

std::optional<FileRecorder::Status> LazyFileRecorder::status() const
{
    const std::lock_guard guard(lock_);
    if (!recorder_)
        return std::nullopt;
    return recorder_->status();
}

} // namespace traffic
