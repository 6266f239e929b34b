// The monitor end to end: the main window polling the simulated module over a pseudo-terminal
// while replies are dropped, damaged and delayed; what the samples, the statistics and the
// chart make of it; the chart's summaries of a long run; and the log on a disk that fills up.
#include "linkedwindow.h"
#include "monitor/busseries.h"
#include "monitor/chartplugin.h"
#include "monitor/linkmonitor.h"
#include "monitor/monitor.h"
#include "monitor/monitorwindow.h"
#include "monitor/sampleseries.h"
#include "monitor/statisticsmodel.h"
#include "monitor/trendchart.h"
#include "protocol/frames.h"
#include "samples/csv.h"
#include "simulatedmodule.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <qcustomplot.h>

#include <sys/mount.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>

using monitor::SampleSeries;
using monitor::StatisticsModel;
using protocol::RequestKind;
using testsupport::LinkedWindow;

namespace {
constexpr int pollWaitMs = 60000; // generous: the machine may be loaded

QWidget *monitorWindow()
{
    QWidget *found = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("MonitorWindow")) {
            if (found)
                return nullptr; // one instance only
            found = w;
        }
    }
    return found;
}

// Chooses `path` in the file dialog the next button opens.
std::function<void(QDialog *)> chooseFile(const QString &path)
{
    return [path](QDialog *dialog) {
        if (auto *files = qobject_cast<QFileDialog *>(dialog)) {
            files->selectFile(path);
            // The file dialog's own overwrite question would come in a nested event loop.
            files->setOption(QFileDialog::DontConfirmOverwrite);
            dialog->accept(); // the file dialog's own accept(), which checks the name

        } else {
            dialog->reject();
        }
    };
}

QString shown(QWidget *window, RequestKind kind, StatisticsModel::Column column)
{
    const QAbstractItemModel *model =
        window->findChild<QTableView *>(QStringLiteral("tableStatistics"))->model();
    return model->index(int(kind), column).data().toString();
}

qint64 cell(QWidget *window, RequestKind kind, StatisticsModel::Column column)
{
    return shown(window, kind, column).toLongLong();
}

samples::Sample reading(qint64 msecs, int value, bool answered = true)
{
    samples::Sample s;
    s.msecsSinceEpoch = msecs;
    s.temperature = s.dewPoint = s.wetBulb = qint16(value);
    s.humidity = quint16(value);
    s.hasWetBulb = true;
    s.status = answered ? samples::Sample::Status::Ok : samples::Sample::Status::NoReply;
    return s;
}

// Points as "low-high" of the temperature, "x" without values, "|" before a break.
QString describe(const std::vector<SampleSeries::Point> &points)
{
    QStringList out;
    for (const SampleSeries::Point &p : points)
        out << QLatin1String(p.breakBefore ? "|" : "") +
                   (p.present ? QStringLiteral("%1-%2").arg(p.low[0]).arg(p.high[0])
                              : QStringLiteral("x"));
    return out.join(QLatin1Char(' '));
}
} // namespace

class tst_Monitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faultyLine();
    void replyAfterStopOrReset();
    void latencies();
    void wetBulbMissingBreaksOnlyItsLine();
    void summaries_data();
    void summaries();
    void weekShownWhole();
    void chartFollowsTheClock();
    void busColours_data();
    void busColours();
    void busTrend();
    void chartPlugin_data();
    void chartPlugin();
    void logStopsOnFullDisk();
};

void tst_Monitor::initTestCase()
{
    // Where the program would find the plugin beside itself: the build tree's is elsewhere.
    QCoreApplication::addLibraryPath(QFileInfo(QStringLiteral(QUORVEL_TREND_PLUGIN_FILE)).path());
}

