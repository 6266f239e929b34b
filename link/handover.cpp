// Lending the port to another part of the tool (the monitor's bus poll) and taking it back.
#include "app/widget.h"

#include "link/reconnector.h"
#include "network/tcplink.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTimer>

void Widget::releasePort()
{
    // A converter takes one client at a time: the bus's connection needs the window's gone.
    const bool network = networkLinked && (tcpLink->isOpen() || tcpLink->isReopening());
    if (!serialPort->isOpen() && !network)
        return;
    m_lent = Lent{UartData.PortName, UartData.BaudRate, ui->pushButtonRead->text() == tr("Stop")};
    // As an unlink: nothing of the window may write the port while another part holds it.
    reconnector->cancel();
    humitureTimer->stop();
    responseTimer->stop();
    settingResponseTimer->stop();
    autoBaudTimer->stop();
    UartData.ReopenFlag = false;
    if (m_lent->polling) {
        ui->pushButtonRead->setText(tr("Read"));
        emit pollingChanged(false);
    }
    if (network)
        closeNetworkLink();
    else
        serialPort->close();
    emit portClosed();
}

void Widget::resumePort()
{
    if (!m_lent || serialPort->isOpen() || tcpLink->isOpen())
        return;
    const Lent lent = *m_lent;
    m_lent.reset();
    UartData.PortName = lent.portName;
    UartData.BaudRate = lent.speed;
    // A network link connects in the background, and polls again once it is made.
    pollWhenNetworkOpens = lent.polling;
    if (openNetworkLink())
        return;
    pollWhenNetworkOpens = false;
    if (openPort() && lent.polling)
        PushButtonReadSlot();
}
