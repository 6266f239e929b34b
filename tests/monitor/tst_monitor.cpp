// The monitor end to end: the main window polling the simulated module over a pseudo-terminal
// while replies are dropped, damaged and delayed; what the samples, the statistics and the
// chart make of it; and the log on a disk that fills up.
#include "linkedwindow.h"
#include "monitor/linkmonitor.h"
#include "monitor/monitor.h"
#include "monitor/statisticsmodel.h"
#include "protocol/frames.h"
#include "samples/csv.h"
#include "simulatedmodule.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QtTest>

#include <qcustomplot.h>

#include <sys/mount.h>

#include <algorithm>
#include <cmath>
#include <optional>

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
} // namespace

class tst_Monitor : public QObject
{
    Q_OBJECT

private slots:
    void faultyLine();
    void replyAfterStopOrReset();
    void latencies();
    void wetBulbMissingBreaksOnlyItsLine();
    void logStopsOnFullDisk();
};

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

    // The temperature line: each sample in order, NaN at each gap, so no line crosses one.
    auto *plot = window->findChild<QCustomPlot *>();
    QVERIFY(plot);
    const QSharedPointer<QCPGraphDataContainer> drawn = plot->graph(0)->data();
    QTRY_COMPARE(drawn->size(), int(fate.size()));
    auto point = drawn->constBegin();
    for (const samples::Sample &s : link.series().samples()) {
        QCOMPARE(point->key, double(s.msecsSinceEpoch) / 1000.0);
        if (s.isGap())
            QVERIFY2(std::isnan(point->value), qPrintable(QString::number(point->value)));
        else
            QCOMPARE(point->value, s.temperature / 10.0);
        ++point;
    }

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
    QTRY_COMPARE(plot->graph(2)->data()->size(), 3); // wet bulb: value, break, value
    QCOMPARE(breaks(2), 1);
    QCOMPARE(plot->graph(0)->data()->size(), 3);
    QCOMPARE(breaks(0), 0);
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
