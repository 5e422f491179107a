#include "trafficmodel.h"

#include "trafficformat.h"

#include "traffic/bytetext.h"
#include "traffic/recordline.h"
#include "traffic/writeoutcome.h"

#include <QBrush>

#include <algorithm>
#include <iterator>

namespace app
{

namespace
{

// What a cell shows of a record's bytes.
std::string_view cellBytes(const traffic::Record& record)
{
    return std::string_view(record.bytes).substr(0, TrafficModel::kCellBytes);
}

// A cell's text, with "…" after it when the record has more bytes.
QString cellText(const std::string& shown, const traffic::Record& record)
{
    QString text = trafficformat::text(shown);
    if (record.bytes.size() > TrafficModel::kCellBytes)
        text += QChar(0x2026);
    return text;
}

bool isEvent(const traffic::Record& record)
{
    return traffic::directionOf(record.kind) == traffic::Direction::Event;
}

QString description(const traffic::Record& record)
{
    return trafficformat::text(record.text);
}

// "sent", "received", "event"; a write that did not send its whole block
// says so, or it would look like any other sent row.
QString directionText(const traffic::Record& record)
{
    QString text = trafficformat::text(traffic::directionName(traffic::directionOf(record.kind)));
    switch (traffic::writeOutcome(record)) {
    case traffic::WriteOutcome::Failed:
        return text + QStringLiteral(" (failed)");
    case traffic::WriteOutcome::Partial:
        return text + QStringLiteral(" (partial)");
    default:
        return text;
    }
}

} // namespace

TrafficModel::TrafficModel(std::size_t maxRecords, QObject* parent)
    : QAbstractTableModel(parent), maxRecords_(std::max<std::size_t>(maxRecords, 1))
{
}

int TrafficModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const traffic::Record& shown = record(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return display(shown, index.column());
    case Qt::ToolTipRole:
        return index.column() == TimeColumn ? trafficformat::dateTime(shown.time)
                                            : description(shown);
    case Qt::TextAlignmentRole:
        if (index.column() == LengthColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        return foreground(shown);
    default:
        return {};
    }
}

QVariant TrafficModel::display(const traffic::Record& record, int column) const
{
    switch (column) {
    case TimeColumn:
        return trafficformat::timeOfDay(record.time);
    case DirectionColumn:
        return directionText(record);
    case LengthColumn:
        return isEvent(record) ? QVariant()
                               : QVariant(static_cast<qulonglong>(record.bytes.size()));
    case TextColumn:
        return isEvent(record) ? trafficformat::text(traffic::kindName(record.kind))
                               : cellText(traffic::visibleText(cellBytes(record)), record);
    case HexColumn:
        return isEvent(record) ? description(record)
                               : cellText(traffic::hexText(cellBytes(record)), record);
    default:
        return {};
    }
}

QColor TrafficModel::writeColour(traffic::WriteOutcome outcome)
{
    switch (outcome) {
    case traffic::WriteOutcome::Failed:
        return QColor(0xc0, 0x10, 0x10);
    case traffic::WriteOutcome::Partial:
        return QColor(0xb0, 0x58, 0x00);
    default:
        return {};
    }
}

QVariant TrafficModel::foreground(const traffic::Record& record) const
{
    const QColor colour = writeColour(traffic::writeOutcome(record));
    return colour.isValid() ? QVariant(QBrush(colour)) : QVariant();
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case DirectionColumn:
        return tr("Direction");
    case LengthColumn:
        return tr("Length");
    case TextColumn:
        return tr("Text");
    case HexColumn:
        return tr("Hex");
    default:
        return {};
    }
}

void TrafficModel::append(std::vector<traffic::Record> batch)
{
    if (batch.empty())
        return;
    // Of a batch bigger than the bound only its newest records can stay.
    auto first = batch.begin();
    if (batch.size() > maxRecords_) {
        const std::size_t skipped = batch.size() - maxRecords_;
        dropped_ += skipped;
        first += static_cast<std::ptrdiff_t>(skipped);
    }
    const auto adding = static_cast<std::size_t>(std::distance(first, batch.end()));

    const std::size_t kept = std::min(records_.size(), maxRecords_ - adding);
    if (kept < records_.size()) {
        const std::size_t excess = records_.size() - kept;
        beginRemoveRows({}, 0, static_cast<int>(excess) - 1);
        records_.erase(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(excess));
        dropped_ += excess;
        endRemoveRows();
    }

    const int at = static_cast<int>(records_.size());
    beginInsertRows({}, at, at + static_cast<int>(adding) - 1);
    std::move(first, batch.end(), std::back_inserter(records_));
    endInsertRows();
}

void TrafficModel::addDropped(std::uint64_t count)
{
    dropped_ += count;
}

void TrafficModel::clear()
{
    beginResetModel();
    records_.clear();
    records_.shrink_to_fit();
    dropped_ = 0;
    endResetModel();
}

const traffic::Record& TrafficModel::record(int row) const
{
    return records_.at(static_cast<std::size_t>(row));
}

} // namespace app
