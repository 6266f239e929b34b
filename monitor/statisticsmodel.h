#pragma once

#include <QAbstractTableModel>

namespace bus {
class Poller;
}

namespace monitor {

class LinkMonitor;

// The statistics table: one row per request kind, then one per module of the bus poll, counts
// and latencies in columns.
class StatisticsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Sent, Answered, NoReply, LatencyMin, LatencyMedian, LatencyMax, ColumnCount };

    explicit StatisticsModel(const LinkMonitor *link, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void setBus(const bus::Poller *poller) { m_bus = poller; }
    // The counters moved on: every cell may show something new.
    void refresh();

private:
    QVariant busData(int module, Column column) const;

    const LinkMonitor *m_link;
    const bus::Poller *m_bus = nullptr;
    int m_rows = -1;
};

} // namespace monitor
