#pragma once

#include "check/answerengine.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace app
{

class ReceivedTap;

// The Commands window's automatic answers: a switch (off whenever the window
// is made), the most answers a second (remembered in the settings, section
// "Commands", key "AnswersPerSecond", default 100) and a status line shown
// while they are on: how many went out, how many matches were over the bound
// and not answered, how many answers could not be sent as filled and why.
//
// While on, a timer takes what the tap holds every kPollIntervalMs, feeds it
// to a check::AnswerEngine in the console's delimiter mode of the moment and
// hands each answer to `send`, which puts it out through the console's send
// path with its rule named in the traffic record. Switching on starts afresh
// (what came while off is not answered). UI thread only.
class AnswerPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 20;
    using SendAnswer = std::function<void(const check::Answer&)>;

    AnswerPanel(ReceivedTap* tap, SendAnswer send, QWidget* parent = nullptr);
    ~AnswerPanel() override;

    // The rules in force from now on (a file was opened or changed).
    void setRules(std::vector<check::AnswerRule> rules);
    void setOn(bool on);
    bool isOn() const;
    void setMaxPerSecond(int perSecond);
    // Takes what the tap holds and sends the answers due (the timer's work).
    void poll();
    QString statusText() const;

private:
    void startEngine();
    void showStatus();

    ReceivedTap* tap_;
    SendAnswer send_;
    std::vector<check::AnswerRule> rules_;
    std::unique_ptr<check::AnswerEngine> engine_;
    QTimer timer_;
    QElapsedTimer clock_;
    QCheckBox* switch_ = nullptr;
    QSpinBox* perSecond_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace app
