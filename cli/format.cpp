#include "cli/format.h"

#include "cli/options.h"
#include "protocol/tables.h"
#include "samples/csv.h"
#include "samples/fromreply.h"

#include <QDateTime>
#include <QJsonValue>

namespace cli {

namespace {

QJsonValue tenthsValue(int tenths)
{
    return QJsonValue(tenths / 10.0);
}

QString tenthsText(int tenths)
{
    return QString::fromLatin1(samples::csv::tenths(tenths));
}

} // namespace

QString typeName(int modelNumber)
{
    const int index = modelNumber - protocol::firstModelNumber;
    if (index >= 0 && index < int(typeNames.size()))
        return QString::fromLatin1(typeNames[std::size_t(index)]);
    return QString::number(modelNumber);
}

QString intervalName(int seconds)
{
    if (const auto index = protocol::sampleIntervalIndex(seconds))
        return QString::fromLatin1(sampleIntervalNames[std::size_t(*index)]);
    return QStringLiteral("%1s").arg(seconds);
}

QString recordModeName(int mode)
{
    if (mode >= 1 && mode <= int(recordModeNames.size()))
        return QString::fromLatin1(recordModeNames[std::size_t(mode - 1)]);
    return QStringLiteral("none (%1)").arg(mode);
}

QString measurementText(const samples::Sample &s)
{
    if (s.isGap())
        return QStringLiteral("no reply");
    QString text =
        QStringLiteral("temperature %1 °C, humidity %2 %RH, dew point %3 °C")
            .arg(tenthsText(s.temperature), tenthsText(s.humidity), tenthsText(s.dewPoint));
    if (s.hasWetBulb)
        text += QStringLiteral(", wet bulb %1 °C").arg(tenthsText(s.wetBulb));
    return text;
}

void addMeasurement(QJsonObject &object, const samples::Sample &s)
{
    const bool gap = s.isGap();
    object.insert(QStringLiteral("temperature_C"), gap ? QJsonValue() : tenthsValue(s.temperature));
    object.insert(QStringLiteral("humidity_pct"), gap ? QJsonValue() : tenthsValue(s.humidity));
    object.insert(QStringLiteral("dew_point_C"), gap ? QJsonValue() : tenthsValue(s.dewPoint));
    object.insert(QStringLiteral("wet_bulb_C"),
                  gap || !s.hasWetBulb ? QJsonValue() : tenthsValue(s.wetBulb));
    object.insert(QStringLiteral("status"),
                  gap ? QStringLiteral("no reply") : QStringLiteral("ok"));
}

samples::Sample sampleOf(const protocol::Reply *reply, int address)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return reply ? samples::sampleOfReply(*reply, quint8(address), now)
                 : samples::noReplySample(quint8(address), now);
}

} // namespace cli
