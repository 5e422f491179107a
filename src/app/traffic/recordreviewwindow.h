#pragma once

#include "trafficwindow.h"

#include "base/error.h"
#include "traffic/recordfilereader.h"

#include <QString>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace app
{

// A Traffic window for a record file read back (text or pcapng, told by its
// content; see traffic::RecordFileReader): the same table, filters, dump pane,
// copy and "Save as…", but read-only: no "Record to file" and no intake.
//
// The constructor starts reading the file on a thread of its own (the open
// too, which never waits on a FIFO or a device), so that no file holds the
// UI thread up; the status line shows how far it
// got, then the file, how many records it holds, how many damaged lines or
// blocks were skipped and how many older records were left out (only the
// newest `limits.maxRecords` are kept, as in the live window), or why the
// file could not be read. readFinished() tells when the records are in the
// table. Closing or destroying the window while it reads stops the reading
// (the destructor waits for the piece at hand, a few milliseconds).
// The Frames column decodes the records in the delimiter mode given (the
// console's, or the remembered one); the reading thread decodes them.
//
// UI thread only (the reading thread reaches the window through queued calls).
class RecordReviewWindow : public TrafficWindow
{
    Q_OBJECT
public:
    // Read no more than the table keeps (TrafficModel's record and byte
    // bounds): what it would drop again need not be read, kept and decoded.
    static constexpr traffic::RecordLimits kDefaultLimits{traffic::RecordLimits::kDefaultMaxRecords,
                                                          TrafficModel::kMaxBytes};

    explicit RecordReviewWindow(const QString& path, QWidget* parent = nullptr,
                                traffic::RecordLimits limits = kDefaultLimits,
                                protocol::DelimiterMode mode = protocol::DelimiterMode::Demo);
    ~RecordReviewWindow() override;

    // Opens a review window for `path`, deleted when closed, as a window of
    // `owner` (which may be null); returns at once, before the file is
    // opened. The window shows once the file has been opened and told to be
    // a record; when it cannot be opened at all (missing, unreadable, no
    // regular file, empty, no record) a message box over `owner` says why
    // instead and the window deletes itself, never shown.
    static RecordReviewWindow* open(const QString& path, QWidget* owner,
                                    protocol::DelimiterMode mode = protocol::DelimiterMode::Demo);

    // The file dialog's filter for record files (any file may be chosen).
    static QString fileFilter();

    // The failure that ended the reading; none when it succeeded or goes on.
    const base::Error& error() const { return error_; }
    // Whether the file was opened and is a record (opened() was emitted).
    bool wasOpened() const { return opened_; }

signals:
    // The file was opened and is a record: its reading goes on.
    void opened();
    // The reading ended: `ok`, with the records in the table, or not, with
    // error() set.
    void readFinished(bool ok);

private:
    void markOpened();
    void showProgress(quint64 done, quint64 total);
    void setStatus(const QString& text);
    void takeResult(base::Result<traffic::RecordFileContents> result);
    QString summary() const;

    QString path_;
    traffic::RecordFileContents contents_;
    std::vector<std::string> frames_;
    QString status_;
    base::Error error_;
    bool finished_ = false;
    bool opened_ = false;
    std::atomic<bool> cancel_{false};
    std::thread reader_;
};

} // namespace app
