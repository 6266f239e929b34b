#pragma once

// Meters and waits shared by the reliability tests.

#include "measure.h"
#include "modalwatcher.h"

#include <QStringList>
#include <QtGlobal>

#include <algorithm>

namespace reliability {

using testsupport::cpuSeconds;
using testsupport::percentile;
using testsupport::residentKb;
using testsupport::runEventLoop;

// QUORVEL_LONG_TESTS=1 (scripts/test --long) asks for the long versions.
inline bool longRun()
{
    return qEnvironmentVariableIntValue("QUORVEL_LONG_TESTS") == 1;
}

inline int countText(const testsupport::ModalWatcher &watcher, const QString &text)
{
    const QStringList texts = watcher.texts();
    return int(std::count(texts.begin(), texts.end(), text));
}

} // namespace reliability
