// The module's bus address and line speed.
#include "app/widget.h"

#include "ui_widget.h"

void Widget::sendModbusRequest(const QByteArray &frame)
{
    Q_UNUSED(frame)
}

bool Widget::addressFromField(quint8 &address)
{
    Q_UNUSED(address)
    return false;
}

void Widget::PushButtonAddressReadSlot() {}

void Widget::PushButtonAddressSlot() {}

void Widget::PushButtonBaudRateSlot() {}

void Widget::showAddress() {}
