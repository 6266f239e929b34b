#include "monitor/monitorwindow.h"

#include "busview/buspanel.h"
#include "monitor/linkmonitor.h"
#include "monitor/statisticsmodel.h"
#include "monitor/trendchart.h"
#include "samples/csv.h"
#include "ui_monitorwindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDateTime>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QSaveFile>
#include <QVBoxLayout>

#include <array>
#include <chrono>

namespace monitor {

namespace {
using namespace std::chrono_literals;

// The chart and the table are drawn from this timer only, never from the receive path.
constexpr auto redrawPeriod = 500ms;
// Save CSV hands the rows to the file in pieces of about this size.
constexpr int saveChunkBytes = 1 << 20;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// "h:mm:ss", also past a day.
QString duration(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QString::asprintf("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}
} // namespace

MonitorWindow::MonitorWindow(LinkMonitor *link, TrendChartPlugin *charts, QWidget *parent)
    : QWidget(parent), ui(new Ui::MonitorWindow), m_link(link),
      m_statistics(new StatisticsModel(link, this)), m_bus(new busview::BusPanel(this)),
      m_directory(QDir::homePath())
{
    ui->setupUi(this);
    // The main window's end ends the program; this one is not asked.
    setAttribute(Qt::WA_QuitOnClose, false);
    placeTrend(charts);

    ui->tableStatistics->setModel(m_statistics);
    ui->tableStatistics->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->tableStatistics->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(ui->pushButtonResetStatistics, &QPushButton::clicked, this, [this] {
        m_link->resetStatistics();
        showStatistics();
    });
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MonitorWindow::refresh);

    connect(ui->pushButtonSaveCsv, &QPushButton::clicked, this, &MonitorWindow::saveCsv);
    connect(ui->pushButtonLog, &QPushButton::clicked, this, &MonitorWindow::toggleLog);
    connect(m_link, &LinkMonitor::sampleAdded, this, &MonitorWindow::logSample);
    ui->tabWidget->addTab(m_bus, tr("Bus"));
    m_statistics->setBus(&m_bus->poller());
    connect(m_bus, &busview::BusPanel::sampleTaken, this,
            [this](const samples::Sample &sample, samples::PlausibilityFlags flags) {
                m_busSamples.append(sample, flags);
                logSample(sample);
            });
    connect(m_bus, &busview::BusPanel::pollingChanged, this, &MonitorWindow::onBusPolling);
    ui->comboBoxTrendQuantity->hide();

    m_redraw.setInterval(redrawPeriod);
    connect(&m_redraw, &QTimer::timeout, this, &MonitorWindow::refresh);
    showLogState();
}

MonitorWindow::~MonitorWindow()
{
    delete ui;
}

void MonitorWindow::placeTrend(TrendChartPlugin *charts)
{
    auto *layout = new QVBoxLayout(ui->trendPlace);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!charts) {
        auto *missing = new QLabel(tr("The trend chart cannot be shown: its plugin is missing or "
                                      "does not load. Reinstalling Quorvel brings it back. The "
                                      "statistics and the measurement file work without it."),
                                   ui->trendPlace);
        missing->setObjectName(QStringLiteral("labelTrendMissing"));
        missing->setAlignment(Qt::AlignCenter);
        missing->setWordWrap(true);
        layout->addWidget(missing);
        for (QPushButton *button : ui->tabTrend->findChildren<QPushButton *>())
            button->setEnabled(false);
        return;
    }
    m_trend = charts->createChart(ui->trendPlace);
    layout->addWidget(m_trend->widget());
    m_trend->setSeries(&m_link->series());
    const std::array<std::pair<QPushButton *, std::chrono::seconds>, 5> spans{{
        {ui->pushButtonSpan10min, 10min},
        {ui->pushButtonSpan1h, 1h},
        {ui->pushButtonSpan8h, 8h},
        {ui->pushButtonSpan24h, 24h},
        {ui->pushButtonSpanAll, 0s}, // the whole run
    }};
    auto *spanGroup = new QButtonGroup(this);
    for (const auto &[button, span] : spans) {
        spanGroup->addButton(button);
        const int seconds = int(span.count());
        connect(button, &QPushButton::clicked, this,
                [this, seconds] { m_trend->setSpan(seconds); });
    }
    m_trend->setSpan(int(spans.front().second.count()));
    connect(ui->pushButtonFollow, &QPushButton::clicked, this, [this] {
        m_trend->follow();
        ui->pushButtonFollow->setChecked(true);
    });
    m_trend->setFollowingHandler(
        [button = ui->pushButtonFollow](bool following) { button->setChecked(following); });
    connect(ui->comboBoxTrendQuantity, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) {
                // In the order of the box's items.
                constexpr std::array<SampleSeries::Value, 4> quantities{
                    SampleSeries::Temperature, SampleSeries::Humidity, SampleSeries::DewPoint,
                    SampleSeries::WetBulb};
                if (index >= 0 && index < int(quantities.size()))
                    m_trend->setBusQuantity(quantities[std::size_t(index)]);
            });
}

void MonitorWindow::onBusPolling(bool polling)
{
    if (polling) {
        QList<int> addresses;
        for (const bus::ModuleStatus &module : m_bus->poller().modules())
            addresses.append(module.address);
        m_busSamples.setPolled(addresses);
    }
    ui->comboBoxTrendQuantity->setVisible(polling && m_trend);
    if (m_trend)
        m_trend->setBus(polling ? &m_busSamples : nullptr);
}

void MonitorWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_redraw.start();
    refresh();
}

void MonitorWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_redraw.stop();
}

void MonitorWindow::refresh()
{
    if (ui->tabWidget->currentWidget() == ui->tabTrend) {
        if (m_trend)
            m_trend->refresh();
    } else {
        showStatistics();
    }
}

