#include "recordingcontrol.h"

namespace traffic
{

RecordingControl::~RecordingControl()
{
    recorder_.setSinks({});
}

void RecordingControl::setViewSink(RecordSink* sink)
{
    viewSink_ = sink;
    updateSinks();
}

void RecordingControl::setFileOptions(FileRecorder::Options options)
{
    options_ = std::move(options);
    if (file_) {
        setRecordingEnabled(false);
        setRecordingEnabled(true);
    }
}

void RecordingControl::setRecordingEnabled(bool on)
{
    if (on == recordingEnabled()) {
        return;
    }
    if (!on) {
        file_.reset();
        updateSinks();
        if (devicesHook_)
            devicesHook_(nullptr);
        devicesFile_.reset();
        return;
    }
    file_ = std::make_shared<FileRecorder>(options_);
    FileRecorder::Options devices = options_;
    devices.folder =
        (options_.folder.empty() ? FileRecorder::defaultFolder() : options_.folder) / "devices";
    devicesFile_ = std::make_shared<LazyFileRecorder>(devices);
    if (devicesHook_)
        devicesHook_(devicesFile_);
    for (const Record& record : recorder_.connectionStart()) {
        file_->record(record);
    }
    const std::string keys = recorder_.connectionKeys();
    for (std::size_t at = 0; at < keys.size();) {
        const std::size_t end = keys.find('\n', at);
        file_->keyLog(std::string_view(keys).substr(at, end - at));
        at = end + 1;
    }
    updateSinks();
}

void RecordingControl::setDevicesRecorderHook(DevicesRecorderHook hook)
{
    devicesHook_ = std::move(hook);
    if (devicesHook_ && devicesFile_)
        devicesHook_(devicesFile_);
}

void RecordingControl::updateSinks()
{
    ChannelRecorder::Sinks sinks;
    if (viewSink_ != nullptr) {
        // Not owned: an empty deleter.
        sinks.emplace_back(viewSink_, [](RecordSink*) {});
    }
    if (file_) {
        sinks.push_back(file_);
    }
    recorder_.setSinks(std::move(sinks));
}

std::optional<FileRecorder::Status> RecordingControl::fileStatus() const
{
    if (!file_) {
        return std::nullopt;
    }
    return file_->status();
}

std::string RecordingControl::statusText() const
{
    const std::optional<FileRecorder::Status> status = fileStatus();
    if (!status) {
        return "Not recording to a file.";
    }
    if (!status->error.ok()) {
        return status->stoppedText();
    }
    const std::string where =
        status->currentFile.empty() ? status->folder.string() : status->currentFile.string();
    std::string text = "Recording to " + where + " (" + std::to_string(status->recordsKept) +
                       " records, " + std::to_string(status->bytesKept) + " bytes";
    if (status->recordsDropped > 0) {
        text += ", " + std::to_string(status->recordsDropped) + " dropped";
    }
    // Secrets on disk are never written unseen.
    if (recordTlsKeys() && options_.format == FileRecorder::Format::Pcapng) {
        text += ", with TLS keys";
    }
    return text + ").";
}

} // namespace traffic
