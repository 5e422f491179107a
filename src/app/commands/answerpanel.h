#pragma once

#include "consolelink.h"
#include "receivedtap.h"

#include "check/answerengine.h"

#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QSpinBox;
class QListWidget;

namespace app
{

// The Commands window's automatic answers: a switch (off whenever the window
// is made), the most answers a second (remembered in the settings, section
// "Commands", key "AnswersPerSecond", default 100) and a status line shown
// while they are on: how many went out, how many matches were over the bound
// and not answered, how many answers could not be sent as filled and why.
//
// The rules are listed below the switch; Add…, Edit… and Delete change them
// (a rule is edited as its lines in a check file, and refused with the
// reader's message when it has a mistake), and rulesChanged() tells the
// window to keep them.
//
// While on, what the window hands to received() goes to a
// check::AnswerEngine in the console's delimiter mode of the moment, and each
// answer goes out through ConsoleLink::send() (after what was received
// before it) with its rule named in the traffic record. Switching on starts
// afresh (what came while off is not answered). Every change of the rules,
// the switch or the bound is told to ConsoleLink::answersChanged(), so that
// the other devices the console serves are answered alike. UI thread only.
class AnswerPanel : public QWidget
{
    Q_OBJECT
public:
    // Edits a rule's text: the text accepted, or nothing when cancelled.
    using EditText = std::function<std::optional<QString>(const QString& text)>;

    explicit AnswerPanel(ConsoleLink& console, QWidget* parent = nullptr);
    ~AnswerPanel() override;

    // The rules in force from now on (a file was opened or changed).
    void setRules(std::vector<check::AnswerRule> rules);
    const std::vector<check::AnswerRule>& rules() const { return rules_; }
    // Adds a rule (`row` -1) or replaces rule `row` by what `edit` gives,
    // until it reads without a mistake or is cancelled; true when changed.
    bool editRule(int row);
    bool deleteRule(int row);
    void setEditText(EditText edit) { editText_ = std::move(edit); }
    QListWidget* ruleList() const { return ruleList_; }
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
    void rulesChanged();

private:
    void startEngine();
    void showStatus();
    void showRules(int selectRow);
    void send(const check::Answer& answer);

    ConsoleLink& console_;
    EditText editText_;
    QListWidget* ruleList_ = nullptr;
    QLabel* ruleProblem_ = nullptr;
    std::vector<check::AnswerRule> rules_;
    std::unique_ptr<check::AnswerEngine> engine_;
    QCheckBox* switch_ = nullptr;
    QSpinBox* perSecond_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace app
