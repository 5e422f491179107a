#pragma once

#include "connectionwatch.h"

#include "host/devicerow.h"

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace app
{

// The Devices window's table: the console's own connection first (when it
// has one or had one), then every device the host lists but the one handed
// to the console (the first row stands for it). Columns: protocol, address
// and port, connected since, bytes in, bytes out, last frame, state.
//
// update() takes a whole picture; rows keep their place while the list of
// devices is the same (only changed cells are told), so a selection stays.
// UI thread only.
class DevicesModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Protocol, Address, Since, BytesIn, BytesOut, LastFrame, State, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void update(const ConsoleConnection& console, const host::HostSnapshot& snapshot);

    // The host's id of the device in `row`; 0 for the console's own row.
    std::uint64_t deviceId(int row) const;
    // The row of the host's device `id`, or -1.
    int rowOf(std::uint64_t id) const;
    // Whether `row` is a device the host serves (it can become the console's).
    bool servedByHost(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString consoleStateText(const ConsoleConnection& console);

private:
    struct Row {
        std::uint64_t id = 0;
        bool served = false;
        std::array<QString, ColumnCount> cells;
        bool operator==(const Row&) const = default;
    };
    static Row consoleRow(const ConsoleConnection& console);
    static Row deviceRow(const host::DeviceRow& device);

    std::vector<Row> rows_;
};

} // namespace app
