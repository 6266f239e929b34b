#pragma once

#include <QFlags>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// Plausibility of a reading: marks on values a technician should not trust blindly, never a
// change of the values themselves. The tests are the range, internal consistency, step and
// persistence checks of quality control for automatic weather stations.
namespace samples {

enum class PlausibilityFlag : quint8 {
    Range = 0x1,    // a value the sensor cannot measure
    DewPoint = 0x2, // dew point above the air temperature
    Step = 0x4,     // a jump no room or chamber makes in seconds
    Flat = 0x8,     // a sensor that has stopped moving
};
Q_DECLARE_FLAGS(PlausibilityFlags, PlausibilityFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(PlausibilityFlags)

// "range", "dew_point", "step", "flat", in that order: the names every output uses.
QStringList flagNames(PlausibilityFlags flags);

enum class Threshold : int {
    TemperatureMin,
    TemperatureMax,
    HumidityMin,
    HumidityMax,
    DewPointMargin,
    StepInterval,
    StepTemperature,
    StepHumidity,
    FlatDuration,
};
constexpr int thresholdCount = int(Threshold::FlatDuration) + 1;

struct ThresholdInfo
{
    Threshold id;
    const char *name; // as `watch --limit NAME=VALUE` takes it
    double value;
    const char *unit;
    const char *reason;
};

// Indexed by Threshold.
inline constexpr std::array<ThresholdInfo, thresholdCount> thresholdTable{{
    {Threshold::TemperatureMin, "temperature-min", -40.0, "°C",
     "the lower end of the sensor's rated range; below it the value is a fault, not weather"},
    {Threshold::TemperatureMax, "temperature-max", 125.0, "°C",
     "the upper end of the sensor's rated range"},
    {Threshold::HumidityMin, "humidity-min", 0.0, "%RH", "relative humidity cannot be negative"},
    {Threshold::HumidityMax, "humidity-max", 100.0, "%RH",
     "air holds no more than saturation; above it the sensor is wet or broken"},
    {Threshold::DewPointMargin, "dew-point-margin", 0.1, "°C",
     "the dew point cannot exceed the temperature; the margin is the rounding of both to 0.1"},
    {Threshold::StepInterval, "step-interval", 10.0, "s",
     "readings further apart than this may differ by anything: the step test compares neighbours"},
    {Threshold::StepTemperature, "step-temperature", 2.0, "°C",
     "air in a room or chamber does not change faster than this within seconds"},
    {Threshold::StepHumidity, "step-humidity", 10.0, "%RH",
     "the same for humidity, whose sensor is slower and noisier than the temperature's"},
    {Threshold::FlatDuration, "flat-duration", 600.0, "s",
     "live air always moves the last digit within ten minutes; a value frozen that long is a "
     "stuck sensor or a module answering from a stale register"},
}};

using PlausibilityLimits = std::array<double, thresholdCount>;
PlausibilityLimits defaultLimits();
// Sets one limit from "NAME=VALUE"; false, with the reason, for an unknown name or bad number.
bool setLimit(PlausibilityLimits &limits, const QString &assignment, QString *error);

// The checks of one module. The step and flat tests compare a reading with those before it, so
// each module needs its own.
class PlausibilityCheck
{
public:
    explicit PlausibilityCheck(const PlausibilityLimits &limits = defaultLimits());

    // A reply's values; a missed reading is not checked and leaves the history as it was.
    PlausibilityFlags check(qint64 msecsSinceEpoch, double temperature, double humidity,
                            std::optional<double> dewPoint);

private:
    PlausibilityLimits m_limits;
    bool m_hasPrevious = false;
    qint64 m_previousMsecs = 0;
    double m_previousTemperature = 0;
    double m_previousHumidity = 0;
    qint64 m_unchangedSinceMsecs = 0; // first reading with the current values
};

} // namespace samples
