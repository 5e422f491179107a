#include "commandrows.h"

#include <QKeyEvent>

namespace app
{

CommandRows::CommandRows(QWidget* parent) : QListWidget(parent)
{
    setDragDropMode(QAbstractItemView::InternalMove);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { emit sendRequested(row(item)); });
    // A drop moves rows in the view; the list follows once the drop is over.
    connect(model(), &QAbstractItemModel::rowsMoved, this, &CommandRows::dropped,
            Qt::QueuedConnection);
}

void CommandRows::showLines(const std::vector<std::string>& lines, int selectRow)
{
    clear();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(lines[i]), this);
        item->setData(Qt::UserRole, static_cast<qulonglong>(i));
    }
    if (selectRow >= 0 && selectRow < count())
        setCurrentRow(selectRow);
}

std::vector<std::size_t> CommandRows::order() const
{
    std::vector<std::size_t> indices;
    for (int row = 0; row < count(); ++row)
        indices.push_back(item(row)->data(Qt::UserRole).toULongLong());
    return indices;
}

void CommandRows::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit sendRequested(currentRow());
        return;
    }
    QListWidget::keyPressEvent(event);
}

} // namespace app
