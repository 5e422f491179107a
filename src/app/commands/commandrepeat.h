#pragma once

#include "repeatschedule.h"

#include "base/error.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace app
{

// Sends one saved command again and again: every `intervalMs` (at least 1),
// `count` times or, with count 0, until stopped. The first send goes out at
// once. The sends keep to the time since the start (RepeatSchedule): a timer
// tick that came late, or not at all while the UI thread was busy, is made up
// at the next, a bounded number of sends at a time. It stops by itself when a
// send fails (the reason stays in stopReason()), after the last one, on
// stop() and on connectionEnded(). progressText() reads "sent 3 of 10" (or
// "sent 3" without a count), then why it stopped; progressed() comes after
// each tick that sent. UI thread only.
class CommandRepeat : public QObject
{
    Q_OBJECT
public:
    // Sends the command once: no failure when it went to the send queue, else
    // why not.
    using SendOnce = std::function<base::Error()>;

    explicit CommandRepeat(QObject* parent = nullptr);

    void start(SendOnce send, int intervalMs, std::uint64_t count);
    void stop(const std::string& reason = "stopped");
    // The connection is gone (Disconnect, or the device dropped it).
    void connectionEnded() { stop("the connection ended"); }

    bool running() const { return timer_.isActive(); }
    std::uint64_t sent() const { return sent_; }
    std::string progressText() const;

signals:
    void progressed();
    void runningChanged(bool running);

private:
    void sendDue();

    QTimer timer_;
    RepeatSchedule schedule_{std::chrono::milliseconds(1), 0};
    SendOnce send_;
    std::uint64_t count_ = 0;
    std::uint64_t sent_ = 0;
    std::string stopReason_;
};

} // namespace app
