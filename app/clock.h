#pragma once

#include <QDateTime>

#include <functional>

// The wall clock the commands read (serial numbers from the clock, recording times, the
// exchange-log stamps). Tests replace it to act at a known instant.
namespace appclock {

QDateTime now();
void setSource(std::function<QDateTime()> source); // an empty function restores the real clock

} // namespace appclock
