#include "trafficmodel.h"

#include "trafficformat.h"
#include "trafficframes.h"

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

// A tool tip of a few dozen frames at most: a block of hundreds would not fit
// on a screen either.
constexpr std::size_t kToolTipBytes = 4 * TrafficModel::kCellBytes;

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

} // namespace

TrafficModel::TrafficModel(std::size_t maxRecords, QObject* parent)
    : QAbstractTableModel(parent), maxRecords_(std::max<std::size_t>(maxRecords, 1))
{
}

int TrafficModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const traffic::Record& shown = row.record;
    switch (role) {
    case Qt::DisplayRole:
        return display(row, index.column());
    case Qt::ToolTipRole:
        if (index.column() == FramesColumn && !row.frames.empty())
            return trafficframes::lines(std::string_view(row.frames).substr(0, kToolTipBytes));
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

QVariant TrafficModel::display(const Row& row, int column) const
{
    const traffic::Record& record = row.record;
    switch (column) {
    case TimeColumn:
        return trafficformat::timeOfDay(record.time);
    case DirectionColumn:
        return trafficformat::directionText(record);
    case LengthColumn:
        return isEvent(record) ? QVariant()
                               : QVariant(static_cast<qulonglong>(record.bytes.size()));
    case TextColumn:
        return isEvent(record) ? trafficformat::text(traffic::kindName(record.kind))
                               : cellText(traffic::visibleText(cellBytes(record)), record);
    case HexColumn:
        return isEvent(record) ? description(record)
                               : cellText(traffic::hexText(cellBytes(record)), record);
    case FramesColumn:
        return trafficframes::cell(row.frames, kCellBytes);
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
    case FramesColumn:
        return tr("Frames");
    default:
        return {};
    }
}

std::size_t TrafficModel::footprint(const Row& row)
{
    return row.record.bytes.size() + row.record.text.size() + row.frames.size();
}

void TrafficModel::append(std::vector<traffic::Record> batch, std::vector<std::string> frames)
{
    if (batch.empty())
        return;
    std::vector<Row> adding;
    adding.reserve(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i)
        adding.push_back(
            Row{std::move(batch[i]), i < frames.size() ? std::move(frames[i]) : std::string()});

    // Of a batch beyond a bound only its newest records can stay.
    std::size_t addingBytes = 0;
    auto first = adding.end();
    while (first != adding.begin()) {
        const std::size_t size = footprint(*(first - 1));
        const auto count = static_cast<std::size_t>(adding.end() - first);
        if (first != adding.end() && (count >= maxRecords_ || addingBytes + size > maxBytes_))
            break;
        addingBytes += size;
        --first;
    }
    dropped_ += static_cast<std::uint64_t>(first - adding.begin());
    const auto count = static_cast<std::size_t>(adding.end() - first);

    std::size_t excess = 0;
    std::size_t freed = 0;
    while (excess < rows_.size() && (rows_.size() - excess + count > maxRecords_ ||
                                     heldBytes_ - freed + addingBytes > maxBytes_)) {
        freed += footprint(rows_[excess]);
        ++excess;
    }
    if (excess > 0) {
        beginRemoveRows({}, 0, static_cast<int>(excess) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(excess));
        heldBytes_ -= freed;
        dropped_ += excess;
        endRemoveRows();
    }

    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at + static_cast<int>(count) - 1);
    std::move(first, adding.end(), std::back_inserter(rows_));
    heldBytes_ += addingBytes;
    endInsertRows();
}

void TrafficModel::addDropped(std::uint64_t count)
{
    dropped_ += count;
}

void TrafficModel::clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    heldBytes_ = 0;
    dropped_ = 0;
    endResetModel();
}

const traffic::Record& TrafficModel::record(int row) const
{
    return rows_.at(static_cast<std::size_t>(row)).record;
}

std::string_view TrafficModel::frames(int row) const
{
    return rows_.at(static_cast<std::size_t>(row)).frames;
}

} // namespace app
