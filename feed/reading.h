#pragma once

#include "samples/plausibility.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// One module's reading as the feeds hand it on: named, typed and flagged. Whatever polls the
// bus fills it in; the line protocol, the JSON output and the MQTT messages all read it.
namespace feed {

struct Reading
{
    QString port;
    int address = 0;
    QString serial; // empty where unknown
    QString model;  // empty where unknown
    qint64 msecsSinceEpoch = 0;
    std::optional<double> temperature; // °C
    std::optional<double> humidity;    // %RH
    std::optional<double> dewPoint;    // °C
    std::optional<double> wetBulb;     // °C
    QString status;                    // "ok", "no reply" or "offline"
    samples::PlausibilityFlags flags;

    bool isOffline() const { return status == QLatin1String("offline"); }
};

// The JSON object of the command line's output and of the MQTT state message: every value
// key present, null where not read, so that a consumer sees a missed reading as such.
QJsonObject toJson(const Reading &reading);

// The module's name in topics and identifiers: its serial number, else port and address, kept
// to the characters MQTT topics and Home Assistant identifiers all accept.
QString moduleId(const Reading &reading);
// `text` with every character but letters, digits, '-' and '_' made '_'.
QString identifier(const QString &text);

} // namespace feed
