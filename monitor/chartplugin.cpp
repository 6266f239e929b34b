#include "monitor/chartplugin.h"

#include "monitor/trendchart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPluginLoader>

namespace monitor {

namespace {
Q_LOGGING_CATEGORY(lcChart, "quorvel.chart", QtWarningMsg)
} // namespace

TrendChartPlugin *trendChartsIn(const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QStringLiteral(QUORVEL_TREND_PLUGIN));
        if (!QFileInfo::exists(path))
            continue;
        // Never unloaded: the chart it made may live until the program ends.
        QPluginLoader loader(path);
        QObject *instance = loader.instance();
        if (auto *plugin = qobject_cast<TrendChartPlugin *>(instance)) {
            qCDebug(lcChart) << "trend chart from" << path;
            return plugin;
        }
        qCWarning(lcChart).noquote()
            << "cannot load the trend chart from" << QDir::toNativeSeparators(path) << ":"
            << (instance ? QStringLiteral("not a Quorvel chart plugin") : loader.errorString());
    }
    qCWarning(lcChart).noquote() << "no trend chart plugin" << QUORVEL_TREND_PLUGIN << "in"
                                 << folders.join(QLatin1String(", "));
    return nullptr;
}

TrendChartPlugin *trendCharts()
{
    static TrendChartPlugin *const plugin = [] {
        const QDir program(QCoreApplication::applicationDirPath());
        return trendChartsIn(QStringList{program.path(), program.filePath(QStringLiteral(
                                                             QUORVEL_PLUGIN_DIR_FROM_PROGRAM))} +
                             QCoreApplication::libraryPaths());
    }();
    return plugin;
}

} // namespace monitor
