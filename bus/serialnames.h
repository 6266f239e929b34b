#pragma once

#include <QHash>
#include <QString>

namespace bus {

// Device node (its canonical path) -> the adapter's stable /dev/serial/by-id/ name, which udev
// makes from the adapter's vendor, product, serial number and interface: the name that survives
// a replug into another socket. Empty where the system has no such folder (Windows, macOS).
QHash<QString, QString> serialByIdNames();

} // namespace bus
