#pragma once

#include <QIODevice>
#include <QObject>
#include <QString>

#include <memory>

class QSerialPort;

namespace bus {

// What carries the bytes to the modules and back. The link reads and writes device() as any
// QIODevice; what differs between a serial port and a network connection (opening it, its line
// speed, how it fails) stays in the transport.
class Transport : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The transport a port name calls for: a TCP connection for HOST:PORT, a serial port for a
    // device name.
    static std::unique_ptr<Transport> forPortName(const QString &portName);

    // Opens the port at 8N1 and `speed`; on failure, openError() says why and what to do.
    virtual bool open(const QString &portName, int speed) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // A transport whose line speed is not the PC's to set accepts any.
    virtual bool setSpeed(int speed) = 0;
    // False where the speed belongs to someone else (a serial device server's serial side):
    // then the speed only sizes the reply waits, and trying speeds finds nothing.
    virtual bool setsLineSpeed() const { return true; }
    virtual QIODevice *device() = 0;
    virtual QString portName() const = 0;
    QString openError() const { return m_openError; }
    // The message for a lost port.
    virtual QString lostMessage() const = 0;

signals:
    // The port failed while open (an adapter pulled, a connection dropped). Emitted once; the
    // port is closed from the event loop afterwards.
    void lost(const QString &reason);

protected:
    QString m_openError;
};

class SerialTransport : public Transport
{
    Q_OBJECT

public:
    explicit SerialTransport(QObject *parent = nullptr);
    ~SerialTransport() override;

    bool open(const QString &portName, int speed) override;
    void close() override;
    bool isOpen() const override;
    bool setSpeed(int speed) override;
    QIODevice *device() override;
    QString portName() const override;
    QString lostMessage() const override;

private:
    std::unique_ptr<QSerialPort> m_port;
    bool m_lost = false;
};

} // namespace bus
