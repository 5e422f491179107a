#pragma once

#include <QFrame>
#include <QString>

#include <array>

class QLineEdit;

namespace app
{

// An IPv4 address entry: four fields of 0 to 255 separated by dots, one tab
// stop for the whole control (Tab enters the first field).
//
// text() is the dotted address, each field as its decimal value without
// leading zeros whatever was typed ("010" gives 10). A blank field gives an
// empty part ("10..0.1")
// and a wholly blank control an empty text, so what the operator left blank
// never turns into a 0 that was not typed. setText() takes such a text back:
// each part that is a number fills its field (above 255 it shows 255), any
// other part leaves its field blank, parts after the fourth are ignored.
//
// fieldChanged is emitted for every change the operator makes in a field
// (typing, deleting, pasting), after a value above 255 has been replaced by
// 255; never for setText(). A third digit moves on to the next field, its
// text selected. Typing '.' or a blank after digits in a field moves on too;
// in a field with its text selected or the cursor at its start it does
// nothing, so an address typed as written ("192.168.0.1") fills the four
// fields in order. Backspace and Left at the start of a field and Right at its
// end move to the neighbouring field. UI thread only.
class Ipv4AddressEdit : public QFrame
{
    Q_OBJECT
public:
    static constexpr int kFieldCount = 4;
    static constexpr int kFieldMaximum = 255;
    static constexpr int kFieldDigits = 3;
    // Value reported for a blank field.
    static constexpr int kBlank = -1;

    explicit Ipv4AddressEdit(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);

    // The value of one field (0..3), or kBlank.
    int fieldValue(int index) const;
    QLineEdit* field(int index) const { return fields_.at(static_cast<std::size_t>(index)); }

signals:
    void fieldChanged(int field, int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onFieldEdited(int index);
    int indexOf(const QObject* object) const;
    void enterField(int index, bool atEnd);

    std::array<QLineEdit*, kFieldCount> fields_{};
};

} // namespace app
