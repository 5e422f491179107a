#pragma once

#include "consolelink.h"

#include "check/checkfile.h"
#include "check/enginefeed.h"
#include "check/fleetreport.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QListWidget;
class QPushButton;

namespace check
{
class CheckRun;
struct StepResult;
} // namespace check

namespace app
{

// "Run" in the Commands window: runs a check file (the saved commands, or an
// opened file) against the connected device through a check::CheckRun, in
// the console's delimiter mode of the moment. Each block the run sends goes
// out through ConsoleLink::send() (after what was received before it, with
// the run's file named in the traffic record);
// received bytes come in through received(). Every step shows in the list as
// it ends: "passed", or "FAILED" with the reason and what came instead, and
// an expect's answer time in ms; the line below says how the run stands.
// Stop (stop()) and a connection that ends (connectionEnded()) end the run at
// once, failing the step in progress. Its buttons: Run (runRequested(), for
// the window to say what to run), Stop run, and "Save report…", which writes
// the run so far (report()) as devicecheck reports one device (RunReportFile);
// each is enabled only when it can act.
// UI thread only.
class RunPanel : public QWidget
{
    Q_OBJECT
public:
    explicit RunPanel(ConsoleLink& console, QWidget* parent = nullptr);
    ~RunPanel() override;

    // Starts a run of `file` (one that runs stops first); false when `why`
    // says it cannot run (no steps).
    // `fileName` and `device` name the file and the device in the report.
    bool start(const check::CheckFile& file, std::string fileName = {}, check::Target device = {});
    // Received bytes, as check::CheckRun::received() takes them.
    void received(std::string_view bytes, check::Chunk chunk);
    void stop();
    // Forgets the last run (a new list is shown): no results, no report.
    void clear();
    // Whether there is something to run.
    void setCanStart(bool can);
    void connectionEnded() { abort("the connection ended"); }

    bool running() const;
    QListWidget* results() const { return results_; }
    QString statusText() const;

    // The last run as far as it went (the steps that ended; one still going
    // is "stopped" at "running"); nothing before the first run.
    std::optional<check::FleetReport> report() const;
    // Writes report() to `path` as `filter` (of RunReportFile::filters())
    // says, the extension added when the name has none; false, the status
    // line saying why, when there is no run or it cannot be written.
    // A typed extension (.csv, .xml) chooses the type whatever the filter.
    bool saveReport(const std::string& path, const QString& filter);

signals:
    void runRequested();
    void runningChanged(bool running);

private:
    void abort(std::string_view reason);
    void chooseReportFile();
    // Sends what the run has to send, shows what ended, sets the next deadline.
    void pump();
    void show(const check::StepResult& result);

    void updateButtons();

    ConsoleLink& console_;
    bool canStart_ = false;
    QPushButton* runButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* reportButton_ = nullptr;
    std::unique_ptr<check::CheckRun> run_;
    // What the report says of the run: its file, device, steps and times.
    check::FleetReport report_;
    bool stopped_ = false;
    check::Instant started_;
    QTimer deadline_;
    std::size_t passed_ = 0;
    std::size_t failed_ = 0;
    QListWidget* results_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace app
