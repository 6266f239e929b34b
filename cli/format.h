#pragma once

#include "protocol/replydecoder.h"
#include "samples/sample.h"

#include <QJsonObject>
#include <QString>

// How values are named and written, the same for every command.
namespace cli {

// "SHT3X", or the model number when it is none the window lists.
QString typeName(int modelNumber);
// "1min", or the seconds when the module reports an interval of no entry.
QString intervalName(int seconds);
QString recordModeName(int mode);

// A measurement reply as a sample taken now; a null reply makes a gap.
samples::Sample sampleOf(const protocol::Reply *reply, int address);

// "temperature 23.5 °C, humidity 55.0 %RH, dew point 14.0 °C", or "no reply".
QString measurementText(const samples::Sample &sample);
// The CSV's value names as keys (null where the module sent no value), and the status.
void addMeasurement(QJsonObject &object, const samples::Sample &sample);

} // namespace cli