void MonitorWindow::showStatistics()
{
    m_statistics->refresh();
    const LinkStatistics &s = m_link->statistics();
    const QLocale locale;
    ui->labelBytesSent->setText(locale.toString(s.bytesSent));
    ui->labelBytesReceived->setText(locale.toString(s.bytesReceived));
    ui->labelBytesDiscarded->setText(locale.toString(s.bytesDiscarded));
    ui->labelExceptions->setText(locale.toString(s.exceptions));
    ui->labelPortLosses->setText(locale.toString(s.portLosses));
    ui->labelReconnects->setText(locale.toString(s.reconnects));
    // A network link has no speed of its own: the converter's serial side has it.
    ui->labelPort->setText(
        !m_link->isPortOpen() ? tr("None")
        : m_link->portSpeed() > 0
            ? tr("%1 at %2 bit/s").arg(m_link->portName()).arg(m_link->portSpeed())
            : m_link->portName());
    const qint64 since = m_link->msecsSinceGoodReply();
    ui->labelLastReply->setText(since < 0 ? tr("No reply yet") : duration(since));
}

QString MonitorWindow::askForFile(const QString &caption, QFileDialog::Options options)
{
    const QString suggested = QDir(m_directory)
                                  .filePath(QDateTime::currentDateTime().toString(
                                      QStringLiteral("'quorvel-'yyyyMMdd-hhmmss'.csv'")));
    const QString path = QFileDialog::getSaveFileName(this, caption, suggested,
                                                      tr("CSV files (*.csv)"), nullptr, options);
    if (!path.isEmpty())
        m_directory = QFileInfo(path).absolutePath();
    return path;
}

void MonitorWindow::saveCsv()
{
    const QString path = askForFile(tr("Save CSV"));
    if (path.isEmpty())
        return;
    // The saved file would take the log's name, and the log would go on into the old one.
    if (m_log.writesTo(path)) {
        showError(tr("%1 is the file being logged to. Choose another file, or stop logging "
                     "first.")
                      .arg(native(path)));
        return;
    }
    // Whole or not at all: a failed save leaves an earlier file of that name as it was.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QByteArray text = samples::csv::header();
        // The main window's module and the bus's in one file, a row a sample in time order:
        // the address column tells them apart.
        std::vector<const SampleSeries *> series{&m_link->series()};
        for (const auto &entry : m_busSamples.modules())
            series.push_back(&entry.second.series);
        forEachByTime(series, [&](const samples::Sample &sample) {
            text += samples::csv::row(sample);
            if (text.size() >= saveChunkBytes) {
                file.write(text);
                text.clear();
            }
        });
        file.write(text);
        const bool saved = file.commit();
        QApplication::restoreOverrideCursor();
        if (saved)
            return;
    }
    showError(tr("Cannot save %1: %2").arg(native(path), file.errorString()));
}

void MonitorWindow::toggleLog()
{
    if (m_log.isOpen()) {
        m_log.close();
        showLogState();
        return;
    }
    // Appending is the point, so an existing file is no reason to ask.
    const QString path = askForFile(tr("Log to file"), QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;
    switch (m_log.open(path)) {
    case samples::LogFile::OpenResult::Opened:
        m_logPath = path;
        m_logError.clear();
        m_loggedRows = 0;
        break;
    case samples::LogFile::OpenResult::Failed:
        showError(tr("Cannot log to %1: %2").arg(native(path), m_log.errorString()));
        break;
    case samples::LogFile::OpenResult::Foreign:
        showError(tr("%1 does not begin with the header of a Quorvel measurement file. "
                     "It was left untouched; choose another file.")
                      .arg(native(path)));
        break;
    case samples::LogFile::OpenResult::InUse:
        showError(tr("%1 is in use by another program, which logs to it. It was left "
                     "untouched; choose another file.")
                      .arg(native(path)));
        break;
    }
    showLogState();
}

void MonitorWindow::logSample(const samples::Sample &sample)
{
    if (!m_log.isOpen())
        return;
    if (m_log.append(samples::csv::row(sample))) {
        m_loggedRows = m_log.rowsWritten();
        showLogState();
        return;
    }
    // The log closed itself, so samples that come while the box is open are not tried again.
    m_logError =
        m_log.pathLost() ? tr("the file was moved, replaced or deleted") : m_log.errorString();
    showLogState();
    const QString text = tr("Writing to %1 failed: %2\nLogging has stopped. The samples of this "
                            "run are still kept and can be saved with Save CSV.")
                             .arg(native(m_logPath), m_logError);
    // The sample may come from the middle of the link monitor's bookkeeping (a poll given up
    // for the next one): the box's event loop must not run until that is done.
    QMetaObject::invokeMethod(
        this, [this, text] { showError(text); }, Qt::QueuedConnection);
}

void MonitorWindow::showLogState()
{
    const bool logging = m_log.isOpen();
    ui->pushButtonLog->setText(logging ? tr("Stop logging") : tr("Log to file..."));
    QString state;
    if (logging)
        state = tr("Logging to %1: %2 rows written").arg(native(m_logPath)).arg(m_loggedRows);
    else if (m_logPath.isEmpty())
        state = tr("Not logging");
    else if (!m_logError.isEmpty())
        state = tr("Logging to %1 stopped after %2 rows: %3")
                    .arg(native(m_logPath))
                    .arg(m_loggedRows)
                    .arg(m_logError);
    else
        state = tr("Logged to %1: %2 rows written").arg(native(m_logPath)).arg(m_loggedRows);
    ui->labelLog->setText(state);
    ui->labelLog->setToolTip(state);
}

void MonitorWindow::showError(const QString &text)
{
    QMessageBox::information(this, tr("Error"), text);
}

} // namespace monitor
