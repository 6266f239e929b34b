// Opening and reopening the serial link, and the automatic line-speed probe.
#include "app/widget.h"

#include "app/timing.h"
#include "link/reconnector.h"
#include "link/serialportsettingdialog.h"
#include "protocol/logging.h"
#include "protocol/portname.h"
#include "protocol/tables.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTimer>

#include <algorithm>
#include <iterator>

void Widget::PushButtonLinkSlot()
{
    // The operator takes the link in hand: a lost port that comes back now stays closed.
    reconnector->cancel();
    // A probe still running would reopen the old port behind the dialog at its next step.
    autoBaudTimer->stop();
    if (serialPort->isOpen() || closeNetworkLink()) {
        serialPort->close();
        emit portClosed();
    }
    SerialportSettingDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Behind a converter the line speed is the converter's: there is nothing to probe.
    if (UartData.BaudRate == 0 && !protocol::parsePortName(UartData.PortName).isNetwork()) {
        AUTOUartInit();
        return;
    }
    openSerialLink();
    if (serialPort->isOpen())
        emit linkEstablished(UartData.PortName, UartData.BaudRate);
}

void Widget::openSerialLink()
{
    if (openNetworkLink())
        return;
    const bool opened = openPort();
    if (!UartData.ReopenFlag) {
        PushButtonAddressReadSlot();
        return;
    }
    // Only the completion of an acknowledged line-speed change reopens with the flag set.
    if (opened)
        emit linkEstablished(UartData.PortName, UartData.BaudRate);
}

bool Widget::openPort()
{
    serialPort->close();
    // A port lost earlier is reported again if this one fails too.
    portLossPending = false;
    serialPort->setPortName(UartData.PortName);
    // A failed open is not reported here: the reply deadline of the address read says it.
    const bool opened = serialPort->open(QIODevice::ReadWrite);
    serialPort->setBaudRate(UartData.BaudRate, QSerialPort::AllDirections);
    // The module speaks 8N1 only; the dialog's data bits, parity and stop bits are not applied.
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    connect(serialPort, &QSerialPort::readyRead, this, &Widget::my_readuart, Qt::UniqueConnection);
    if (opened)
        emit portOpened(UartData.PortName, UartData.BaudRate);
    return opened;
}

void Widget::setUpReconnect()
{
    reconnector = new Reconnector(
        [this](const QString &portName, qint32 speed, bool resumePolling) {
            return reopenLostPort(portName, speed, resumePolling);
        },
        this);
    connect(this, &Widget::linkEstablished, reconnector, &Reconnector::noteEstablished);
    connect(this, &Widget::pollingChanged, reconnector, &Reconnector::notePolling);
    connect(this, &Widget::portLost, reconnector, &Reconnector::noteLost);
    connect(this, &Widget::portClosed, reconnector, &Reconnector::cancel);
}

bool Widget::reopenLostPort(const QString &portName, qint32 speed, bool resumePolling)
{
    UartData.PortName = portName;
    UartData.BaudRate = speed;
    // No address read: the module was linked before, and a module still starting up would
    // earn the operator a "Communication error!" for a link that works.
    if (!openPort())
        return false;
    emit linkEstablished(portName, speed);
    emit portReconnected(portName, speed);
    if (resumePolling && ui->pushButtonRead->text() == tr("Read"))
        PushButtonReadSlot();
    return true;
}

void Widget::AUTOUartInit()
{
    if (UartData.BaudIndex == 0) {
        UartData.ResponseFlag = false;
    } else if (UartData.ResponseFlag) {
        // The module answered at the speed of the previous step, which BaudRate still holds.
        autoBaudTimer->stop();
        // Selected through the speed table rather than by text, so a translated entry matches.
        if (const auto code = protocol::baudCodeOfSpeed(UartData.BaudRate))
            ui->comboBoxBaudRate->setCurrentIndex(*code - 1);
        // Before the box: a port lost while it is open comes back at this speed.
        emit linkEstablished(UartData.PortName, UartData.BaudRate);
        showMessage(tr("Succeed"), tr("The device baud rate is:") +
                                       QString::number(UartData.BaudRate) + QLatin1Char('!'));
        return;
    }
    const int candidates = std::min<int>(UartData.BaudCount, int(std::size(UartData.BaudTable)));
    if (UartData.BaudIndex >= candidates) {
        autoBaudTimer->stop();
        showMessage(tr("Error"), tr("Communication error!"));
        return;
    }
    UartData.BaudRate = UartData.BaudTable[UartData.BaudIndex];
    ++UartData.BaudIndex;
    qCDebug(lcWire) << "probing at" << UartData.BaudRate;
    openSerialLink();
    autoBaudTimer->start(timing::probeStep);
    // The next step judges the answer; the request's own deadline must not report meanwhile.
    responseTimer->stop();
}

void Widget::handlePortError(QSerialPort::SerialPortError error)
{
    // A pty whose far end closed, or a pulled adapter, fails every read and keeps the port
    // open: the burst is reported once and the port is closed from the event loop, since
    // closing it inside its own error emission recurses.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (portLossPending)
        return;
    portLossPending = true;
    qCDebug(lcWire) << "port lost:" << serialPort->errorString();
    QTimer::singleShot(0, this, &Widget::dropLostPort);
}

void Widget::dropLostPort()
{
    serialPort->close();
    // The poll would go on showing the last values as if they were live.
    const bool wasPolling = ui->pushButtonRead->text() == tr("Stop");
    humitureTimer->stop();
    ui->pushButtonRead->setText(tr("Read"));
    // One pulled cable, one message: a pending reply deadline or probe step would add its own.
    responseTimer->stop();
    settingResponseTimer->stop();
    autoBaudTimer->stop();
    // Acknowledged, lost before the reopen: the module listens at the new speed already.
    if (UartData.ReopenFlag && UartData.ResponseFlag && !networkLinked)
        emit linkEstablished(serialPort->portName(), UartData.BaudRate);
    UartData.ReopenFlag = false;
    emit portLost(linkName());
    if (wasPolling)
        emit pollingChanged(false);
    showMessage(tr("Error"), lostLinkMessage());
}
