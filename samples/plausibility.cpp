#include "samples/plausibility.h"

#include <QLocale>

#include <cmath>

namespace samples {

namespace {

// Values travel in tenths and thresholds are typed in decimals: 20.1 - 20.0 is not exactly 0.1
// in binary, so "beyond" means beyond by more than that noise.
constexpr double tolerance = 1e-6;

bool beyond(double value, double limit)
{
    return value > limit + tolerance;
}

double limit(const PlausibilityLimits &limits, Threshold t)
{
    return limits[std::size_t(t)];
}

constexpr std::array<std::pair<PlausibilityFlag, const char *>, 4> flagTable{{
    {PlausibilityFlag::Range, "range"},
    {PlausibilityFlag::DewPoint, "dew_point"},
    {PlausibilityFlag::Step, "step"},
    {PlausibilityFlag::Flat, "flat"},
}};

} // namespace

QStringList flagNames(PlausibilityFlags flags)
{
    QStringList names;
    for (const auto &[flag, name] : flagTable) {
        if (flags.testFlag(flag))
            names << QString::fromLatin1(name);
    }
    return names;
}

PlausibilityLimits defaultLimits()
{
    PlausibilityLimits limits{};
    for (const ThresholdInfo &info : thresholdTable)
        limits[std::size_t(info.id)] = info.value;
    return limits;
}

bool setLimit(PlausibilityLimits &limits, const QString &assignment, QString *error)
{
    const int equals = assignment.indexOf(QLatin1Char('='));
    const QString name = assignment.left(equals);
    for (const ThresholdInfo &info : thresholdTable) {
        if (equals < 0 || name != QLatin1String(info.name))
            continue;
        bool ok = false;
        const double value = QLocale::c().toDouble(assignment.mid(equals + 1), &ok);
        if (!ok || !std::isfinite(value)) {
            *error = QStringLiteral("%1: not a number").arg(assignment);
            return false;
        }
        limits[std::size_t(info.id)] = value;
        return true;
    }
    QStringList names;
    for (const ThresholdInfo &info : thresholdTable)
        names << QString::fromLatin1(info.name);
    *error = QStringLiteral("%1: expected NAME=VALUE, NAME one of %2")
                 .arg(assignment, names.join(QStringLiteral(", ")));
    return false;
}

PlausibilityCheck::PlausibilityCheck(const PlausibilityLimits &limits) : m_limits(limits) {}

PlausibilityFlags PlausibilityCheck::check(qint64 msecs, double temperature, double humidity,
                                           std::optional<double> dewPoint)
{
    const auto &l = m_limits;
    PlausibilityFlags flags;
    if (beyond(limit(l, Threshold::TemperatureMin), temperature) ||
        beyond(temperature, limit(l, Threshold::TemperatureMax)) ||
        beyond(limit(l, Threshold::HumidityMin), humidity) ||
        beyond(humidity, limit(l, Threshold::HumidityMax)))
        flags |= PlausibilityFlag::Range;
    if (dewPoint && beyond(*dewPoint - temperature, limit(l, Threshold::DewPointMargin)))
        flags |= PlausibilityFlag::DewPoint;

    const bool unchanged =
        m_hasPrevious && temperature == m_previousTemperature && humidity == m_previousHumidity;
    if (m_hasPrevious) {
        const double seconds = double(msecs - m_previousMsecs) / 1000.0;
        if (seconds >= 0 && seconds < limit(l, Threshold::StepInterval) &&
            (beyond(std::abs(temperature - m_previousTemperature),
                    limit(l, Threshold::StepTemperature)) ||
             beyond(std::abs(humidity - m_previousHumidity), limit(l, Threshold::StepHumidity))))
            flags |= PlausibilityFlag::Step;
    }
    if (!unchanged)
        m_unchangedSinceMsecs = msecs;
    if (unchanged && double(msecs - m_unchangedSinceMsecs) / 1000.0 >=
                         limit(l, Threshold::FlatDuration) - tolerance)
        flags |= PlausibilityFlag::Flat;

    m_hasPrevious = true;
    m_previousMsecs = msecs;
    m_previousTemperature = temperature;
    m_previousHumidity = humidity;
    return flags;
}

} // namespace samples
