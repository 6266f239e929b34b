#include "feed/reading.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonValue>

namespace feed {

namespace {

QJsonValue valueOrNull(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

} // namespace

QString identifier(const QString &text)
{
    QString safe;
    safe.reserve(text.size());
    for (const QChar c : text) {
        const bool keep = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                          c == QLatin1Char('-') || c == QLatin1Char('_');
        safe += keep ? c : QLatin1Char('_');
    }
    return safe;
}

QJsonObject toJson(const Reading &r)
{
    QJsonObject object{
        {QStringLiteral("time_utc"),
         QDateTime::fromMSecsSinceEpoch(r.msecsSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs)},
        {QStringLiteral("port"), r.port},
        {QStringLiteral("address"), r.address},
        {QStringLiteral("temperature_C"), valueOrNull(r.temperature)},
        {QStringLiteral("humidity_pct"), valueOrNull(r.humidity)},
        {QStringLiteral("dew_point_C"), valueOrNull(r.dewPoint)},
        {QStringLiteral("wet_bulb_C"), valueOrNull(r.wetBulb)},
        {QStringLiteral("status"), r.status},
        {QStringLiteral("flags"), QJsonArray::fromStringList(samples::flagNames(r.flags))},
    };
    if (!r.serial.isEmpty())
        object.insert(QStringLiteral("serial"), r.serial);
    if (!r.model.isEmpty())
        object.insert(QStringLiteral("model"), r.model);
    return object;
}

QString moduleId(const Reading &r)
{
    if (!r.serial.isEmpty())
        return identifier(r.serial);
    // The device name alone: /dev/ttyUSB0 and COM3 both end in what the user knows the port by.
    return identifier(QFileInfo(r.port).fileName()) + QLatin1Char('_') + QString::number(r.address);
}

} // namespace feed
