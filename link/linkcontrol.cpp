// Opening and reopening the serial link, and the automatic line-speed probe.
#include "app/widget.h"

#include "ui_widget.h"

void Widget::PushButtonLinkSlot() {}

void Widget::openSerialLink() {}

void Widget::AUTOUartInit() {}

void Widget::handlePortError(QSerialPort::SerialPortError error)
{
    Q_UNUSED(error)
}

void Widget::dropLostPort() {}
