#include "bus/networktransport.h"

#include "network/tcplink.h"
#include "protocol/portname.h"

#include <QEventLoop>

namespace bus {

NetworkTransport::NetworkTransport(QObject *parent) : Transport(parent), m_link(new TcpLink(this))
{
    connect(m_link, &TcpLink::lost, this, [this](const QString &reason) {
        m_lostReason = reason;
        emit lost(reason);
    });
}

NetworkTransport::~NetworkTransport() = default;

bool NetworkTransport::open(const QString &portName, int)
{
    m_lostReason.clear();
    m_openError.clear();
    const protocol::PortName name = protocol::parsePortName(portName);
    if (!name.isNetwork()) {
        m_openError = QStringLiteral("%1 is not HOST:PORT").arg(portName);
        return false;
    }
    QEventLoop loop;
    bool linked = false;
    const auto opened = connect(m_link, &TcpLink::opened, &loop, [&] {
        linked = true;
        loop.quit();
    });
    const auto failed = connect(m_link, &TcpLink::failed, &loop, [&](const QString &reason) {
        m_openError = reason;
        loop.quit();
    });
    m_link->open(name);
    loop.exec();
    disconnect(opened);
    disconnect(failed);
    return linked;
}

void NetworkTransport::close()
{
    m_link->close();
}

bool NetworkTransport::isOpen() const
{
    return m_link->isOpen();
}

bool NetworkTransport::setSpeed(int)
{
    return true;
}

QIODevice *NetworkTransport::device()
{
    return m_link->device();
}

QString NetworkTransport::portName() const
{
    return m_link->endpoint();
}

QString NetworkTransport::lostMessage() const
{
    // The reason names the endpoint already.
    return QStringLiteral("lost the connection: %1 Check the converter and the network, then run "
                          "the command again")
        .arg(m_lostReason);
}

} // namespace bus
