#pragma once

#include "traffic/trafficrecord.h"
#include "traffic/writeoutcome.h"

#include <QAbstractTableModel>
#include <QColor>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace app
{

// The records the Traffic window shows, oldest first (newest at the bottom),
// at most maxRecords() of them and at most maxBytes() of their bytes, texts
// and frames texts together (the newest record is kept even when it alone is
// more).
//
// append() takes a whole batch with one beginInsertRows()/endInsertRows() and,
// when the batch goes beyond the bound, drops the oldest records with one
// beginRemoveRows()/endRemoveRows() before it: never a model reset, so a view
// and a filter on it keep up with a flood. Every record dropped from memory
// (trimmed here, or reported by the intake through addDropped()) is counted in
// droppedCount() until clear().
//
// Columns: time of day (local, microseconds), direction, length of the bytes,
// the bytes as visible text, the bytes in hex, the frames. An event (every record that is
// neither sent nor received) shows what it is in the text column and its
// description in the hex column. The tool tip of a row is its description.
// A write that failed (nothing went out) or went out in part shows
// "sent (failed)" or "sent (partial)" in the direction column, and its whole
// row is written in writeColour() of its outcome (Qt::ForegroundRole); every
// other row has the view's own colours.
// A cell shows the first kCellBytes bytes at most, then "…": no screen is wide
// enough for more, and laying out whole blocks for every row in sight made
// each repaint dear under a flood. The detail pane, Copy and Save as… take
// the whole record.
//
// Frames: each record comes with its frames as the intake read them
// (TrafficQueue, traffic::RecordFrames), kept beside it (frames()); the Frames
// cell shows them on one line, its tool tip one a line. Nothing is decoded
// here, least of all per repaint.
//
// UI thread only.
class TrafficModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr std::size_t kMaxRecords = 100000;
    static constexpr std::size_t kCellBytes = 512;
    static constexpr std::size_t kMaxBytes = 64u << 20;

    enum Column {
        TimeColumn,
        DirectionColumn,
        LengthColumn,
        TextColumn,
        HexColumn,
        FramesColumn,
        ColumnCount
    };

    explicit TrafficModel(std::size_t maxRecords = kMaxRecords, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Adds the batch at the end (see above), with the frames of each record
    // (`frames` empty: none).
    void append(std::vector<traffic::Record> batch, std::vector<std::string> frames = {});
    // Counts records that were dropped before they reached the model.
    void addDropped(std::uint64_t count);
    // Forgets every record and the dropped count.
    void clear();

    // The record of a row; row must be in [0, rowCount()).
    const traffic::Record& record(int row) const;
    // Its frames: items separated by traffic::FrameStream::kItemSeparator.
    std::string_view frames(int row) const;
    std::size_t maxRecords() const { return maxRecords_; }
    // The text colour of a write's row: red for Failed, orange for Partial,
    // invalid (the view's own) for any other outcome.
    static QColor writeColour(traffic::WriteOutcome outcome);
    std::uint64_t droppedCount() const { return dropped_; }

    // The bound of the bytes held, from the next append() on.
    void setMaxBytes(std::size_t maxBytes) { maxBytes_ = std::max<std::size_t>(maxBytes, 1); }
    std::size_t maxBytes() const { return maxBytes_; }
    // The bytes, texts and frames texts of the records held.
    std::size_t heldBytes() const { return heldBytes_; }

private:
    struct Row {
        traffic::Record record;
        std::string frames;
    };
    static std::size_t footprint(const Row& row);
    QVariant display(const Row& row, int column) const;
    QVariant foreground(const traffic::Record& record) const;

    const std::size_t maxRecords_;
    std::size_t maxBytes_ = kMaxBytes;
    std::deque<Row> rows_;
    std::size_t heldBytes_ = 0;
    std::uint64_t dropped_ = 0;
};

} // namespace app
