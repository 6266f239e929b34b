#include "busview/buspanel.h"

#include "bus/addresses.h"
#include "bus/linetiming.h"
#include "busview/bustablemodel.h"
#include "protocol/portname.h"
#include "ui_buspanel.h"

#include <QEventLoop>
#include <QHeaderView>
#include <QMessageBox>
#include <QTimer>

namespace busview {

namespace {
constexpr std::chrono::milliseconds converterReleaseTime{500};
}

BusPanel::BusPanel(QWidget *parent)
    : QWidget(parent), ui(new Ui::BusPanel), m_poller(m_link), m_scanner(m_link),
      m_model(new BusTableModel(&m_poller, this))
{
    ui->setupUi(this);
    ui->progressBarBusScan->hide();
    ui->pushButtonBusCancel->hide();
    ui->tableBus->setModel(m_model);
    // Sized to the contents once a cycle, while shown (showState): sized on every change, the
    // table measured the text of all its cells at each reply, hidden or not.
    ui->tableBus->horizontalHeader()->setStretchLastSection(true);
    ui->tableBus->verticalHeader()->hide();

    connect(ui->pushButtonBusPoll, &QPushButton::clicked, this, &BusPanel::togglePoll);
    connect(ui->pushButtonBusScan, &QPushButton::clicked, this, &BusPanel::toggleScan);
    connect(ui->pushButtonBusCancel, &QPushButton::clicked, &m_scanner, &bus::Scanner::cancel);
    const auto tolerances = [this] {
        m_model->setTolerances(ui->doubleSpinBoxBusTemperatureTolerance->value(),
                               ui->doubleSpinBoxBusHumidityTolerance->value());
    };
    connect(ui->doubleSpinBoxBusTemperatureTolerance,
            QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, tolerances);
    connect(ui->doubleSpinBoxBusHumidityTolerance,
            QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, tolerances);

    connect(&m_poller, &bus::Poller::polled, this,
            [this](int, const samples::Sample &sample) { onPolled(sample); });
    connect(&m_poller, &bus::Poller::moduleChanged, m_model, &BusTableModel::refreshModule);
    connect(&m_poller, &bus::Poller::cycleFinished, this, &BusPanel::showState);
    connect(&m_poller, &bus::Poller::stopped, this, &BusPanel::onStopped);
    connect(&m_scanner, &bus::Scanner::found, this, &BusPanel::onScanHit);
    connect(&m_scanner, &bus::Scanner::finished, this, &BusPanel::onScanFinished);
    connect(&m_scanner, &bus::Scanner::progress, this, [this](int done, int total) {
        ui->progressBarBusScan->setRange(0, total);
        ui->progressBarBusScan->setValue(done);
    });
    connect(&m_link, &bus::Link::lost, this, &BusPanel::onLost);
}

BusPanel::~BusPanel()
{
    // At the end of the program the main window may be half destroyed already: nothing is
    // handed back to it, and nothing of this panel reacts any more.
    m_poller.blockSignals(true);
    m_scanner.blockSignals(true);
    blockSignals(true);
    m_poller.stop();
    m_scanner.cancel();
    m_link.close();
    delete ui;
}

bool BusPanel::takePort()
{
    const PortSource source = m_portSource ? m_portSource() : PortSource{};
    // A network link has no speed of the window's: the converter's serial side sets it.
    const bool network = protocol::parsePortName(source.portName).isNetwork();
    if (source.portName.isEmpty() || (source.speed <= 0 && !network)) {
        showError(tr("Link the module in the main window first: the bus is polled on its port "
                     "and at its line speed."));
        return false;
    }
    if (source.heldByMainWindow) {
        const auto answer = QMessageBox::question(
            this, tr("Bus"),
            tr("The main window holds %1. Hand it over to the bus? The main window shows itself "
               "unlinked until the bus gives it back on Stop.")
                .arg(source.portName));
        if (answer != QMessageBox::Yes)
            return false;
        emit portWanted();
        m_borrowed = true;
    }
    if (network && m_borrowed) {
        // A converter that serves one client at a time lets the window's connection go only
        // when it notices it closed; a connection made at once may find it still busy.
        QEventLoop settle;
        QTimer::singleShot(converterReleaseTime, &settle, &QEventLoop::quit);
        settle.exec();
    }
    m_link.setMargin(network ? bus::networkMargin : bus::defaultMargin);
    if (!m_link.open(source.portName, network ? bus::networkWaitSpeed : source.speed)) {
        const QString why = m_link.openError();
        givePortBack();
        showError(why);
        return false;
    }
    return true;
}

void BusPanel::givePortBack()
{
    m_link.close();
    if (m_borrowed) {
        m_borrowed = false;
        emit portReturned();
    }
}

void BusPanel::togglePoll()
{
    if (m_poller.isPolling()) {
        ui->pushButtonBusPoll->setEnabled(false); // until the slot under way has ended
        m_poller.stop();
        return;
    }
    const std::optional<QList<int>> addresses =
        bus::parseAddressList(ui->lineEditBusAddresses->text());
    if (!addresses || addresses->isEmpty()) {
        showError(tr("Type the addresses of the modules, such as 1, 3, 17-20 (1 to 247), or "
                     "let Scan find them."));
        return;
    }
    if (!takePort())
        return;
    m_poller.setAddresses(*addresses);
    m_checks.clear();
    m_model->reset();
    ui->pushButtonBusPoll->setText(tr("Stop"));
    ui->pushButtonBusScan->setEnabled(false);
    ui->lineEditBusAddresses->setEnabled(false);
    m_poller.start();
    emit pollingChanged(true);
    showState();
}

void BusPanel::onStopped()
{
    givePortBack();
    ui->pushButtonBusPoll->setText(tr("Poll bus"));
    ui->pushButtonBusPoll->setEnabled(true);
    ui->pushButtonBusScan->setEnabled(true);
    ui->lineEditBusAddresses->setEnabled(true);
    m_model->refresh();
    emit pollingChanged(false);
    showState();
}

void BusPanel::onPolled(const samples::Sample &sample)
{
    samples::PlausibilityFlags flags;
    if (!sample.isGap()) {
        flags = m_checks[sample.address].check(sample.msecsSinceEpoch, sample.temperature / 10.0,
                                               sample.humidity / 10.0, sample.dewPoint / 10.0);
        m_model->setFlags(sample.address, flags);
    }
    emit sampleTaken(sample, flags);
}

void BusPanel::onLost()
{
    // Named now: the link forgets its port when polling ends.
    const QString name = m_link.portName();
    const QString text =
        protocol::parsePortName(name).isNetwork()
            ? tr("The network link to %1 was lost. Polling has stopped: check the converter and "
                 "the network, then poll again.")
                  .arg(name)
            : tr("The serial port was disconnected!");
    // After the engine has settled the slot: a box's event loop must not run inside it.
    QTimer::singleShot(0, this, [this, text] { showError(text); });
}

void BusPanel::toggleScan()
{
    const QString text = ui->lineEditBusAddresses->text().trimmed();
    const std::optional<QList<int>> addresses =
        bus::parseAddressList(text.isEmpty() ? QStringLiteral("1-247") : text);
    if (!addresses) {
        showError(tr("Type the addresses to scan, such as 1-32 (1 to 247), or leave the box "
                     "empty to scan them all."));
        return;
    }
    if (!takePort())
        return;
    m_found.clear();
    ui->pushButtonBusScan->hide();
    ui->pushButtonBusPoll->setEnabled(false);
    ui->progressBarBusScan->show();
    ui->pushButtonBusCancel->show();
    m_scanner.setRange(*addresses, {m_link.speed()});
    m_scanner.start();
    ui->labelBusState->setText(
        tr("Scanning %n address(es) at %1 bit/s…", nullptr, int(addresses->size()))
            .arg(m_link.speed()));
}

void BusPanel::onScanHit(const bus::ScanHit &hit)
{
    if (hit.isClean() && !m_found.contains(hit.address))
        m_found.append(hit.address);
}

void BusPanel::onScanFinished(bus::Scanner::End end)
{
    givePortBack();
    ui->progressBarBusScan->hide();
    ui->pushButtonBusCancel->hide();
    ui->pushButtonBusScan->show();
    ui->pushButtonBusPoll->setEnabled(true);
    std::sort(m_found.begin(), m_found.end());
    QStringList texts;
    for (int address : m_found)
        texts.append(QString::number(address));
    if (!m_found.isEmpty())
        ui->lineEditBusAddresses->setText(texts.join(QStringLiteral(", ")));
    QString state = end == bus::Scanner::End::Cancelled
                        ? tr("Scan cancelled: %n module(s) found.", nullptr, int(m_found.size()))
                        : tr("Scan done: %n module(s) found.", nullptr, int(m_found.size()));
    ui->labelBusState->setText(state);
}

void BusPanel::showState()
{
    if (ui->tableBus->isVisible())
        ui->tableBus->resizeColumnsToContents();
    if (!m_poller.isPolling()) {
        ui->labelBusState->setText(tr("Not polling."));
        return;
    }
    int online = 0;
    for (const bus::ModuleStatus &module : m_poller.modules())
        online += module.state() == bus::Backoff::State::Online ? 1 : 0;
    ui->labelBusState->setText(tr("Polling %1 at %2 bit/s: %3 of %n module(s) online.", nullptr,
                                  int(m_poller.modules().size()))
                                   .arg(m_link.portName())
                                   .arg(m_link.speed())
                                   .arg(online));
}

void BusPanel::showError(const QString &text)
{
    QMessageBox::warning(this, tr("Bus"), text);
}

} // namespace busview