void tst_Monitor::faultyLine()
{
    LinkedWindow fixture;
    QVERIFY(fixture.isReady());
    auto *attached = new monitor::Monitor(fixture.widget());
    const monitor::LinkMonitor &link = *attached->link();
    // Read before Link: the window tries its polls, as its message pane shows, but no port takes
    // them, so they are not among the requests and samples counted below.
    fixture.child<QLineEdit>("lineEditAddress")->setText(QStringLiteral("1"));
    auto *read = fixture.child<QPushButton>("pushButtonRead");
    QTest::mouseClick(read, Qt::LeftButton);
    const QString offline = frames::hexText(frames::measurementRequest(1));
    QTRY_VERIFY_WITH_TIMEOUT(
        fixture.child<QTextBrowser>("textBrowser")->toPlainText().count(offline) >= 2, pollWaitMs);
    QTest::mouseClick(read, Qt::LeftButton);
    QVERIFY(fixture.link());
    modsim::SimulatedModule *sim = fixture.sim();

    // What the module made of each poll: the values of an intact reply, or nothing.
    const QByteArray poll = frames::measurementRequest(sim->module().address());
    std::vector<std::optional<protocol::Reply>> fate;
    qint64 damagedBytes = 0;
    connect(sim, &modsim::SimulatedModule::requestReceived, this, [&](const QByteArray &r) {
        if (r == poll)
            fate.emplace_back();
    });
    connect(sim, &modsim::SimulatedModule::replySent, this, [&](const QByteArray &r) {
        const protocol::Reply reply = protocol::recognizeReply(r);
        if (reply.kind == protocol::ReplyKind::Wait)
            damagedBytes += r.size();
        else if (reply.kind == protocol::ReplyKind::Measurement && !fate.empty())
            fate.back() = reply;
    });
    modsim::Faults &faults = sim->faults();
    faults.dropShare = 0.25;
    faults.corruptShare = 0.15;
    faults.seed = 11;
    sim->reseed();

    QTest::mouseClick(read, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(fate.size() >= 16, pollWaitMs);
    QTest::mouseClick(read, Qt::LeftButton);
    // The last poll keeps its period for a reply after polling stopped.
    QTRY_COMPARE_WITH_TIMEOUT(link.series().size(), fate.size(), 5000);

    const auto &counts = link.statistics()[RequestKind::Measurement];
    qint64 intact = 0;
    for (std::size_t i = 0; i < fate.size(); ++i) {
        const samples::Sample &s = link.series().samples()[i];
        QCOMPARE(s.isGap(), !fate[i]);
        QCOMPARE(s.address, sim->module().address());
        if (fate[i]) {
            ++intact;
            QCOMPARE(s.temperature, fate[i]->temperature);
            QCOMPARE(s.humidity, fate[i]->humidity);
        }
    }
    QVERIFY2(intact > 0 && intact < qint64(fate.size()), "the dice gave no mix of replies");
    QCOMPARE(counts.sent, qint64(fate.size()));
    QCOMPARE(counts.answered, intact);
    QCOMPARE(counts.noReply, counts.sent - intact);
    qint64 sent = 0;
    qint64 received = 0;
    for (const QByteArray &r : sim->requests())
        sent += r.size();
    for (const QByteArray &r : sim->replies())
        received += r.size();
    QCOMPARE(link.statistics().bytesSent, sent);
    QCOMPARE(link.statistics().bytesReceived, received);
    QTRY_COMPARE(link.statistics().bytesDiscarded, damagedBytes);

    // A second click raises the one window.
    auto *monitorButton = fixture.child<QPushButton>("pushButtonMonitor");
    QTest::mouseClick(monitorButton, Qt::LeftButton);
    QTest::mouseClick(monitorButton, Qt::LeftButton);
    QWidget *window = monitorWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Quorvel - Monitor"));

    // The temperature line: each sample in order, NaN at each gap, so no line crosses one; a
    // reply between two gaps is a dash either side of its time.
    auto *plot = window->findChild<QCustomPlot *>();
    QVERIFY(plot);
    const QSharedPointer<QCPGraphDataContainer> drawn = plot->graph(0)->data();
    QTRY_VERIFY(drawn->size() >= int(fate.size()));
    auto point = drawn->constBegin();
    for (const samples::Sample &s : link.series().samples()) {
        const double key = double(s.msecsSinceEpoch) / 1000.0;
        const bool dash = !s.isGap() && point != drawn->constEnd() && point->key < key;
        for (int entry = 0; entry <= int(dash); ++entry, ++point) {
            QVERIFY(point != drawn->constEnd());
            QVERIFY(dash ? (entry == 0) == (point->key < key) : point->key == key);
            QCOMPARE(std::isnan(point->value), s.isGap());
            if (!s.isGap())
                QCOMPARE(point->value, s.temperature / 10.0);
        }
    }
    QVERIFY(point == drawn->constEnd());

    // A Modbus exception answers nothing, and is counted as what it is.
    faults = modsim::Faults{};
    faults.exceptionCode = 2;
    QTest::mouseClick(fixture.child<QPushButton>("pushButtonAddressRead"), Qt::LeftButton);
    QTRY_VERIFY(fixture.watcher()->texts().contains(QStringLiteral("Communication error!")));
    QCOMPARE(link.statistics().exceptions, qint64(1));
    fixture.watcher()->clear();

    // Reset zeroes the table; then replies 650 ms late: the poll still has its period, the
    // address read's deadline (500 ms) has passed.
    window->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pushButtonResetStatistics")),
                      Qt::LeftButton);
    QCOMPARE(cell(window, RequestKind::Measurement, StatisticsModel::Sent), 0);
    faults = modsim::Faults{};
    faults.lateMs = 650;
    QTest::mouseClick(fixture.child<QPushButton>("pushButtonAddressRead"), Qt::LeftButton);
    // Waiting: sent, neither answered nor unanswered yet, no latency.
    QCOMPARE(cell(window, RequestKind::ReadAddress, StatisticsModel::Sent), 1);
    QCOMPARE(cell(window, RequestKind::ReadAddress, StatisticsModel::NoReply), 0);
    for (int column = StatisticsModel::LatencyMin; column <= StatisticsModel::LatencyMax; ++column)
        QCOMPARE(shown(window, RequestKind::ReadAddress, StatisticsModel::Column(column)),
                 QString());
    QTRY_VERIFY(fixture.watcher()->texts().contains(QStringLiteral("Communication error!")));
    QTest::mouseClick(read, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(counts.answered >= 3, pollWaitMs);
    QTest::mouseClick(read, Qt::LeftButton);
    const auto settled = [&] {
        return cell(window, RequestKind::Measurement, StatisticsModel::Sent) ==
               cell(window, RequestKind::Measurement, StatisticsModel::Answered) +
                   cell(window, RequestKind::Measurement, StatisticsModel::NoReply);
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
    QCOMPARE(cell(window, RequestKind::ReadAddress, StatisticsModel::Sent), 1);
    QCOMPARE(cell(window, RequestKind::ReadAddress, StatisticsModel::Answered), 0);
    QCOMPARE(cell(window, RequestKind::ReadAddress, StatisticsModel::NoReply), 1);
    QVERIFY(cell(window, RequestKind::Measurement, StatisticsModel::Answered) >= 3);
    QVERIFY2(counts.latency.min() >= 640, qPrintable(QString::number(counts.latency.min())));
    const double latencies[] = {counts.latency.min(), counts.latency.median(),
                                counts.latency.max()};
    for (int column = StatisticsModel::LatencyMin; column <= StatisticsModel::LatencyMax; ++column)
        QCOMPARE(shown(window, RequestKind::Measurement, StatisticsModel::Column(column)),
                 QString::number(latencies[column - StatisticsModel::LatencyMin], 'f', 1));
}

void tst_Monitor::replyAfterStopOrReset()
{
    // Replies as the window reports them, at moments a line cannot be relied on to give.
    monitor::LinkMonitor link;
    protocol::Reply reply;
    reply.kind = protocol::ReplyKind::Measurement;
    const auto &polls = link.statistics()[RequestKind::Measurement];
    // The last poll keeps its period for the reply after polling stopped.
    link.onRequestSent(RequestKind::Measurement, frames::measurementRequest(1));
    link.onPollingChanged(false);
    QTest::qWait(20);
    link.onReplyRecognised(reply);
    QCOMPARE(polls.answered, 1);
    QVERIFY(!link.series().samples()[0].isGap());
    // A request sent before Reset counts in neither the old counters nor the new.
    link.onRequestSent(RequestKind::ReadAddress, frames::readAddressRequest());
    link.resetStatistics();
    reply.kind = protocol::ReplyKind::Address;
    link.onReplyRecognised(reply);
    QCOMPARE(link.statistics()[RequestKind::ReadAddress].answered, 0);
}

void tst_Monitor::latencies()
{
    // The median is the middle of its bin of 0.1 ms (the lower one of an even count), within
    // the extremes.
    monitor::LatencyRecord record;
    for (double ms : {9.0, 1.0, 8.0, 2.02})
        record.add(ms);
    QCOMPARE(record.min(), 1.0);
    QCOMPARE(record.median(), 2.05);
    QCOMPARE(record.max(), 9.0);
    monitor::LatencyRecord pastTheLastBin;
    pastTheLastBin.add(6500.0);
    QCOMPARE(pastTheLastBin.median(), 6500.0);
}

void tst_Monitor::wetBulbMissingBreaksOnlyItsLine()
{
    // One three-value reply between four-value ones: the wet-bulb line must not be drawn
    // across it, and the temperature line must not break.
    Widget mainWindow;
    auto *attached = new monitor::Monitor(&mainWindow);
    attached->showWindow();
    for (const auto kind :
         {protocol::ReplyKind::MeasurementWithWetBulb, protocol::ReplyKind::Measurement,
          protocol::ReplyKind::MeasurementWithWetBulb}) {
        attached->link()->onRequestSent(RequestKind::Measurement, frames::measurementRequest(1));
        protocol::Reply reply;
        reply.kind = kind;
        attached->link()->onReplyRecognised(reply);
    }
    auto *plot = monitorWindow()->findChild<QCustomPlot *>();
    const auto breaks = [plot](int graph) {
        const QSharedPointer<QCPGraphDataContainer> data = plot->graph(graph)->data();
        return std::count_if(data->constBegin(), data->constEnd(),
                             [](const QCPGraphData &d) { return std::isnan(d.value); });
    };
    QTRY_COMPARE(plot->graph(2)->data()->size(), 5); // wet bulb: dash, break, dash
    QCOMPARE(breaks(2), 1);
    QCOMPARE(plot->graph(0)->data()->size(), 3);
    QCOMPARE(breaks(0), 0);
}

void tst_Monitor::summaries_data()
{
    // One sample a second: a digit is a reply of that value, '.' a poll without reply, '_'
    // twenty seconds without polling; spaces only group the runs of 16 that are summarised.
    QTest::addColumn<QString>("samples");
    QTest::addColumn<int>("maxPoints");
    QTest::addColumn<QString>("points");
    const auto row = [](const char *name, const char *samples, int maxPoints, const char *points) {
        QTest::newRow(name) << QString(samples) << maxPoints << QString(points);
    };
    row("each sample while they fit", "12.4_5", 10, "1-1 2-2 |x 4-4 |5-5");
    row("low and high of each run", "1234567812345678 9999999999999999", 4, "1-8 9-9");
    row("gaps inside runs join the line", "3.33333333333335 .6.............4", 4, "3-5 4-6");
    row("a run unanswered", "5555555555555555 ................ 6666666666666666", 4, "5-5 x 6-6");
    row("a pause between runs", "1111111111111111 _ 2222222222222222", 4, "1-1 |2-2");
    row("a pause inside a run", "11111111_22222222 3333333333333333", 4, "1-1 |2-2 3-3");
    row("a last run partly filled", "1111111111111111 737", 2, "1-1 3-7");
    row("longer runs when shorter ones are too many",
        "1111111111111111 2222222222222222 3333333333333333 9999999999999999", 1, "1-9");
}

void tst_Monitor::summaries()
{
    QFETCH(QString, samples);
    QFETCH(int, maxPoints);
    QFETCH(QString, points);
    SampleSeries series;
    qint64 msecs = 1'700'000'000'000;
    for (const QChar c : samples) {
        msecs += c == QLatin1Char('_') ? 20000 : 0;
        if (c.isDigit() || c == QLatin1Char('.'))
            series.append(reading(msecs += 1000, c.digitValue(), c.isDigit()));
    }
    QCOMPARE(describe(series.points(0, series.size(), std::size_t(maxPoints))), points);
}

void tst_Monitor::weekShownWhole()
{
    // A week at 1 Hz with 1 % of polls and three whole hours unanswered, shown whole in as many
    // points as a chart 1200 pixels wide asks for.
    constexpr qint64 start = 1'700'000'000'000;
    const QList<int> silentHours{30, 31, 100};
    std::mt19937 dice(7);
    SampleSeries series;
    for (int second = 0; second < 7 * 24 * 3600; ++second)
        series.append(reading(start + second * 1000LL, 200 + second % 7,
                              !silentHours.contains(second / 3600) && dice() % 100 != 0));
    const std::vector<SampleSeries::Point> points = series.points(0, series.size(), 3600);
    const auto joined = [&](std::size_t k) { // drawn as a line from the point before
        return k > 0 && k < points.size() && !points[k].breakBefore && points[k].present &&
               points[k - 1].present;
    };
    std::size_t visible = 0;
    QSet<int> hours[2]; // of the points without values and with them
    for (std::size_t k = 0; k < points.size(); ++k) {
        hours[points[k].present != 0] << int((points[k].msecsSinceEpoch - start) / 3'600'000);
        visible += joined(k) || joined(k + 1);
    }
    QVERIFY2(visible >= points.size() * 95 / 100, qPrintable(QString::number(visible)));
    QCOMPARE(hours[0], QSet<int>(silentHours.begin(), silentHours.end()));
    QVERIFY(!hours[1].intersects(hours[0]));
}

void tst_Monitor::chartFollowsTheClock()
{
    // A minute of replies five minutes ago, then silence: an empty stretch at the right, and the
    // axis moves on with the clock while nothing comes.
    SampleSeries series;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 60; ++i)
        series.append(reading(now - 300'000 + i * 1000, 200));
    QWidget window;
    QVERIFY(monitor::trendCharts());
    monitor::TrendChart *chart = monitor::trendCharts()->createChart(&window);
    chart->widget()->resize(800, 400);
    chart->setSeries(&series);
    window.show();
    chart->setSpan(600);
    auto *plot = window.findChild<QCustomPlot *>();
    const double upper = plot->xAxis->range().upper;
    QVERIFY2(upper >= now / 1000.0, qPrintable(QString::number(upper - now / 1000.0)));
    QTRY_VERIFY((chart->refresh(), plot->xAxis->range().upper > upper));
}

void tst_Monitor::busColours_data()
{
    // The sets polled one after another, as digits; the colours of modules 1 to 5 after them.
    QTest::addColumn<QString>("polls");
    QTest::addColumn<QString>("colours");
    QTest::newRow("a first poll") << "123"
                                  << "0 1 2 - -";
    QTest::newRow("a module leaves, the others keep theirs") << "123 13"
                                                             << "0 - 2 - -";
    QTest::newRow("a newcomer takes the colour freed") << "123 31 314"
                                                       << "0 - 2 1 -";
    QTest::newRow("back after leaving: the lowest free") << "123 13 5321"
                                                         << "0 1 2 - 3";
}

void tst_Monitor::busColours()
{
    QFETCH(QString, polls);
    QFETCH(QString, colours);
    monitor::BusSeries bus;
    for (const QString &poll : polls.split(QLatin1Char(' '))) {
        QList<int> addresses;
        for (const QChar c : poll)
            addresses << c.digitValue();
        bus.setPolled(addresses);
    }
    QStringList shown;
    for (quint8 address = 1; address <= 5; ++address) {
        const auto found = bus.modules().find(address);
        const int colour = found == bus.modules().end() ? -1 : found->second.colour;
        shown << (colour < 0 ? QStringLiteral("-") : QString::number(colour));
    }
    QCOMPARE(shown.join(QLatin1Char(' ')), colours);
}

void tst_Monitor::busTrend()
{
    // Two modules polled for a minute: module 2 missed a reading, module 1 raised a flag once.
    monitor::BusSeries bus;
    bus.setPolled({1, 2});
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 60'000;
    for (int i = 0; i < 60; ++i) {
        for (quint8 address : {1, 2}) {
            samples::Sample s =
                reading(start + i * 1000, 200 + address, !(address == 2 && i == 30));
            s.humidity = quint16(500 + address);
            s.address = address;
            const bool flagged = address == 1 && i == 40;
            bus.append(s, flagged ? samples::PlausibilityFlag::Step : samples::PlausibilityFlags());
        }
    }
    SampleSeries mainWindow;
    QWidget window;
    monitor::TrendChart *chart = monitor::trendCharts()->createChart(&window);
    chart->widget()->resize(800, 400);
    chart->setSeries(&mainWindow);
    window.show();
    chart->setBus(&bus);
    chart->setSpan(600);
    auto *plot = window.findChild<QCustomPlot *>();
    const auto line = [plot](const QString &name) {
        for (int i = 0; i < plot->graphCount(); ++i) {
            if (plot->graph(i)->name() == name)
                return plot->graph(i);
        }
        return static_cast<QCPGraph *>(nullptr);
    };
    const auto values = [](QCPGraph *graph) {
        QList<double> found; // NaN, a break, as -1
        for (const QCPGraphData &d : *graph->data())
            found << (std::isnan(d.value) ? -1 : d.value);
        return found;
    };
    QCOMPARE(plot->legend->itemCount(), 2);
    QVERIFY(line(QStringLiteral("Module 1")) && line(QStringLiteral("Module 2")));
    QCOMPARE(values(line(QStringLiteral("Module 1"))).count(-1), 0);
    QCOMPARE(values(line(QStringLiteral("Module 2"))).count(-1), 1);
    QVERIFY(values(line(QStringLiteral("Module 2"))).contains(20.2));
    // The marker: one point, at the flagged reading's time and value.
    const auto markers = plot->graph(plot->graphCount() - 3); // module 1's, created before 2's
    QCOMPARE(markers->data()->size(), 1);
    QCOMPARE(markers->data()->constBegin()->key, (start + 40'000) / 1000.0);

    chart->setBusQuantity(SampleSeries::Humidity);
    QVERIFY(values(line(QStringLiteral("Module 1"))).contains(50.1));
    QVERIFY(!values(line(QStringLiteral("Module 1"))).contains(20.1));
    QCOMPARE(markers->data()->constBegin()->value, 50.1);

    chart->setBus(nullptr); // the main window's four lines again
    QCOMPARE(plot->graphCount(), 4);
    QCOMPARE(plot->legend->itemCount(), 4);
}

void tst_Monitor::chartPlugin_data()
{
    QTest::addColumn<QByteArray>("content"); // under the plugin's name in its folder
    QTest::newRow("the built plugin") << QByteArray();
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("a file that is no plugin") << QByteArray("not a library");
}

void tst_Monitor::chartPlugin()
{
    // Without its plugin the window opens all the same, and says why the chart is not there.
    QFETCH(QByteArray, content);
    const QFileInfo built(QStringLiteral(QUORVEL_TREND_PLUGIN_FILE));
    const bool loads = QTest::currentDataTag() == QLatin1String("the built plugin");
    QTemporaryDir dir;
    QFile file(dir.filePath(built.fileName()));
    QVERIFY(content.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(content) > 0));
    monitor::LinkMonitor link;
    monitor::MonitorWindow window(&link,
                                  monitor::trendChartsIn({loads ? built.path() : dir.path()}));
    QCOMPARE(window.findChild<QCustomPlot *>() != nullptr, loads);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("labelTrendMissing")) != nullptr, !loads);
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButtonFollow"))->isEnabled(),
             loads);
}

void tst_Monitor::logStopsOnFullDisk()
{
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    // One page: a few dozen rows fill it.
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=4k") != 0)
        QSKIP("cannot mount a small tmpfs (needs root): the full-disk case is not run");
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
    const QString path = dir.filePath(QStringLiteral("log.csv"));

    Widget mainWindow;
    auto *attached = new monitor::Monitor(&mainWindow);
    monitor::LinkMonitor *link = attached->link();
    std::size_t pollsSent = 0;
    const auto sendPoll = [&] {
        link->onRequestSent(RequestKind::Measurement, frames::measurementRequest(1));
        ++pollsSent;
    };
    // Boxes are closed here rather than by the watcher, after a poll sent while each is open,
    // as the main window's timer would.
    testsupport::ModalWatcher watcher;
    watcher.setAutoClose(false);
    QStringList boxes;
    QTimer whileBoxOpen;
    connect(&whileBoxOpen, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->text();
            sendPoll();
            box->button(QMessageBox::Ok)->click();
        }
    });
    whileBoxOpen.start(1);
    attached->showWindow();
    QWidget *window = monitorWindow();
    QVERIFY(window);
    auto *logButton = window->findChild<QPushButton *>(QStringLiteral("pushButtonLog"));
    auto *saveButton = window->findChild<QPushButton *>(QStringLiteral("pushButtonSaveCsv"));
    watcher.setDialogHandler(chooseFile(path));
    QTest::mouseClick(logButton, Qt::LeftButton);
    QCOMPARE(logButton->text(), QStringLiteral("Stop logging"));
    QTest::mouseClick(saveButton, Qt::LeftButton); // Save CSV over the log is refused
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.takeFirst().contains(QLatin1String("is the file being logged to")));
    QCOMPARE(logButton->text(), QStringLiteral("Stop logging"));

    // Polls left unanswered, faster than the window would send them: each row is written while
    // the next poll gives up the one before, and the poll sent while the write error's box is
    // open must find that done, or two stay pending.
    constexpr int polls = 200;
    for (int i = 0; i < polls; ++i)
        sendPoll();
    QTRY_COMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(QLatin1String("Writing to")), qPrintable(boxes.first()));
    QCOMPARE(link->series().size(), pollsSent - 1); // all but the newest given up
    QCOMPARE(logButton->text(), QStringLiteral("Log to file..."));
    const QString state = window->findChild<QLabel *>(QStringLiteral("labelLog"))->text();
    QVERIFY2(state.contains(QLatin1String("stopped")), qPrintable(state));

    // Every row that made it is whole, and they are the first samples in order.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QByteArray expected = samples::csv::header();
    std::size_t rows = 0;
    while (expected.size() < content.size() && rows < link->series().size())
        expected += samples::csv::row(link->series().samples()[rows++]);
    QCOMPARE(content, expected);
    QVERIFY(rows > 10 && rows < std::size_t(polls));

    // The run is still whole in memory for Save CSV.
    QTemporaryDir elsewhere;
    watcher.setDialogHandler(chooseFile(elsewhere.filePath(QStringLiteral("run.csv"))));
    QTest::mouseClick(saveButton, Qt::LeftButton);
    QFile saved(elsewhere.filePath(QStringLiteral("run.csv")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    while (rows < link->series().size())
        expected += samples::csv::row(link->series().samples()[rows++]);
    QCOMPARE(saved.readAll(), expected);
}

QTEST_MAIN(tst_Monitor)
#include "tst_monitor.moc"
