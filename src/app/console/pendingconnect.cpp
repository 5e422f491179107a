#include "pendingconnect.h"

#include "consolecontrols.h"
#include "consoletexts.h"

#include "socket/connectattempt.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPushButton>

namespace app
{

void PendingConnect::enter(Attempt attempt)
{
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    busyCursor_ = true;
    controls_.disconnect()->setEnabled(true);
    controls_.connect()->setEnabled(false);
    // Where the focus went when Connect gave it up: if it is still there when
    // the attempt ends, Connect takes it back before the connect steps run.
    focusWhilePending_ = QApplication::focusWidget();
    attempt_ = std::move(attempt);
}

PendingConnect::Attempt PendingConnect::leave()
{
    Attempt attempt = std::move(*attempt_);
    attempt_.reset();
    if (busyCursor_)
        QGuiApplication::restoreOverrideCursor();
    busyCursor_ = false;
    const bool focusUntouched = QApplication::focusWidget() == focusWhilePending_;
    focusWhilePending_ = nullptr;
    controls_.connect()->setEnabled(true);
    controls_.disconnect()->setEnabled(false);
    if (attempt.connectHadFocus && focusUntouched)
        controls_.connect()->setFocus(Qt::OtherFocusReason);
    return attempt;
}

void PendingConnect::showLastAttempt(const Attempt& attempt, const net::ConnectOutcome& outcome)
{
    controls_.connect()->setToolTip(
        consoletexts::lastAttemptText(attempt.host, attempt.port, attempt.tcp, outcome));
}

} // namespace app
