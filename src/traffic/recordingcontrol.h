#pragma once

#include "channelrecorder.h"
#include "filerecorder.h"
#include "lazyfilerecorder.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace traffic
{

// The console's traffic record in one place: the channel's observer (a
// ChannelRecorder), the sink that always takes its records (the Traffic
// window's queue) and, while recording to files is on, a FileRecorder.
//
// Recording to files is off until setRecordingEnabled(true). Each switch-on
// makes a new FileRecorder (so one that stopped after a failure is tried
// afresh); a connection that is running then is announced to it first with
// the records that opened it (and its TLS keys, when they are recorded), so
// its file is named and started as usual.
// Switching off, or a change of the file options, ends the current one: it
// writes what it still holds first (at most its queue's bound, handed to the
// system's cache), on the calling thread unless a channel call is using it at
// that moment, in which case that call's thread finishes it.
//
// Threads: everything on the owner's (UI) thread, except observer(), whose
// calls come from the channel's threads. Destroy it only after the channel
// that reports to it has stopped for the last time.
class RecordingControl
{
public:
    RecordingControl() = default;
    ~RecordingControl();
    RecordingControl(const RecordingControl&) = delete;
    RecordingControl& operator=(const RecordingControl&) = delete;

    net::ChannelObserver& observer() { return recorder_; }
    ChannelRecorder& recorder() { return recorder_; }

    // The sink that takes every record whether or not files are written; not
    // owned, it must outlive this object or be replaced first (nullptr: none).
    void setViewSink(RecordSink* sink);

    // Where files go and how much disk they may take; a running recorder
    // starts again with them.
    void setFileOptions(FileRecorder::Options options);
    const FileRecorder::Options& fileOptions() const { return options_; }

    void setRecordingEnabled(bool on);
    bool recordingEnabled() const { return file_ != nullptr; }
    // Whether the TLS key log of the connection's sessions goes into the
    // record files (pcapng ones only; see FileRecorder::keyLog()): off at the
    // start; the recorder drops every key line while it is off
    // (ChannelRecorder::setKeyLogging()). A file recorder made while a
    // connection runs is given the connection's keys kept so far.
    void setRecordTlsKeys(bool on) { recorder_.setKeyLogging(on); }
    bool recordTlsKeys() const { return recorder_.keyLogging(); }
    // The file recorder's status while recording to files is on.
    std::optional<FileRecorder::Status> fileStatus() const;
    // The devices a host serves are recorded by a file recorder of their
    // own, which takes each device's records whole (see host::DeviceRecords),
    // in the subfolder "devices" of the record folder, with the same format
    // and disk limit: two recorders never share a folder, so neither deletes
    // a file the other writes. That folder is made with the first device's
    // records. `hook` is told of it now and at every change
    // of recording (nullptr: off), on the owner's thread; it is never called
    // from the destructor.
    using DevicesRecorderHook = std::function<void(std::shared_ptr<RecordSink>)>;
    void setDevicesRecorderHook(DevicesRecorderHook hook);

    // One line for a status bar: where the traffic is recorded and how much
    // (and ", with TLS keys" while pcapng files take them), why recording
    // stopped and how much was kept, or that it is off.
    std::string statusText() const;

private:
    void updateSinks();

    ChannelRecorder recorder_;
    RecordSink* viewSink_ = nullptr;
    FileRecorder::Options options_;
    std::shared_ptr<FileRecorder> file_;
    std::shared_ptr<LazyFileRecorder> devicesFile_;
    DevicesRecorderHook devicesHook_;
};

} // namespace traffic
