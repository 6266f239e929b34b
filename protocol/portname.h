#pragma once

#include <QString>
#include <QtGlobal>

namespace protocol {

// Where a typed port name leads: a serial port of this machine, or a TCP connection to a serial
// device server that passes the line's bytes through unchanged. Every place that takes a port
// name (the link dialog, quorvel-cli's -p, the bus) reads it through parsePortName(), so that
// they all agree on what "host:port" means.
struct PortName
{
    enum class Kind { Serial, Network, Invalid };

    Kind kind = Kind::Invalid;
    QString serialPort; // Serial: the name or path as typed, without surrounding blanks
    QString host;       // Network: a host name or an IP address, IPv6 without its brackets
    quint16 port = 0;   // Network: 1 to 65535
    // Invalid: why, in English; translate it in the "PortName" context to show it.
    const char *problem = nullptr;

    bool isSerial() const { return kind == Kind::Serial; }
    bool isNetwork() const { return kind == Kind::Network; }
    bool isValid() const { return kind != Kind::Invalid; }
    // The name to show and to reopen: the serial name, or HOST:PORT with IPv6 in brackets.
    QString displayName() const;
};

// `HOST:PORT` or `tcp://HOST:PORT` (an IPv4 address, an IPv6 address in brackets or a host
// name) is a network link; a name without a colon (ttyUSB0, COM3) or a path is a serial port.
PortName parsePortName(const QString &text);

} // namespace protocol
