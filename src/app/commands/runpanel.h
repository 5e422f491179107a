#pragma once

#include "check/checkfile.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QLabel;
class QListWidget;

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
// out through `send` (the console's send queue, as the console writes it);
// received bytes come in through received(). Every step shows in the list as
// it ends: "passed", or "FAILED" with the reason and what came instead, and
// an expect's answer time in ms; the line below says how the run stands.
// Stop (stop()) and a connection that ends (connectionEnded()) end the run at
// once, failing the step in progress. UI thread only.
class RunPanel : public QWidget
{
    Q_OBJECT
public:
    // Writes one whole block, a frame step's when `frame`; empty when it went
    // to the send queue, else why not.
    using SendBlock = std::function<std::string(const std::string& block, bool frame)>;

    RunPanel(SendBlock send, QWidget* parent = nullptr);
    ~RunPanel() override;

    // Starts a run of `file` (one that runs stops first); false when `why`
    // says it cannot run (no steps).
    bool start(const check::CheckFile& file);
    void received(std::string_view bytes);
    void stop() { abort("stopped by the operator"); }
    void connectionEnded() { abort("the connection ended"); }

    bool running() const;
    QListWidget* results() const { return results_; }
    QString statusText() const;

signals:
    void runningChanged(bool running);

private:
    void abort(std::string_view reason);
    // Sends what the run has to send, shows what ended, sets the next deadline.
    void pump();
    void show(const check::StepResult& result);

    SendBlock send_;
    std::unique_ptr<check::CheckRun> run_;
    QElapsedTimer clock_;
    QTimer deadline_;
    std::size_t passed_ = 0;
    std::size_t failed_ = 0;
    QListWidget* results_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace app
