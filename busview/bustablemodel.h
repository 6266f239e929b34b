#pragma once

#include "bus/poller.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

namespace busview {

// The median of the values given; nothing for none.
std::optional<double> median(std::vector<double> values);

// A row a module of the bus poll, the columns of what the engine knows of it. A temperature or
// humidity off the median of the online modules by more than its tolerance is marked, with the
// difference in its tooltip: after setting up a batch, the one that reads wrong stands out.
class BusTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Address,
        Type,
        SerialNumber,
        Temperature,
        Humidity,
        DewPoint,
        WetBulb,
        LastReply,
        Sent,
        Answered,
        MedianLatency,
        State,
        ColumnCount
    };

    explicit BusTableModel(const bus::Poller *poller, QObject *parent = nullptr);

    // Tolerances in °C and %RH.
    void setTolerances(double temperature, double humidity);
    // Whether a cell is marked; for the tests and the tooltip alike.
    bool isMarked(int row, Column column) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The poller's set of modules changed.
    void reset();
    // New values: the medians move, so every row may change its marks.
    void refresh();

private:
    std::optional<double> valueOf(const bus::ModuleStatus &module, Column column) const;
    // The difference from the median of the online modules; nothing for a module offline or
    // without a value.
    std::optional<double> deviation(int row, Column column) const;

    const bus::Poller *m_poller;
    double m_temperatureTolerance = 0.5;
    double m_humidityTolerance = 3.0;
    std::optional<double> m_temperatureMedian;
    std::optional<double> m_humidityMedian;
};

} // namespace busview
