#pragma once

#include "line.h"

#include <QHostAddress>

class QTcpServer;
class QTcpSocket;

namespace modsim {

// A serial device server in transparent TCP-server mode: it listens on one address, takes one
// client at a time, and passes bytes through unchanged, each write in a segment of its own so
// that a reply written in pieces arrives in pieces.
class TcpLine : public Line
{
    Q_OBJECT

public:
    explicit TcpLine(QObject *parent = nullptr);
    ~TcpLine() override;

    // Port 0 takes any free port; portName() then tells which.
    bool listen(const QHostAddress &address, quint16 port);
    // The converter's serial side: fixed by its configuration, whatever the module is told.
    void setSerialSpeed(int bitsPerSecond) { m_serialSpeed = bitsPerSecond; }
    bool hasClient() const { return m_client != nullptr; }

    bool isOpen() const override;
    QString portName() const override;
    QString errorString() const override { return m_error; }
    qint64 write(const QByteArray &bytes) override;
    QByteArray readAll() override;
    int lineSpeed() const override { return m_serialSpeed; }
    void close() override;
    bool reopen() override;

private:
    void onNewConnection();
    void onClientGone();

    QTcpServer *m_server = nullptr;
    QTcpSocket *m_client = nullptr;
    QHostAddress m_address;
    QString m_peer;
    quint16 m_port = 0;
    int m_serialSpeed = 0;
    QString m_error;
};

} // namespace modsim
