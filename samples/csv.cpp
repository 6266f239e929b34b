#include "samples/csv.h"

#include <QDateTime>
#include <QLocale>

#include <cstdlib>

namespace samples::csv {

namespace {
const char utcFormat[] = "yyyy-MM-ddThh:mm:ss.zzzZ";
const char localFormat[] = "yyyy-MM-dd hh:mm:ss.zzz";
} // namespace

QByteArray header()
{
    return QByteArrayLiteral("time_utc,local_time,address,temperature_C,humidity_pct,dew_point_C,"
                             "wet_bulb_C,status\n");
}

QByteArray tenths(int value)
{
    // Integer arithmetic: no locale, and no binary fraction to round.
    QByteArray text = value < 0 ? QByteArrayLiteral("-") : QByteArray();
    const int magnitude = std::abs(value);
    text += QByteArray::number(magnitude / 10);
    text += '.';
    text += char('0' + magnitude % 10);
    return text;
}

QByteArray row(const Sample &sample)
{
    // The C locale: a system locale may write its own digits.
    const QLocale c = QLocale::c();
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(sample.msecsSinceEpoch, Qt::UTC);
    QByteArray line = c.toString(utc, QLatin1String(utcFormat)).toLatin1();
    line += ',';
    line += c.toString(utc.toLocalTime(), QLatin1String(localFormat)).toLatin1();
    line += ',';
    line += QByteArray::number(sample.address);
    if (sample.isGap())
        return line + QByteArrayLiteral(",,,,,no reply\n");
    line += ',' + tenths(sample.temperature);
    line += ',' + tenths(sample.humidity);
    line += ',' + tenths(sample.dewPoint);
    line += ',';
    if (sample.hasWetBulb)
        line += tenths(sample.wetBulb);
    line += QByteArrayLiteral(",ok\n");
    return line;
}

} // namespace samples::csv
