#include "bus/transport.h"

#include "bus/networktransport.h"
#include "protocol/logging.h"
#include "protocol/portname.h"

#include <QSerialPort>
#include <QTimer>

namespace bus {

std::unique_ptr<Transport> Transport::forPortName(const QString &portName)
{
    if (protocol::parsePortName(portName).isNetwork())
        return std::make_unique<NetworkTransport>();
    return std::make_unique<SerialTransport>();
}

SerialTransport::SerialTransport(QObject *parent)
    : Transport(parent), m_port(std::make_unique<QSerialPort>())
{
    connect(m_port.get(), &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) {
                // A pulled adapter fails its reads (a hung-up line reads as end of file) and
                // then its writes; a pseudo-terminal whose far end closed does the same.
                const bool loss = error == QSerialPort::ResourceError ||
                                  error == QSerialPort::ReadError ||
                                  error == QSerialPort::WriteError;
                if (!loss || m_lost || !m_port->isOpen())
                    return;
                m_lost = true;
                qCDebug(lcWire) << "port lost:" << m_port->errorString();
                // Closing inside the port's own error emission recurses; the event loop does it.
                QTimer::singleShot(0, this, [this] { m_port->close(); });
                emit lost(m_port->errorString());
            });
}

SerialTransport::~SerialTransport() = default;

bool SerialTransport::open(const QString &portName, int speed)
{
    m_lost = false;
    m_port->setPortName(portName);
    if (!m_port->open(QIODevice::ReadWrite)) {
        switch (m_port->error()) {
        case QSerialPort::DeviceNotFoundError:
            m_openError = QStringLiteral("there is no serial port %1: check the name (quorvel-cli "
                                         "ports lists them) and that the adapter is plugged in")
                              .arg(portName);
            break;
        case QSerialPort::PermissionError:
            m_openError =
                QStringLiteral("cannot open %1: %2. Close the program that holds it; on Linux, "
                               "join the dialout group (sudo usermod -aG dialout $USER, then log "
                               "in again)")
                    .arg(portName, m_port->errorString());
            break;
        default:
            m_openError = QStringLiteral("cannot open %1: %2. Check that it is a serial port "
                                         "and that no other program uses it")
                              .arg(portName, m_port->errorString());
            break;
        }
        return false;
    }
    // The module speaks 8N1 only.
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->clear(QSerialPort::AllDirections);
    return setSpeed(speed);
}

void SerialTransport::close()
{
    m_port->close();
}

bool SerialTransport::isOpen() const
{
    return m_port->isOpen();
}

bool SerialTransport::setSpeed(int speed)
{
    if (!m_port->setBaudRate(speed, QSerialPort::AllDirections)) {
        m_openError = QStringLiteral("cannot set %1 to %2 bit/s: %3")
                          .arg(m_port->portName())
                          .arg(speed)
                          .arg(m_port->errorString());
        return false;
    }
    return true;
}

QIODevice *SerialTransport::device()
{
    return m_port.get();
}

QString SerialTransport::portName() const
{
    return m_port->portName();
}

QString SerialTransport::lostMessage() const
{
    return QStringLiteral("lost the port %1 (adapter unplugged?): plug it back in and run the "
                          "command again")
        .arg(m_port->portName());
}

} // namespace bus
