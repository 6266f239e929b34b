#pragma once

#include "bus/transport.h"

class TcpLink;

namespace bus {

// The line through a serial device server in transparent mode. The engine works in waits
// (open() returns linked or not), so opening waits for TcpLink's answer, which comes within its
// connect timeout whatever the host does.
class NetworkTransport : public Transport
{
    Q_OBJECT

public:
    explicit NetworkTransport(QObject *parent = nullptr);
    ~NetworkTransport() override;

    bool open(const QString &portName, int speed) override;
    void close() override;
    bool isOpen() const override;
    bool setSpeed(int speed) override;
    bool setsLineSpeed() const override { return false; }
    QIODevice *device() override;
    QString portName() const override;
    QString lostMessage() const override;

private:
    TcpLink *m_link;
    QString m_lostReason;
};

} // namespace bus
