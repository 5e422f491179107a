#include "consolekeyfilter.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QWidget>

namespace app
{

ConsoleKeyFilter::ConsoleKeyFilter(QWidget* window, QWidget* freeText, QWidget* modeBox,
                                   QWidget* portEdit)
    : QObject(window), freeText_(freeText), modeBox_(modeBox), portEdit_(portEdit)
{
    // A widget sees a key before its window does, and some (the edit fields of
    // combo boxes, for one) would act on Esc themselves: every widget that can
    // hold the focus gets the filter. The mode box and the port edit get it
    // for their focus loss too. A combo box's drop-down list is a window of
    // its own and keeps its own keys (Esc closes it).
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window)
            continue;
        if (widget->focusPolicy() != Qt::NoFocus || widget == modeBox_ || widget == portEdit_)
            widget->installEventFilter(this);
    }
}

bool ConsoleKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape)
            return true;
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && watched == freeText_) {
            emit freeTextEntered();
            return true;
        }
        break;
    }
    case QEvent::ShortcutOverride: {
        // Ctrl+K opens the Commands window from every control, also from a
        // line edit, which would take it as "delete to the end of the line".
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_K && key->modifiers() == Qt::ControlModifier) {
            event->ignore();
            return true;
        }
        break;
    }
    case QEvent::FocusOut:
        // A drop-down list or a context menu opening is no loss of focus.
        if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason)
            break;
        if (watched == modeBox_)
            emit modeBoxLeft();
        else if (watched == portEdit_)
            emit portEditLeft();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace app
