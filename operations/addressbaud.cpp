// The module's bus address and line speed.
#include "app/widget.h"

#include "app/timing.h"
#include "protocol/frames.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTimer>

void Widget::sendModbusRequest(const QByteArray &frame)
{
    serialPort->write(frame);
    responseTimer->start(timing::replyDeadline);
    UartData.ResponseFlag = false;
    appendExchangeLog(frames::hexText(frame), false);
    humitureTimer->start(timing::pollPeriod);
}

bool Widget::addressFromField(quint8 &address)
{
    Q_UNUSED(address)
    return false;
}

void Widget::PushButtonAddressReadSlot()
{
    sendModbusRequest(frames::readAddressRequest());
}

void Widget::PushButtonAddressSlot() {}

void Widget::PushButtonBaudRateSlot() {}

void Widget::showAddress()
{
    ui->lineEditAddress->setText(QString::number(UartData.Address));
}
