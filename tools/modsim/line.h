#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace modsim {

// What the simulated module talks through: a pseudo-terminal that looks like a serial port, or
// a TCP listener that looks like a serial device server in transparent mode.
class Line : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool isOpen() const = 0;
    // What the other side opens: a device path, or HOST:PORT.
    virtual QString portName() const = 0;
    virtual QString errorString() const = 0;
    // Never blocks; what nobody is there to take is lost, as on a real line. Returns the number
    // of bytes taken, or -1 on an error.
    virtual qint64 write(const QByteArray &bytes) = 0;
    virtual QByteArray readAll() = 0;
    // The speed the module's side of the line runs at, 0 when it cannot be told.
    virtual int lineSpeed() const = 0;
    // Gone as a pulled adapter or a converter switched off; reopen() brings it back as it was.
    virtual void close() = 0;
    virtual bool reopen() = 0;

signals:
    void readyRead();
    // Something a person watching the simulator wants to know (a client came or went).
    void note(const QString &text);
};

} // namespace modsim
