#pragma once

#include "trafficexport.h"
#include "trafficmodel.h"

#include "app/settings/qtsettingsstore.h"

#include "protocol/commandframe.h"

#include "traffic/filerecorder.h"
#include "traffic/trafficrecord.h"

#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;

namespace app
{

class RecordFormatBox;
class RecordTlsKeysBox;
class TrafficFilter;
class TrafficQueue;

// The Traffic window: every record of the console's channel in a table, newest
// at the bottom, with a dump of the selected record, filters, copy and save,
// and the "Record to file" switch. A top-level, non-modal window; give it the
// console as parent (it stays a window of its own) so that it is usable while
// the console runs modally and goes away with it. Closing it only hides it.
//
// Intake: a timer takes what the queue holds kDrainIntervalMs apart (about 30
// times a second) and hands it to the model as one batch; with "Follow newest"
// on (the default) the table then shows its last row; scrolling up by hand
// turns it off. Records dropped from memory, by the queue or by the model's
// bound, are counted in the line below the table. The timer runs while the
// window exists, shown or not.
//
// Controls: a text filter and a direction filter (TrafficFilter; its last
// entry, "Failed writes", shows the writes that failed or went out in part);
// "Follow newest"; "Clear" forgets every record; Ctrl+C in the table copies
// the selected rows as tab-separated lines; "Save as…" writes the rows the
// table shows to a record file, a CSV file or a pcapng file (TrafficExport),
// owner-only, as chosen in TrafficSaveDialog.
//
// "Record to file" is remembered in the settings, section kSettingsSection,
// key kRecordToFileKey (0 or 1), read when the window is built and written at
// each change, which recordToFileChanged() also announces. The status line
// says where the traffic is recorded, or why it is not, as the function set
// with setRecordingStatus() tells it (asked at every drain). Beside the switch,
// the files' format (RecordFormatBox: text or pcapng, remembered, announced
// by recordFormatChanged()) and whether pcapng files carry the TLS session
// keys (RecordTlsKeysBox: remembered, announced by recordTlsKeysChanged()).
//
// Its size and place are remembered in the settings (section
// kSettingsSection, key kGeometryKey); the first time it opens beside the
// console where the screen has room.
//
// "Open record…" reads a record file back into a RecordReviewWindow of its
// own: the same window without intake (see the protected constructor).
//
// UI thread only; the queue is the one thing other threads touch.
class TrafficWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::string_view kSettingsSection = "Traffic";
    static constexpr std::string_view kRecordToFileKey = "RecordToFile";
    static constexpr std::string_view kGeometryKey = "Geometry";
    static constexpr int kDrainIntervalMs = 33;

    explicit TrafficWindow(TrafficQueue& queue, QWidget* parent = nullptr,
                           std::size_t maxRecords = TrafficModel::kMaxRecords);
    ~TrafficWindow() override;

    // The remembered "Record to file" switch (off when never set).
    static bool recordToFileRemembered(SettingsStore& settings);

    // Shows the window (placed the first time), raised, and active unless
    // `activate` is false (then the active window stays so).
    void showBeside(QWidget* console, bool activate = true);

    // Takes what the queue holds now into the table (the timer's work).
    void drain();

    // The text of the status line's recording part; asked at every drain.
    void setRecordingStatus(std::function<QString()> status);
    // The delimiter mode the console sends and expects frames in: the Frames
    // column reads the records given from now on in it (DEMO until set;
    // TrafficQueue::setDelimiterMode()).
    void setDelimiterMode(protocol::DelimiterMode mode);
    // Shows "Record to file" as `on` without remembering it or announcing it:
    // for a recording switched on elsewhere (the command line's --record).
    void showRecordToFile(bool on);
    // Shows the record files' format as set for this run elsewhere (the
    // command line's --record-format); the choice is then fixed.
    void fixRecordFormat(traffic::FileRecorder::Format format);
    // The same for the TLS keys (the command line's --record-tls-keys).
    void fixRecordTlsKeys(bool on);

    // Writes the rows the table shows: TrafficExport::save()'s warning, or
    // why the file could not be written.
    base::Result<QString> saveTo(const QString& path, TrafficExport::Format format) const;
    // Copies the selected rows to the clipboard as tab-separated lines.
    void copySelectedRows() const;

    TrafficModel& model() const { return *model_; }
    TrafficFilter& filter() const { return *filter_; }

signals:
    void recordToFileChanged(bool on);
    void recordFormatChanged(traffic::FileRecorder::Format format);
    void recordTlsKeysChanged(bool on);

protected:
    // A window without intake, for records read back from a file: no queue
    // and no drain timer, no "Record to file", its place not remembered.
    TrafficWindow(QWidget* parent, std::size_t maxRecords);

    void closeEvent(QCloseEvent* event) override;

private:
    TrafficWindow(TrafficQueue* queue, QWidget* parent, std::size_t maxRecords);
    static QString geometryKey();
    void buildControls();
    void showDetail(const QModelIndex& current);
    void updateStatus();
    void onDirectionChosen(int index);
    void onRecordToFileToggled(bool on);
    void onSaveAs();
    void onClear();
    void onOpenRecord();
    std::vector<int> shownRows() const;

    TrafficQueue* queue_ = nullptr; // none in a window of records read back
    QtSettingsStore settings_;
    TrafficModel* model_ = nullptr;
    TrafficFilter* filter_ = nullptr;
    QTableView* table_ = nullptr;
    QPlainTextEdit* detail_ = nullptr;
    QLineEdit* filterText_ = nullptr;
    QComboBox* direction_ = nullptr;
    QCheckBox* follow_ = nullptr;
    QCheckBox* recordToFile_ = nullptr;
    RecordFormatBox* recordFormat_ = nullptr;
    RecordTlsKeysBox* recordTlsKeys_ = nullptr;
    QLabel* counts_ = nullptr;
    QLabel* recording_ = nullptr;
    QTimer drainTimer_;
    std::function<QString()> recordingStatus_;
    bool placed_ = false;
};

} // namespace app
