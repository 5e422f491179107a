#include "dialogcombobox.h"

#include <QLineEdit>

namespace app
{

DialogComboBox::DialogComboBox(Order order, QWidget* parent) : QComboBox(parent), order_(order)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setDuplicatesEnabled(true);
}

int DialogComboBox::addEntry(const QString& entry)
{
    int index = count();
    if (order_ == Order::Sorted) {
        // After every entry that sorts before it or equal to it, so entries that
        // compare equal keep the order they were added in.
        index = 0;
        while (index < count() &&
               QString::compare(itemText(index), entry, Qt::CaseInsensitive) <= 0)
            ++index;
    }
    const QString shown = currentText();
    const bool hadEntries = count() > 0;
    insertItem(index, entry);
    // Adding an entry changes nothing the operator sees: the first entry of an
    // empty box is not selected by itself.
    if (!hadEntries)
        setCurrentIndex(-1);
    setEditText(shown);
    return index;
}

void DialogComboBox::setExchangeText(const QString& text)
{
    for (int index = 0; index < count(); ++index) {
        if (itemText(index).startsWith(text, Qt::CaseInsensitive)) {
            setCurrentIndex(index);
            // setCurrentIndex() leaves the field alone when the index does not
            // change, though the operator may have typed over it since.
            setEditText(itemText(index));
            return;
        }
    }
    setEditText(text);
}

QString DialogComboBox::exchangeText() const
{
    return lineEdit() ? lineEdit()->text() : currentText();
}

} // namespace app
