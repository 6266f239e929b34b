#include "feed/lineprotocol.h"

#include <cmath>

namespace feed {

namespace {

// A line is one record: a control character in a port name or a serial number the module sent
// would break it, so it becomes a blank, which is escaped like any other.
QByteArray printable(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    for (char &c : bytes) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    return bytes;
}

// Tag keys, tag values and field keys: comma, equals sign and blank are escaped.
QByteArray escapeKey(const QString &text)
{
    QByteArray escaped;
    for (const char c : printable(text)) {
        if (c == ',' || c == '=' || c == ' ' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// String field values: double quote and backslash are escaped.
QByteArray quoted(const QString &text)
{
    QByteArray escaped = "\"";
    for (const char c : printable(text)) {
        if (c == '"' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped + '"';
}

void addTag(QByteArray &line, const char *key, const QString &value)
{
    if (!value.isEmpty())
        line += ',' + QByteArray(key) + '=' + escapeKey(value);
}

void addFloat(QByteArray &fields, const char *key, const std::optional<double> &value)
{
    // The protocol has no NaN or infinity; a value that is not a number was not read.
    if (value && std::isfinite(*value))
        fields += QByteArray(key) + '=' + QByteArray::number(*value, 'g', 15) + ',';
}

} // namespace

QByteArray influxLine(const Reading &r)
{
    QByteArray line = "quorvel";
    addTag(line, "port", r.port);
    addTag(line, "address", QString::number(r.address));
    addTag(line, "serial", r.serial);
    addTag(line, "model", r.model);

    QByteArray fields;
    addFloat(fields, "temperature_C", r.temperature);
    addFloat(fields, "humidity_pct", r.humidity);
    addFloat(fields, "dew_point_C", r.dewPoint);
    addFloat(fields, "wet_bulb_C", r.wetBulb);
    fields += "status=" + quoted(r.status);
    fields += ",flags=" + quoted(samples::flagNames(r.flags).join(QLatin1Char(',')));

    return line + ' ' + fields + ' ' + QByteArray::number(r.msecsSinceEpoch * 1000000) + '\n';
}

} // namespace feed
