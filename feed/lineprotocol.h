#pragma once

#include "feed/reading.h"

#include <QByteArray>

// InfluxDB line protocol, the plainest way into Telegraf (inputs.execd reads a program's
// standard output line by line).
namespace feed {

// `quorvel,port=…,address=…[,serial=…][,model=…] temperature_C=…,…,status="…",flags="…" <ns>`
// with its newline. Tags that are unknown are left out (the protocol has no empty tag value);
// a missed reading keeps its status and flags, the only fields it has.
QByteArray influxLine(const Reading &reading);

} // namespace feed
