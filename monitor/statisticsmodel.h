#pragma once

#include <QAbstractTableModel>

namespace monitor {

class LinkMonitor;

// The statistics table: one row per request kind, counts and latencies in columns.
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

    // The counters moved on: every cell may show something new.
    void refresh();

private:
    const LinkMonitor *m_link;
};

} // namespace monitor
