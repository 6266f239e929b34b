#include "protocol/portname.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace protocol {

namespace {

PortName invalid(const char *problem)
{
    PortName name;
    name.problem = problem;
    return name;
}

bool allDigits(const QString &text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

bool isIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), [](const QString &part) {
               return allDigits(part) && part.size() <= 3 && part.toInt() <= 255;
           });
}

bool isHostName(const QString &text)
{
    // Labels of letters, digits and inner hyphens (RFC 1123); a name of digits and dots alone
    // must be a whole IPv4 address, so that a mistyped one is not looked up as a name.
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    if (text.isEmpty() || text.size() > 253)
        return false;
    const QString name = text.endsWith(QLatin1Char('.')) ? text.chopped(1) : text;
    const QStringList labels = name.split(QLatin1Char('.'));
    if (!std::all_of(labels.begin(), labels.end(),
                     [](const QString &part) { return label.match(part).hasMatch(); }))
        return false;
    const bool numeric = std::all_of(name.begin(), name.end(),
                                     [](QChar c) { return c.isDigit() || c == QLatin1Char('.'); });
    return !numeric || isIpv4(name);
}

bool isIpv6(const QString &text)
{
    // The form only; the resolver has the last word. A zone (%eth0) may follow.
    static const QRegularExpression address(QStringLiteral("^[0-9A-Fa-f:.]+(%[A-Za-z0-9._-]+)?$"));
    return text.count(QLatin1Char(':')) >= 2 && text.count(QLatin1Char(':')) <= 7 &&
           address.match(text).hasMatch();
}

bool looksSerial(const QString &text)
{
    // A path (/dev/ttyUSB0, /dev/serial/by-path/pci-0000:00:14.0-..., \\.\COM10, ./link) or a
    // name without a colon (ttyUSB0, COM3). A colon elsewhere asks for the network.
    return text.startsWith(QLatin1Char('/')) || text.startsWith(QLatin1Char('\\')) ||
           text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('~')) ||
           !text.contains(QLatin1Char(':'));
}

PortName network(const QString &rest)
{
    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return invalid(QT_TRANSLATE_NOOP("PortName", "An IPv6 address in brackets lacks "
                                                         "its closing bracket."));
        host = rest.mid(1, close - 1);
        if (!isIpv6(host))
            return invalid(QT_TRANSLATE_NOOP("PortName", "Between the brackets there must be "
                                                         "an IPv6 address."));
        if (rest.mid(close + 1, 1) != QLatin1String(":"))
            return invalid(QT_TRANSLATE_NOOP("PortName", "A network address needs a port "
                                                         "number: HOST:PORT."));
        port = rest.mid(close + 2);
    } else {
        const int colons = int(rest.count(QLatin1Char(':')));
        if (colons == 0)
            return invalid(QT_TRANSLATE_NOOP("PortName", "A network address needs a port "
                                                         "number: HOST:PORT."));
        if (colons > 1)
            return invalid(QT_TRANSLATE_NOOP("PortName", "Write an IPv6 address in brackets: "
                                                         "[ADDRESS]:PORT."));
        host = rest.section(QLatin1Char(':'), 0, 0);
        port = rest.section(QLatin1Char(':'), 1);
        if (host.isEmpty())
            return invalid(QT_TRANSLATE_NOOP("PortName", "A network address needs a host "
                                                         "before the port number: HOST:PORT."));
        if (!isHostName(host))
            return invalid(QT_TRANSLATE_NOOP("PortName", "The host is neither a host name "
                                                         "nor an IP address."));
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!allDigits(port) || port.size() > 5 || !ok || number < 1 || number > 65535)
        return invalid(QT_TRANSLATE_NOOP("PortName", "The port number of a network address "
                                                     "must be from 1 to 65535."));
    PortName name;
    name.kind = PortName::Kind::Network;
    name.host = host;
    name.port = quint16(number);
    return name;
}

} // namespace

QString PortName::displayName() const
{
    switch (kind) {
    case Kind::Serial:
        return serialPort;
    case Kind::Network:
        return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']')
                                                : host) +
               QLatin1Char(':') + QString::number(port);
    case Kind::Invalid:
        break;
    }
    return QString();
}

PortName parsePortName(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return invalid(QT_TRANSLATE_NOOP("PortName", "Name a serial port or a network address "
                                                     "(HOST:PORT)."));
    static const QLatin1String scheme("tcp://");
    if (trimmed.startsWith(scheme, Qt::CaseInsensitive))
        return network(trimmed.mid(scheme.size()));
    if (!looksSerial(trimmed))
        return network(trimmed);
    PortName name;
    name.kind = PortName::Kind::Serial;
    name.serialPort = trimmed;
    return name;
}

} // namespace protocol
