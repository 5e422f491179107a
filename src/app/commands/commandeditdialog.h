#pragma once

#include "base/error.h"
#include "check/checkfile.h"

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QRadioButton;

namespace app
{

// Edits one saved command: its name, and either the five frame fields or a
// free text. The texts are shown and taken literally ('{' is just a brace; the
// list stores it doubled, see CommandList).
//
// OK accepts only what the console could send as it stands: a missing media,
// device id or command gives the console's own message
// (protocol::validateFrameFields), a field off its width or over its limit
// says so (check::frameFieldsError), and so does a free text that is empty or
// too long; the message shows in the dialog, which stays open. Data, message
// and free text are held to their limits as in the console. UI thread only.
class CommandEditDialog : public QDialog
{
    Q_OBJECT
public:
    CommandEditDialog(const std::string& name, const check::SendStep& send,
                      QWidget* parent = nullptr);

    // What was accepted (as the list stores it); valid after accept().
    std::string name() const;
    check::SendStep send() const;
    // What keeps the current input from being accepted; no failure when
    // nothing does.
    base::Error problem() const;
    QString shownProblem() const;

    void accept() override;

    QLineEdit*
    field(const char* key) const; // "name" "media" "id" "data" "command" "message" "text"
    QRadioButton* frameChoice() const { return frame_; }
    QRadioButton* textChoice() const { return text_; }

private:
    check::SendStep literalSend() const;

    QLineEdit *name_, *media_, *deviceId_, *data_, *command_, *message_, *freeText_;
    QRadioButton *frame_, *text_;
    QLabel* problem_;
};

} // namespace app
