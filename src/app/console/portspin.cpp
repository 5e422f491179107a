#include "portspin.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace app
{

PortSpin::PortSpin(QWidget* parent)
    : QWidget(parent), upArrow_(new QToolButton(this)), downArrow_(new QToolButton(this))
{
    setFocusPolicy(Qt::NoFocus);
    upArrow_->setObjectName(QStringLiteral("upArrow"));
    downArrow_->setObjectName(QStringLiteral("downArrow"));
    upArrow_->setArrowType(Qt::UpArrow);
    downArrow_->setArrowType(Qt::DownArrow);
    for (QToolButton* arrow : {upArrow_, downArrow_}) {
        arrow->setFocusPolicy(Qt::NoFocus);
        arrow->setAutoRepeat(true);
    }
    // The buddy takes the focus before the step: whoever saves the buddy's
    // number when it loses the focus then also sees numbers stepped here.
    for (QToolButton* arrow : {upArrow_, downArrow_})
        connect(arrow, &QToolButton::pressed, this, &PortSpin::focusBuddy);
    connect(upArrow_, &QToolButton::clicked, this, &PortSpin::stepUp);
    connect(downArrow_, &QToolButton::clicked, this, &PortSpin::stepDown);
    position_ = downEnd_;
}

void PortSpin::setBuddy(QLineEdit* buddy)
{
    if (buddy_)
        buddy_->removeEventFilter(this);
    buddy_ = buddy;
    if (buddy_)
        buddy_->installEventFilter(this);
}

void PortSpin::setEnds(int downEnd, int upEnd)
{
    downEnd_ = downEnd;
    upEnd_ = upEnd;
    if (position_ < std::min(downEnd_, upEnd_) || position_ > std::max(downEnd_, upEnd_))
        position_ = downEnd_;
}

void PortSpin::stepUp()
{
    step(1);
}

void PortSpin::stepDown()
{
    step(-1);
}

void PortSpin::focusBuddy()
{
    if (buddy_ && buddy_->isEnabled() && !buddy_->hasFocus())
        buddy_->setFocus(Qt::MouseFocusReason);
}

void PortSpin::step(int towardUpEnd)
{
    if (buddy_) {
        bool ok = false;
        const int number = buddy_->text().trimmed().toInt(&ok);
        if (ok)
            position_ = number;
    }
    const int direction = upEnd_ >= downEnd_ ? 1 : -1;
    const int next = std::clamp(position_ + towardUpEnd * direction, std::min(downEnd_, upEnd_),
                                std::max(downEnd_, upEnd_));
    position_ = next;
    if (buddy_) {
        const QString text = QString::number(next);
        if (buddy_->text() != text)
            buddy_->setText(text);
    }
}

bool PortSpin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up && isEnabled()) {
            stepUp();
            return true;
        }
        if (key->key() == Qt::Key_Down && isEnabled()) {
            stepDown();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PortSpin::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int half = height() / 2;
    upArrow_->setGeometry(0, 0, width(), half);
    downArrow_->setGeometry(0, half, width(), height() - half);
}

} // namespace app
