#pragma once

#include "receivedtap.h"

#include "check/answerengine.h"

#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace app
{

// The Commands window's automatic answers: a switch (off whenever the window
// is made), the most answers a second (remembered in the settings, section
// "Commands", key "AnswersPerSecond", default 100) and a status line shown
// while they are on: how many went out, how many matches were over the bound
// and not answered, how many answers could not be sent as filled and why.
//
// While on, what the window hands to received() goes to a
// check::AnswerEngine in the console's delimiter mode of the moment, and each
// answer to `send`, which puts it out through the console's send path with
// its rule named in the traffic record. Switching on starts afresh (what came
// while off is not answered). UI thread only.
class AnswerPanel : public QWidget
{
    Q_OBJECT
public:
    using SendAnswer = std::function<void(const check::Answer&)>;

    explicit AnswerPanel(SendAnswer send, QWidget* parent = nullptr);
    ~AnswerPanel() override;

    // The rules in force from now on (a file was opened or changed).
    void setRules(std::vector<check::AnswerRule> rules);
    void setOn(bool on);
    bool isOn() const;
    void setMaxPerSecond(int perSecond);
    // Bytes the device sent, each read timed as it came (the bound on answers
    // a second holds to those times); the answers due go out at once.
    // With `datagrams` (UDP), each read is one datagram and ends a record,
    // line end or not.
    void received(const ReceivedTap::Received& received, bool datagrams = false);
    QString statusText() const;

signals:
    void switched(bool on);

private:
    void startEngine();
    void showStatus();

    SendAnswer send_;
    std::vector<check::AnswerRule> rules_;
    std::unique_ptr<check::AnswerEngine> engine_;
    QCheckBox* switch_ = nullptr;
    QSpinBox* perSecond_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace app
