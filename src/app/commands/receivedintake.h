#pragma once

#include <QObject>
#include <QTimer>

namespace app
{

class AnswerPanel;
class ConsoleLink;
class RunPanel;

// Takes what the device sent from the console's tap (ConsoleLink::received())
// to the automatic answers and a Run while either wants it: at once when
// bytes start to wait (the tap's wake) and every kIntervalMs for what a wake
// may miss; over UDP each read is one datagram and ends a record of the
// run's. update() follows the answers' switch and the run's state. The
// console, the panels and the tap outlive it. UI thread only.
class ReceivedIntake : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 20;

    ReceivedIntake(ConsoleLink& console, AnswerPanel& answers, RunPanel& runs,
                   QObject* parent = nullptr);
    // Lets go of the tap.
    ~ReceivedIntake() override;

    void update();
    void take();

private:
    ConsoleLink& console_;
    AnswerPanel& answers_;
    RunPanel& runs_;
    QTimer timer_;
};

} // namespace app
