#pragma once

#include <QStringList>

namespace monitor {

class TrendChartPlugin;

// The trend chart's plugin, loaded on the first call: from the program's folder (the build tree,
// Windows), the installed plugin folder relative to the program (Linux packages), then Qt's
// library paths. Null when none of them holds a plugin that loads; why is traced as a warning.
TrendChartPlugin *trendCharts();
// The same from the given folders only, loaded again on each call.
TrendChartPlugin *trendChartsIn(const QStringList &folders);

} // namespace monitor
