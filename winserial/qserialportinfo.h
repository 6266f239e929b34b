// The serial ports Windows knows, for the stand-in of Qt Serial Port (qserialport.h).
#pragma once

#include <QList>
#include <QString>

class QSerialPort;

class QSerialPortInfo
{
public:
    QSerialPortInfo() = default;
    explicit QSerialPortInfo(const QString &name);

    QString portName() const { return m_portName; }
    QString systemLocation() const { return m_systemLocation; }
    QString description() const { return m_description; }
    QString manufacturer() const { return m_manufacturer; }
    QString serialNumber() const { return m_serialNumber; }
    bool hasVendorIdentifier() const { return m_hasVendorIdentifier; }
    bool hasProductIdentifier() const { return m_hasProductIdentifier; }
    quint16 vendorIdentifier() const { return m_vendorIdentifier; }
    quint16 productIdentifier() const { return m_productIdentifier; }
    bool isNull() const { return m_portName.isEmpty(); }

    static QList<QSerialPortInfo> availablePorts();

private:
    QString m_portName;
    QString m_systemLocation;
    QString m_description;
    QString m_manufacturer;
    QString m_serialNumber;
    quint16 m_vendorIdentifier = 0;
    quint16 m_productIdentifier = 0;
    bool m_hasVendorIdentifier = false;
    bool m_hasProductIdentifier = false;
};
