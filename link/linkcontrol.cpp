// Opening and reopening the serial link, and the automatic line-speed probe.
#include "app/widget.h"

#include "app/timing.h"
#include "link/serialportsettingdialog.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTimer>

void Widget::PushButtonLinkSlot()
{
    serialPort->close();
    SerialportSettingDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (UartData.BaudRate != 0)
        openSerialLink();
    else
        AUTOUartInit();
}

void Widget::openSerialLink()
{
    serialPort->close();
    serialPort->setPortName(UartData.PortName);
    serialPort->open(QIODevice::ReadWrite);
    serialPort->setBaudRate(UartData.BaudRate, QSerialPort::AllDirections);
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    connect(serialPort, &QSerialPort::readyRead, this, &Widget::my_readuart, Qt::UniqueConnection);
    if (!UartData.ReopenFlag)
        PushButtonAddressReadSlot();
}

void Widget::AUTOUartInit()
{
    if (UartData.BaudIndex == 0) {
        UartData.ResponseFlag = false;
    } else if (UartData.ResponseFlag) {
        autoBaudTimer->stop();
        ui->comboBoxBaudRate->setCurrentIndex(
            ui->comboBoxBaudRate->findText(QString::number(UartData.BaudRate)));
        showMessage(tr("Succeed"), tr("The device baud rate is:")
                                       + QString::number(UartData.BaudRate) + QLatin1Char('!'));
        return;
    }
    if (UartData.BaudIndex >= UartData.BaudCount) {
        autoBaudTimer->stop();
        showMessage(tr("Error"), tr("Communication error!"));
        return;
    }
    UartData.BaudRate = UartData.BaudTable[UartData.BaudIndex];
    ++UartData.BaudIndex;
    openSerialLink();
    autoBaudTimer->start(timing::probeStep);
    responseTimer->stop();
}

void Widget::handlePortError(QSerialPort::SerialPortError error)
{
    Q_UNUSED(error)
}

void Widget::dropLostPort() {}
