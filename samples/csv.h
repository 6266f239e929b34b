#pragma once

#include "samples/sample.h"

#include <QByteArray>

// The measurement file, the same for the monitor's Save CSV and Log to file and for the command
// line's read --csv: UTF-8 without a byte-order mark, LF line ends, comma separator and '.'
// decimal whatever the locale, values with one decimal as the window's labels show them.
namespace samples::csv {

// The first line, newline included.
QByteArray header();

// One row, newline included. A gap leaves every value cell empty, a three-value reply the wet
// bulb's.
QByteArray row(const Sample &sample);

// Tenths as text with exactly one decimal: -5 is "-0.5", 235 is "23.5".
QByteArray tenths(int value);

} // namespace samples::csv
