#pragma once

#include "protocol/portname.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>

#include <chrono>

class QIODevice;
class QTcpSocket;
class QTimer;

// A link to a serial device server in transparent mode: a TCP connection whose bytes are the
// line's bytes. Connecting never blocks; a host that refuses, cannot be reached or does not
// answer is reported once, within connectTimeout. Only the host named is contacted, and nothing
// here listens.
class TcpLink : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds connectTimeout{3000};
    // Between the silent attempts of reopenWhenBack().
    static constexpr std::chrono::milliseconds retryPeriod{2000};
    // A converter that serves one client accepts a second and closes it at once: a connection
    // counts as made when it has stayed up this long, and one closed sooner is asked again after
    // turnAwayRetry, within connectTimeout (its first client may be on its way out).
    static constexpr std::chrono::milliseconds settleTime{150};
    static constexpr std::chrono::milliseconds turnAwayRetry{100};

    explicit TcpLink(QObject *parent = nullptr);

    // Starts connecting; opened() or failed() follows.
    void open(const protocol::PortName &name);
    // Keeps trying the last endpoint, quietly, until it answers (reopened()) or close().
    void reopenWhenBack();
    void close();

    bool isOpen() const;
    bool isReopening() const;
    QString endpoint() const { return m_name.displayName(); }
    // The connection's bytes; open while connecting, so that a request written early waits.
    QIODevice *device() const;

signals:
    void opened();
    void reopened();
    void failed(const QString &reason);
    // The connection dropped after it was made: the converter went away, or the network.
    void lost(const QString &reason);
    void readyRead();

private:
    void connectNow();
    void onConnected();
    void onSettled();
    void onError(QAbstractSocket::SocketError error);
    void giveUp(const QString &reason);
    void report(const QString &reason, bool wasConnected);
    QString reasonFor(QAbstractSocket::SocketError error) const;

    QTcpSocket *m_socket = nullptr;
    QTimer *m_deadline = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_settle = nullptr;
    protocol::PortName m_name;
    bool m_connected = false;
    bool m_turnedAway = false; // closed at once since the last connection that stayed up
    bool m_reporting = false;  // one report an attempt, however many errors the socket raises
    quint64 m_attempt = 0;     // a report still queued for an attempt since closed is dropped
};
