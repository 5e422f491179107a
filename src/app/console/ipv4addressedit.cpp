#include "ipv4addressedit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

#include <algorithm>

namespace app
{

Ipv4AddressEdit::Ipv4AddressEdit(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int index = 0; index < kFieldCount; ++index) {
        if (index > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setBackgroundRole(QPalette::Base);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("field%1").arg(index));
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(validator);
        edit->setMaxLength(kFieldDigits);
        edit->setMinimumWidth(0);
        // The control is one tab stop: Tab reaches the first field only; the
        // others take the focus by click or by moving on from a field.
        edit->setFocusPolicy(index == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, index] { onFieldEdited(index); });
        layout->addWidget(edit, 1);
        fields_[static_cast<std::size_t>(index)] = edit;
    }
    setFocusProxy(fields_[0]);
    setFocusPolicy(Qt::StrongFocus);
}

QString Ipv4AddressEdit::text() const
{
    QStringList parts;
    bool allBlank = true;
    // Each field as its decimal value: a field typed "010" reads as 10, never
    // as a part with a leading zero, which the dotted-address parser would take
    // for an octal number (8).
    for (int index = 0; index < kFieldCount; ++index) {
        const int value = fieldValue(index);
        parts << (value == kBlank ? QString() : QString::number(value));
        allBlank = allBlank && value == kBlank;
    }
    return allBlank ? QString() : parts.join(QLatin1Char('.'));
}

void Ipv4AddressEdit::setText(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int index = 0; index < kFieldCount; ++index) {
        const QString part = index < parts.size() ? parts.at(index).trimmed() : QString();
        bool ok = false;
        const int value = part.toInt(&ok);
        const bool digitsOnly =
            !part.isEmpty() && std::all_of(part.begin(), part.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            });
        QString shown;
        if (ok && digitsOnly)
            shown = QString::number(std::min(value, kFieldMaximum));
        else if (digitsOnly)
            shown = QString::number(kFieldMaximum); // too many digits for an int
        field(index)->setText(shown);
    }
}

int Ipv4AddressEdit::fieldValue(int index) const
{
    bool ok = false;
    const int value = field(index)->text().toInt(&ok);
    return ok ? value : kBlank;
}

void Ipv4AddressEdit::onFieldEdited(int index)
{
    QLineEdit* edit = field(index);
    if (fieldValue(index) > kFieldMaximum)
        edit->setText(QString::number(kFieldMaximum));
    emit fieldChanged(index, fieldValue(index));
    if (edit->text().size() == kFieldDigits && edit->cursorPosition() == kFieldDigits &&
        index + 1 < kFieldCount)
        enterField(index + 1, false);
}

int Ipv4AddressEdit::indexOf(const QObject* object) const
{
    for (int index = 0; index < kFieldCount; ++index) {
        if (fields_[static_cast<std::size_t>(index)] == object)
            return index;
    }
    return -1;
}

void Ipv4AddressEdit::enterField(int index, bool atEnd)
{
    QLineEdit* edit = field(index);
    edit->setFocus(Qt::OtherFocusReason);
    if (atEnd) {
        edit->deselect();
        edit->setCursorPosition(static_cast<int>(edit->text().size()));
    } else {
        edit->selectAll();
    }
}

bool Ipv4AddressEdit::eventFilter(QObject* watched, QEvent* event)
{
    const int index = indexOf(watched);
    if (index >= 0 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QLineEdit* edit = field(index);
        const bool atStart = edit->cursorPosition() == 0 && !edit->hasSelectedText();
        const bool atEnd =
            edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText();
        const QString typed = key->text();
        if (typed == QLatin1String(".") || typed == QLatin1String(" ")) {
            // Only after digits typed into this field: a field just entered
            // has its text selected, and the dot that follows a third digit
            // (which already moved on) must not skip the field.
            if (index + 1 < kFieldCount && !edit->text().isEmpty() && !edit->hasSelectedText() &&
                edit->cursorPosition() > 0)
                enterField(index + 1, false);
            return true;
        }
        if ((key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Left) && atStart &&
            index > 0) {
            enterField(index - 1, true);
            return true;
        }
        if (key->key() == Qt::Key_Right && atEnd && index + 1 < kFieldCount) {
            enterField(index + 1, false);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace app
