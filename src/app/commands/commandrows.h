#pragma once

#include <QListWidget>

#include <cstddef>
#include <string>
#include <vector>

namespace app
{

// The Commands window's rows: one a command of the list shown, each
// remembering which command it shows, so that after the operator dragged rows
// into a new order that order can be read back whole (order()). Single
// selection; rows are moved by dragging.
//
// Signals: sendRequested(row) on a double-click or Enter (Return) on a row;
// dropped() once a drop that moved rows is over (queued, so that the view
// has settled).
//
// UI thread only.
class CommandRows : public QListWidget
{
    Q_OBJECT
public:
    explicit CommandRows(QWidget* parent);

    // Shows `lines` (line i the list's command i) and selects `selectRow`
    // when there is such a row.
    void showLines(const std::vector<std::string>& lines, int selectRow);
    // The list's indices of the commands, in the order the rows stand.
    std::vector<std::size_t> order() const;

signals:
    void sendRequested(int row);
    void dropped();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace app
