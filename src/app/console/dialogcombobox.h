#pragma once

#include <QComboBox>
#include <QString>

namespace app
{

// A drop-down combo box with an editable field, as the console's template
// describes them: the operator may pick an entry or type any text, typed text
// never becomes a list entry, and nothing is completed while typing.
//
// A sorted box keeps its entries in alphabetical order ignoring case (so "1Z"
// comes between "10" and "99"); an unsorted box keeps the order they were
// added in.
//
// The data exchange with the dialog's members: setExchangeText() selects the
// first entry that begins with the text, ignoring case, and shows it (an empty
// text therefore selects the first entry); when no entry begins with it the text
// itself goes into the edit field and the selection stays. exchangeText() is
// the edit field's text. UI thread only.
class DialogComboBox : public QComboBox
{
    Q_OBJECT
public:
    enum class Order { AsAdded, Sorted };

    explicit DialogComboBox(Order order, QWidget* parent = nullptr);

    Order order() const { return order_; }
    // Adds an entry, in its sorted place for a sorted box; returns its index.
    int addEntry(const QString& entry);

    void setExchangeText(const QString& text);
    QString exchangeText() const;

private:
    Order order_;
};

} // namespace app
