// A module behind a serial device server: the same requests and the same receive path as on a
// serial port, over a TCP connection to the converter.
#include "app/widget.h"

#include "link/reconnector.h"
#include "network/tcplink.h"
#include "protocol/portname.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QMessageBox>

#include <utility>

void Widget::setUpNetworkLink()
{
    tcpLink = new TcpLink(this);
    connect(tcpLink, &TcpLink::readyRead, this, &Widget::my_readuart);
    connect(tcpLink, &TcpLink::opened, this, [this] {
        emit portOpened(tcpLink->endpoint(), 0);
        // Handed back by the bus poll, polling goes on as after a reconnect: the address is known.
        if (std::exchange(pollWhenNetworkOpens, false))
            PushButtonReadSlot();
        else
            PushButtonAddressReadSlot();
    });
    connect(tcpLink, &TcpLink::failed, this, [this](const QString &reason) {
        pollWhenNetworkOpens = false;
        showMessage(tr("Error"), reason);
    });
    connect(tcpLink, &TcpLink::lost, this, [this](const QString &reason) {
        networkLossReason = reason;
        pollAfterNetworkReopen = ui->pushButtonRead->text() == tr("Stop");
        dropLostPort();
        // The same host and port, until the converter answers or the operator links anew.
        tcpLink->reopenWhenBack();
    });
    connect(tcpLink, &TcpLink::reopened, this, [this] {
        // The serial reconnect waits for an adapter that a network link never has.
        reconnector->cancel();
        emit portReconnected(tcpLink->endpoint(), 0);
        if (pollAfterNetworkReopen && ui->pushButtonRead->text() == tr("Read"))
            PushButtonReadSlot();
    });
}

bool Widget::openNetworkLink()
{
    const protocol::PortName name = protocol::parsePortName(UartData.PortName);
    networkLinked = name.isNetwork();
    if (!networkLinked)
        return false;
    serialPort->close();
    if (UartData.ReopenFlag) {
        // The module took the new speed; the converter's serial side did not, and nothing here
        // can set it.
        showMessage(tr("Succeed"), tr("The module now runs at %1 bit/s. Set the serial side of "
                                      "the converter to the same speed: until then the module "
                                      "cannot answer.")
                                       .arg(UartData.BaudRate));
        return true;
    }
    portLossPending = false;
    tcpLink->open(name);
    return true;
}

bool Widget::closeNetworkLink()
{
    const bool wasOpen = tcpLink->isOpen() || tcpLink->isReopening();
    pollWhenNetworkOpens = false;
    tcpLink->close();
    networkLinked = false;
    return wasOpen;
}

QIODevice *Widget::linkDevice() const
{
    return networkLinked ? tcpLink->device() : static_cast<QIODevice *>(serialPort);
}

QString Widget::linkName() const
{
    return networkLinked ? tcpLink->endpoint() : serialPort->portName();
}

QString Widget::lostLinkMessage() const
{
    if (!networkLinked)
        return tr("The serial port was disconnected!");
    return tr("The network link was lost: %1\nQuorvel links again as soon as the converter "
              "answers.")
        .arg(networkLossReason);
}

std::chrono::milliseconds Widget::withLinkMargin(std::chrono::milliseconds deadline) const
{
    return networkLinked ? deadline + std::chrono::milliseconds(UartData.NetworkMarginMs)
                         : deadline;
}

bool Widget::confirmNetworkSpeedChange(int speed)
{
    if (!networkLinked)
        return true;
    return QMessageBox::question(
               this, tr("Line speed"),
               tr("The module is reached through a network converter. At %1 bit/s it cannot "
                  "answer until the serial side of the converter is set to the same speed.\n"
                  "Change the line speed of the module?")
                   .arg(speed)) == QMessageBox::Yes;
}
