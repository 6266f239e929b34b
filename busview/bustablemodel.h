#pragma once

#include "bus/poller.h"
#include "samples/plausibility.h"

#include <QAbstractTableModel>

#include <map>
#include <optional>
#include <vector>

namespace busview {

// The median of the values given; nothing for none.
std::optional<double> median(std::vector<double> values);

// A row a module of the bus poll, the columns of what the engine knows of it. A temperature or
// humidity off the median of the online modules by more than its tolerance is marked, with the
// difference in its tooltip: after setting up a batch, the one that reads wrong stands out. A
// value of a reading that raised plausibility flags carries a warning sign, with the flags and
// their reasons in its tooltip: a module may agree with the others and still be implausible.
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
    // The flags of the module's latest reply that concern the cell's value.
    samples::PlausibilityFlags flagsOf(int row, Column column) const;
    // The flags of the latest reply of the module at the address.
    void setFlags(quint8 address, samples::PlausibilityFlags flags);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The poller's set of modules changed.
    void reset();
    // New values: the medians move, so every row may change its marks.
    void refresh();
    // One module's row; the others' marks too when the medians moved.
    void refreshModule(int row);

private:
    void updateMedians();
    std::optional<double> valueOf(const bus::ModuleStatus &module, Column column) const;
    // The difference from the median of the online modules; nothing for a module offline or
    // without a value.
    std::optional<double> deviation(int row, Column column) const;
    QString medianTip(int row, Column column) const;
    QString flagsTip(samples::PlausibilityFlags flags) const;

    const bus::Poller *m_poller;
    double m_temperatureTolerance = 0.5;
    double m_humidityTolerance = 3.0;
    std::optional<double> m_temperatureMedian;
    std::optional<double> m_humidityMedian;
    std::map<quint8, samples::PlausibilityFlags> m_flags; // by address
};

} // namespace busview
