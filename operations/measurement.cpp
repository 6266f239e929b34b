// The live-value poll and its display.
#include "app/widget.h"

#include "app/clock.h"
#include "app/timing.h"
#include "protocol/frames.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTimer>

namespace {

// Values travel in tenths; one decimal shows them exactly.
QString tenths(int value)
{
    return QString::number(value / 10.0, 'f', 1);
}

const QString celsius = QString(QChar(0x2103)); // DEGREE CELSIUS, one character

// Polls in a row without a measurement reply before the values are shown as old. A box would
// come every second on a cut wire, so the labels say it instead.
constexpr int unansweredPollsBeforeStale = 3;

} // namespace

// The caption is the poll's only state: "Read" while idle, "Stop" while polling.
void Widget::PushButtonReadSlot()
{
    if (ui->pushButtonRead->text() == tr("Read")) {
        ui->pushButtonRead->setText(tr("Stop"));
        humitureTimer->start(timing::pollPeriod);
        pollAwaitingReply = false; // the last poll of an earlier run had its chance
        emit pollingChanged(true);
    } else {
        ui->pushButtonRead->setText(tr("Read"));
        humitureTimer->stop();
        emit pollingChanged(false);
    }
}

void Widget::ReadHumitureOrder()
{
    // Other commands restart the timer while idle; their expiries end here.
    if (ui->pushButtonRead->text() == tr("Read"))
        return;
    humitureTimer->start(timing::pollPeriod);

    quint8 address = 0;
    QString rejection;
    if (!addressFromField(address, rejection)) {
        // Stopped before the box: its nested event loop would otherwise poll again and
        // stack a second box on the first.
        ui->pushButtonRead->setText(tr("Read"));
        humitureTimer->stop();
        emit pollingChanged(false);
        showMessage(tr("Error"), rejection);
        return;
    }
    UartData.Address = address;
    notePollSent();

    const QByteArray frame = frames::measurementRequest(address);
    writeRequest(protocol::RequestKind::Measurement, frame);
    UartData.ResponseFlag = false;
    appendExchangeLog(frames::hexText(frame), false);
}

void Widget::showMeasurement(bool withWetBulb)
{
    ui->labelTemperature->setText(tr("Temperature:") + tenths(UartData.Temperature) + celsius);
    ui->labelHumidity->setText(tr("Humidity:") + tenths(UartData.Humidity) + QLatin1Char('%'));
    ui->labelDewTemp->setText(tr("DewTemp:") + tenths(UartData.DewTemp) + celsius);
    if (withWetBulb)
        ui->labelWetBulbTemp->setText(tr("WetBulbTemp:") + tenths(UartData.WetBulbTemp) + celsius);
}

void Widget::notePollSent()
{
    if (!silentSince.isValid())
        silentSince = appclock::now();
    if (pollAwaitingReply && ++unansweredPolls == unansweredPollsBeforeStale)
        showValuesStale(true);
    pollAwaitingReply = true;
}

void Widget::noteMeasurementReply()
{
    silentSince = appclock::now();
    pollAwaitingReply = false;
    if (unansweredPolls >= unansweredPollsBeforeStale)
        showValuesStale(false);
    unansweredPolls = 0;
}

void Widget::showValuesStale(bool stale)
{
    const QString since =
        stale ? tr("No reply since %1").arg(silentSince.toString(QStringLiteral("hh:mm:ss")))
              : QString();
    for (QLabel *label :
         {ui->labelTemperature, ui->labelHumidity, ui->labelDewTemp, ui->labelWetBulbTemp}) {
        label->setEnabled(!stale);
        label->setToolTip(since);
    }
}
