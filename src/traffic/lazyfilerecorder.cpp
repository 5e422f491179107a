#include "lazyfilerecorder.h"

namespace traffic
{

void LazyFileRecorder::record(const Record& record)
{
    FileRecorder* recorder = nullptr;
    {
        const std::lock_guard guard(lock_);
        if (!recorder_)
            recorder_ = std::make_unique<FileRecorder>(options_);
        recorder = recorder_.get();
    }
    // Made once and kept until this object goes: safe to use unlocked.
    recorder->record(record);
}

std::optional<FileRecorder::Status> LazyFileRecorder::status() const
{
    const std::lock_guard guard(lock_);
    if (!recorder_)
        return std::nullopt;
    return recorder_->status();
}

} // namespace traffic
