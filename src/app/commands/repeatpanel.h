#pragma once

#include "commandrepeat.h"

#include "socket/sendqueue.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QSpinBox;

namespace app
{

// The Commands window's repeat controls: "Repeat every N ms", "times" (0:
// until stopped), Repeat (announced as repeatRequested() with the two
// values, for the window to say what to send), Stop, and a line with the
// progress and how many blocks the send queue dropped and holds since the
// start (`counts`: SocketChannel::sendCounts()). The line follows the blocks
// a repeat queued also after it ended, every kSettleIntervalMs until none
// waits (they go out, time out or are dropped at Disconnect). UI thread only.
class RepeatPanel : public QWidget
{
    Q_OBJECT
public:
    using Counts = std::function<net::SendQueue::Counts()>;
    static constexpr int kSettleIntervalMs = 100;

    RepeatPanel(Counts counts, QWidget* parent = nullptr);

    void start(CommandRepeat::SendOnce send, int intervalMs, std::uint64_t count);
    CommandRepeat& repeat() { return repeat_; }
    // Whether Repeat has something to repeat (a command chosen); it is enabled
    // only then and while no repeat runs, Stop only while one runs.
    void setCanStart(bool can);
    QString text() const;

signals:
    void repeatRequested(int intervalMs, std::uint64_t count);

private:
    void showProgress();

    Counts counts_;
    CommandRepeat repeat_;
    QTimer settle_;
    net::SendQueue::Counts countsAtStart_;
    QSpinBox* interval_ = nullptr;
    QSpinBox* count_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    bool canStart_ = false;
};

} // namespace app
