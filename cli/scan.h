#pragma once

#include "bus/scanner.h"

#include <QElapsedTimer>

#include <chrono>

namespace cli {

struct Invocation;
class Output;

// The scan command: the bus engine's scan (bus::Scanner), the modules found printed as they
// come, progress on standard error.
class Scan
{
public:
    Scan(const Invocation &invocation, Output &output, bus::Link &link);

    int run();

private:
    void found(const bus::ScanHit &hit);
    void showProgress(int done);

    const Invocation &m_invocation;
    Output &m_output;
    bus::Link &m_link;
    bus::Scanner m_scanner;
    int m_clean = 0;
    int m_troubled = 0;
    QElapsedTimer m_clock;
};

// "1 min 10 s", "10.4 s"
QString durationText(std::chrono::microseconds duration);

} // namespace cli
