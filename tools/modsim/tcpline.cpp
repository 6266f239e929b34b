#include "tcpline.h"

#include "protocol/logging.h"
#include "protocol/portname.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace modsim {

namespace {

QString endpoint(const QHostAddress &address, quint16 port)
{
    protocol::PortName name;
    name.kind = protocol::PortName::Kind::Network;
    name.host = address.toString();
    name.port = port;
    return name.displayName();
}

} // namespace

TcpLine::TcpLine(QObject *parent) : Line(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TcpLine::onNewConnection);
}

TcpLine::~TcpLine()
{
    close();
}

bool TcpLine::listen(const QHostAddress &address, quint16 port)
{
    close();
    m_address = address;
    if (!m_server->listen(address, port)) {
        m_error = QStringLiteral("cannot listen on %1: %2")
                      .arg(endpoint(address, port), m_server->errorString());
        return false;
    }
    // Coming back after close() takes the same port, as a converter that restarts does.
    m_port = m_server->serverPort();
    return true;
}

bool TcpLine::reopen()
{
    return listen(m_address, m_port);
}

bool TcpLine::isOpen() const
{
    return m_server->isListening();
}

QString TcpLine::portName() const
{
    return endpoint(m_address, m_port);
}

void TcpLine::close()
{
    m_server->close();
    if (m_client) {
        // A reset, not a polite close: a converter switched off or cut from the network sends
        // nothing more, and the tool must find out from the socket, not from a clean goodbye.
        m_client->disconnect(this);
        m_client->abort();
        m_client->deleteLater();
        m_client = nullptr;
    }
}

qint64 TcpLine::write(const QByteArray &bytes)
{
    if (!m_client)
        return 0;
    const qint64 written = m_client->write(bytes);
    // Out now, in a segment of its own (no Nagle delay, see onNewConnection()).
    m_client->flush();
    return written;
}

QByteArray TcpLine::readAll()
{
    return m_client ? m_client->readAll() : QByteArray();
}

void TcpLine::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QString peer = endpoint(socket->peerAddress(), socket->peerPort());
        if (m_client) {
            // The line is one pair of wires: a second master is turned away, not mixed in.
            emit note(QStringLiteral("refused %1: a client is connected").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        m_peer = peer;
        m_client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(m_client, &QTcpSocket::readyRead, this, &Line::readyRead);
        connect(m_client, &QTcpSocket::disconnected, this, &TcpLine::onClientGone);
        qCDebug(lcWire) << "simulated module: client" << peer;
        emit note(QStringLiteral("client %1 connected").arg(peer));
    }
}

void TcpLine::onClientGone()
{
    if (!m_client)
        return;
    emit note(QStringLiteral("client %1 left").arg(m_peer));
    m_client->deleteLater();
    m_client = nullptr;
}

} // namespace modsim
