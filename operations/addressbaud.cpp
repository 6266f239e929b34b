// The module's bus address and line speed.
#include "app/widget.h"

#include "app/timing.h"
#include "protocol/frames.h"
#include "protocol/logging.h"
#include "protocol/tables.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTimer>

namespace {
// Modbus leaves 0 for broadcast and 248 to 255 reserved.
constexpr int lowestAddress = 1;
constexpr int highestAddress = 247;
} // namespace

void Widget::writeRequest(protocol::RequestKind kind, const QByteArray &frame)
{
    // A request lost with the port shows as a missing reply; one that never reached an open
    // port (Read before Link) was not sent at all, and listeners must not count it.
    if (linkDevice()->write(frame) == frame.size())
        emit requestSent(kind, frame);
}

void Widget::sendModbusRequest(protocol::RequestKind kind, const QByteArray &frame)
{
    writeRequest(kind, frame);
    responseTimer->start(withLinkMargin(timing::replyDeadline));
    UartData.ResponseFlag = false;
    appendExchangeLog(frames::hexText(frame), false);
    humitureTimer->start(timing::pollPeriod);
}

bool Widget::addressFromField(quint8 &address, QString &rejection) const
{
    const QString text = ui->lineEditAddress->text();
    if (text.isEmpty()) {
        rejection = tr("The address is empty!");
        return false;
    }
    bool ok = false;
    int value = text.toInt(&ok, 10);
    if (!ok)
        value = 0;
    if (value < lowestAddress || value > highestAddress) {
        rejection = tr("The address is between 1 and 247!");
        return false;
    }
    address = quint8(value);
    return true;
}

void Widget::PushButtonAddressReadSlot()
{
    sendModbusRequest(protocol::RequestKind::ReadAddress, frames::readAddressRequest());
}

void Widget::PushButtonAddressSlot()
{
    quint8 address = 0;
    QString rejection;
    if (!addressFromField(address, rejection)) {
        showMessage(tr("Error"), rejection);
        return;
    }
    // UartData.Address follows the module's answer or the next poll, not the request.
    sendModbusRequest(protocol::RequestKind::WriteAddress, frames::writeAddressRequest(address));
}

void Widget::PushButtonBaudRateSlot()
{
    const quint8 code = quint8(ui->comboBoxBaudRate->currentIndex() + 1);
    if (!confirmNetworkSpeedChange(protocol::speedOfBaudCode(code).value_or(0)))
        return;
    qCDebug(lcModule) << "baud code" << int(code);
    sendModbusRequest(protocol::RequestKind::WriteLineSpeed, frames::writeBaudCodeRequest(code));
    // The link follows once the module has answered at the old speed (TimerResponseSlot).
    UartData.ReopenFlag = true;
    if (const auto speed = protocol::speedOfBaudCode(code))
        UartData.BaudRate = *speed;
}

void Widget::showAddress()
{
    ui->lineEditAddress->setText(QString::number(UartData.Address));
}
