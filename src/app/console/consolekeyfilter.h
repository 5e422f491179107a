#pragma once

#include <QObject>

class QWidget;

namespace app
{

// The console's key and focus rules, as an event filter installed on the
// window's own controls (each widget inside the window that can take the
// focus), never on the application:
// - Esc is consumed in every one of them;
// - Enter (Return or keypad Enter) in the free-text edit is consumed and
//   announced as freeTextEntered(); Enter elsewhere goes on as usual (the
//   focused push button, else the dialog's default button);
// - Ctrl+K is left to the window's shortcut (a line edit would take it);
// - the mode box and the port edit announce losing the focus, except to a
//   drop-down list or context menu of their own (PopupFocusReason).
// UI thread only; the filter is a child of the window.
class ConsoleKeyFilter : public QObject
{
    Q_OBJECT
public:
    ConsoleKeyFilter(QWidget* window, QWidget* freeText, QWidget* modeBox, QWidget* portEdit);

signals:
    void freeTextEntered();
    void modeBoxLeft();
    void portEditLeft();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* freeText_;
    QWidget* modeBox_;
    QWidget* portEdit_;
};

} // namespace app
