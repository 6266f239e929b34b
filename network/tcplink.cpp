#include "network/tcplink.h"

#include "protocol/logging.h"

#include <QTcpSocket>
#include <QTimer>

TcpLink::TcpLink(QObject *parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_deadline(new QTimer(this)),
      m_retry(new QTimer(this)), m_settle(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(connectTimeout);
    m_retry->setInterval(retryPeriod);
    m_settle->setSingleShot(true);
    m_settle->setInterval(settleTime);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (m_turnedAway) {
            giveUp(tr("%1 closes each connection at once: another program may be connected to "
                      "the converter.")
                       .arg(endpoint()));
            return;
        }
        giveUp(tr("%1 did not answer within %2 s: check the address, the network and that "
                  "the converter is switched on.")
                   .arg(endpoint())
                   .arg(connectTimeout.count() / 1000));
    });
    connect(m_settle, &QTimer::timeout, this, &TcpLink::onSettled);
    connect(m_retry, &QTimer::timeout, this, &TcpLink::connectNow);
    connect(m_socket, &QTcpSocket::connected, this, &TcpLink::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpLink::readyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpLink::onError);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_connected)
            onError(QAbstractSocket::RemoteHostClosedError);
    });
}

void TcpLink::open(const protocol::PortName &name)
{
    close();
    m_name = name;
    connectNow();
}

void TcpLink::reopenWhenBack()
{
    close();
    m_retry->start();
    connectNow();
}

void TcpLink::close()
{
    ++m_attempt;
    m_reporting = false;
    m_retry->stop();
    m_deadline->stop();
    m_settle->stop();
    m_turnedAway = false;
    m_connected = false;
    m_socket->abort();
}

bool TcpLink::isOpen() const
{
    return m_connected;
}

bool TcpLink::isReopening() const
{
    return m_retry->isActive();
}

QIODevice *TcpLink::device() const
{
    return m_socket;
}

void TcpLink::connectNow()
{
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    ++m_attempt;
    m_reporting = false;
    qCDebug(lcWire) << "connecting to" << endpoint();
    // The attempts after a turn-away share the first one's deadline.
    if (!m_turnedAway || !m_deadline->isActive())
        m_deadline->start();
    m_socket->connectToHost(m_name.host, m_name.port);
}

void TcpLink::onConnected()
{
    // A request is a handful of bytes: out at once, not held back to fill a segment.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A converter that vanishes without a reset is found by the reply deadlines; keep-alive
    // only spares an idle link from a router that forgets it.
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_settle->start();
}

void TcpLink::onSettled()
{
    m_deadline->stop();
    m_turnedAway = false;
    m_connected = true;
    qCDebug(lcWire) << "connected to" << endpoint();
    if (m_retry->isActive()) {
        m_retry->stop();
        emit reopened();
    } else {
        emit opened();
    }
}

void TcpLink::onError(QAbstractSocket::SocketError error)
{
    if (m_reporting)
        return;
    if (m_settle->isActive()) {
        m_settle->stop();
        m_turnedAway = true;
        qCDebug(lcWire) << endpoint() << "closed the connection at once; asking again";
        // From the event loop: the socket is still inside its own signal.
        QTimer::singleShot(turnAwayRetry, this, [this, attempt = m_attempt] {
            if (attempt != m_attempt || !m_deadline->isActive())
                return;
            m_socket->abort();
            connectNow();
        });
        return;
    }
    m_reporting = true;
    m_deadline->stop();
    const bool wasConnected = m_connected;
    m_connected = false;
    // Told from the event loop: the socket is still inside its own signal, and whoever listens
    // may open a message box or reconnect.
    const QString reason = reasonFor(error);
    const quint64 attempt = m_attempt;
    QTimer::singleShot(0, this, [this, reason, wasConnected, attempt] {
        if (attempt == m_attempt)
            report(reason, wasConnected);
    });
}

void TcpLink::giveUp(const QString &reason)
{
    m_reporting = true; // whatever the abort raises is this same failure
    m_socket->abort();
    ++m_attempt;
    report(reason, false);
}

void TcpLink::report(const QString &reason, bool wasConnected)
{
    qCDebug(lcWire) << "network link:" << reason;
    m_socket->abort();
    m_reporting = false;
    if (wasConnected)
        emit lost(reason);
    // While waiting for a lost converter, each failed attempt is expected, not news.
    else if (!m_retry->isActive())
        emit failed(reason);
}

QString TcpLink::reasonFor(QAbstractSocket::SocketError error) const
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("%1 refused the connection: check the port number and that the converter is "
                  "in TCP server mode and has no other client.")
            .arg(endpoint());
    case QAbstractSocket::HostNotFoundError:
        return tr("The host %1 is not known: check its name.").arg(m_name.host);
    case QAbstractSocket::RemoteHostClosedError:
        return tr("%1 closed the connection.").arg(endpoint());
    default:
        return endpoint() + QLatin1String(": ") + m_socket->errorString();
    }
}
