#pragma once

#include "monitor/sampleseries.h"

#include <QtPlugin>

#include <functional>

class QWidget;

namespace monitor {

class BusSeries;

// The trend chart as the monitor window drives it. The chart library and the printing stack it
// needs cost every start-up a dozen milliseconds, so the chart lives in a plugin that is loaded
// when the monitor window is first opened.
class TrendChart
{
public:
    virtual ~TrendChart() = default;

    virtual QWidget *widget() = 0;
    virtual void setSeries(const SampleSeries *series) = 0;
    // While a bus is polled: one quantity of every polled module, a line a module in the
    // module's colour, with a marker at each reading that raised a plausibility flag. Null
    // goes back to the series.
    virtual void setBus(const BusSeries *bus) = 0;
    virtual void setBusQuantity(SampleSeries::Value quantity) = 0;
    // The time shown, in seconds; 0 shows the whole run. Follows the clock again.
    virtual void setSpan(int seconds) = 0;
    virtual void follow() = 0;
    // Redraws when samples came, the view changed or, while following, the clock moved on.
    virtual void refresh() = 0;
    // Told when following starts or stops, the operator's drag or zoom included.
    virtual void setFollowingHandler(std::function<void(bool following)> handler) = 0;
};

class TrendChartPlugin
{
public:
    virtual ~TrendChartPlugin() = default;
    // The chart's widget is a child of parent.
    virtual TrendChart *createChart(QWidget *parent) = 0;
};

} // namespace monitor

// A plugin of another version is refused as not ours, rather than called through a table of
// functions it does not have.
#define QUORVEL_TREND_CHART_IID "org.quorvel.Quorvel.TrendChartPlugin/2"
Q_DECLARE_INTERFACE(monitor::TrendChartPlugin, QUORVEL_TREND_CHART_IID)
