// The trend chart's plugin: the one part of Quorvel that links the chart library.
#include "monitor/trendchart.h"
#include "monitor/trendview.h"

#include <QObject>

namespace monitor {

class TrendViewPlugin : public QObject, public TrendChartPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QUORVEL_TREND_CHART_IID)
    Q_INTERFACES(monitor::TrendChartPlugin)

public:
    TrendChart *createChart(QWidget *parent) override { return new TrendView(parent); }
};

} // namespace monitor

#include "trendplugin.moc"
